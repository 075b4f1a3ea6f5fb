#pragma once
// The document type names that end the letterhead line of an official letter.

#include <array>
#include <string>

namespace dorvex {

class CDocType {
public:
    static constexpr int kSize = 15;  // 0..13 filled, 14 always empty

    CDocType();
    // The type name at 0..14; "" outside.
    std::string GetDocTypeName(int index) const;
    // True when the text ends with a type name (the longest that does: "書函" rather than "函");
    // then LastDocTypeName is the name and LastTitle the text before it. No match keeps both.
    bool FindTitle(const std::string& text);
    const std::string& LastDocTypeName() const { return mLastDocTypeName; }
    const std::string& LastTitle() const { return mLastTitle; }
    std::array<std::string, kSize> TypeNames() const { return mNames; }

private:
    std::array<std::string, kSize> mNames;
    std::string mLastDocTypeName;
    std::string mLastTitle;
};

}  // namespace dorvex
