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

    // True when a field title stands in the text followed by ":" or "：" or at its very end;
    // titles are tried in table order, not by position. Sets LastSubTitle, LastSubValue (the
    // text after the colon) and LastSubTitlePos (1-based character position of the title).
    // No match: LastSubTitlePos = 1.
    bool FindSubTitle(const std::string& text);
    const std::string& LastSubTitle() const { return mLastSubTitle; }
    const std::string& LastSubValue() const { return mLastSubValue; }
    long LastSubTitlePos() const { return mLastSubTitlePos; }

    // Appends every //Word (./OldText, ./NewText) of a correction reply; a text that is not XML
    // changes nothing. The table grows with every call.
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
