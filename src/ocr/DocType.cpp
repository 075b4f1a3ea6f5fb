#include "ocr/DocType.h"

#include "support/CodePage.h"

namespace dorvex {

CDocType::CDocType()
    : mNames{"令", "函", "簽", "書函", "公告", "移文單", "簽稿會核單", "開會通知單", "公文時效統計",
             "交辦案件通知單", "交議案件通知單", "會銜公文會辦單", "機密文書機密等級變換或註銷建議單",
             "機密文書機密等級變換或註銷通知單", ""} {}

std::string CDocType::GetDocTypeName(int index) const {
    if (index < 0 || index >= kSize) return {};
    return mNames[static_cast<std::size_t>(index)];
}

bool CDocType::FindTitle(const std::string& text) {
    const std::u32string wide = ToU32(text);
    const std::string* found = nullptr;
    std::size_t foundLength = 0;
    for (int i = 0; i < kSize - 1; ++i) {
        const std::u32string name = ToU32(mNames[static_cast<std::size_t>(i)]);
        if (name.size() > wide.size() || name.size() <= foundLength) continue;
        if (wide.compare(wide.size() - name.size(), name.size(), name) == 0) {
            found = &mNames[static_cast<std::size_t>(i)];
            foundLength = name.size();
        }
    }
    if (found == nullptr) return false;
    mLastDocTypeName = *found;
    mLastTitle = ToUtf8(std::u32string_view(wide).substr(0, wide.size() - foundLength));
    return true;
}

}  // namespace dorvex
