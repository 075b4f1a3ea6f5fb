#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "Commands.h"
#include "control/FrmScan.h"
#include "control/OrbScan.h"
#include "model/SettingsStore.h"
#include "platform/Raster.h"
#include "refserver/RefServer.h"
#include "refserver/Storage.h"
#include "server/Cipher.h"
#include "server/Upload.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Prompter.h"

#ifndef DORVEX_LETTERS_DIR
#define DORVEX_LETTERS_DIR ""
#endif

namespace dorvex::cli {
namespace {

constexpr const char* kOperator = "王小明";
constexpr const char* kBatch = "1150301";

// The server's answers for the demonstration: the two letters on the operator's scan list,
// barcodes on, separator sheets between documents, the whole clean-up chain.
std::string DemoSeed() {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<Seed>
  <Operator name="*">
    <ScanList>
      <Item batchno=")") + kBatch + R"(" inno="1150000101" pages="2"/>
      <Item batchno=")" + kBatch + R"(" inno="1150000102" pages="2"/>
    </ScanList>
    <ScanCaps>
      <DPI>200</DPI><Feeder>1</Feeder><Duplex>0</Duplex><ScanMode>0</ScanMode>
      <UseBarcode>1</UseBarcode><SplitPageMethod>1</SplitPageMethod><BCSeparator>DORVEX-SEP</BCSeparator>
      <EnableScanFix>1</EnableScanFix><Deskew>1</Deskew><DotRemove>1</DotRemove><WPageRemove>1</WPageRemove>
      <EnableMultiTIFF>1</EnableMultiTIFF><ImgFormat>G4</ImgFormat>
    </ScanCaps>
  </Operator>
  <Messages><Message key="tdesc" value="文件概要"/></Messages>
</Seed>
)";
}

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
    std::string letters = DORVEX_LETTERS_DIR;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--letters" && i + 1 < args.size()) {
            letters = args[++i];
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::cout << "usage: dorvex demo [--letters DIR]\n"
                         "Starts the reference server on a free loopback port with a fresh data folder, opens a\n"
                         "scan window through the control (ShowMultiTwain with enciphered parameters) on the file\n"
                         "feeder loaded with the sample letters, scans, uploads and closes, and shows what the\n"
                         "server holds. Exit status 1 when the server does not hold both letters then.\n";
            return 0;
        } else {
            return UsageError("unknown argument '" + args[i] + "'");
        }
    }
    if (letters.empty() || !FolderExists(letters)) {
        std::cerr << "dorvex demo: the sample letters are not there (" << letters << "); give --letters DIR\n";
        return 1;
    }
    char pattern[] = "/tmp/dorvex-demo.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::cerr << "dorvex demo: cannot make a work folder in /tmp\n";
        return 1;
    }
    const std::string work = pattern;
    bool held = true;  // the server holds both letters at the end
    // A private settings file and temporary folder: the clerk's own are left alone.
    ::setenv("XDG_CONFIG_HOME", (work + "/config").c_str(), 1);
    ::setenv("DORVEX_TMPDIR", (work + "/tmp").c_str(), 1);
    try {
        WriteFileAtomic(work + "/seed.xml", DemoSeed());
        SettingsStore settings;
        settings.Set("Twain", Acquisition::kSourceKey, "file:" + letters);
        settings.Save();

        refserver::RefServerOptions options;
        options.dataDir = work + "/data";
        options.seedFile = work + "/seed.xml";
        refserver::RefServer server(options);
        server.Start();
        const std::string url = server.BaseUrl() + "upload.php";
        std::cout << "reference server: " << url << "\n"
                  << "scanner: file:" << letters << " (" << ListFiles(letters, "*.tif", false).size() << " sheets)\n";

        DemoPerson person;
        InProcessHost host(person);
        OrbScan control(host);
        control.SetEncServerURL(EncryptText(url));
        control.SetEncOperator(EncryptText(kOperator));
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

        std::cout << "the server holds (" << options.dataDir << "):\n";
        refserver::Storage storage(options.dataDir);
        for (const char* inno : {"1150000101", "1150000102"}) {
            std::optional<refserver::StoredDocument> doc = storage.Find(inno);
            if (!doc) {
                std::cout << "  " << inno << ": nothing\n";
                held = false;
                continue;
            }
            for (const auto& file : doc->files) {
                std::optional<ImageInfo> info = ProbeImage(file.path);
                std::cout << "  " << inno << ": " << file.path << " (" << file.size << " bytes, "
                          << (info ? info->pages : 0) << " page(s))\n";
            }
        }
        server.Stop();
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
