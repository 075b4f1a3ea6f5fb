#include "model/EditDialogs.h"

#include <algorithm>

#include "support/ModMath.h"

namespace dorvex {
namespace {
std::int16_t NumberOf(const TextBox& box) {
    return static_cast<std::int16_t>(std::clamp(RoundHalfEven(Val(box.text)), -32768.0, 32767.0));
}
}  // namespace

void FrmDelete::ChooseType(std::int16_t type) {
    DeleteType = type;
    TxtStart.enabled = TxtEnd.enabled = type == 2;
}

bool FrmDelete::AcceptsKey(int keyCode) {
    return keyCode == 8 || keyCode == 46 || (keyCode >= '0' && keyCode <= '9') || (keyCode >= 96 && keyCode <= 105);
}

void FrmDelete::CmdOK_Click() {
    ClickOK = true;
    if (DeleteType == 0) {
        StartPage = CurrentPage;
        EndPage = MaxPage;
    } else if (DeleteType == 1) {
        StartPage = 1;
        EndPage = CurrentPage;
    } else {
        if (!TxtStart.text.empty()) StartPage = static_cast<std::int32_t>(Val(TxtStart.text));
        if (!TxtEnd.text.empty()) EndPage = static_cast<std::int32_t>(Val(TxtEnd.text));
        if (StartPage == 0 || EndPage == 0 || EndPage < StartPage || StartPage > MaxPage || EndPage > MaxPage) {
            ClickOK = false;
        }
    }
}

void FrmRotate::Choose(int choice) {
    Choice = choice;
    TxtAngle.enabled = choice == kFreeAngle;
}

std::int32_t FrmRotate::Angle() const {
    if (Choice >= 0 && Choice < kFreeAngle) return (Choice + 1) * 9000;
    if (Choice != kFreeAngle || !IsNumeric(TxtAngle.text)) return 0;
    return static_cast<std::int32_t>(std::clamp(RoundHalfEven(Val(TxtAngle.text) * 100.0), -36000.0, 36000.0));
}

bool FrmRotate::OkEnabled() const {
    return (Choice >= 0 && Choice < kFreeAngle) || (Choice == kFreeAngle && IsNumeric(TxtAngle.text));
}

std::int16_t FrmMultiMove::StartPage() const { return NumberOf(TxtStart); }
std::int16_t FrmMultiMove::EndPage() const { return NumberOf(TxtEnd); }
std::int16_t FrmMultiMove::TargetPage() const { return NumberOf(TxtTarget); }

bool FrmMultiMove::OkEnabled() const {
    if (!IsNumeric(TxtStart.text) || !IsNumeric(TxtEnd.text) || !IsNumeric(TxtTarget.text)) return false;
    int a = StartPage(), b = EndPage(), t = TargetPage();
    // A first page of 0 is refused here: the move could not do anything sensible with it.
    if (a < 1 || a > b || b > Pages || t < 0 || t > Pages) return false;
    if (t >= a && t <= b) return false;
    return t + 1 != a;
}

void FrmMergeCut::SetEnableAttachment(bool enable) {
    mAttachment = enable;
    CbMC.items = {"合併", "分割"};
    if (enable) CbMC.items.push_back("附件");
    if (CbMC.listIndex >= static_cast<int>(CbMC.items.size())) CbMC.Select(1);
}

void FrmMergeCut::Form_Load() {
    CbSelPage.items.clear();
    for (std::int32_t i = 1; i <= TotalPage; ++i) CbSelPage.items.push_back(std::to_string(i));
    CbSelPage.Select(0);
    CbDirection.items = {"以前", "以後"};
    CbDirection.Select(1);
    SetEnableAttachment(mAttachment);
    CbMC.Select(1);
    if (!CbAllInno.items.empty()) CbAllInno.Select(0);
}

std::string FrmMergeCut::Message() const {
    return "文件概要：" + Inno + "   總頁數：" + std::to_string(TotalPage);
}

bool FrmMergeCut::WantMerge() const { return CbMC.listIndex == 0; }
bool FrmMergeCut::BeAttachment() const { return CbMC.listIndex == 2; }
bool FrmMergeCut::StartAfter() const { return CbDirection.listIndex != 0; }
bool FrmMergeCut::TargetListVisible() const { return WantMerge(); }
bool FrmMergeCut::NumberBoxVisible() const { return CbMC.listIndex == 1; }
bool FrmMergeCut::ToWordVisible() const { return !BeAttachment(); }

std::int32_t FrmMergeCut::StartAt() const {
    if (TotalPage <= 0) return 0;
    return std::clamp(CbSelPage.listIndex, 0, TotalPage - 1);
}

std::string FrmMergeCut::TargetInno() const {
    if (WantMerge()) return CbAllInno.HasSelection() ? CbAllInno.text : std::string();
    return TxtInno.text;
}

void FrmMergeCut::Preset(bool merge, std::int32_t startAt, bool after, const std::string& target) {
    CbSelPage.Select(std::clamp(startAt, 0, std::max(TotalPage - 1, 0)));
    CbDirection.Select(after ? 1 : 0);
    CbMC.Select(merge ? 0 : 1);
    if (merge) {
        auto it = std::find(CbAllInno.items.begin(), CbAllInno.items.end(), target);
        if (it != CbAllInno.items.end()) CbAllInno.Select(static_cast<int>(it - CbAllInno.items.begin()));
    } else {
        TxtInno.text = target;
    }
}

}  // namespace dorvex
