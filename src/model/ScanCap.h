#pragma once
// One scanner capability as the settings dialog keeps it beside a combo box: the choices
// offered (value and text), range, current and default value, and whether the person changed it.

#include <cstdint>
#include <string>
#include <vector>

namespace dorvex {

class CScanCap {
public:
    bool Supported = false;
    std::string Max, Min, CurrentValue, DefaultValue;
    bool Changed = false;

    void Add(const std::string& value, const std::string& text) { mChoices.push_back({value, text}); }
    std::int32_t Length() const { return static_cast<std::int32_t>(mChoices.size()); }
    // 1-based; throws DorvexError(SubscriptOutOfRange) outside 1..Length.
    const std::string& Item(std::int32_t i) const;
    const std::string& ItemDesc(std::int32_t i) const;

private:
    struct Choice {
        std::string value;
        std::string text;
    };
    const Choice& At(std::int32_t i) const;
    std::vector<Choice> mChoices;
};

}  // namespace dorvex
