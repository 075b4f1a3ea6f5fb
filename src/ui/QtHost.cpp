#include "ui/QtHost.h"

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

}  // namespace dorvex::ui
