#include "support/ModGlobal.h"

namespace dorvex {
namespace {
bool gOcr = false;
std::shared_ptr<CLanguage>& Language() {
    static std::shared_ptr<CLanguage> map;
    return map;
}
}  // namespace

void SetOcrEnabled(bool enabled) { gOcr = enabled; }
bool IsOcrEnabled() { return gOcr; }

void SetLanguage(std::shared_ptr<CLanguage> map) { Language() = std::move(map); }
std::shared_ptr<CLanguage> GetLanguage() { return Language(); }

}  // namespace dorvex
