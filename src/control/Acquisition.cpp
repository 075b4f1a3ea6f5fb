#include "control/Acquisition.h"

#include <cstdio>

#include "control/ScanPages.h"
#include "control/ScannerSetup.h"
#include "model/PageEditing.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Prompter.h"
#include "support/Trace.h"
#include "support/WinInfo.h"

namespace dorvex {
namespace {

constexpr const char* kStoreFailed = "本頁無法儲存，掃描已停止。";
constexpr const char* kDuplicateTitle = "文號重複";

std::string SourceOptionsSection(const std::string& device) { return "Source " + device; }

// Marks the scanner in use for as long as it lives.
struct BusyScope {
    bool& busy;
    explicit BusyScope(bool& flag) : busy(flag) { busy = true; }
    ~BusyScope() { busy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

}  // namespace

Acquisition::Acquisition(IPrompter& prompter, ScanProperties& properties, CScanList& scanList, ScanPages& pages)
    : mPrompter(prompter), mProps(properties), mList(scanList), mPages(pages) {}

Acquisition::~Acquisition() = default;

void Acquisition::StartScan(bool append) { ScanEndingInAMessage(Target::Documents, append); }

void Acquisition::StartScanEdit() {
    if (!mPages.CurrentDoc) return;
    ScanEndingInAMessage(Target::Edit, false);
}

void Acquisition::ScanEndingInAMessage(Target target, bool append) {
    // Pages arrive while the window serves its events: a command given then starts nothing.
    if (mBusy) return;
    BusyScope busy(mBusy);
    // A failure outside the device and the page store (the temporary folder) ends the scan
    // with its reason; the pages stored before it are listed already.
    try {
        Scan(target, append);
    } catch (const DorvexError& e) {
        Fail(e.what(), "");
    }
}

std::vector<DeviceInfo> Acquisition::FindDevices() {
    try {
        return ListScanDevices();
    } catch (const DorvexError& e) {
        DebugTrace(std::string("scanner devices: ") + e.what());
        return {};
    }
}

void Acquisition::Fail(const std::string& message, const std::string& why) {
    mOutcome.error = why.empty() ? message : message + " (" + why + ")";
    DebugTrace("scan: " + mOutcome.error);
    mPrompter.MessageBox(message, "", MsgButtons::OK, MsgIcon::Exclamation);
}

const std::string& Acquisition::ChosenDevice() {
    if (DeviceName.empty() && Store) DeviceName = Store->Get("Twain", kSourceKey).value_or("");
    return DeviceName;
}

std::optional<std::vector<std::int32_t>> Acquisition::OfferedPaperSizes() {
    if (mBusy) return std::nullopt;
    std::string name = ChosenDevice();
    if (name.empty()) {
        std::vector<DeviceInfo> devices = FindDevices();
        if (devices.empty()) return std::nullopt;
        name = devices.front().name;
    }
    try {
        return PaperSizesOffered(*OpenScanDevice(name));
    } catch (const DorvexError& e) {
        DebugTrace("paper sizes of " + name + ": " + e.what());
        return std::nullopt;
    }
}

std::unique_ptr<IScanDevice> Acquisition::OpenChosenDevice(Front front) {
    if (ChosenDevice().empty()) {
        std::vector<DeviceInfo> devices = FindDevices();
        if (devices.empty()) {
            Fail(front == Front::Twain ? kNoScanner : kNoIsisDriver, "no scanner device was found");
            return nullptr;
        }
        // The ISIS path asks for a driver first; the TWAIN path takes the default source.
        if (front == Front::Isis && ShowSelectSource) ChooseSource();
        if (DeviceName.empty()) DeviceName = devices.front().name;
    }
    try {
        std::unique_ptr<IScanDevice> device = OpenScanDevice(DeviceName);
        if (Store) {
            for (const auto& option : device->Options()) {
                if (option.name.empty() || option.type == DeviceOption::Type::Button) continue;
                if (auto saved = Store->Get(SourceOptionsSection(DeviceName), option.name)) {
                    device->SetOption(option.name, *saved);
                }
            }
        }
        return device;
    } catch (const DorvexError& e) {
        // A device chosen earlier that is no longer there (unplugged, switched off) is not
        // found; one that is there but cannot be opened (busy, no access) failed.
        const bool gone = !ScanDevicePresent(DeviceName);
        if (front == Front::Twain) Fail(gone ? kNoScanner : kAcquireError, e.what());
        else Fail(gone && FindDevices().empty() ? kNoIsisDriver : kIsisLoadFailed, e.what());
        return nullptr;
    }
}

void Acquisition::ApplySettings(IScanDevice& device, Front front, Target target) {
    const bool edit = target == Target::Edit;
    auto step = [&](const char* text) {
        if (edit) DebugTrace(text);
    };
    const int dpi = mProps.Integer(prop::DPI);
    const int pixelType = mProps.Integer(prop::PixelType);
    const bool feeder = mProps.Number(prop::Feeder) == 1;
    if (front == Front::Isis) {
        IsisDriver driver(device);
        driver.SetTag(1293, 1);
        driver.SetTag(1300, feeder ? 0 : 2);
        driver.SetTag(282, dpi);
        driver.SetTag(283, dpi);
        static constexpr int kTags[3][3] = {{1, 1, 0}, {1, 8, 0}, {3, 8, 2}};
        if (pixelType >= 0 && pixelType <= 2) {
            driver.SetTag(277, kTags[pixelType][0]);
            driver.SetTag(258, kTags[pixelType][1]);
            driver.SetTag(262, kTags[pixelType][2]);
        }
        mOutcome.settingsApplied = driver.Notes();
        return;
    }
    TwainSession session(device);
    step("設定傳輸模式");
    session.SetTransferMode(mProps.Number(prop::TransferMode) <= 0 ? 4 : 2);
    step("設定是否自動進紙");
    session.CapSet(twaincap::FeederEnabled, feeder ? 1 : 0);
    step("設定對比");
    session.SetBrightness(mProps.Integer(prop::Brightness));
    session.SetContrast(mProps.Integer(prop::Contrast));
    step("設定解析度");
    session.SetResolution(dpi);
    step("設定是否雙面掃描(沒有掃描器可測Orz)");
    int duplexCap = session.CapGet(twaincap::Duplex);
    if (duplexCap == 1 || duplexCap == 2) session.CapSet(twaincap::DuplexEnabled, mProps.Get(prop::Duplex) == "1");
    step("設定影像型態(黑白、灰階、彩色)");
    session.SetPixelType(pixelType);
    step("設定掃描紙張");
    if (mProps.Number(prop::EnablePaperSize) == 1) {
        std::int32_t paper = mProps.Integer(prop::PaperSize);
        session.SetPaperSize(paper == 54 ? 1 : paper, paper == 54);
    }
    step("設定掃描紙張End");
    mOutcome.settingsApplied = session.Notes();
}

void Acquisition::Scan(Target target, bool append) {
    const Front front = mProps.Get(prop::TwainOrISIS) == "TWAIN" ? Front::Twain : Front::Isis;
    const char* name = target == Target::Edit ? (front == Front::Twain ? "Private Sub StartScan_RasterTwainEdit()"
                                                                         : "Private Sub StartScan_ISISEdit()")
                                              : (front == Front::Twain ? "Private Sub StartScan_RasterTwain()"
                                                                         : "Private Sub StartScan_ISIS()");
    TraceScope trace(name);
    mOutcome = Outcome{};
    mRecoveryWritten = "\x01";  // not known: the first stored page writes the file
    const std::string mode = mProps.Get(prop::Mode);
    mNamesLastTmpFile = target == Target::Documents && front == Front::Twain && (mode == "2" || mode == "3");

    if (target == Target::Edit) {
        Split.target = mPages.CurrentDoc;
    } else {
        PageCounter = 0;
        Split.currentBatch = BatchBoxText ? BatchBoxText() : std::string();
        Split.splitMethod = static_cast<std::int16_t>(mProps.Integer(prop::SplitPageMethod));
        Split.separatorCode = mProps.Get(prop::BCSeparator);
        if (mode == "2" || mode == "3") {
            Split.currentBatch = mProps.Get(prop::BatchNo);
            const std::string number = mProps.Get(prop::Inno);
            std::shared_ptr<CInno> doc = mList.GetInno2(number);
            // A document scanned before its number was given takes it; a document of another
            // number (one brought back by a restore) never receives this one's pages.
            if (!doc && mList.Length() > 0) {
                std::shared_ptr<CInno> last = mList.LastCInno();
                if (last && last->Inno().empty()) doc = last;
            }
            if (!doc) doc = mList.Add(Split.currentBatch, number, 0);
            if (doc->Inno().empty()) doc->SetInno(number);
            if (doc->ActPage() == 0) {
                ApplyStorage(*doc, ChooseStorage(mProps.Get(prop::ImgFormat), mProps.Get(prop::PixelType),
                                                 mProps.Get(prop::EnableMultiTIFF)));
            }
            // One file for all pages is made now; one file per page comes with each page.
            if (doc->EnableMultiTIFF && doc->FilePath().empty()) {
                doc->SetFilePath(CWinInfo().getTmpFileName());
                if (mNamesLastTmpFile) LastTmpFile = doc->FilePath();
            }
            Split.target = doc;
            mPages.CurrentDoc = doc;
        } else {
            Split.target = append ? mList.LastCInno() : nullptr;
        }
    }
    // New pages follow the last one; a replacing scan keeps the page the person chose.
    if (Split.target && target == Target::Documents) Split.target->LastPage();

    std::unique_ptr<IScanDevice> device = OpenChosenDevice(front);
    if (!device) return;
    ApplySettings(*device, front, target);
    for (const std::string& note : mOutcome.settingsApplied) DebugTrace("scanner: " + note);
    if (mProps.Number(prop::TwainUseGUI) != 0 && ShowSourceSettings) {
        SourceSettingsForm form{device->Name(), device->Options(),
                                [&](const std::string& option, const std::string& value) { return device->SetOption(option, value); },
                                [&] { return device->Options(); }};
        if (!ShowSourceSettings(form)) {
            device->EndRun();
            return;
        }
    }
    if (target == Target::Edit) DebugTrace("開始掃描");

    const bool feeder = mProps.Number(prop::Feeder) == 1;
    int received = 0;
    while (true) {
        Raster page;
        DeviceStatus status = device->ScanPage(page);
        mOutcome.status = status;
        if (status == DeviceStatus::NoDocs && received > 0) break;  // the feeder ran empty
        if (status != DeviceStatus::Good) {
            std::string why = DeviceStatusText(status);
            if (!device->LastError().empty()) why += ": " + device->LastError();
            Fail(kAcquireError, why);
            break;
        }
        ++received;
        mOutcome.pagesReceived = received;
        bool goOn = HandlePage(std::move(page), target);
        if (OnPageHandled) OnPageHandled(*device, PageCounter);
        mPrompter.Yield();
        if (!goOn) break;
        // Without the feeder a scan is one page, as on a flatbed.
        if (!feeder) break;
    }
    // The device's run ends whatever happened, and every stored page is written down.
    device->EndRun();
    FinishScan(target);
}

bool Acquisition::HandlePage(Raster page, Target target) {
    const bool edit = target == Target::Edit;
    TraceScope trace(edit ? "RasterTwainEdit_AcquirePageEvent" : "RasterTwain_AcquirePageEvent");
    if (!edit && mProps.Number(prop::PixelType) <= 0 && mProps.Number(prop::TwainUseGUI) == 0 && page.BitsPerPixel() >= 2) {
        page.ReduceTo1Bit();
    }
    mPages.OneViewer.SetImage(std::move(page));
    Raster& image = mPages.OneViewer.Image();
    ++PageCounter;
    mPages.PageCounter = PageCounter;

    try {
        if (mProps.Get(prop::EnableScanFix) == "1") {
            RunCleanUpChain(image, mProps, PageCounter, mProps.ComputeRestrictSize());
            if (!edit && mProps.Number(prop::WPageRemove) == 1 && IsBlankPage(image, mProps)) {
                mPages.OneViewer.Clear();
                return true;
            }
        }
    } catch (const DorvexError& e) {
        // A page that cannot be cleaned is stored as it came rather than lost.
        DebugTrace(std::string("clean-up: ") + e.what());
    }

    const std::string mode = mProps.Get(prop::Mode);
    if (!edit && (mode == "0" || mode == "1")) {
        DebugTrace("開始條碼識別");
        std::string barcode;
        if (mProps.Get(prop::UseBarcode) == "1") {
            const BarcodeRegion region = BarcodeRegion::FromSettings(mProps);
            barcode = GetFirstBarcode(image, region);
            mPages.OneViewer.BarcodeArea = BarcodeSearchRect(image, region);  // shown on the page
        }
        PageSplitter splitter(mList, mProps, Split);
        SplitDecision decision = splitter.Split(barcode, image.BitsPerPixel());
        DebugTrace("條碼識別結束");
        if (decision == SplitDecision::Drop) return true;
        if (decision == SplitDecision::StopDuplicate) {
            mOutcome.stopped = true;
            mOutcome.error = splitter.DuplicateMessage();
            mPrompter.MessageBox(splitter.DuplicateMessage(), kDuplicateTitle, MsgButtons::OK, MsgIcon::Exclamation);
            return false;
        }
    }

    const std::shared_ptr<CInno> doc = Split.target;
    const bool replace = edit && ReplacePage;
    ReplacePage = false;
    if (doc) {
        DebugTrace("開始紀錄CInno");
        if (!edit) {
            std::shared_ptr<CInno> entry = ServerList ? ServerList->GetInno2(doc->Inno()) : nullptr;
            if (entry) entry->SetState(state::Scanned);
            doc->SetIsMine(entry != nullptr);
        }
        DebugTrace("開始儲存");
        try {
            StorePage(doc, image, replace);
        } catch (const DorvexError& e) {
            Fail(kStoreFailed, e.what());
            return false;
        }
        if (!edit) NoteLastTmpFile(doc);
        DebugTrace("儲存結束");
        DebugTrace("開始更新TreeView");
        mPages.CurrentDoc = doc;
        if (OnPageStored) OnPageStored();
        DebugTrace("更新TreeView結束");
    }
    if (replace) return false;  // a replacing scan takes one page
    if (mProps.Get(prop::ScanMode) == "1" &&
        mPrompter.MessageBox(kContinueQuestion, "", MsgButtons::YesNo, MsgIcon::Question) == MsgResult::No) {
        mOutcome.stopped = true;
        return false;
    }
    return true;
}

void Acquisition::StorePage(const std::shared_ptr<CInno>& doc, const Raster& page, bool replace) {
    if (replace) {
        SaveThisPage(*doc, page);
    } else {
        // The document names the page's file in the recovery file before the page is written
        // there, and the file's own page count is trusted on restore: a crash at any moment
        // leaves no stored page unlisted.
        AppendPage(*doc, page, [&] { WriteRecoveryIfChanged(); });
    }
    ++mOutcome.pagesStored;
    WriteRecoveryIfChanged();
}

void Acquisition::NoteLastTmpFile(const std::shared_ptr<CInno>& doc) {
    // One file per page: the host keeps the file of the last page stored (none when the
    // trailing blank page was the only one and took the document with it).
    if (!mNamesLastTmpFile || doc->EnableMultiTIFF) return;
    const bool kept = mList.GetInno2(doc->Inno()) == doc && doc->ActPage() > 0;
    LastTmpFile = kept ? doc->FilePaths(doc->ActPage()) : std::string();
}

void Acquisition::WriteRecoveryIfChanged() {
    std::string text = RecoveryText(mList);
    if (text == mRecoveryWritten) return;
    if (text.empty()) {
        std::remove(RecoveryFilePath().c_str());
    } else {
        WriteFileAtomic(RecoveryFilePath(), text);
    }
    mRecoveryWritten = std::move(text);
}

void Acquisition::FinishScan(Target target) {
    mPages.OneViewer.Clear();
    std::shared_ptr<CInno> doc = Split.target;
    if (target == Target::Documents && doc && doc->ActPage() >= 1 && doc->FilesExists() && mList.GetInno2(doc->Inno()) == doc) {
        // A trailing blank sheet (the back of the last page, an empty feeder sheet) is dropped.
        doc->SelectedIndex = doc->ActPage();
        mPages.CurrentDoc = doc;
        try {
            mPages.LoadImageByCInno(doc);
            if (mPages.OneViewer.HasImage() && IsBlankPage(mPages.OneViewer.Image(), mProps)) mPages.ImgDelete();
        } catch (const DorvexError& e) {
            DebugTrace(std::string("last page: ") + e.what());
        }
        NoteLastTmpFile(doc);
    }
    CompareScanList(mList, ServerList);
    if (OnScanEnded) OnScanEnded();
    try {
        WriteRecoveryFile(mList);
    } catch (const DorvexError& e) {
        Fail(e.what(), "");
    }
}

bool SourceSettingsForm::Change(const std::string& name, const std::string& value) {
    bool taken = Set && Set(name, value);
    if (Read) options = Read();
    return taken;
}

void Acquisition::SelectSource() {
    if (mBusy) return;
    BusyScope busy(mBusy);
    ChooseSource();
}

void Acquisition::ChooseSource() {
    TraceScope trace("Private Sub TwainSelectSource()");
    const bool twain = mProps.Get(prop::TwainOrISIS) == "TWAIN";
    SourceSelection selection{FindDevices(), -1};
    if (selection.devices.empty()) {
        mPrompter.MessageBox(twain ? kNoScanner : kNoIsisDriverSettings, "", MsgButtons::OK, MsgIcon::Exclamation);
        return;
    }
    for (std::size_t i = 0; i < selection.devices.size(); ++i) {
        if (selection.devices[i].name == DeviceName) selection.selected = static_cast<int>(i);
    }
    if (!ShowSelectSource || !ShowSelectSource(selection)) return;
    if (selection.selected < 0 || selection.selected >= static_cast<int>(selection.devices.size())) return;
    DeviceName = selection.devices[static_cast<std::size_t>(selection.selected)].name;
    if (!Store) return;
    try {
        Store->Set("Twain", kSourceKey, DeviceName);
        Store->Save();
    } catch (const DorvexError& e) {
        mPrompter.MessageBox(e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
    }
}

void Acquisition::ConfigScanner() {
    if (mBusy) return;
    BusyScope busy(mBusy);
    TraceScope trace("Private Sub TwainConfigScanner()");
    const Front front = mProps.Get(prop::TwainOrISIS) == "TWAIN" ? Front::Twain : Front::Isis;
    if (!ShowSourceSettings) return;
    if (DeviceName.empty() && FindDevices().empty()) {
        mPrompter.MessageBox(front == Front::Twain ? kNoScanner : kNoIsisDriverSettings, "", MsgButtons::OK,
                             MsgIcon::Exclamation);
        return;
    }
    std::unique_ptr<IScanDevice> device = OpenChosenDevice(front);
    if (!device) return;
    std::vector<std::pair<std::string, std::string>> changed;
    SourceSettingsForm form{device->Name(), device->Options(),
                            [&](const std::string& name, const std::string& value) {
                                if (!device->SetOption(name, value)) return false;
                                changed.emplace_back(name, device->Option(name)->value);
                                return true;
                            },
                            [&] { return device->Options(); }};
    if (!ShowSourceSettings(form) || !Store) return;
    // The device's own choices are kept and given back to it before every scan.
    try {
        for (const auto& [name, value] : changed) Store->Set(SourceOptionsSection(DeviceName), name, value);
        Store->Save();
    } catch (const DorvexError& e) {
        mPrompter.MessageBox(e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
    }
}

}  // namespace dorvex
