#include "ocr/WordParser.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "support/CodePage.h"
#include "support/Error.h"
#include "support/ModMath.h"
#include "support/Trace.h"

namespace dorvex {

const PixelRect& OcrWord::FirstRect() const {
    if (Rects.empty()) throw DorvexError(err::SubscriptOutOfRange, "the word \"" + Text + "\" has no rectangle");
    return Rects.front();
}

// ---- CTextLine ----

void CTextLine::AddWord(const OcrWord& word) {
    const PixelRect& rect = word.FirstRect();
    mWords.push_back(word);
    AddText(word.Text);
    if (mWords.size() == 1) {
        Left = rect.Left;
        Top = rect.Top;
    }
}

void CTextLine::SetCoordinateByWord(const OcrWord& word) {
    const PixelRect& rect = word.FirstRect();
    Left = rect.Left;
    Top = rect.Top;
    FontWidth = rect.Right - rect.Left;
}

void CTextLine::AddValue(const std::string& text) {
    AddText(text);
    mValue += text;
}

bool CTextLine::IsMatchRule() {
    if (mEvaluated) return mMatched;
    mEvaluated = true;
    if (mTitles->FindSubTitle(mText)) {
        mMatched = true;
        mKey = mTitles->LastSubTitle();
        mValue = mTitles->LastSubValue();
        long position = mTitles->LastSubTitlePos();
        if (position < 1 || position > static_cast<long>(mWords.size())) {
            throw DorvexError(err::SubscriptOutOfRange, "the line \"" + mText + "\" has fewer words than its title position");
        }
        SetCoordinateByWord(mWords[static_cast<std::size_t>(position - 1)]);
    } else if (mTitles->DocType().FindTitle(mText)) {
        mKey = mTitles->DocType().LastDocTypeName();
        mValue = mTitles->DocType().LastTitle();
        mMatched = true;
        mSubject = true;
    }
    return mMatched;
}

bool CTextLine::IsSameParagraph(const CTextLine& other) const {
    if (mSubject) return false;
    long d = other.Left - Left;
    return d > 0 && FontWidth < d && d < 5 * FontWidth;
}

// ---- CWordParser ----

std::int16_t CWordParser::GetPixelFromCM(double cm, double dpi) {
    double pixels = RoundHalfEven(dpi * cm / 2.54);
    return static_cast<std::int16_t>(std::clamp(pixels, -32768.0, 32767.0));
}

namespace {
std::int16_t StoredRounded(double v) { return static_cast<std::int16_t>(std::clamp(RoundHalfEven(v), -32768.0, 32767.0)); }
}  // namespace

void CWordParser::SetPixelPaddingTop(double v) { mPadTop = StoredRounded(v); }
void CWordParser::SetPixelPaddingLeft(double v) { mPadLeft = StoredRounded(v); }
void CWordParser::SetPixelPaddingRight(double v) { mPadRight = StoredRounded(v); }
void CWordParser::SetPixelPaddingBottom(double v) { mPadBottom = StoredRounded(v); }

CWordParser::CWordParser(CSubTitles& titles) : mTitles(&titles) {}
CWordParser::~CWordParser() = default;

OcrEngine& CWordParser::Engine() {
    if (!mEngine) mEngine = std::make_unique<OcrEngine>(EngineOptions);
    return *mEngine;
}

bool CWordParser::IsSupported() { return Engine().IsSupported(); }

namespace {
std::int16_t Clamped(int v) { return static_cast<std::int16_t>(std::clamp(v, 0, 32767)); }
}  // namespace

void CWordParser::Load(const std::string& path) {
    ClearResults();
    mLoadError.clear();
    OcrPage page;
    try {
        page = Engine().RecognizeFirstPage(path);
    } catch (const std::exception& e) {
        mLoadError = e.what();
        DebugTrace("recognition of " + path + " failed: " + mLoadError);
        return;
    }
    LoadPage(page);
}

namespace {

// A line that opens with a field title and its colon, one character of the title misread
// ("站絡人及電話：" for "聯絡人及電話："), gets the title back, so that the field is found. Only
// titles of four characters or more, and only when exactly one title is that close.
void MendMisreadTitles(std::vector<OcrWord>& words) {
    for (std::size_t start = 0, end = 0; start < words.size(); start = end) {
        end = start;
        while (end < words.size() && words[end].RegionId == words[start].RegionId) ++end;
        std::size_t colon = start;
        while (colon < end && words[colon].Text != "：" && words[colon].Text != ":") ++colon;
        const std::size_t length = colon - start;
        if (colon == end || length < 4) continue;
        int close = 0;  // titles one character away; the title itself counts as too many
        std::size_t at = 0;
        char32_t wanted = 0;
        for (const std::string& title : CSubTitles::Titles()) {
            const std::u32string wide = ToU32(title);
            if (wide.size() != length) continue;
            std::size_t differ = 0, where = 0;
            for (std::size_t i = 0; i < length; ++i) {
                if (ToU32(words[start + i].Text) != std::u32string(1, wide[i])) {
                    ++differ;
                    where = i;
                }
            }
            if (differ == 0) close = 2;
            if (differ == 1) {
                ++close;
                at = where;
                wanted = wide[where];
            }
        }
        if (close == 1) words[start + at].Text = ToUtf8(std::u32string(1, wanted));
    }
}

}  // namespace

void CWordParser::LoadPage(const OcrPage& page) {
    ClearResults();
    mLoadError.clear();
    std::vector<OcrWord> words = page.Words;
    MendMisreadTitles(words);
    XDPI = Clamped(page.XDpi);
    YDPI = Clamped(page.YDpi);
    PixelWidth = Clamped(page.PixelWidth);
    PixelHeight = Clamped(page.PixelHeight);
    try {
        Parse(words, false, "");
    } catch (const DorvexError& e) {
        mLoadError = e.what();
        DebugTrace(std::string("parsing stopped: ") + e.what());
    }
}

void CWordParser::ClearResults() {
    mResults.clear();
    mText.clear();
}

void CWordParser::Reset() {
    mPadTop = GetPixelFromCM(CMPaddingTop, YDPI);
    mPadLeft = GetPixelFromCM(CMPaddingLeft, XDPI);
    mPadRight = GetPixelFromCM(CMPaddingRight, XDPI);
    mPadBottom = GetPixelFromCM(CMPaddingBottom, YDPI);
    mX1 = mPadLeft;
    mY1 = mPadTop;
    mX2 = static_cast<std::int16_t>(PixelWidth - mPadRight);
    mY2 = static_cast<std::int16_t>(PixelHeight - mPadBottom);
    mInTitle = true;
}

void CWordParser::Parse(const std::vector<OcrWord>& words, bool keepState, const std::string& title) {
    if (!keepState) Reset();
    if (!title.empty()) Add(title, "");

    std::vector<std::unique_ptr<CTextLine>> lines;
    long previousRegion = -1;
    for (const OcrWord& word : words) {
        if (lines.empty() || word.RegionId != previousRegion) lines.push_back(std::make_unique<CTextLine>(*mTitles));
        lines.back()->AddWord(word);
        previousRegion = word.RegionId;
    }

    bool noMatch = true;
    CTextLine* titleLine = nullptr;
    for (auto& line : lines) {
        if (line->IsMatchRule()) {
            noMatch = false;
            titleLine = line.get();
        } else if (titleLine != nullptr && titleLine->IsSameParagraph(*line)) {
            titleLine->AddValue(line->Text());
        }
    }

    std::string text;
    for (auto& line : lines) {
        if (noMatch) {
            text += line->Text();
        } else if (line->IsMatchRule()) {
            if (line->IsSubject()) {
                Add("類別", line->Key());
                Add("機關名稱", line->Value());
            } else {
                Add(line->Key(), line->Value());
            }
        }
    }
    if (!text.empty()) mText = mTitles->ApplyFixedWords(text);
}

void CWordParser::Add(const std::string& key, const std::string& value) {
    std::string fixed = mTitles->ApplyFixedWords(value);
    for (auto& phase : mResults) {
        if (phase.Key == key) {
            phase.Value = fixed;
            return;
        }
    }
    mResults.push_back({key, fixed});
}

void CWordParser::ParseString(const std::string& text, const OcrWord* word, int /*option*/, const std::string& value) {
    if (mInTitle) ParseTitle(text);
    else ParsePhase(text, word, true, value);
}

void CWordParser::ParseTitle(const std::string& text) {
    mPending += text;
    if (mDocType.FindTitle(mPending)) {
        Add("類別", mDocType.LastDocTypeName());
        Add("機關名稱", mDocType.LastTitle());
        mInTitle = false;
        mPending.clear();
    } else if (mTitles->FindSubTitle(text)) {
        mPending.clear();
        mInTitle = false;
        Add(mTitles->LastSubTitle(), mTitles->LastSubValue());
    }
}

void CWordParser::ParsePhase(const std::string& text, const OcrWord* word, bool flag, const std::string& /*value*/) {
    if (mTitles->FindSubTitle(text)) {
        Add(mTitles->LastSubTitle(), mTitles->LastSubValue());
        if (flag) {
            if (!mPending.empty()) {
                std::string pending = mPending;
                ParsePhase(pending, word, false, "");
            }
            if (word != nullptr) {
                mPreviousWord = *word;
                mHasPreviousWord = true;
            } else {
                mHasPreviousWord = false;
            }
            mPending = text;
        }
    } else if (flag && mHasPreviousWord && word != nullptr && PixelWidth != 0) {
        double shift = std::fabs(static_cast<double>(word->FirstRect().Left - mPreviousWord.FirstRect().Left));
        if (shift / PixelWidth <= 0.1) mPending += text;
    }
}

}  // namespace dorvex
