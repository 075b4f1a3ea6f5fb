// The scan window's delayed upload and "全部另存": the documents' page files copied into a
// folder the person picks; for the delayed upload also listed, with the script and the job
// that sends them later.

#include "control/FrmScan.h"
#include "model/FrmDelayUpload.h"
#include "platform/AtQueue.h"
#include "server/DelayUpload.h"
#include "server/Robot.h"
#include "support/Prompter.h"
#include "support/Trace.h"
#include "support/WinInfo.h"

namespace dorvex {

void FrmScan::SaveAllPages() {
    TraceScope trace("Private Sub SaveAllPages()");
    if (!mList) return;
    try {
        ExportScanList(mPrompter, TopMostWindow, *mList, false, DVDPrefix, Props.Get(prop::Operator));
    } catch (const std::exception& e) {
        mPrompter.MessageBox(std::string("全部另存失敗：") + e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
    }
}

void FrmScan::ScheduleDelayUpload() {
    TraceScope trace("Private Sub DelayUpload()");
    if (!mList) return;
    FrmDelayUpload dialog;
    dialog.Form_Load();
    if (ShowDelayUploadDialog) ShowDelayUploadDialog(dialog);
    if (!dialog.ClickOK()) return;

    const std::string tmp = CWinInfo().getTmpPath();
    const std::string scriptPath = tmp + "/" + kScriptFileName;
    const std::string serverUrl = Props.Get(prop::ServerUrl);
    try {
        WriteScriptFile(scriptPath, tmp, serverUrl);
        std::string lines =
            ExportScanList(mPrompter, TopMostWindow, *mList, true, DVDPrefix, Props.Get(prop::Operator));
        if (!lines.empty()) AppendListLines(tmp + "/" + kListFileName, lines);
    } catch (const std::exception& e) {
        mPrompter.MessageBox(std::string("延遲上傳失敗：") + e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
        return;
    }

    AtQueue systemQueue;
    Robot robot(mPrompter, Scheduler != nullptr ? *Scheduler : systemQueue);
    robot.ServerURL = serverUrl;
    robot.JobProxy = Props.Get(prop::Proxy);
    if (!robot.SetTimeout(dialog.Time(), "CSCRIPT " + scriptPath)) {
        // The files are listed, but nothing will send them: the person must know.
        mPrompter.MessageBox("無法排定 " + dialog.Time() + " 的延遲上傳：" + robot.LastError() +
                                 "\n檔案仍列在 " + tmp + "/" + kListFileName + "，尚未上傳。",
                             "", MsgButtons::OK, MsgIcon::Exclamation);
    }
}

}  // namespace dorvex
