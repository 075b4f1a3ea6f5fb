#include "ocr/DocDetail.h"

#include <algorithm>
#include <regex>

#include "ocr/DocType.h"
#include "support/CodePage.h"

namespace dorvex {
namespace {

// The label of each row: the type, then the fields in order.
const std::array<const char*, DocDetail::kFields + 1> kCaptions = {
    "類別", "來文機關", "受文者", "來文日期", "來文字號", "速別", "附件", "主旨", "開會事由"};

}  // namespace

DocDetail::DocDetail() {
    const auto names = CDocType().TypeNames();
    mTypeNames.assign(names.begin(), names.end());
    CheckDate();
}

bool DocDetail::IsROCDateTimeFormat(const std::string& text) {
    std::u32string kept;
    const std::u32string wide = ToU32(text);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char32_t c = wide[i];
        if (c == U'\r' && i + 1 < wide.size() && wide[i + 1] == U'\n') {
            ++i;
            continue;
        }
        if (c == U' ' || c == U'\u3000' || c == U'\t') continue;
        kept += c;
    }
    // The digits are ASCII; the Chinese words match byte for byte in UTF-8.
    static const std::regex kDate("中華民國[0-9]+年[0-9]+月[0-9]+日", std::regex::icase);
    const std::string narrow = ToUtf8(kept);
    return std::regex_search(narrow, kDate);
}

void DocDetail::Clear() {
    SetType("");
    for (int field = 0; field < kFields; ++field) TxtContent_Change(field, "");
    mUnsure.fill(false);
    Refreshed.Raise();
}

void DocDetail::Update(const std::vector<CPhase>* words) {
    if (!words) return;
    mSuppress = true;
    Clear();
    for (const CPhase& phase : *words) {
        if (phase.Key == kTypeKey) {
            if (!phase.Value.empty()) {
                SetType(phase.Value);
                mTypeUnsure = CPhase::IsUnsure(phase.Confidence);
            }
            continue;
        }
        for (int field = 0; field < kFields; ++field) {
            if (GetRealTitle(kCaptions[static_cast<std::size_t>(field + 1)]) != phase.Key) continue;
            TxtContent_Change(field, phase.Value);
            mUnsure[static_cast<std::size_t>(field)] = CPhase::IsUnsure(phase.Confidence);
        }
    }
    mSuppress = false;
    Refreshed.Raise();
}

std::string DocDetail::GetRealTitle(const std::string& title) {
    if (title == "來文機關") return "機關名稱";
    if (title == "來文日期") return "發文日期";
    if (title == "來文字號") return "發文字號";
    return title;
}

std::vector<std::string> DocDetail::GetTitles() const { return {kCaptions.begin(), kCaptions.end()}; }

void DocDetail::ForceSync() {
    for (int field = 0; field < kFields; ++field) {
        if (!mDirty[static_cast<std::size_t>(field)]) continue;
        mDirty[static_cast<std::size_t>(field)] = false;
        if (!mSuppress) Change.Raise(GetRealTitle(kCaptions[static_cast<std::size_t>(field + 1)]), Text(field));
    }
}

void DocDetail::InsertText(const std::string& text) {
    if (mFocused < 0) return;
    const std::u32string wide = ToU32(Text(mFocused));
    const std::size_t start = std::min<std::size_t>(static_cast<std::size_t>(std::max(mSelStart, 0)), wide.size());
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(std::max(mSelLength, 0)), wide.size() - start);
    const std::u32string inserted = ToU32(text);
    const std::u32string result = wide.substr(0, start) + inserted + wide.substr(start + length);
    TxtContent_Change(mFocused, ToUtf8(result));
    mCaret = static_cast<int>(start + inserted.size());
    mSelStart = mCaret;
    mSelLength = 0;
    Refreshed.Raise();
}

bool DocDetail::RowVisible(int row) const {
    const bool meeting = mTypeIndex == kMeetingType;
    if (row == kSubjectField + 1) return !meeting;
    if (row == kMeetingField + 1) return meeting;
    return row >= 0 && row <= kFields;
}

void DocDetail::TxtContent_Change(int field, const std::string& text) {
    if (field < 0 || field >= kFields) return;
    mTexts[static_cast<std::size_t>(field)] = text;
    if (!mSuppress) {
        mDirty[static_cast<std::size_t>(field)] = true;
        mUnsure[static_cast<std::size_t>(field)] = false;  // the clerk has looked at it
    }
    if (field == kDateField) CheckDate();
}

void DocDetail::TxtContent_GotFocus(int field) {
    if (field < 0 || field >= kFields) return;
    mFocused = field;
    mSelStart = mSelLength = 0;
    mCaret = static_cast<int>(CharCount(Text(field)));
}

void DocDetail::TxtContent_LostFocus(int field) {
    if (field < 0 || field >= kFields) return;
    if (mDirty[static_cast<std::size_t>(field)] && !mSuppress) {
        mDirty[static_cast<std::size_t>(field)] = false;
        Change.Raise(GetRealTitle(kCaptions[static_cast<std::size_t>(field + 1)]), Text(field));
    }
    if (mFocused == field) mFocused = -1;
}

void DocDetail::TxtContent_Select(int field, int start, int length) {
    if (field != mFocused) return;
    mSelStart = start;
    mSelLength = length;
    mCaret = start + length;
}

void DocDetail::CbType_Click(int index) {
    if (index < 0 || index >= static_cast<int>(mTypeNames.size())) return;
    const std::string chosen = mTypeNames[static_cast<std::size_t>(index)];
    const bool differs = chosen != mLastTypeText;
    SetType(chosen);
    mTypeIndex = index;
    mTypeUnsure = false;  // the clerk chose it
    if (differs && !mSuppress) Change.Raise(kTypeKey, chosen);
    Refreshed.Raise();
}

void DocDetail::SetType(const std::string& text) {
    mTypeUnsure = false;
    mTypeText = text;
    mLastTypeText = text;
    mTypeIndex = -1;
    if (text.empty()) return;
    const auto found = std::find(mTypeNames.begin(), mTypeNames.end(), text);
    if (found != mTypeNames.end()) mTypeIndex = static_cast<int>(found - mTypeNames.begin());
}

void DocDetail::CheckDate() { mDateRed = !IsROCDateTimeFormat(Text(kDateField)); }

}  // namespace dorvex
