#include "model/FrmBorderRemove.h"

#include <algorithm>
#include <string>

#include "model/ScanProperties.h"
#include "support/ModMath.h"

namespace dorvex {
namespace {
std::int32_t Clamp(double value, int high) {
    return static_cast<std::int32_t>(std::clamp(RoundHalfEven(value), 0.0, static_cast<double>(high)));
}
}  // namespace

void FrmBorderRemove::LoadFrom(const ScanProperties& p) {
    Flag = p.Integer(prop::BRFlag);
    WNlength = p.Integer(prop::BRWNLength);
    Percent = p.Integer(prop::BRPercent);
    Variance2 = p.Integer(prop::BRVariance);
}

void FrmBorderRemove::StoreTo(ScanProperties& p) const {
    p.Set(prop::BRFlag, std::to_string(Flag));
    p.Set(prop::BRWNLength, std::to_string(WNlength));
    p.Set(prop::BRPercent, std::to_string(Percent));
    p.Set(prop::BRVariance, std::to_string(Variance2));
}

void FrmBorderRemove::Form_Activate() {
    ChkLeft = (Flag & Left) != 0;
    ChkRight = (Flag & Right) != 0;
    ChkTop = (Flag & Top) != 0;
    ChkBottom = (Flag & Bottom) != 0;
    TxtPercent = Percent;
    TxtWNlength = WNlength;
    TxtVariance = Variance2;
}

void FrmBorderRemove::CmdOK_Click() {
    Flag = (ChkLeft ? Left : 0) | (ChkRight ? Right : 0) | (ChkTop ? Top : 0) | (ChkBottom ? Bottom : 0);
    Percent = Clamp(TxtPercent, 100);
    WNlength = Clamp(TxtWNlength, 10);
    Variance2 = Clamp(TxtVariance, 10);
    ClickOK = true;
}

}  // namespace dorvex
