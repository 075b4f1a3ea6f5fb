#include "model/FrmDelayUpload.h"

#include <cstdio>

#include "support/Error.h"

namespace dorvex {

void FrmDelayUpload::Form_Load(const std::tm& now) {
    CmbMinute.Clear();
    for (int tens = 0; tens < 6; ++tens) CmbMinute.items.push_back(std::to_string(tens) + "0");
    CmbMinute.Select(now.tm_min / 10);
    CmbHour.Clear();
    for (int hour = now.tm_hour; hour <= 23; ++hour) {
        char text[16];
        std::snprintf(text, sizeof text, "%02d", hour);
        CmbHour.items.push_back(text);
    }
    CmbHour.Select(CmbHour.items.size() >= 3 ? 1 : 0);
}

void FrmDelayUpload::Form_Load() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) throw DorvexError(err::InvalidArgument, "cannot read the local time");
    Form_Load(local);
}

void FrmDelayUpload::CmdOK_Click() {
    if (!CmbHour.HasSelection() || !CmbMinute.HasSelection()) return;
    mTime = CmbHour.text + ":" + CmbMinute.text;
    mClickOK = true;
}

}  // namespace dorvex
