#pragma once
// The field editor beside the page viewer: the recognised fields of the current document as a
// form the clerk corrects (a type list and eight one-line fields). A correction is raised as
// Change(key, value) when the field loses the focus (or on ForceSync), and the window writes it
// into the document. An issue date not written as a Republic of China date shows red; a field
// that the recognition was unsure of is marked until the clerk edits it.
// The view draws this state and forwards gestures; positions are in characters.

#include <array>
#include <string>
#include <vector>

#include "model/Phase.h"
#include "support/Event.h"

namespace dorvex {

class DocDetail {
public:
    static constexpr int kFields = 8;       // TxtContent(0..7)
    static constexpr int kDateField = 2;    // "來文日期"
    static constexpr int kMeetingType = 7;  // the list index of "開會通知單"
    static constexpr int kSubjectField = 6;  // "主旨", shown unless the type is a meeting notice
    static constexpr int kMeetingField = 7;  // "開會事由", shown only for a meeting notice
    static constexpr const char* kTypeKey = "類別";

    DocDetail();

    // "中華民國<digits>年<digits>月<digits>日" anywhere in the text once line breaks, spaces,
    // full-width spaces and tabs are taken out.
    static bool IsROCDateTimeFormat(const std::string& text);
    void Clear();
    // Shows a document's words; nullptr keeps what is shown. Raises no Change and leaves no
    // field dirty.
    void Update(const std::vector<CPhase>* words);
    // The key a label's caption stands for ("來文機關" is stored as "機關名稱", ...).
    static std::string GetRealTitle(const std::string& title);
    // The captions of the type row and the eight field rows, in order.
    std::vector<std::string> GetTitles() const;
    // Raises Change for every field edited since it was last written back.
    void ForceSync();
    // Replaces the selection of the focused field by `text`, the caret after it; nothing
    // without a focused field.
    void InsertText(const std::string& text);

    Event<const std::string&, const std::string&> Change;
    // Raised when the controller itself changed what is shown (Update, Clear, InsertText, a
    // type choice), so that the view draws it again.
    Event<> Refreshed;

    // ---- What the view shows ----
    const std::vector<std::string>& TypeNames() const { return mTypeNames; }  // CbType's 15 items
    int TypeIndex() const { return mTypeIndex; }  // -1 when the text is none of them
    const std::string& TypeText() const { return mTypeText; }
    const std::string& Text(int field) const { return mTexts.at(static_cast<std::size_t>(field)); }
    bool Dirty(int field) const { return mDirty.at(static_cast<std::size_t>(field)); }
    bool DateIsRed() const { return mDateRed; }
    // Whether the field (or the type) holds what the recognition read with low confidence and
    // the clerk has not edited since.
    bool Unsure(int field) const { return mUnsure.at(static_cast<std::size_t>(field)); }
    bool TypeUnsure() const { return mTypeUnsure; }
    static constexpr const char* kUnsureTip = "辨識信心低，請核對";
    // Row 0 is the type; rows 1..8 hold fields 0..7. Rows 7 and 8 take turns.
    bool RowVisible(int row) const;
    int FocusedField() const { return mFocused; }
    int CaretPosition() const { return mCaret; }

    // ---- Gestures from the view ----
    void TxtContent_Change(int field, const std::string& text);
    void TxtContent_GotFocus(int field);
    void TxtContent_LostFocus(int field);
    // The focused field's selection (start and length in characters).
    void TxtContent_Select(int field, int start, int length);
    void CbType_Click(int index);

private:
    void SetType(const std::string& text);
    void CheckDate();

    std::vector<std::string> mTypeNames;
    int mTypeIndex = -1;
    std::string mTypeText;
    std::string mLastTypeText;
    std::array<std::string, kFields> mTexts;
    std::array<bool, kFields> mDirty{};
    std::array<bool, kFields> mUnsure{};
    bool mTypeUnsure = false;
    bool mSuppress = false;
    bool mDateRed = false;
    int mFocused = -1;
    int mSelStart = 0;
    int mSelLength = 0;
    int mCaret = 0;
};

}  // namespace dorvex
