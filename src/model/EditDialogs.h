#pragma once
// The records and checks of the page-editing dialogs: delete a range of pages ("刪除指定頁數"),
// move pages ("移動指定頁面"), rotate ("旋轉影像"), merge or split ("合併或分割").

#include <cstdint>
#include <string>
#include <vector>

#include "model/DialogControls.h"

namespace dorvex {

class FrmDelete {
public:
    static constexpr const char* kCaption = "刪除指定頁數";
    std::int16_t DeleteType = 0;  // 0 from this page on, 1 up to this page, 2 the range typed
    std::int32_t MaxPage = 0;
    std::int32_t StartPage = 0;
    std::int32_t EndPage = 0;
    std::int32_t CurrentPage = 0;
    bool ClickOK = false;

    TextBox TxtStart, TxtEnd;  // enabled for type 2 only
    void Form_Load() { ChooseType(DeleteType); }  // the boxes as the preset type wants them
    void ChooseType(std::int16_t type);
    // Whether the page boxes take a key: backspace, delete and digits only.
    static bool AcceptsKey(int keyCode);
    void CmdOK_Click();
    void CmdCancel_Click() { ClickOK = false; }
};

class FrmMultiMove {
public:
    static constexpr const char* kCaption = "移動指定頁面";
    std::string Inno;
    std::int32_t Pages = 0;
    bool IsClickOK = false;
    TextBox TxtStart, TxtEnd, TxtTarget;

    std::string SetInfo() const { return Inno + " 總頁數：" + std::to_string(Pages); }
    std::int16_t StartPage() const;
    std::int16_t EndPage() const;
    std::int16_t TargetPage() const;
    // All three numeric, 1 <= first <= last <= pages, 0 <= after <= pages, after outside
    // first..last, and after + 1 != first (which would change nothing).
    bool OkEnabled() const;
    void CmdOK_Click() { IsClickOK = OkEnabled(); }
};

class FrmRotate {
public:
    static constexpr const char* kCaption = "旋轉影像";
    static constexpr int kFreeAngle = 3;
    int Choice = -1;  // 0 "90度", 1 "180度", 2 "270度", kFreeAngle the degrees typed in TxtAngle
    bool ClickOK = false;
    TextBox TxtAngle{"", false};  // degrees, clockwise; enabled for the free angle only
    void Choose(int choice);
    // Hundredths of a degree: 9000, 18000, 27000, or the typed degrees held within ±360; 0
    // without a usable choice.
    std::int32_t Angle() const;
    bool OkEnabled() const;  // a fixed angle, or the free angle with a number typed
    void CmdOK_Click() { ClickOK = OkEnabled(); }
};

class FrmMergeCut {
public:
    static constexpr const char* kCaption = "合併或分割";
    std::string Inno;
    std::int32_t TotalPage = 0;
    bool ClickOK = false;

    void AddInno(const std::string& inno) { CbAllInno.items.push_back(inno); }
    void SetEnableAttachment(bool enable);
    bool EnableAttachment() const { return mAttachment; }

    // The sentence: 第 [page] 頁 [以前/以後] [合併/分割/附件] 至 [target].
    ComboBox CbSelPage;   // 1..TotalPage
    ComboBox CbDirection; // "以前", "以後"
    ComboBox CbMC;        // "合併", "分割" (and "附件")
    ComboBox CbAllInno;   // merge targets
    TextBox TxtInno;      // split target
    void Form_Load();     // fills the lists; page 1, "以後", "分割"
    std::string Message() const;
    bool TargetListVisible() const;
    bool NumberBoxVisible() const;
    bool ToWordVisible() const;

    bool WantMerge() const;
    bool BeAttachment() const;
    bool StartAfter() const;
    std::int32_t StartAt() const;  // chosen page - 1, within 0..TotalPage - 1
    std::string TargetInno() const;
    // Presets given by the caller (a thumbnail's page, a merge command).
    void Preset(bool merge, std::int32_t startAt, bool after, const std::string& target);
    void CmdOK_Click() { ClickOK = true; }

private:
    bool mAttachment = false;
};

}  // namespace dorvex
