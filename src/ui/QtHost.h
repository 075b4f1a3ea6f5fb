#pragma once
// The control's host on a desktop: the windows are Qt windows, the person answers through
// Qt's dialogs.

#include <QJsonObject>
#include <functional>

#include "control/OrbScan.h"
#include "ui/QtPrompter.h"

namespace dorvex::ui {

class QtHost : public IComponentHost {
public:
    bool UserMode() const override { return true; }
    void PropertyChanged(const std::string& key) override;
    IPrompter& Prompter() override { return mPrompter; }
    void ShowModal(FrmScan& window) override;
    void ShowModal(FrmUpload& window) override;

    // Runs before a scan window loads (a test or a demonstration may set its hooks).
    std::function<void(FrmScan&)> BeforeLoad;

private:
    QtPrompter mPrompter;
};

// Hands every event the control raises to `send` as one message: {"type":"event","name":
// "AfterUpload","args":[comment, code, description]} or {"type":"event","name":"DebugMessage",
// "args":[text]}, the values unchanged.
void RelayEvents(OrbScan& control, std::function<void(const QJsonObject&)> send);

}  // namespace dorvex::ui
