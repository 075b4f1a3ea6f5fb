#pragma once
// The time dialog of the delayed upload ("延遲上傳"): an hour from the current one to 23 and a
// minute in tens. The view calls Form_Load with the local time, then OK or Cancel.

#include <ctime>
#include <string>

#include "model/DialogControls.h"

namespace dorvex {

class FrmDelayUpload {
public:
    static constexpr const char* kCaption = "延遲上傳";

    ComboBox CmbHour;    // "hh" from the current hour to 23
    ComboBox CmbMinute;  // "00", "10", ... "50"

    // Fills the lists for the local time `now` and selects the defaults: the minute's ten,
    // and the current hour, or the next one when at least three hours are left to choose from.
    void Form_Load(const std::tm& now);
    void Form_Load();  // with the clock's local time
    void CmdOK_Click();
    void CmdCancel_Click() { mClickOK = false; }

    bool ClickOK() const { return mClickOK; }
    const std::string& Time() const { return mTime; }  // "hh:mm" once OK was pressed

private:
    bool mClickOK = false;
    std::string mTime;
};

}  // namespace dorvex
