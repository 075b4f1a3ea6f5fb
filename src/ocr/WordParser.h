#pragma once
// Turns the words recognised on the first page of an official letter into fields: the letter's
// type and agency from its letterhead ("類別", "機關名稱") and the value of every field title
// ("主旨", "說明", ...). Words are grouped into lines by text region; an indented line below a
// title line continues its value. Each field carries the engine's confidence in its least sure
// character.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/Phase.h"
#include "ocr/DocType.h"
#include "ocr/SubTitle.h"
#include "ocr/Words.h"
#include "platform/Ocr.h"

namespace dorvex {

class CTextLine {
public:
    explicit CTextLine(CSubTitles& titles) : mTitles(&titles) {}

    long FontWidth = 0;
    long Left = 0;
    long Top = 0;
    const std::string& Text() const { return mText; }
    const std::string& Key() const { return mKey; }
    const std::string& Value() const { return mValue; }
    // The engine's confidence in the least sure character of Value (of the agency for a
    // letterhead), and of the type name of a letterhead; -1 for none.
    float ValueConfidence() const { return mValueConfidence; }
    float KeyConfidence() const { return mKeyConfidence; }
    // The height of the line's characters (the median of its words'), in pixels.
    long CharHeight() const;
    // Whether the line may be taken as the letterhead when it ends with a type name. The
    // parser allows it for one line only.
    bool MayBeLetterhead = true;

    void AddWord(const OcrWord& word);
    void SetCoordinateByWord(const OcrWord& word);
    void AddText(const std::string& text) { mText += text; }
    void AddValue(const std::string& text);
    // Appends a continuation line to the value: its text, its confidence and where it starts.
    void AddLine(const CTextLine& line);
    // Evaluated once: a field title line, or a letterhead ending with a type name.
    bool IsMatchRule();
    bool IsSubject() const { return mSubject; }
    // Whether `other` continues this title line: it starts more than one and less than five
    // character widths right of this line's title (the wrapped lines of 主旨, the items of
    // 說明), or it hangs in an item added before: aligned with a line already added, or less
    // than four widths right of the last one (after its number, "一、", "（一）"). Never for a
    // letterhead.
    bool IsSameParagraph(const CTextLine& other) const;

private:
    // The least confidence of the words from `from` (0-based) to `to` (excluded).
    float LeastConfidence(std::size_t from, std::size_t to) const;

    CSubTitles* mTitles;
    std::vector<OcrWord> mWords;
    std::string mText, mKey, mValue;
    float mValueConfidence = -1, mKeyConfidence = -1;
    std::vector<long> mAddedLefts;  // where each added line starts
    bool mEvaluated = false, mMatched = false, mSubject = false;
};

// What the recognition of a page file leaves in the parser: the fields, the whole text when no
// field was found, and why the load ended early ("" when it did not).
struct PageReading {
    std::vector<CPhase> Fields;
    std::string Text;
    std::string Error;
};

class CWordParser {
public:
    explicit CWordParser(CSubTitles& titles = ModSubTitle());
    ~CWordParser();
    CWordParser(const CWordParser&) = delete;
    CWordParser& operator=(const CWordParser&) = delete;

    // The page's whole text, set only when no line matched a rule.
    const std::string& Text() const { return mText; }

    // The recognition engine, made with these options on first use.
    OcrOptions EngineOptions;
    OcrEngine& Engine();
    // Whether the engine starts with its language data; asked once, kept for the parser's life.
    bool IsSupported();
    // Recognises the first page of an image file and parses its words. Never throws: a file the
    // engine cannot read, a failing recognition or a parse stopped by a malformed line ends the
    // load with the results collected so far (none when the engine failed); LoadError says why.
    void Load(const std::string& path);
    // Parses a page the engine has already recognised, ending as Load does.
    void LoadPage(const OcrPage& page);
    // Why the last Load or LoadPage ended early ("" when it did not).
    const std::string& LoadError() const { return mLoadError; }
    // Load, with what it left.
    PageReading Read(const std::string& path);

    // Starts a new page: empties the results and Text.
    void ClearResults();
    // Parses one page's words. Throws DorvexError for a word without a rectangle or a line
    // shorter than its title position; the results collected up to then stay.
    void Parse(const std::vector<OcrWord>& words, bool keepState, const std::string& title);
    const std::vector<CPhase>& GetData() const { return mResults; }

    // Streaming interface: text piece by piece instead of whole pages.
    void ParseString(const std::string& text, const OcrWord* word, int option, const std::string& value);
    void ParseTitle(const std::string& text);
    void ParsePhase(const std::string& text, const OcrWord* word, bool flag, const std::string& value);

    // Stores a result (after the fixed-word corrections); a known key keeps its position and
    // takes the new value.
    void Add(const std::string& key, const std::string& value, float confidence = -1);
    static std::int16_t GetPixelFromCM(double cm, double dpi);

    std::int16_t PixelWidth = 0, PixelHeight = 0, XDPI = 0, YDPI = 0;
    double CMPaddingTop = 2.5, CMPaddingLeft = 2.0, CMPaddingRight = 0.5, CMPaddingBottom = 2.5;

    std::int16_t PixelPaddingTop() const { return mPadTop; }
    std::int16_t PixelPaddingLeft() const { return mPadLeft; }
    std::int16_t PixelPaddingRight() const { return mPadRight; }
    std::int16_t PixelPaddingBottom() const { return mPadBottom; }
    void SetPixelPaddingTop(double v);
    void SetPixelPaddingLeft(double v);
    void SetPixelPaddingRight(double v);
    void SetPixelPaddingBottom(double v);
    std::int16_t X1() const { return mX1; }
    std::int16_t X2() const { return mX2; }
    std::int16_t Y1() const { return mY1; }
    std::int16_t Y2() const { return mY2; }

private:
    void Reset();
    // A page's field: the first value read stands (a receipt stamp or a repeated title further
    // down does not replace it); only an empty one is filled.
    void AddFirst(const std::string& key, const std::string& value, float confidence);

    CSubTitles* mTitles;
    std::unique_ptr<OcrEngine> mEngine;
    std::string mLoadError;
    CDocType mDocType;
    std::vector<CPhase> mResults;
    std::string mText;
    std::int16_t mPadTop = 0, mPadLeft = 0, mPadRight = 0, mPadBottom = 0;
    std::int16_t mX1 = 0, mX2 = 0, mY1 = 0, mY2 = 0;
    std::string mPending;
    OcrWord mPreviousWord;
    bool mHasPreviousWord = false;
    bool mInTitle = true;
};

}  // namespace dorvex
