#pragma once
// The field titles of official letters, the OCR corrections ("fixed words") that the server
// supplies, and the shared CDocType. One process-wide instance serves the library
// (ModSubTitle()); tests may make their own.

#include <string>
#include <utility>
#include <vector>

#include "ocr/DocType.h"

namespace dorvex {

class CSubTitles {
public:
    // The field titles in search order.
    static const std::vector<std::string>& Titles();
    // Titles that letters and the stamps put on them carry but that are no field here
    // (收文日期, 來文字號, ...): a misread title is never mended into a field title when it may
    // be one of these.
    static const std::vector<std::string>& OtherTitles();

    // True when the text opens with a field title followed by ":" or "：", or is a title alone
    // (a title later in the text, or ending it after other words, opens no field). Sets
    // LastSubTitle, LastSubValue (the text after the colon) and LastSubTitlePos (1-based
    // character position of the title: 1). No match: LastSubTitlePos = 1.
    bool FindSubTitle(const std::string& text);
    const std::string& LastSubTitle() const { return mLastSubTitle; }
    const std::string& LastSubValue() const { return mLastSubValue; }
    long LastSubTitlePos() const { return mLastSubTitlePos; }

    // Takes every //Word (./OldText, ./NewText) of a correction reply as the new table; a text
    // that is not XML, or holds no Word, changes nothing. Loading the same reply again (every
    // scan window does) leaves the same table, so a correction applies once.
    void LoadFixedWords(const std::string& xml);
    void AddFixedWord(const std::string& oldText, const std::string& newText);
    // Applies every correction in table order, each to the output of the previous ones.
    std::string ApplyFixedWords(const std::string& text) const;
    const std::vector<std::pair<std::string, std::string>>& FixedWords() const { return mFixed; }

    CDocType& DocType() { return mDocType; }

private:
    std::string mLastSubTitle;
    std::string mLastSubValue;
    long mLastSubTitlePos = 1;
    std::vector<std::pair<std::string, std::string>> mFixed;
    CDocType mDocType;
};

// The process-wide instance.
CSubTitles& ModSubTitle();

}  // namespace dorvex
