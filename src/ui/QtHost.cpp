#include "ui/QtHost.h"

#include <QJsonArray>

#include "control/FrmScan.h"
#include "support/Trace.h"
#include "ui/Dialogs.h"
#include "ui/ScanWindow.h"

namespace dorvex::ui {

void QtHost::PropertyChanged(const std::string& key) { DebugTrace("PropertyChanged " + key); }

void QtHost::ShowModal(FrmScan& window) {
    if (BeforeLoad) BeforeLoad(window);
    ScanWindow view(window, mPrompter);
    mPrompter.SetParent(&view);
    view.RunModal();
    mPrompter.SetParent(nullptr);
}

void QtHost::ShowModal(FrmUpload& window) { RunUploadDialog(window, mPrompter.Parent()); }

void RelayEvents(OrbScan& control, std::function<void(const QJsonObject&)> send) {
    control.AfterUpload.Connect([send](const std::string& comment, long code, const std::string& description) {
        send({{"type", "event"},
              {"name", "AfterUpload"},
              {"args", QJsonArray{QString::fromStdString(comment), static_cast<double>(code),
                                  QString::fromStdString(description)}}});
    });
    control.DebugMessage.Connect([send](const std::string& text) {
        send({{"type", "event"}, {"name", "DebugMessage"}, {"args", QJsonArray{QString::fromStdString(text)}}});
    });
}

}  // namespace dorvex::ui
