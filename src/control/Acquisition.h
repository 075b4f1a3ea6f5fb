#pragma once
// Scanning pages into the scan window: the device is set up from the session settings (through
// the TWAIN-style or the ISIS-style front end, setting TwainOrISIS), pages arrive one at a time
// and each is cleaned, assigned to a document by barcode or separator sheet, stored and shown.
// The recovery file is kept true after every stored page. A device fault or a page that cannot
// be stored ends the scan with a message; every page stored before it stays.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/PageProcessing.h"
#include "platform/ScanDevice.h"

namespace dorvex {

class IPrompter;
class ScanPages;
class SettingsStore;

// The source-selection dialog's state: the devices found and the one chosen.
struct SourceSelection {
    std::vector<DeviceInfo> devices;
    int selected = -1;  // index into devices; -1 for none
};

// The device's own settings as a form: every option with the value the person gives it.
struct SourceSettingsForm {
    std::string deviceName;
    std::vector<DeviceOption> options;
    // Gives the device one option's new value; false when the device refused it.
    std::function<bool(const std::string& name, const std::string& value)> Set;
    // The device's options as they are now.
    std::function<std::vector<DeviceOption>()> Read;

    // The person changed one option: Set, then every option read again, since one change may
    // switch others on or off and the device may round or clamp the value. False when refused.
    bool Change(const std::string& name, const std::string& value);
};

class Acquisition {
public:
    Acquisition(IPrompter& prompter, ScanProperties& properties, CScanList& scanList, ScanPages& pages);
    ~Acquisition();

    static constexpr const char* kNoScanner = "找不到掃描器";
    static constexpr const char* kAcquireError = "Error Acquiring From Source";
    static constexpr const char* kNoIsisDriver = "尚未安裝ISIS的驅動程式!";
    static constexpr const char* kIsisLoadFailed = "ISIS載入驅動程式失敗!";
    static constexpr const char* kNoIsisDriverSettings = "尚未安裝ISIS驅動程式!";
    static constexpr const char* kContinueQuestion = "是否繼續掃描?";
    static constexpr const char* kSourceKey = "Source";  // the chosen device, in the settings file

    CScanList* ServerList = nullptr;
    SettingsStore* Store = nullptr;  // remembers the chosen device
    // The device the scans use ("" until chosen: the first device found then).
    std::string DeviceName;
    // The batch box's text when a scan starts (modes "0" and "1").
    std::function<std::string()> BatchBoxText;
    // Refreshes the tree after a stored page, and lays the window out when a scan ends.
    std::function<void()> OnPageStored;
    std::function<void()> OnScanEnded;
    // Modal dialogs, shown by the views: false when cancelled.
    std::function<bool(SourceSelection&)> ShowSelectSource;
    std::function<bool(SourceSettingsForm&)> ShowSourceSettings;
    // Called with the open device after every page handled (for progress in the views, and so
    // that a host can change the device's options during a run).
    std::function<void(IScanDevice&, std::int32_t pageCounter)> OnPageHandled;

    // ---- Commands ----
    void StartScan(bool append);  // into documents, with the splitting rules
    void StartScanEdit();         // into the current document
    void SelectSource();
    void ConfigScanner();
    bool ReplacePage = false;  // the next edit scan replaces the current page, one page only
    // The paper codes the device the scans would use offers (PaperSizesOffered), asked of it
    // without a word to the person; nullopt when it cannot say (none found, not there, busy,
    // or it takes no scan area).
    std::optional<std::vector<std::int32_t>> OfferedPaperSizes();
    // A scan or a device dialog is running (a scan command given now starts nothing).
    bool Busy() const { return mBusy; }

    // ---- State ----
    SplitState Split;
    std::int32_t PageCounter = 0;
    // The file a scan in the single-document modes gives the document: its one file, or with
    // one file per page the last page's.
    std::string LastTmpFile;
    // How the last scan ended: the device's last status, the pages stored, whether the person or
    // a duplicate stopped it, and the failure text ("" when it ended normally).
    struct Outcome {
        DeviceStatus status = DeviceStatus::Good;
        int pagesReceived = 0;
        int pagesStored = 0;
        bool stopped = false;
        std::string error;
        std::vector<std::string> settingsApplied;
    };
    const Outcome& LastOutcome() const { return mOutcome; }

private:
    enum class Front { Twain, Isis };
    enum class Target { Documents, Edit };
    void ScanEndingInAMessage(Target target, bool append);
    void Scan(Target target, bool append);
    const std::string& ChosenDevice();  // DeviceName, else the one kept in the settings file
    std::unique_ptr<IScanDevice> OpenChosenDevice(Front front);
    void ApplySettings(IScanDevice& device, Front front, Target target);
    // Handles one page; false stops the run.
    bool HandlePage(Raster page, Target target);
    void StorePage(const std::shared_ptr<CInno>& doc, const Raster& page, bool replace);
    void WriteRecoveryIfChanged();
    void NoteLastTmpFile(const std::shared_ptr<CInno>& doc);
    void FinishScan(Target target);
    void Fail(const std::string& message, const std::string& why);
    std::vector<DeviceInfo> FindDevices();
    void ChooseSource();

    IPrompter& mPrompter;
    ScanProperties& mProps;
    CScanList& mList;
    ScanPages& mPages;
    Outcome mOutcome;
    std::string mRecoveryWritten;  // the recovery text last written
    bool mBusy = false;            // a scan or a device dialog is running
    bool mNamesLastTmpFile = false;  // the scan names the kept file (single-document modes)
};

}  // namespace dorvex
