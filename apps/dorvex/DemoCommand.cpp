#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <unistd.h>

#include "Commands.h"
#include "demo/DemoSession.h"
#include "control/FrmScan.h"
#include "control/OrbScan.h"
#include "server/Upload.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Prompter.h"

namespace dorvex::cli {
namespace {

// The scripted person: every box is shown on standard output with the answer given.
class DemoPerson : public IPrompter {
public:
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon) override {
        MsgResult answer = buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes : MsgResult::OK;
        std::cout << "  [message] " << (title.empty() ? "" : title + ": ") << text << " -> "
                  << (answer == MsgResult::Yes ? "Yes" : "OK") << "\n";
        return answer;
    }
    std::optional<std::string> InputBox(const std::string& prompt, const std::string&, const std::string&) override {
        std::cout << "  [input] " << prompt << " -> (cancelled)\n";
        return std::nullopt;
    }
    std::string BrowseForFolder() override { return {}; }
    std::string SaveFileName(const std::string&, const std::string&) override { return {}; }
    void Yield() override {}
    bool Interactive() const override { return false; }
};

void PrintDocuments(const CScanList& list) {
    for (const auto& doc : list.AllInnos()) {
        std::cout << "  " << (doc->BatchNo() ? doc->BatchNo()->BatchNo : "") << " / " << doc->Inno() << ": "
                  << doc->ActPage() << " page(s), state " << doc->state()
                  << (doc->ErrorMsg.empty() ? "" : ", " + doc->ErrorMsg) << "\n";
    }
}

}  // namespace

int Demo(const Args& args) {
    std::string letters = DefaultLettersFolder();
    bool headless = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--headless") {
            headless = true;
        } else if (args[i] == "--letters" && i + 1 < args.size()) {
            letters = args[++i];
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::cout << "usage: dorvex demo [--letters DIR] [--headless]\n"
                         "Starts the reference server on a free loopback port with a fresh data folder, opens a\n"
                         "scan window through the control (ShowMultiTwain with enciphered parameters) on the file\n"
                         "feeder loaded with the sample letters, scans, uploads and closes, and shows what the\n"
                         "server holds. Exit status 1 when the server does not hold both letters then.\n"
                         "With a display and dorvex-gui beside this program the real window opens instead, and\n"
                         "you are the clerk; --headless keeps the scripted clerk.\n";
            return 0;
        } else {
            return UsageError("unknown argument '" + args[i] + "'");
        }
    }
    // With a display and the desktop program beside this one, the real window opens.
    if ((std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")) && !headless) {
        std::string gui = BesideThisProgram("dorvex-gui");
        if (FileExists(gui)) ExecProgram({gui, "--demo", "--letters", letters});
    }
    bool held = true;  // the server holds both letters at the end
    std::string work;
    try {
        DemoSession session(letters);
        work = session.Work();
        const std::string url = session.Url();
        std::cout << "reference server: " << url << "\n"
                  << "scanner: file:" << letters << " (" << ListFiles(letters, "*.tif", false).size() << " sheets)\n";

        DemoPerson person;
        InProcessHost host(person);
        OrbScan control(host);
        session.Configure(control);
        std::cout << "the page sets EncServerURL=" << control.EncServerURL() << "\n"
                  << "             EncOperator=" << control.EncOperator() << "\n"
                  << "and calls ShowMultiTwain; the scan window opens in mode 0.\n";
        host.BeforeLoad = [](FrmScan& window) {
            window.ShowUploadWindow = [](FrmUpload& upload) {
                upload.Form_Activate();
                std::cout << "upload report (document,code,message,path):\n" << upload.Report();
            };
            window.DebugMessage.Connect([](const std::string& text) {
                std::string shown = text;
                for (std::size_t at = shown.find("\r\n"); at != std::string::npos; at = shown.find("\r\n", at)) {
                    shown.replace(at, 2, " | ");
                }
                std::cout << "  [DebugMessage] " << shown << "\n";
            });
        };
        host.Person = [](FrmScan& window) {
            std::cout << "the person presses Scan (batch " << window.CmbBatchNoText << "):\n";
            window.StartScan(true);
            const Acquisition::Outcome& outcome = window.Scanner().LastOutcome();
            std::cout << "  " << outcome.pagesReceived << " sheets fed, " << outcome.pagesStored
                      << " pages stored (blank and separator sheets are left out; barcodes start documents)\n";
            if (!outcome.error.empty()) std::cout << "  the scan ended on: " << outcome.error << "\n";
            PrintDocuments(*window.ScanCompleteList());
            std::cout << "the person presses Upload:\n";
            window.ImgUpload();
            PrintDocuments(*window.ScanCompleteList());
            std::cout << "the person closes the window:\n";
        };
        control.ShowMultiTwain("");

        std::cout << "the server holds (" << session.DataDir() << "):\n";
        std::string holdings;
        held = session.Holdings(holdings);
        std::cout << holdings;
    } catch (const std::exception& e) {
        std::cerr << "dorvex demo: " << e.what() << "\n";
        return 1;
    }
    std::cout << "work folder: " << work << "\n";
    if (!held) {
        std::cerr << "dorvex demo: the server does not hold both letters\n";
        return 1;
    }
    return 0;
}

}  // namespace dorvex::cli
