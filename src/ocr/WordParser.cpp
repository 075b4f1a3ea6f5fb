#include "ocr/WordParser.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

namespace {
// The lesser of two confidences, -1 standing for none.
float Least(float a, float b) { return a < 0 ? b : b < 0 ? a : std::min(a, b); }
}  // namespace

void CTextLine::AddLine(const CTextLine& line) {
    AddValue(line.Text());
    mValueConfidence = Least(mValueConfidence, line.LeastConfidence(0, line.mWords.size()));
    mAddedLefts.push_back(line.Left);
}

float CTextLine::LeastConfidence(std::size_t from, std::size_t to) const {
    float least = -1;
    for (std::size_t i = from; i < std::min(to, mWords.size()); ++i) least = Least(least, mWords[i].Confidence);
    return least;
}

long CTextLine::CharHeight() const {
    if (mWords.empty()) return 0;
    std::vector<long> heights;
    for (const OcrWord& word : mWords) heights.push_back(word.Rects.front().Bottom - word.Rects.front().Top);
    std::nth_element(heights.begin(), heights.begin() + static_cast<long>(heights.size() / 2), heights.end());
    return heights[heights.size() / 2];
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
        // The value's characters follow the title and its colon.
        const std::size_t valueFrom = CharCount(mText) - CharCount(mValue);
        mValueConfidence = LeastConfidence(valueFrom, mWords.size());
    } else if (MayBeLetterhead && mTitles->DocType().FindTitle(mText)) {
        mKey = mTitles->DocType().LastDocTypeName();
        mValue = mTitles->DocType().LastTitle();
        mMatched = true;
        mSubject = true;
        const std::size_t typeFrom = CharCount(mValue);
        mValueConfidence = LeastConfidence(0, typeFrom);
        mKeyConfidence = LeastConfidence(typeFrom, mWords.size());
    }
    return mMatched;
}

bool CTextLine::IsSameParagraph(const CTextLine& other) const {
    if (mSubject) return false;
    const long d = other.Left - Left;
    if (d > 0 && FontWidth < d && d < 5 * FontWidth) return true;
    if (mAddedLefts.empty()) return false;
    for (long left : mAddedLefts) {
        if (std::abs(other.Left - left) * 2 <= FontWidth) return true;
    }
    const long hang = other.Left - mAddedLefts.back();
    return FontWidth < 2 * hang && hang < 4 * FontWidth;
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
    if (!mEngine) {
        OcrOptions options = EngineOptions;
        if (options.ApartWords.empty()) {
            for (const std::string& name : mDocType.TypeNames()) {
                if (!name.empty()) options.ApartWords.push_back(name);
            }
        }
        mEngine = std::make_unique<OcrEngine>(options);
    }
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

PageReading CWordParser::Read(const std::string& path) {
    Load(path);
    return {mResults, mText, mLoadError};
}

namespace {

// A line that opens with a field title and its colon, one character of the title misread
// ("站絡人及電話：" for "聯絡人及電話："), gets the title back, so that the field is found. Only
// titles of four characters or more, and only when nothing else can be meant: exactly one
// title is that close, and no title that is no field here (a stamp's 收文日期) is as close.
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
        std::vector<std::string> candidates = CSubTitles::Titles();
        const std::size_t fieldTitles = candidates.size();
        candidates.insert(candidates.end(), CSubTitles::OtherTitles().begin(), CSubTitles::OtherTitles().end());
        for (std::size_t c = 0; c < candidates.size(); ++c) {
            const std::u32string wide = ToU32(candidates[c]);
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
                if (c >= fieldTitles) close = 2;  // may be that title: leave it as read
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

    // The letterhead names the type and the agency: of the lines above the first field (all
    // lines when there is none), the one of the largest characters that ends with a type name.
    // A line of the body ending in one ("...號函" of a citation) is no letterhead.
    CTextLine* letterhead = nullptr;
    for (auto& line : lines) {
        if (mTitles->FindSubTitle(line->Text())) break;
        if (mTitles->DocType().FindTitle(line->Text()) && (!letterhead || line->CharHeight() > letterhead->CharHeight())) {
            letterhead = line.get();
        }
    }
    for (auto& line : lines) line->MayBeLetterhead = line.get() == letterhead;

    bool noMatch = true;
    CTextLine* titleLine = nullptr;
    for (auto& line : lines) {
        if (line->IsMatchRule()) {
            noMatch = false;
            titleLine = line.get();
        } else if (titleLine != nullptr && titleLine->IsSameParagraph(*line)) {
            titleLine->AddLine(*line);
        }
    }

    std::string text;
    for (auto& line : lines) {
        if (noMatch) {
            text += line->Text();
        } else if (line->IsMatchRule()) {
            if (line->IsSubject()) {
                AddFirst("類別", line->Key(), line->KeyConfidence());
                AddFirst("機關名稱", line->Value(), line->ValueConfidence());
            } else {
                AddFirst(line->Key(), line->Value(), line->ValueConfidence());
            }
        }
    }
    if (!text.empty()) mText = mTitles->ApplyFixedWords(text);
}

void CWordParser::Add(const std::string& key, const std::string& value, float confidence) {
    std::string fixed = mTitles->ApplyFixedWords(value);
    for (auto& phase : mResults) {
        if (phase.Key == key) {
            phase.Value = fixed;
            phase.Confidence = confidence;
            return;
        }
    }
    mResults.push_back({key, fixed, confidence});
}

void CWordParser::AddFirst(const std::string& key, const std::string& value, float confidence) {
    for (const CPhase& phase : mResults) {
        if (phase.Key == key && !phase.Value.empty()) {
            DebugTrace("the page names " + key + " again (\"" + value + "\"); the first value, \"" + phase.Value + "\", stands");
            return;
        }
    }
    Add(key, value, confidence);
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
