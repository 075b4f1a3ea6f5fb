#include "host/ScriptedDesk.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <iostream>

#include "control/FrmScan.h"
#include "server/Upload.h"

namespace dorvex::host {

void ServeFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

MsgResult ScriptedPerson::MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon) {
    MsgResult answer = buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes : MsgResult::OK;
    std::cout << "scripted person: [" << title << "] " << text << std::endl;
    return answer;
}

void ScriptedPerson::Yield() { QCoreApplication::processEvents(); }

ScriptedDesk::ScriptedDesk(const std::string& folder, int pauseMilliseconds)
    : InProcessHost(mPerson), mPerson(folder), mPause(pauseMilliseconds) {
    BeforeLoad = [](FrmScan& window) { window.ShowUploadWindow = [](FrmUpload& upload) { upload.Form_Activate(); }; };
    Person = [this](FrmScan& window) {
        std::cout << "scripted person: the scan window is open (mode " << window.Properties(prop::Mode) << ")" << std::endl;
        ServeFor(mPause);
        window.StartScan(true);
        std::cout << "scripted person: scanned" << std::endl;
        ServeFor(mPause);
        window.ImgUpload();
        std::cout << "scripted person: uploaded; closing the window" << std::endl;
        ServeFor(mPause);
    };
}

}  // namespace dorvex::host
