#pragma once
// The border-removal dialog ("去黑邊設定"): which sides to clean and the three limits, clamped.

#include <cstdint>

namespace dorvex {

class ScanProperties;

class FrmBorderRemove {
public:
    static constexpr const char* kCaption = "去黑邊設定";
    enum Side : std::int32_t { Left = 1, Right = 2, Top = 4, Bottom = 8 };

    std::int32_t Flag = 15;
    std::int32_t Percent = 20;
    std::int32_t WNlength = 5;
    std::int32_t Variance2 = 5;
    bool ClickOK = false;

    // Filled from BRFlag, BRWNLength, BRPercent and BRVariance; written back after OK.
    void LoadFrom(const ScanProperties& properties);
    void StoreTo(ScanProperties& properties) const;

    // The widgets: the four side boxes and the three number boxes.
    bool ChkLeft = true, ChkRight = true, ChkTop = true, ChkBottom = true;
    double TxtPercent = 20, TxtWNlength = 5, TxtVariance = 5;

    void Form_Activate();  // widgets from the record
    void CmdOK_Click();    // record from the widgets, clamped
    void CmdCancel_Click() { ClickOK = false; }
};

}  // namespace dorvex
