// Scanning into documents from SANE's test backend: the settings become device options, feeder
// runs end when the feeder is empty, a device fault in the middle of a run ends the scan with a
// message and keeps every page stored before it, with the recovery file true. The process gets
// a private SANE configuration before its first SANE call; ctest runs this file as one entry.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>

#include "ScriptedPrompter.h"
#include "SmallDisk.h"
#include "TestUtil.h"
#include "control/Acquisition.h"
#include "control/FrmScan.h"
#include "control/ScanPages.h"
#include "model/FrmConf.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "platform/Raster.h"
#include "support/ModFS.h"

namespace dorvex {
namespace {

using test::ScriptedPrompter;

// The test backend alone, two devices; set once for the whole process.
struct SaneSetup {
    std::string path = (std::filesystem::temp_directory_path() / "dorvex-acq-sane-XXXXXX").string();
    SaneSetup() {
        ::mkdtemp(path.data());
        WriteBytesToFile("test\n", path + "/dll.conf");
        WriteBytesToFile("number_of_devices 2\n", path + "/test.conf");
        ::setenv("SANE_CONFIG_DIR", path.c_str(), 1);
    }
    ~SaneSetup() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};
const SaneSetup& Sane() {
    static SaneSetup setup;
    return setup;
}

// The backend keeps an option from one opening to the next: every test starts from these.
void ResetDevice(const std::string& name = "test:0") {
    auto device = OpenScanDevice(name);
    device->SetOption("read-return-value", "Default");
    device->SetOption("test-picture", "Solid black");
    device->SetOption("read-delay", "0");
}

class Scanning : public ::testing::Test {
protected:
    void SetUp() override {
        Sane();
        ResetDevice();
        store = std::make_unique<SettingsStore>(tmp.File("settings.ini"));
        props.Set(prop::Mode, "0");
        props.Set(prop::Feeder, "1");
        scanner.Store = store.get();
        scanner.ServerList = &serverList;
        scanner.DeviceName = "test:0";
    }
    std::shared_ptr<CInno> OnlyDocument() {
        auto docs = list.AllInnos();
        return docs.size() == 1 ? docs[0] : nullptr;
    }
    int RecoveredPages() {
        int pages = 0;
        for (const RecoveryEntry& entry : InspectRecoveryFile()) {
            EXPECT_TRUE(entry.problems.empty()) << entry.problems.front();
            pages += entry.pages;
        }
        return pages;
    }
    bool Applied(const std::string& note) {
        const auto& notes = scanner.LastOutcome().settingsApplied;
        return std::find(notes.begin(), notes.end(), note) != notes.end();
    }

    test::TempFolder tmp;
    std::unique_ptr<SettingsStore> store;
    ScriptedPrompter person;
    ScanProperties props;
    CScanList list;
    CScanList serverList;
    ScanPages pages{person, props, list};
    Acquisition scanner{person, props, list, pages};
};

TEST_F(Scanning, AFeederRunTakesEveryPageUntilTheFeederIsEmpty) {
    scanner.StartScan(true);
    EXPECT_TRUE(person.messages.empty()) << person.messages.front();
    auto doc = OnlyDocument();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->ActPage(), 10);
    EXPECT_EQ(scanner.LastOutcome().pagesReceived, 10);
    EXPECT_EQ(RecoveredPages(), 10);
    // Black and white on a device without a line-art mode: grey at one bit per pixel.
    EXPECT_TRUE(Applied("source=Automatic Document Feeder"));
    EXPECT_TRUE(Applied("mode=Gray, depth=1"));
    EXPECT_TRUE(Applied("resolution=100"));
    EXPECT_TRUE(Applied("transfer mode 4: recorded (pages always arrive in memory)"));
    ImageInfo info = ReadImageInfo(doc->FilePath());
    EXPECT_EQ(info.bitsPerPixel, 1);
    EXPECT_EQ(info.xdpi, 100);
}

TEST_F(Scanning, WithoutTheFeederEachScanIsOnePageAndTheNextContinuesTheDocument) {
    props.Set(prop::Feeder, "0");
    scanner.StartScan(true);
    scanner.StartScan(true);
    auto doc = OnlyDocument();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->ActPage(), 2);
    EXPECT_TRUE(Applied("source=Flatbed"));
    // Without continuing, a scan starts a document of its own.
    scanner.StartScan(false);
    EXPECT_EQ(list.AllInnos().size(), 2u);
}

TEST_F(Scanning, AFaultInTheMiddleOfARunKeepsEveryStoredPage) {
    for (const char* fault : {"SANE_STATUS_JAMMED", "SANE_STATUS_COVER_OPEN", "SANE_STATUS_IO_ERROR",
                              "SANE_STATUS_DEVICE_BUSY"}) {
        SCOPED_TRACE(fault);
        ResetDevice();
        list = CScanList();
        person.messages.clear();
        std::remove(RecoveryFilePath().c_str());
        scanner.OnPageHandled = [&](IScanDevice& device, std::int32_t counter) {
            if (counter == 3) {
                EXPECT_TRUE(device.SetOption("read-return-value", fault));
            }
        };
        scanner.StartScan(false);
        ASSERT_EQ(person.messages.size(), 1u);
        EXPECT_EQ(person.messages[0], Acquisition::kAcquireError);
        EXPECT_EQ(person.boxes[0].icon, MsgIcon::Exclamation);
        auto doc = OnlyDocument();
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->ActPage(), 3);
        EXPECT_EQ(ReadImageInfo(doc->FilePath()).pages, 3);
        // The session was closed and the recovery file written.
        EXPECT_EQ(RecoveredPages(), 3);
        EXPECT_FALSE(scanner.LastOutcome().error.empty());
    }
    scanner.OnPageHandled = nullptr;
    ResetDevice();
    scanner.StartScan(true);  // the device works again after a fault
    EXPECT_EQ(OnlyDocument()->ActPage(), 13);
}

TEST_F(Scanning, AScannerThatFallsSilentEndsTheScanInTimeAndKeepsThePagesSoFar) {
    scanner.OnPageHandled = [&](IScanDevice& device, std::int32_t counter) {
        if (counter != 2) return;
        // The next page's data comes 200 ms late, past the limit.
        EXPECT_TRUE(device.SetOption("read-delay", "1"));
        EXPECT_TRUE(device.SetOption("read-delay-duration", "200000"));
        device.SetWaitLimit(std::chrono::milliseconds(20));
    };
    const auto start = std::chrono::steady_clock::now();
    scanner.StartScan(false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(person.messages.size(), 1u);
    EXPECT_EQ(person.messages[0], Acquisition::kAcquireError);
    EXPECT_NE(scanner.LastOutcome().error.find("the scanner sent no data for 20 ms"), std::string::npos)
        << scanner.LastOutcome().error;
    auto doc = OnlyDocument();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->ActPage(), 2);
    EXPECT_EQ(RecoveredPages(), 2);
    scanner.OnPageHandled = nullptr;
    ResetDevice();
    scanner.StartScan(true);
    EXPECT_EQ(OnlyDocument()->ActPage(), 12);
}

TEST_F(Scanning, AnEmptyFeederAtTheStartIsAnErrorAndStoresNothing) {
    OpenScanDevice("test:0")->SetOption("read-return-value", "SANE_STATUS_NO_DOCS");
    scanner.StartScan(false);
    ASSERT_EQ(person.messages.size(), 1u);
    EXPECT_EQ(person.messages[0], Acquisition::kAcquireError);
    EXPECT_TRUE(list.AllInnos().empty());
    EXPECT_FALSE(FileExists(RecoveryFilePath()));
}

TEST_F(Scanning, ASavedDeviceThatHasGoneIsNotFoundAndOneThatFailsToOpenIsAnError) {
    // Chosen in an earlier window and kept in the settings file, then unplugged.
    store->Set("Twain", Acquisition::kSourceKey, "test:7");
    scanner.DeviceName.clear();
    scanner.ShowSourceSettings = [](SourceSettingsForm&) { return true; };
    scanner.StartScan(false);
    scanner.StartScanEdit();  // no current document: nothing
    scanner.ConfigScanner();
    EXPECT_EQ(person.messages, (std::vector<std::string>{Acquisition::kNoScanner, Acquisition::kNoScanner}));
    EXPECT_EQ(person.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(scanner.DeviceName, "test:7");  // kept: it may come back
    EXPECT_TRUE(list.AllInnos().empty());

    // A feeder folder that is there but holds no pages cannot be opened: the device failed.
    person.messages.clear();
    std::filesystem::create_directories(tmp.File("empty-feed"));
    scanner.DeviceName = "file:" + tmp.File("empty-feed");
    scanner.StartScan(false);
    EXPECT_EQ(person.messages, (std::vector<std::string>{Acquisition::kAcquireError}));
    scanner.DeviceName = "file:" + tmp.File("no-such-feed");
    scanner.StartScan(false);
    EXPECT_EQ(person.messages.back(), Acquisition::kNoScanner);
    EXPECT_TRUE(list.AllInnos().empty());
}

TEST_F(Scanning, AskingAfterEveryPageStopsWhenThePersonSaysNo) {
    props.Set(prop::ScanMode, "1");
    person.answers = {MsgResult::Yes, MsgResult::Yes, MsgResult::No};
    scanner.StartScan(false);
    EXPECT_EQ(OnlyDocument()->ActPage(), 3);
    ASSERT_EQ(person.boxes.size(), 3u);
    EXPECT_EQ(person.boxes[2].text, Acquisition::kContinueQuestion);
    EXPECT_EQ(person.boxes[2].buttons, MsgButtons::YesNo);
    EXPECT_EQ(person.boxes[2].icon, MsgIcon::Question);
    EXPECT_TRUE(scanner.LastOutcome().stopped);
}

TEST_F(Scanning, GreyAndColourPagesAreStoredAtTheirDepthOnTheAskedPaper) {
    props.Set(prop::Feeder, "0");
    props.Set(prop::PixelType, "2");
    props.Set(prop::EnablePaperSize, "1");
    props.Set(prop::PaperSize, "5");  // A5: 148 × 210 mm; the test device reaches 200 mm down
    scanner.StartScan(false);
    EXPECT_TRUE(Applied("mode=Color, depth=8"));
    EXPECT_TRUE(Applied("scan area=148 x 200 mm"));
    ImageInfo colour = ReadImageInfo(OnlyDocument()->FilePath());
    EXPECT_EQ(colour.bitsPerPixel, 24);
    EXPECT_NEAR(colour.width, 148 * 100 / 25.4, 2);

    props.Set(prop::PixelType, "1");
    props.Set(prop::PaperSize, "54");  // A4 landscape: 297 × 210 mm, clamped to the device
    scanner.StartScan(false);
    EXPECT_TRUE(Applied("scan area=200 x 200 mm"));
    EXPECT_EQ(ReadImageInfo(list.LastCInno()->FilePath()).bitsPerPixel, 8);
}

TEST_F(Scanning, TheDriverTagsReachTheSameOptions) {
    props.Set(prop::TwainOrISIS, "ISIS");
    props.Set(prop::PixelType, "1");
    scanner.StartScan(false);
    EXPECT_TRUE(Applied("tag 1293=1: recorded"));
    EXPECT_TRUE(Applied("source=Automatic Document Feeder"));
    EXPECT_TRUE(Applied("resolution=100"));
    EXPECT_TRUE(Applied("mode=Gray, depth=8"));
    EXPECT_EQ(OnlyDocument()->ActPage(), 10);
    props.Set(prop::Feeder, "0");
    scanner.StartScan(true);
    EXPECT_TRUE(Applied("source=Flatbed"));
    EXPECT_EQ(OnlyDocument()->ActPage(), 11);  // without the feeder: one page
}

TEST_F(Scanning, AddingAndReplacingPagesOfTheCurrentDocument) {
    props.Set(prop::Feeder, "0");
    scanner.StartScan(false);
    scanner.StartScan(true);
    auto doc = OnlyDocument();
    ASSERT_EQ(doc->ActPage(), 2);
    pages.CurrentDoc = doc;
    OpenScanDevice("test:0")->SetOption("test-picture", "Grid");
    scanner.StartScanEdit();
    EXPECT_EQ(doc->ActPage(), 3);
    Raster black = Raster::Load(doc->FilePath(), 1);
    Raster grid = Raster::Load(doc->FilePath(), 3);
    EXPECT_LT(grid.CountInk(), black.CountInk());
    // Replacing: one page taken, over the current one, even from the feeder.
    props.Set(prop::Feeder, "1");
    doc->SelectedIndex = 1;
    scanner.ReplacePage = true;
    scanner.StartScanEdit();
    EXPECT_EQ(doc->ActPage(), 3);
    EXPECT_EQ(Raster::Load(doc->FilePath(), 1).CountInk(), grid.CountInk());
    EXPECT_EQ(Raster::Load(doc->FilePath(), 2).CountInk(), black.CountInk());
    EXPECT_EQ(RecoveredPages(), 3);
}

TEST_F(Scanning, TheChosenSourceAndItsOwnSettingsAreRemembered) {
    scanner.ShowSelectSource = [](SourceSelection& selection) {
        EXPECT_EQ(selection.devices.size(), 2u);
        EXPECT_EQ(selection.devices[static_cast<std::size_t>(selection.selected)].name, "test:0");
        selection.selected = 1;
        return true;
    };
    scanner.SelectSource();
    EXPECT_EQ(scanner.DeviceName, "test:1");
    scanner.ShowSourceSettings = [](SourceSettingsForm& form) {
        EXPECT_EQ(form.deviceName, "test:1");
        auto picture = std::find_if(form.options.begin(), form.options.end(),
                                    [](const DeviceOption& o) { return o.name == "test-picture"; });
        EXPECT_NE(picture, form.options.end());
        EXPECT_TRUE(form.Set("test-picture", "Grid"));
        EXPECT_FALSE(form.Set("no-such-option", "1"));
        // A change that switches another option on is seen in the form at once.
        auto option = [&form](const std::string& name) {
            auto it = std::find_if(form.options.begin(), form.options.end(),
                                   [&](const DeviceOption& o) { return o.name == name; });
            return it == form.options.end() ? DeviceOption{} : *it;
        };
        EXPECT_FALSE(option("read-delay-duration").active);
        EXPECT_TRUE(form.Change("read-delay", "1"));
        EXPECT_EQ(option("read-delay").value, "1");
        EXPECT_TRUE(option("read-delay-duration").active);
        EXPECT_FALSE(form.Change("read-limit-size", "100"));  // inactive: refused, form re-read
        EXPECT_FALSE(option("read-limit-size").active);
        EXPECT_TRUE(form.Change("read-delay", "0"));
        EXPECT_FALSE(option("read-delay-duration").active);
        return true;
    };
    scanner.ConfigScanner();
    ResetDevice("test:1");

    // Another window later: the device and its own choice come back from the settings file.
    SettingsStore reread(tmp.File("settings.ini"));
    ScanPages otherPages(person, props, list);
    Acquisition other(person, props, list, otherPages);
    other.Store = &reread;
    props.Set(prop::Feeder, "0");
    other.StartScan(false);
    EXPECT_EQ(other.DeviceName, "test:1");
    Raster page = Raster::Load(list.LastCInno()->FilePath(), 1);
    EXPECT_LT(page.CountInk(), static_cast<std::int64_t>(page.Width()) * page.Height() / 2);
}

TEST_F(Scanning, TheSingleDocumentModeScansIntoItsOwnNumberBesideRestoredDocuments) {
    // A restore brought back another document of an earlier window; this one is for B002.
    auto earlier = list.Add("OLD", "A001", 0);
    props.Set(prop::Feeder, "0");
    scanner.StartScan(true);
    ASSERT_EQ(earlier->ActPage(), 1);
    props.Set(prop::Mode, "2");
    props.Set(prop::BatchNo, "NEW");
    props.Set(prop::Inno, "B002");
    props.Set(prop::Feeder, "1");
    scanner.StartScan(true);
    EXPECT_EQ(earlier->ActPage(), 1);
    auto doc = list.GetInno("NEW", "B002");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->ActPage(), 10);
    EXPECT_EQ(pages.CurrentDoc, doc);
    EXPECT_EQ(scanner.LastTmpFile, doc->FilePath());
}

TEST_F(Scanning, TheSingleDocumentModeNamesADocumentScannedBeforeItsNumberWasGiven) {
    props.Set(prop::Mode, "2");
    props.Set(prop::Feeder, "0");
    scanner.StartScan(false);
    auto doc = OnlyDocument();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->Inno(), "");
    props.Set(prop::Inno, "C003");
    scanner.StartScan(true);
    ASSERT_EQ(OnlyDocument(), doc);
    EXPECT_EQ(doc->Inno(), "C003");
    EXPECT_EQ(doc->ActPage(), 2);
}

TEST_F(Scanning, TheSingleDocumentModeLeavesNoStrayFileWithOneFilePerPage) {
    props.Set(prop::Mode, "3");
    props.Set(prop::Inno, "D004");
    props.Set(prop::ImgFormat, "JPG");
    props.Set(prop::PixelType, "1");
    scanner.StartScan(true);
    auto doc = OnlyDocument();
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->EnableMultiTIFF);
    EXPECT_EQ(doc->ActPage(), 10);
    // Every temporary file is a page of the document.
    std::vector<std::string> files = ListFiles(tmp.Path(), "KQ*.tmp", true);
    EXPECT_EQ(files.size(), 10u);
    for (const std::string& file : files) EXPECT_GT(GetFileLength(file), 0) << file;
    // The host is told the file it keeps: the last page's.
    EXPECT_EQ(scanner.LastTmpFile, doc->FilePaths(10));
    // A trailing blank sheet is dropped: the file named is the last page kept.
    OpenScanDevice("test:0")->SetOption("test-picture", "Solid white");
    props.Set(prop::Feeder, "0");
    scanner.StartScan(true);
    EXPECT_EQ(doc->ActPage(), 10);
    EXPECT_EQ(scanner.LastTmpFile, doc->FilePaths(10));
    EXPECT_TRUE(FileExists(scanner.LastTmpFile));
    KillTmpFiles(list, true, false);
    EXPECT_TRUE(ListFiles(tmp.Path(), "KQ*.tmp", true).empty());
}

TEST_F(Scanning, AFolderThatTakesNoNewFileEndsTheScanWithAMessage) {
    test::SmallDisk small("1m,nr_inodes=16");
    DORVEX_NEED_SMALL_DISK(small);
    for (int n = 0;; ++n) {
        int fd = ::open(small.File("filler" + std::to_string(n)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0) break;
        ::close(fd);
    }
    props.Set(prop::Mode, "2");
    props.Set(prop::Inno, "E005");
    EXPECT_NO_THROW(scanner.StartScan(true));
    ASSERT_EQ(person.messages.size(), 1u);
    EXPECT_NE(person.messages[0].find(small.Path()), std::string::npos) << person.messages[0];
    EXPECT_FALSE(scanner.LastOutcome().error.empty());
    for (const auto& doc : list.AllInnos()) EXPECT_EQ(doc->ActPage(), 0);
}

TEST_F(Scanning, ACommandServedBetweenPagesStartsNoSecondScan) {
    // Between pages the window serves its events: a Scan click then must not nest a scan.
    int nested = 0;
    scanner.OnPageHandled = [&](IScanDevice&, std::int32_t counter) {
        if (counter != 2) return;
        ++nested;
        scanner.StartScan(true);
        scanner.StartScanEdit();
        scanner.SelectSource();
        scanner.ConfigScanner();
    };
    scanner.StartScan(true);
    EXPECT_EQ(nested, 1);
    EXPECT_TRUE(person.messages.empty()) << person.messages.front();
    auto doc = OnlyDocument();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->ActPage(), 10);
    EXPECT_EQ(scanner.LastOutcome().pagesStored, 10);
    EXPECT_TRUE(scanner.LastOutcome().error.empty());
    EXPECT_EQ(RecoveredPages(), 10);
}

TEST_F(Scanning, EachPageShowsTheAreaSearchedForItsBarcode) {
    props.Set(prop::Feeder, "0");
    props.Set(prop::BCLeft, "0.25");
    props.Set(prop::BCTop, "0.5");
    props.Set(prop::BCWidth, "0.5");
    props.Set(prop::BCHeight, "0.25");
    std::vector<std::string> shown;
    scanner.OnPageHandled = [&](IScanDevice&, std::int32_t) {
        const ImageViewer& viewer = pages.OneViewer;
        const auto& area = viewer.BarcodeArea;
        const Raster& page = viewer.Image();
        shown.push_back(!area ? "none"
                              : std::to_string(area->left * 4 / page.Width()) + "/4 " + std::to_string(area->top * 2 / page.Height()) +
                                    "/2 " + std::to_string(area->width) + "x" + std::to_string(area->height) + " of " +
                                    std::to_string(page.Width()) + "x" + std::to_string(page.Height()));
    };
    scanner.StartScan(false);  // barcodes off: nothing searched
    props.Set(prop::UseBarcode, "1");
    scanner.StartScan(false);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "none");
    const Raster stored = Raster::Load(list.LastCInno()->FilePath(), 1);
    EXPECT_EQ(shown[1], "1/4 1/2 " + std::to_string(static_cast<int>(std::nearbyint(stored.Width() * 0.5))) + "x" +
                            std::to_string(static_cast<int>(std::nearbyint(stored.Height() * 0.25))) + " of " +
                            std::to_string(stored.Width()) + "x" + std::to_string(stored.Height()));
    // The page shown after the scan is the stored one: nothing was searched on it.
    EXPECT_TRUE(pages.OneViewer.HasImage());
    EXPECT_FALSE(pages.OneViewer.BarcodeArea);
}

TEST_F(Scanning, ThePaperBoxListsTheSizesTheDeviceOffers) {
    // The test device scans up to 200 × 200 mm: neither A4 nor A5 fits, A6 and the smaller do.
    const std::vector<std::int32_t> fitting = {7, 13, 16, 22, 23, 24, 25, 30, 31, 32, 33, 39, 40, 41, 42, 43, 48, 49, 50, 51, 53};
    EXPECT_EQ(scanner.OfferedPaperSizes(), fitting);
    // A file feeder takes no scan area, and a device that is not there says nothing either.
    Raster::Blank(100, 100, 1, 100).Save(tmp.File("page.tif"), fileformat::TiffG4);
    scanner.DeviceName = "file:" + tmp.File("page.tif");
    EXPECT_FALSE(scanner.OfferedPaperSizes());
    scanner.DeviceName = "test:7";
    EXPECT_FALSE(scanner.OfferedPaperSizes());
    EXPECT_TRUE(person.messages.empty());

    // The window asks the device it will scan with when it loads.
    store->Set("Twain", Acquisition::kSourceKey, "test:1");
    FrmScan window(person, store.get());
    window.SetProperties(prop::EnablePaperSize, "1");
    window.Form_Load();
    std::vector<std::string> texts = window.PaperSizeTexts();
    ASSERT_EQ(texts.size(), fitting.size());
    EXPECT_EQ(texts[0], "ISOB6 - 125 × 176 mm");
    EXPECT_EQ(texts[1], "A6 - 105 × 148 mm");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), window.PaperSizeText()), 0);  // A4, not offered
    // On the driver path the device is not asked: the whole table, A4 landscape after A4.
    window.ShowConfDialog = [](FrmConf& dialog) {
        dialog.TwainOrISIS = "ISIS";
        dialog.ClickOK = true;
    };
    window.ShowScannerConfig();
    texts = window.PaperSizeTexts();
    ASSERT_GT(texts.size(), fitting.size());
    EXPECT_EQ(texts[0], "A4 - 210 × 297 mm");
    EXPECT_EQ(texts[1], "A4L - 297 × 210 mm");
    EXPECT_TRUE(person.messages.empty());
}

TEST_F(Scanning, TheDriverPathAsksForADriverWhenNoneIsChosen) {
    props.Set(prop::TwainOrISIS, "ISIS");
    props.Set(prop::Feeder, "0");
    scanner.DeviceName.clear();
    int asked = 0;
    scanner.ShowSelectSource = [&](SourceSelection& selection) {
        ++asked;
        selection.selected = 1;
        return true;
    };
    scanner.StartScan(false);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(scanner.DeviceName, "test:1");
    EXPECT_EQ(OnlyDocument()->ActPage(), 1);
}

}  // namespace
}  // namespace dorvex
