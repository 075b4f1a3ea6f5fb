#include "ocr/SubTitle.h"

#include "platform/Xml.h"
#include "support/CodePage.h"

namespace dorvex {

const std::vector<std::string>& CSubTitles::Titles() {
    static const std::vector<std::string> titles = {
        "機關地址", "聯絡人及電話", "電子郵件信箱", "傳真電話", "受文者", "發文日期", "發文字號",
        "速別", "密等及解密條件或保密期限", "附件", "主旨", "正本", "副本", "開會事由", "開會時間",
        "開會地點", "主持人", "出席者", "列席者", "備註", "說明"};
    return titles;
}

const std::vector<std::string>& CSubTitles::OtherTitles() {
    static const std::vector<std::string> titles = {"收文日期", "收文字號", "收文編號", "來文日期", "來文字號", "來文機關",
                                                    "收受者", "發文者", "承辦人", "保存年限", "檔號"};
    return titles;
}

bool CSubTitles::FindSubTitle(const std::string& text) {
    const std::u32string wide = ToU32(text);
    for (const auto& title : Titles()) {
        const std::u32string name = ToU32(title);
        // One line per printed line: a title that ends a line or stands after other words is
        // the text of a value ("詳如附件"), not a field.
        if (wide.compare(0, name.size(), name) != 0) continue;
        const std::size_t after = name.size();
        const bool alone = after == wide.size();
        if (!alone && wide[after] != U':' && wide[after] != U'：') continue;
        mLastSubTitle = title;
        mLastSubValue = alone ? std::string() : ToUtf8(std::u32string_view(wide).substr(after + 1));
        mLastSubTitlePos = 1;
        return true;
    }
    mLastSubTitlePos = 1;
    return false;
}

void CSubTitles::LoadFixedWords(const std::string& xml) {
    auto doc = XmlDocument::Parse(xml);
    if (!doc) return;
    std::vector<std::pair<std::string, std::string>> table;
    for (const XmlNode& word : doc->Select("//Word")) {
        XmlNode oldText = word.SelectOne("./OldText");
        XmlNode newText = word.SelectOne("./NewText");
        if (!oldText || !newText) continue;
        table.emplace_back(oldText.Text(), newText.Text());
    }
    if (!table.empty()) mFixed = std::move(table);
}

void CSubTitles::AddFixedWord(const std::string& oldText, const std::string& newText) {
    mFixed.emplace_back(oldText, newText);
}

std::string CSubTitles::ApplyFixedWords(const std::string& text) const {
    std::string result = text;
    for (const auto& [from, to] : mFixed) {
        if (from.empty()) continue;
        std::string replaced;
        std::size_t start = 0;
        for (std::size_t at = result.find(from); at != std::string::npos; at = result.find(from, start)) {
            replaced.append(result, start, at - start);
            replaced += to;
            start = at + from.size();
        }
        replaced.append(result, start, std::string::npos);
        result = std::move(replaced);
    }
    return result;
}

CSubTitles& ModSubTitle() {
    static CSubTitles instance;
    return instance;
}

}  // namespace dorvex
