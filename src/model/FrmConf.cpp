#include "model/FrmConf.h"

#include <algorithm>

#include "model/ScanProperties.h"
#include "support/ModMath.h"
#include "support/Text.h"

namespace dorvex {
namespace {

std::int16_t ToInt16(double value) {
    value = RoundHalfEven(value);
    return static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
}

std::int16_t Int16Of(const ScanProperties& properties, int index) { return ToInt16(properties.Number(index)); }

void Fill(ComboBox& combo, std::vector<std::string> items, int selected) {
    combo.Clear();
    combo.items = std::move(items);
    combo.Select(selected);
}

// A combo's selected position read back into a property; no selection leaves it as it was.
void ReadPosition(const ComboBox& combo, std::int16_t& property) {
    if (combo.HasSelection()) property = static_cast<std::int16_t>(combo.listIndex);
}

bool NumberIn(const std::string& text, double low, double high) {
    if (!IsNumeric(text)) return false;
    double value = Val(text);
    return value >= low && value <= high;
}

}  // namespace

void FrmConf::LoadFrom(const ScanProperties& p) {
    UseBC = Int16Of(p, prop::UseBarcode);
    BCSeparator = p.Get(prop::BCSeparator);
    SplitPageMethod = Int16Of(p, prop::SplitPageMethod);
    ScanMode = Int16Of(p, prop::ScanMode);
    Feeder = Int16Of(p, prop::Feeder);
    PixelType = Int16Of(p, prop::PixelType);
    DPI = Int16Of(p, prop::DPI);
    Brightness = Int16Of(p, prop::Brightness);
    Contrast = Int16Of(p, prop::Contrast);
    PaperSize = Int16Of(p, prop::PaperSize);
    Duplex = Int16Of(p, prop::Duplex);
    TransMode = Int16Of(p, prop::TransferMode);
    DotRemove = Int16Of(p, prop::DotRemove);
    BorderRemove = Int16Of(p, prop::BorderRemove);
    Deskew = Int16Of(p, prop::Deskew);
    AutoTrim = Int16Of(p, prop::AutoTrim);
    UseGUI = Int16Of(p, prop::TwainUseGUI);
    TwainOrISIS = p.Get(prop::TwainOrISIS);
    ImgRotate = Int16Of(p, prop::ImgRotate);
    ImgInvert = Int16Of(p, prop::ImgInvert);
    WPageRemove = Int16Of(p, prop::WPageRemove);
    BlankPercent = p.Get(prop::BlankPercent);
    DeskewAngle = Int16Of(p, prop::DeskewAngle);
    FixDirection = Int16Of(p, prop::FixDirection);
    FixAngle1 = Int16Of(p, prop::FixAngle1);
    FixAngle2 = Int16Of(p, prop::FixAngle2);
    ItemLimit = Int16Of(p, prop::ItemLimit);
    EnableScanFix = Int16Of(p, prop::EnableScanFix);
}

void FrmConf::StoreTo(ScanProperties& p) const {
    auto set = [&p](int index, std::int16_t value) { p.Set(index, std::to_string(value)); };
    set(prop::UseBarcode, UseBC);
    p.Set(prop::BCSeparator, BCSeparator);
    set(prop::SplitPageMethod, SplitPageMethod);
    set(prop::ScanMode, ScanMode);
    set(prop::Feeder, Feeder);
    set(prop::PixelType, PixelType);
    set(prop::DPI, DPI);
    set(prop::Brightness, Brightness);
    set(prop::Contrast, Contrast);
    set(prop::PaperSize, PaperSize);
    set(prop::Duplex, Duplex);
    set(prop::TransferMode, TransMode);
    set(prop::DotRemove, DotRemove);
    set(prop::BorderRemove, BorderRemove);
    set(prop::Deskew, Deskew);
    set(prop::AutoTrim, AutoTrim);
    set(prop::TwainUseGUI, UseGUI);
    p.Set(prop::TwainOrISIS, TwainOrISIS);
    set(prop::ImgRotate, ImgRotate);
    set(prop::ImgInvert, ImgInvert);
    set(prop::WPageRemove, WPageRemove);
    p.Set(prop::BlankPercent, BlankPercent);
    set(prop::DeskewAngle, DeskewAngle);
    set(prop::FixDirection, FixDirection);
    set(prop::FixAngle1, FixAngle1);
    set(prop::FixAngle2, FixAngle2);
    // A page group of 0 or less would leave the page list without pages: kept as it was.
    if (ItemLimit > 0) {
        set(prop::ItemLimit, ItemLimit);
        p.ItemLimit = ItemLimit;
    }
    set(prop::EnableScanFix, EnableScanFix);
}

void FrmConf::Form_Load() {
    CmbItems.Clear();
    for (int i = 1; i <= 16; ++i) CmbItems.items.push_back(std::to_string(i));
    Caps = {};
    ClickOK = false;
    mClosed = false;
}

void FrmConf::Form_Activate() {
    Fill(CmbDType, {"首頁", "隔頁紙"}, SplitPageMethod);
    Fill(CmbCont, {"關閉", "開啟"}, ScanMode);
    Fill(CmbFeeder, {"平台", "自動"}, Feeder);
    Fill(CmbPxType, {"黑白", "灰階", "彩色"}, PixelType);
    const std::vector<std::string> dpis = {"100", "200", "300", "400", "500", "600"};
    auto dpi = std::find(dpis.begin(), dpis.end(), std::to_string(DPI));
    Fill(CmbDPI, dpis, dpi == dpis.end() ? -1 : static_cast<int>(dpi - dpis.begin()));
    if (!CmbDPI.HasSelection()) CmbDPI.text = std::to_string(DPI);
    std::vector<std::string> papers;
    for (std::int32_t i = 1; i <= Caps[CapPaperSize].Length(); ++i) papers.push_back(Caps[CapPaperSize].ItemDesc(i));
    Fill(CmbSize, papers, -1);
    Fill(CmbDup, {"關閉", "開啟"}, Duplex);
    Fill(CmbTransMode, {"Native", "Memory"}, TransMode);
    Fill(CmbGUI, {"關閉", "開啟"}, UseGUI);
    Fill(CmbDriver, {"TWAIN", "ISIS"}, TwainOrISIS == "ISIS" ? 1 : 0);
    Fill(CmbImgRotate, {"直向", "橫向(順時針)", "橫向(逆時針)"}, ImgRotate);
    if (CmbItems.items.empty()) Form_Load();
    CmbItems.Select(ItemLimit - 1);

    HSBrightness = {-1000, 1000, Brightness >= -1000 && Brightness <= 1000 ? Brightness : 0};
    HSContrast = {-1000, 1000, Contrast >= -1000 && Contrast <= 1000 ? Contrast : 0};

    mChecks[static_cast<std::size_t>(Check::UseBC)] = UseBC == 1;
    mChecks[static_cast<std::size_t>(Check::DotRemove)] = DotRemove == 1;
    mChecks[static_cast<std::size_t>(Check::BorderRemove)] = BorderRemove == 1;
    mChecks[static_cast<std::size_t>(Check::Deskew)] = Deskew == 1;
    mChecks[static_cast<std::size_t>(Check::AutoTrim)] = AutoTrim == 1;
    mChecks[static_cast<std::size_t>(Check::ImgInvert)] = ImgInvert == 1;
    mChecks[static_cast<std::size_t>(Check::WPageRemove)] = WPageRemove == 1;
    mChecks[static_cast<std::size_t>(Check::FixDirection)] = FixDirection == 1;
    mChecks[static_cast<std::size_t>(Check::EnableScanFix)] = EnableScanFix == 1;

    TxtBarCode.text = BCSeparator;
    TxtBlankPercent.text = BlankPercent;
    TxtDeskewAngle.text = std::to_string(DeskewAngle);
    TxtFixAngle1.text = std::to_string(FixAngle1);
    TxtFixAngle2.text = std::to_string(FixAngle2);
    UpdateEnabled();
    Validate();
}

bool FrmConf::Checked(Check box) const { return mChecks[static_cast<std::size_t>(box)]; }

std::int16_t& FrmConf::CheckProperty(Check box) {
    switch (box) {
        case Check::UseBC: return UseBC;
        case Check::DotRemove: return DotRemove;
        case Check::BorderRemove: return BorderRemove;
        case Check::Deskew: return Deskew;
        case Check::AutoTrim: return AutoTrim;
        case Check::ImgInvert: return ImgInvert;
        case Check::WPageRemove: return WPageRemove;
        case Check::FixDirection: return FixDirection;
        case Check::EnableScanFix: break;
    }
    return EnableScanFix;
}

void FrmConf::ClickCheck(Check box, bool ticked) {
    mChecks[static_cast<std::size_t>(box)] = ticked;
    CheckProperty(box) = ticked ? 1 : 0;
    UpdateEnabled();
    Validate();
}

void FrmConf::ChangeText(TextBox& box, const std::string& text) {
    box.text = text;
    Validate();
}

void FrmConf::ChooseCombo(ComboBox& combo, int index) {
    combo.Select(index);
    if (&combo == &CmbFeeder) Caps[CapFeeder].Changed = true;
    if (&combo == &CmbPxType) Caps[CapPixelType].Changed = true;
    if (&combo == &CmbDPI) {
        Caps[CapDPI].Changed = true;
        Caps[CapDPI].CurrentValue = combo.text;
    }
    if (&combo == &CmbSize) {
        CScanCap& cap = Caps[CapPaperSize];
        cap.Changed = true;
        for (std::int32_t i = 1; i <= cap.Length(); ++i) {
            if (cap.ItemDesc(i) == combo.text) {
                cap.CurrentValue = cap.Item(i);
                break;
            }
        }
    }
}

void FrmConf::EditComboText(ComboBox& combo, const std::string& text) {
    combo.text = text;
    combo.listIndex = -1;
}

void FrmConf::Scroll(Slider& slider, int value) { slider.value = std::clamp(value, slider.min, slider.max); }

void FrmConf::UpdateEnabled() {
    TxtDeskewAngle.enabled = Checked(Check::Deskew);
    TxtBlankPercent.enabled = Checked(Check::WPageRemove);
    TxtFixAngle1.enabled = Checked(Check::FixDirection);
    TxtFixAngle2.enabled = Checked(Check::FixDirection);
    TxtBarCode.enabled = Checked(Check::UseBC);
}

void FrmConf::Validate() {
    bool ok = true;
    if (Checked(Check::UseBC) && TxtBarCode.text.empty()) ok = false;
    if (Checked(Check::Deskew) && !NumberIn(TxtDeskewAngle.text, 0, 45)) ok = false;
    if (Checked(Check::WPageRemove) && !NumberIn(TxtBlankPercent.text, 0, 100)) ok = false;
    mOkEnabled = ok;
}

void FrmConf::CmdOK_Click() {
    if (!mOkEnabled) return;
    ReadPosition(CmbDType, SplitPageMethod);
    ReadPosition(CmbCont, ScanMode);
    ReadPosition(CmbFeeder, Feeder);
    ReadPosition(CmbPxType, PixelType);
    ReadPosition(CmbDup, Duplex);
    ReadPosition(CmbGUI, UseGUI);
    ReadPosition(CmbImgRotate, ImgRotate);
    if (CmbItems.HasSelection()) ItemLimit = ToInt16(Val(CmbItems.text));
    if (std::string dpi = Trim(CmbDPI.text, " "); !dpi.empty()) DPI = ToInt16(Val(dpi));
    Brightness = static_cast<std::int16_t>(HSBrightness.value);
    Contrast = static_cast<std::int16_t>(HSContrast.value);
    if (!Caps[CapPaperSize].CurrentValue.empty()) PaperSize = ToInt16(Val(Caps[CapPaperSize].CurrentValue));
    BCSeparator = TxtBarCode.text;
    TransMode = CmbTransMode.text == "Native" ? 0 : 1;  // by the text shown, whatever is selected
    if (CmbDriver.HasSelection()) TwainOrISIS = CmbDriver.text;
    if (TxtBlankPercent.text.empty()) TxtBlankPercent.text = "0.5";
    BlankPercent = TxtBlankPercent.text;
    DeskewAngle = ToInt16(Val(TxtDeskewAngle.text));
    // The two fix angles are read back too, so that an edited angle is not silently lost.
    FixAngle1 = ToInt16(Val(TxtFixAngle1.text));
    FixAngle2 = ToInt16(Val(TxtFixAngle2.text));
    ClickOK = true;
    mClosed = true;
}

void FrmConf::CmdCancel_Click() {
    ClickOK = false;
    mClosed = true;
}

}  // namespace dorvex
