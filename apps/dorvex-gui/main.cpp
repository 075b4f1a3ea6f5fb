// dorvex-gui: hosts the control on a desktop. It takes the parameters a web page would give
// the control (--set NAME=VALUE, or a property-bag file) and the method to call.

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QTextStream>
#include <iostream>

#include "control/OrbScan.h"
#include "demo/DemoSession.h"
#include "platform/PageMemory.h"
#include "support/Error.h"
#include "ui/QtHost.h"

namespace {

constexpr const char* kUsage = R"(usage: dorvex-gui [--bag FILE] [--set NAME=VALUE]... [--add-inno INNO,PAGES,MULTI,BATCH]...
                  METHOD [ARGUMENT]
       dorvex-gui --demo [--letters DIR]

Opens the control's windows on the desktop, as a web page would through the control.
  --bag FILE        the control's saved properties: NAME=VALUE lines (as a page's parameters)
  --set NAME=VALUE  one property (EncServerURL, EncOperator, EncInno, EncBatchNo, EncDVDPrefix,
                    SessionIdName, SessionID, Proxy, OnlyScanList, ScanListVisible,
                    EnableOverWrite, EnableTopMost, EnableOCR, ...); enciphered values come
                    from `dorvex encrypt`
  --add-inno ...    AddInno before the method: document, page count, 1 for one multi-page
                    file, batch
METHOD is one of ShowMultiTwain [PREFIX], ShowMultiTwainA, ShowMultiEdit [PREFIX],
ShowSingleTwain, ShowSingleTwainA, ShowSingleTwainB, ShowSimpleEdit, UploadDir PREFIX,
UploadFileWithInno INNO. The scanner is the one chosen in the window (選擇掃描器), kept in the
settings file.
--demo opens the scan window of `dorvex demo` for you to work in: the reference server on a
free loopback port, the file feeder loaded with the sample letters (press 掃描, then 儲存).

The control's events go to standard output as they are raised, one JSON line each, as the
local host sends them to a web page:
  {"args":[TEXT],"name":"DebugMessage","type":"event"}   (the window of ShowSingleTwain)
  {"args":[INNO,ERRCODE,ERRDESCRIPTION],"name":"AfterUpload","type":"event"}   (UploadDir)
When the method returns, the upload report (UploadDir, UploadFileWithInno) and the line
LastTmpFile=PATH (ShowSingleTwainB) follow.
)";

// The demonstration session with the real window; the server's holdings are printed at the end.
int Demo(dorvex::ui::QtHost& host, const std::string& letters) {
    dorvex::DemoSession session(letters);
    dorvex::OrbScan control(host);
    session.Configure(control);
    std::cout << "reference server: " << session.Url() << "\nscanner: file:" << letters << "\n";
    control.ShowMultiTwain("");
    std::string holdings;
    bool held = session.Holdings(holdings);
    std::cout << "the server holds (" << session.DataDir() << "):\n" << holdings;
    return held ? 0 : 1;
}

int Usage(const std::string& problem) {
    std::cerr << "dorvex-gui: " << problem << "\n" << kUsage;
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    // The usage needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::cout << kUsage;
            return 0;
        }
    }
    dorvex::KeepPageBuffersForReuse();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Dorvex");
    dorvex::ui::QtHost host;
    dorvex::OrbScan control(host);
    control.InitProperties();
    dorvex::ui::RelayEvents(control, [](const QJsonObject& message) {
        std::cout << QJsonDocument(message).toJson(QJsonDocument::Compact).toStdString() << "\n" << std::flush;
    });
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string method, argument;
    std::string letters = dorvex::DefaultLettersFolder();
    bool demo = false;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (arg == "--demo") {
                demo = true;
                continue;
            }
            if (arg == "--letters") {
                if (i + 1 >= args.size()) return Usage(arg + " needs a folder");
                letters = args[++i];
                continue;
            }
            if (arg == "--bag" || arg == "--set" || arg == "--add-inno") {
                if (i + 1 >= args.size()) return Usage(arg + " needs a value");
                const std::string& value = args[++i];
                if (arg == "--bag") {
                    QFile file(QString::fromStdString(value));
                    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return Usage("cannot read " + value);
                    dorvex::PropertyBag bag;
                    QTextStream in(&file);
                    while (!in.atEnd()) {
                        QString line = in.readLine().trimmed();
                        int eq = line.indexOf('=');
                        if (line.isEmpty() || line.startsWith('#') || eq <= 0) continue;
                        bag.WriteString(line.left(eq).trimmed().toStdString(), line.mid(eq + 1).trimmed().toStdString());
                    }
                    control.ReadProperties(bag);
                } else if (arg == "--set") {
                    std::size_t eq = value.find('=');
                    if (eq == std::string::npos) return Usage("--set needs NAME=VALUE");
                    control.SetByKey(value.substr(0, eq), value.substr(eq + 1));
                } else {
                    QStringList parts = QString::fromStdString(value).split(',');
                    if (parts.size() != 4) return Usage("--add-inno needs INNO,PAGES,MULTI,BATCH");
                    control.AddInno(parts[0].toStdString(), parts[1].toInt(), parts[2] == "1", parts[3].toStdString());
                }
            } else if (method.empty()) {
                method = arg;
            } else if (argument.empty()) {
                argument = arg;
            } else {
                return Usage("unexpected argument '" + arg + "'");
            }
        }
        if (demo) return Demo(host, letters);
        if (method == "ShowMultiTwain") control.ShowMultiTwain(argument);
        else if (method == "ShowMultiTwainA") control.ShowMultiTwainA();
        else if (method == "ShowMultiEdit") control.ShowMultiEdit(argument);
        else if (method == "ShowSingleTwain") control.ShowSingleTwain();
        else if (method == "ShowSingleTwainA") control.ShowSingleTwainA();
        else if (method == "ShowSingleTwainB") control.ShowSingleTwainB();
        else if (method == "ShowSimpleEdit") control.ShowSimpleEdit();
        else if (method == "UploadDir") control.UploadDir(argument);
        else if (method == "UploadFileWithInno") control.UploadFileWithInno(argument);
        else return Usage(method.empty() ? "no method given" : "unknown method '" + method + "'");
    } catch (const dorvex::DorvexError& e) {
        std::cerr << "dorvex-gui: " << e.what() << " (error " << e.Number() << ")\n";
        return 2;
    }
    if (!control.UploadReport().empty()) std::cout << control.UploadReport();
    if (!control.LastTmpFile().empty()) std::cout << "LastTmpFile=" << control.LastTmpFile() << "\n";
    return 0;
}
