#pragma once
// The scan settings dialog ("掃描設定"): the record of scanner and clean-up settings it edits,
// its widgets' state, the check that enables OK, and what OK writes back.

#include <array>
#include <cstdint>
#include <string>

#include "model/DialogControls.h"
#include "model/ScanCap.h"

namespace dorvex {

class ScanProperties;

class FrmConf {
public:
    static constexpr std::string_view kCaption = "掃描設定";

    // ---- The settings record ----
    std::int16_t UseBC = 0;
    std::string BCSeparator;
    std::int16_t SplitPageMethod = 0;
    std::int16_t ScanMode = 0;
    std::int16_t Feeder = 0;
    std::int16_t PixelType = 0;
    std::int16_t DPI = 100;
    std::int16_t Brightness = 0;
    std::int16_t Contrast = 0;
    std::int16_t PaperSize = 1;
    std::int16_t Duplex = 0;
    std::int16_t TransMode = 0;
    std::int16_t DotRemove = 0;
    std::int16_t BorderRemove = 0;
    std::int16_t Deskew = 0;
    std::int16_t AutoTrim = 0;
    std::int16_t UseGUI = 0;
    std::string TwainOrISIS = "TWAIN";
    std::int16_t ImgRotate = 0;
    std::int16_t ImgInvert = 0;
    std::int16_t WPageRemove = 0;
    std::string BlankPercent = "0.5";
    std::int16_t DeskewAngle = 10;
    std::int16_t FixDirection = 0;
    std::int16_t FixAngle1 = 0;
    std::int16_t FixAngle2 = 0;
    std::int16_t ItemLimit = 8;
    std::int16_t EnableScanFix = 0;
    bool ClickOK = false;

    // Fills the record from the session settings, and writes it back after OK.
    void LoadFrom(const ScanProperties& properties);
    void StoreTo(ScanProperties& properties) const;

    // ---- Window lifecycle ----
    void Form_Load();
    void Form_Activate();  // fills every widget from the record

    // ---- Widgets ----
    ComboBox CmbDType, CmbCont, CmbFeeder, CmbPxType, CmbDPI, CmbSize, CmbDup, CmbTransMode, CmbGUI,
        CmbDriver, CmbImgRotate, CmbItems;
    Slider HSBrightness, HSContrast;
    TextBox TxtBarCode, TxtBlankPercent, TxtDeskewAngle, TxtFixAngle1, TxtFixAngle2;

    enum class Check { UseBC, DotRemove, BorderRemove, Deskew, AutoTrim, ImgInvert, WPageRemove, FixDirection, EnableScanFix };
    bool Checked(Check box) const;

    // ---- Gestures ----
    void ClickCheck(Check box, bool ticked);  // writes its property at once
    void ChangeText(TextBox& box, const std::string& text);
    void ChooseCombo(ComboBox& combo, int index);
    // Typing into an editable combo (the resolution box): its text, and no entry selected.
    void EditComboText(ComboBox& combo, const std::string& text);
    void Scroll(Slider& slider, int value);  // held within the slider's range
    bool OkEnabled() const { return mOkEnabled; }
    void CmdOK_Click();      // also Enter; does nothing while OK is disabled
    void CmdCancel_Click();  // also Escape
    bool Closed() const { return mClosed; }

    // The capability records kept beside the combo boxes.
    enum Cap { CapFeeder, CapPixelType, CapDPI, CapPaperSize, CapDuplex, CapTransMode, CapBrightness, CapContrast, CapCount };
    std::array<CScanCap, CapCount> Caps;

private:
    std::int16_t& CheckProperty(Check box);
    void Validate();
    void UpdateEnabled();

    std::array<bool, 9> mChecks{};
    bool mOkEnabled = true;
    bool mClosed = false;
};

}  // namespace dorvex
