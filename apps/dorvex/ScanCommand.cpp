#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "Commands.h"
#include "control/FrmScan.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "ocr/FrmOCR.h"
#include "ocr/RecognitionQueue.h"
#include "platform/ScanDevice.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModGlobal.h"
#include "support/Prompter.h"

namespace dorvex::cli {
namespace {

constexpr const char* kScanUsage = R"(usage: dorvex scan --device DEVICE [--server URL --operator NAME] [--batch B]
                   [--set NAME=VALUE]... [--no-upload] [--resume] [--json]
                   [--ocr [--ocr-workers N]] [--timing]

Scans unattended into documents, as the scan window does with several documents: every page
is cleaned, split into documents by barcode or separator sheet (as the settings say), stored
in the temporary folder and listed in the recovery file after each page; then every document
is uploaded to the server (unless --no-upload), and the page files of a fully accepted scan
are deleted.

  --device DEVICE   a SANE device (see `dorvex devices`), or file:PATH to feed the image
                    files of a folder (in name order) or the pages of one file
  --server URL      the server; its capabilities and scan list are read first
  --operator NAME   the operator sent with every request
  --proxy HOST:PORT send requests through this proxy
  --batch B         the batch number of the new documents
  --set NAME=VALUE  a setting over the saved and the server's (Feeder=1 and ScanMode=0 unless
                    given); see `dorvex clean --help` for the names
  --no-upload       keep the documents in the temporary folder (continue with --resume)
  --resume          first bring back the documents of the recovery file
  --json            one JSON object per document: batch, inno, pages, state, uploaded, error
                    (with --ocr also words: [{key, value}], the letter fields read)
  --ocr             recognition on, as the control's EnableOCR: the first page of every
                    document is read into its letter fields, by background workers while the
                    feeder runs, and the run after the scan waits for the last of them
  --ocr-workers N   that many workers (default: the cores but one, at least one); 0 reads the
                    pages after the scan, one after the other, on the window's own thread
  --timing          one JSON line on standard error: how long the scan and the wait for the
                    readings after it took, and the longest stretches the window's thread went
                    without serving its events (the scan's pages, and after the scan)

Exit status 0 when the feeder ran empty, every page was stored and (unless --no-upload) every
document accepted; 1 otherwise (a run that ScanMode=1's question stops, answered No when
unattended, included); 64 for a usage error.
)";

// Answers the restore question by --resume; everything else as an unattended run does.
class ScanPrompter : public StderrPrompter {
public:
    explicit ScanPrompter(bool resume) : mResume(resume) {}
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override {
        if (text == ScanPages::kRestoreQuestion) return mResume ? MsgResult::OK : MsgResult::Cancel;
        return StderrPrompter::MessageBox(text, title, buttons, icon);
    }

    // Every stretch of the window's thread between two servings of its events ends here.
    void Yield() override { Steps.Served(); }

    // How long the window's thread went without serving its events: during the scan (page by
    // page) and during the run after it, while the background readings were finished.
    struct StepClock {
        using Clock = std::chrono::steady_clock;
        bool afterScan = false;
        std::optional<Clock::time_point> last;
        Clock::time_point phaseStart = Clock::now();
        double longestScanMs = 0, longestAfterMs = 0, scanSeconds = 0, afterSeconds = 0;

        void Served() {
            const Clock::time_point now = Clock::now();
            if (last) {
                double& longest = afterScan ? longestAfterMs : longestScanMs;
                longest = std::max(longest, std::chrono::duration<double, std::milli>(now - *last).count());
            }
            last = now;
        }
        // The scan ended: the stretch up to here was the scan's; the run after it starts now.
        void ScanEnded() {
            Served();
            const Clock::time_point now = Clock::now();
            scanSeconds = std::chrono::duration<double>(now - phaseStart).count();
            phaseStart = now;
            afterScan = true;
        }
        void RunEnded() {
            Served();
            afterSeconds = std::chrono::duration<double>(Clock::now() - phaseStart).count();
        }
    } Steps;

private:
    bool mResume;
};

}  // namespace

int Scan(const Args& args) {
    std::string device, server, operatorName, proxy, batch;
    std::vector<std::string> settings;
    bool upload = true, resume = false, json = false, ocr = false, timing = false;
    long workers = RecognitionQueue::DefaultWorkers();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kScanUsage;
            return 0;
        }
        if (arg == "--no-upload") {
            upload = false;
        } else if (arg == "--resume") {
            resume = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--ocr") {
            ocr = true;
        } else if (arg == "--timing") {
            timing = true;
        } else if (arg == "--ocr-workers") {
            const std::string value = i + 1 < args.size() ? args[++i] : std::string();
            const bool digits = !value.empty() && value.size() <= 2 &&
                                std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digits || std::stol(value) > 64) return UsageError("--ocr-workers needs a number of workers from 0 to 64");
            workers = std::stol(value);
        } else if (arg == "--device" || arg == "--server" || arg == "--operator" || arg == "--proxy" || arg == "--batch" ||
                   arg == "--set") {
            if (i + 1 >= args.size()) return UsageError(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--device") device = value;
            else if (arg == "--server") server = value;
            else if (arg == "--operator") operatorName = value;
            else if (arg == "--proxy") proxy = value;
            else if (arg == "--batch") batch = value;
            else settings.push_back(value);
        } else {
            return UsageError("unknown argument '" + arg + "'");
        }
    }
    if (device.empty()) return UsageError("scan needs --device (see dorvex devices)");
    if (upload && server.empty()) return UsageError("scan needs --server to upload (or --no-upload)");
    // Anything that fails on the way (the temporary folder, the recovery file) ends the run
    // with its reason; nothing is deleted then.
    try {
        if (!resume && FileExists(RecoveryFilePath())) {
            // Scanning now would rewrite the recovery file without the earlier documents.
            std::cerr << "dorvex scan: documents of an earlier scan wait in " << RecoveryFilePath()
                      << ": continue them with --resume (dorvex recover lists them)\n";
            return 1;
        }

        ScanPrompter person(resume);
        SettingsStore store;
        FrmScan window(person, &store);
        window.SetProperties(prop::Mode, "0");
        window.SetProperties(prop::ServerUrl, server);
        window.SetProperties(prop::Operator, operatorName);
        window.SetProperties(prop::Proxy, proxy);
        if (ocr) {
            SetOcrEnabled(true);
            window.SetEnableOCR(true);
            window.RecognitionWorkers = static_cast<unsigned>(workers);
        }
        window.Form_Load();
        window.Props.Set(prop::Feeder, "1");
        window.Props.Set(prop::ScanMode, "0");
        for (const std::string& setting : settings) {
            if (!ApplySetting(setting, window.Props)) return UsageError("unknown setting '" + setting + "'");
        }
        window.Scanner().DeviceName = device;
        if (!batch.empty()) window.CmbBatchNoText = batch;
        window.ShowOcrWindow = [&person](FrmOCR& run) {
            person.Steps.ScanEnded();
            run.Form_Activate();
            person.Steps.RunEnded();
        };
        person.Steps = {};  // from the scan command on
        window.StartScan(true);
        if (!ocr) person.Steps.ScanEnded();
        if (timing) {
            const ScanPrompter::StepClock& steps = person.Steps;
            std::fprintf(stderr,
                         "{\"timing\":{\"scanSeconds\":%.3f,\"afterScanSeconds\":%.3f,\"longestScanStepMs\":%.1f,"
                         "\"longestAfterScanStepMs\":%.1f,\"workers\":%u}}\n",
                         steps.scanSeconds, steps.afterSeconds, steps.longestScanMs, steps.longestAfterMs,
                         ocr ? window.RecognitionWorkers : 0u);
        }
        if (ocr && !window.StatusText.empty()) std::cerr << "dorvex scan: recognition: " << window.StatusText << "\n";
        const Acquisition::Outcome& outcome = window.Scanner().LastOutcome();
        bool ok = outcome.error.empty() && !outcome.stopped;
        if (!outcome.error.empty()) {
            std::cerr << "dorvex scan: " << outcome.error << "\n";
        } else if (outcome.stopped) {
            // Only the continue question stops a run without an error: unattended, it is
            // answered No, and the pages left in the feeder were never scanned.
            std::cerr << "dorvex scan: the scan was stopped after " << outcome.pagesReceived
                      << " page(s) by the question asked after every page (ScanMode=1)\n";
        }

        CScanList& list = *window.ScanCompleteList();
        if (upload && list.Length() > 0) window.ImgUpload();
        bool allUploaded = true;
        for (const auto& doc : list.AllInnos()) {
            bool uploaded = doc->state() == state::Saved || doc->state() == state::SavedOther;
            allUploaded = allUploaded && uploaded;
            if (json) {
                std::cout << "{\"batch\":" << JsonString(doc->BatchNo() ? doc->BatchNo()->BatchNo : "")
                          << ",\"inno\":" << JsonString(doc->Inno()) << ",\"pages\":" << doc->ActPage()
                          << ",\"state\":" << doc->state() << ",\"uploaded\":" << (uploaded ? "true" : "false")
                          << ",\"error\":" << JsonString(doc->ErrorMsg);
                if (ocr) {
                    std::cout << ",\"words\":[";
                    for (std::size_t w = 0; w < doc->Words().size(); ++w) {
                        const CPhase& phase = doc->Words()[w];
                        std::cout << (w ? "," : "") << "{\"key\":" << JsonString(phase.Key) << ",\"value\":" << JsonString(phase.Value) << "}";
                    }
                    std::cout << "]";
                }
                std::cout << "}\n";
            } else {
                std::cout << (doc->BatchNo() ? doc->BatchNo()->BatchNo : "") << "\t" << doc->Inno() << "\t" << doc->ActPage()
                          << " pages\t" << (uploaded ? "uploaded" : "kept") << (doc->ErrorMsg.empty() ? "" : "\t" + doc->ErrorMsg)
                          << "\n";
            }
        }
        if (upload) {
            ok = ok && allUploaded;
            // What the server holds whole is no longer needed here; anything else stays listed.
            if (allUploaded) {
                KillTmpFiles(list, true, false);
            } else {
                WriteRecoveryFile(list);
            }
        }
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "dorvex scan: " << e.what() << "\n";
        return 1;
    }
}

int Recover(const Args& args) {
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << "usage: dorvex recover [--json]\n"
                         "Lists what a restore would bring back from the recovery file of the temporary folder\n"
                         "(" << RecoveryFilePath() << "): each document with its pages, files and problems\n"
                         "(a missing or damaged file, pages a file holds beyond what the list says).\n";
            return 0;
        } else {
            return UsageError("unknown argument '" + arg + "'");
        }
    }
    int malformed = 0;
    std::vector<RecoveryEntry> entries;
    try {
        entries = InspectRecoveryFile(RecoveryFilePath(), &malformed);
    } catch (const DorvexError& e) {
        std::cerr << "dorvex recover: " << e.what() << "\n";
        return 1;
    }
    for (const RecoveryEntry& entry : entries) {
        if (json) {
            std::string files, problems;
            for (const auto& f : entry.files) files += (files.empty() ? "" : ",") + JsonString(f);
            for (const auto& p : entry.problems) problems += (problems.empty() ? "" : ",") + JsonString(p);
            std::cout << "{\"batch\":" << JsonString(entry.batch) << ",\"inno\":" << JsonString(entry.inno)
                      << ",\"pages\":" << entry.pages << ",\"files\":[" << files << "],\"problems\":[" << problems << "]}\n";
        } else {
            std::cout << entry.batch << "\t" << entry.inno << "\t" << entry.pages << " pages\n";
            for (const auto& p : entry.problems) std::cout << "\tproblem: " << p << "\n";
        }
    }
    if (malformed > 0) std::cerr << "dorvex recover: " << malformed << " damaged line(s) skipped\n";
    return 0;
}

int Devices(const Args& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << "usage: dorvex devices\nLists the scanner devices (SANE) that `dorvex scan --device` takes.\n";
        return 0;
    }
    if (!args.empty()) return UsageError("devices takes no arguments");
    std::vector<DeviceInfo> devices;
    try {
        devices = ListScanDevices();
    } catch (const DorvexError& e) {
        std::cerr << "dorvex devices: " << e.what() << "\n";
        return 1;
    }
    for (const DeviceInfo& d : devices) std::cout << d.name << "\t" << d.vendor << " " << d.model << " (" << d.type << ")\n";
    if (devices.empty()) std::cout << "no scanner found\n";
    std::cout << "file:PATH\tthe file feeder: the image files of folder PATH in name order, or the pages of one file\n";
    return 0;
}

}  // namespace dorvex::cli
