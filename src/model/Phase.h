#pragma once
// One recognised letter field: a title (or "類別", "機關名稱") and its value.

#include <string>

namespace dorvex {

struct CPhase {
    std::string Key;
    std::string Value;
    bool operator==(const CPhase&) const = default;
};

}  // namespace dorvex
