// SANE devices through the real SANE "test" backend. Each test process gets a SANE of its own:
// a private configuration folder (SANE_CONFIG_DIR) whose dll.conf names the test backend only,
// set before the first SANE call. SANE reads it once per process, so each setup below is its
// own ctest entry (a --gtest_filter on its suite); in a process set up otherwise a suite skips.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Raster.h"
#include "platform/ScanDevice.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

enum class Setup { TwoDevices, HighResolution, NoBackends };

// Sets this process's SANE up as `setup`; false when it was set up otherwise already.
bool UseSetup(Setup setup) {
    static std::optional<Setup> chosen;
    if (chosen) return *chosen == setup;
    static struct Folder {
        std::string path = (std::filesystem::temp_directory_path() / "dorvex-sane-XXXXXX").string();
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    if (::mkdtemp(folder.path.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    // Other settings are the backend's defaults: pages of 80 x 100 mm at 50 dpi (157 x 196 pixels).
    std::string conf = "number_of_devices " + std::string(setup == Setup::TwoDevices ? "2" : "1") +
                       "\nresolution_max " + (setup == Setup::HighResolution ? "4800" : "1200") + "\n";
    if (!WriteBytesToFile(setup == Setup::NoBackends ? "# none\n" : "test\n", folder.path + "/dll.conf") ||
        !WriteBytesToFile(conf, folder.path + "/test.conf")) {
        throw std::runtime_error("cannot write the SANE configuration");
    }
    // No trailing ':' — SANE would then read the system's folders too.
    if (::setenv("SANE_CONFIG_DIR", folder.path.c_str(), 1) != 0) throw std::runtime_error("setenv failed");
    chosen = setup;
    return true;
}

template <Setup S>
class SaneIn : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UseSetup(S)) GTEST_SKIP() << "SANE was set up otherwise in this process; ctest runs this suite alone";
    }
};
using SaneTwoDevices = SaneIn<Setup::TwoDevices>;
using SaneHighResolution = SaneIn<Setup::HighResolution>;
using SaneNoBackends = SaneIn<Setup::NoBackends>;

// Opens a test device with the default settings: the backend keeps what one opening set for the
// next within the process.
std::unique_ptr<IScanDevice> Open(const std::string& name = "test:0") {
    std::unique_ptr<IScanDevice> device = OpenScanDevice(name);
    // The backend stays mapped after SANE stops at exit, so that the leak checker can name it
    // (see sane-test-backend.supp).
    if (void* backend = ::dlopen("libsane-test.so.1", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) EXPECT_EQ(::dlclose(backend), 0);
    else ADD_FAILURE() << "the test backend is not loaded: " << ::dlerror();
    for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
             {"read-return-value", "Default"}, {"enable-test-options", "0"}, {"hand-scanner", "0"}, {"mode", "Color"},
             {"three-pass", "1"}, {"three-pass-order", "RGB"}, {"three-pass", "0"}, {"mode", "Gray"}, {"depth", "8"},
             {"resolution", "50"}, {"test-picture", "Solid black"}, {"source", "Flatbed"}, {"br-x", "80"}, {"br-y", "100"}}) {
        EXPECT_TRUE(device->SetOption(option, value)) << option << ": " << device->LastError();
    }
    return device;
}

// Sets options, then scans one page as a run of its own.
Raster Scan(IScanDevice& device, const std::vector<std::pair<std::string, std::string>>& settings = {}) {
    for (const auto& [option, value] : settings) EXPECT_TRUE(device.SetOption(option, value)) << option;
    Raster page;
    EXPECT_EQ(device.ScanPage(page), DeviceStatus::Good) << device.LastError();
    device.EndRun();
    return page;
}

// Scans one page that must fail, into `page`; how long the scan took.
std::chrono::milliseconds FailingScan(IScanDevice& device, DeviceStatus expected, const std::string& why) {
    const auto start = std::chrono::steady_clock::now();
    Raster page = Raster::Blank(10, 10, 8);
    EXPECT_EQ(device.ScanPage(page), expected) << device.LastError();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_TRUE(page.Empty());
    EXPECT_NE(device.LastError().find(why), std::string::npos) << device.LastError();
    return took;
}

std::string ValueOf(IScanDevice& device, const std::string& name) { return device.Option(name).value_or(DeviceOption{}).value; }
bool AllBlack(const Raster& page) { return page.CountInk() == static_cast<std::int64_t>(page.Width()) * page.Height(); }

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rgb& c) { return out << "(" << c.r << "," << c.g << "," << c.b << ")"; }

// A page's colours, read back from a 24-bit BMP file of it.
struct Colours {
    explicit Colours(Raster page) : width(page.Width()), height(page.Height()) {
        page.ConvertTo(24);
        const std::string path = "/tmp/dorvex-sane-" + std::to_string(::getpid()) + ".bmp";
        page.Save(path, fileformat::Bmp);
        bytes = ReadFileBytes(path);
        std::filesystem::remove(path);
    }
    Rgb At(int x, int y) const {
        auto byte = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(bytes.at(i))); };
        const std::size_t at = static_cast<std::size_t>(byte(10) | byte(11) << 8) +
                               (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4 * static_cast<std::size_t>(height - 1 - y) +
                               static_cast<std::size_t>(x) * 3;
        return {byte(at + 2), byte(at + 1), byte(at)};
    }
    int width, height;
    std::string bytes;
};

}  // namespace

TEST_F(SaneTwoDevices, ListsExactlyTheConfiguredTestDevices) {
    std::vector<DeviceInfo> devices = ListScanDevices();
    std::sort(devices.begin(), devices.end(), [](const DeviceInfo& a, const DeviceInfo& b) { return a.name < b.name; });
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "test:0");
    EXPECT_EQ(devices[1].name, "test:1");
    EXPECT_EQ(devices[0].vendor + "|" + devices[0].model + "|" + devices[0].type, "Noname|frontend-tester|virtual device");
}

TEST_F(SaneTwoDevices, OptionsCarryTypesConstraintsUnitsAndValues) {
    auto device = Open();
    EXPECT_EQ(device->Name(), "test:0");
    std::vector<DeviceOption> options = device->Options();
    EXPECT_TRUE(std::any_of(options.begin(), options.end(),
                            [](const DeviceOption& o) { return o.type == DeviceOption::Type::Group && o.name.empty() && o.title == "Geometry"; }));
    DeviceOption mode = *device->Option("mode");
    EXPECT_EQ(mode.type, DeviceOption::Type::String);
    EXPECT_EQ(mode.choices, (std::vector<std::string>{"Gray", "Color"}));
    EXPECT_TRUE(mode.active && mode.settable);
    EXPECT_EQ(mode.value, "Gray");
    EXPECT_EQ(device->Option("depth")->choices, (std::vector<std::string>{"1", "8", "16"}));
    EXPECT_EQ(ValueOf(*device, "depth"), "8");
    DeviceOption resolution = *device->Option("resolution");
    EXPECT_EQ(resolution.type, DeviceOption::Type::Fixed);
    EXPECT_EQ(resolution.unit, "dpi");
    EXPECT_EQ(resolution.min, 1.0);
    EXPECT_EQ(resolution.max, 1200.0);
    EXPECT_EQ(resolution.step, 1.0);
    EXPECT_EQ(resolution.value, "50");
    EXPECT_EQ(device->Option("source")->choices, (std::vector<std::string>{"Flatbed", "Automatic Document Feeder"}));
    DeviceOption width = *device->Option("br-x");
    EXPECT_EQ(width.unit + " " + std::to_string(*width.min) + " " + std::to_string(*width.max) + " " + width.value, "mm 0.000000 200.000000 80");
    EXPECT_FALSE(device->Option("three-pass")->active);  // colour only
    EXPECT_EQ(device->Option("print-options")->type, DeviceOption::Type::Button);
    EXPECT_FALSE(device->Option("no-such-option"));
    ASSERT_TRUE(device->SetOption("mode", "Color"));
    EXPECT_TRUE(device->Option("three-pass")->active);
    EXPECT_EQ(ValueOf(*device, "three-pass"), "0");
    ASSERT_TRUE(device->SetOption("enable-test-options", "1"));
    EXPECT_FALSE(device->Option("bool-soft-detect")->settable);
    EXPECT_EQ(device->Option("int-constraint-word-list")->choices.front(), "-42");
    EXPECT_EQ(device->Option("int-constraint-array")->value, "");  // several values
}

TEST_F(SaneTwoDevices, SetOptionTakesWhatFitsAndRefusesTheRest) {
    auto device = Open();
    EXPECT_TRUE(device->SetOption("resolution", "5000"));  // clamped by the device
    EXPECT_EQ(ValueOf(*device, "resolution"), "1200");
    EXPECT_TRUE(device->SetOption("br-x", "60.5"));
    EXPECT_EQ(ValueOf(*device, "br-x"), "61");  // in whole millimetres
    EXPECT_TRUE(device->SetOption("mode", "color"));
    EXPECT_EQ(ValueOf(*device, "mode"), "Color");
    EXPECT_TRUE(device->SetOption("hand-scanner", "1"));
    ASSERT_TRUE(device->SetOption("enable-test-options", "1"));
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"no-such-option", "1"}, {"", "1"}, {"br-x", "10"} /* inactive for a hand scanner */, {"mode", "Sepia"},
             {"resolution", "abc"}, {"resolution", "300dpi"}, {"depth", "8.5"}, {"hand-scanner", "maybe"},
             {"bool-soft-detect", "1"} /* read-only */, {"int-constraint-array", "4"}}) {
        EXPECT_FALSE(device->SetOption(name, value)) << name << "=" << value;
        EXPECT_FALSE(device->LastError().empty()) << name << "=" << value;
    }
    EXPECT_EQ(ValueOf(*device, "mode"), "Color");
}

TEST_F(SaneTwoDevices, OpeningAnUnknownOrOpenDeviceThrowsAndClosingFreesIt) {
    EXPECT_THROW(OpenScanDevice("test:7"), DorvexError);
    EXPECT_THROW(OpenScanDevice(""), DorvexError);
    {
        auto first = OpenScanDevice("test:1");
        try {
            OpenScanDevice("test:1");
            ADD_FAILURE() << "a device open twice";
        } catch (const DorvexError& e) {
            EXPECT_NE(std::string(e.what()).find("busy"), std::string::npos) << e.what();
        }
    }
    EXPECT_NO_THROW(OpenScanDevice("test:1"));
}

TEST_F(SaneTwoDevices, GreyAndOneBitPagesHaveTheScanSizeResolutionAndInk) {
    auto device = Open();
    Raster grey = Scan(*device);
    EXPECT_EQ(grey.Width(), 157);
    EXPECT_EQ(grey.Height(), 196);
    EXPECT_EQ(grey.BitsPerPixel(), 8);
    EXPECT_EQ(grey.XDpi(), 50);
    EXPECT_TRUE(AllBlack(grey));
    Raster lineArt = Scan(*device, {{"depth", "1"}});
    EXPECT_EQ(lineArt.BitsPerPixel(), 1);
    EXPECT_TRUE(AllBlack(lineArt));  // 1 is black, and 157 pixels leave stray bits in the last byte
    EXPECT_EQ(Scan(*device, {{"test-picture", "Solid white"}}).CountInk(), 0);
    // The grid at 1 bit has its ink where the grid at 8 bits has it.
    lineArt = Scan(*device, {{"test-picture", "Grid"}, {"resolution", "100"}});
    grey = Scan(*device, {{"depth", "8"}});
    EXPECT_EQ(grey.XDpi(), 100);
    ASSERT_EQ(lineArt.Width(), grey.Width());
    ASSERT_EQ(lineArt.Height(), grey.Height());
    EXPECT_GT(grey.CountInk(), 0);
    int differences = 0;
    for (int y = 0; y < grey.Height(); ++y) {
        for (int x = 0; x < grey.Width(); ++x) differences += lineArt.IsBlack(x, y) != grey.IsBlack(x, y);
    }
    EXPECT_EQ(differences, 0);
}

TEST_F(SaneTwoDevices, SixteenBitSamplesGiveTheirHighByteAndOneBitColourIsFullOrNone) {
    auto device = Open();
    // The backend's 16-bit pattern: the high byte grows to the right (0 at x = 4), the low byte
    // downwards (0 at y = 4); in colour the band is red.
    Colours grey(Scan(*device, {{"test-picture", "Color pattern"}, {"depth", "16"}}));
    EXPECT_EQ(grey.At(10, 150), (Rgb{6, 6, 6}));
    EXPECT_EQ(grey.At(150, 20), (Rgb{146, 146, 146}));
    Colours colour(Scan(*device, {{"mode", "Color"}}));
    EXPECT_EQ(colour.At(10, 150), (Rgb{6, 0, 0}));
    EXPECT_EQ(colour.At(150, 20), (Rgb{146, 0, 0}));
    EXPECT_TRUE(AllBlack(Scan(*device, {{"depth", "1"}, {"test-picture", "Solid black"}})));
    EXPECT_EQ(Colours(Scan(*device, {{"test-picture", "Solid white"}})).At(156, 195), (Rgb{255, 255, 255}));
}

TEST_F(SaneTwoDevices, ColourInOneFrameOrThreePassesGivesTheSamePage) {
    auto device = Open();
    Raster single = Scan(*device, {{"mode", "Color"}, {"test-picture", "Color pattern"}});
    EXPECT_EQ(single.BitsPerPixel(), 24);
    // The backend's pattern: bands of 5 lines, red, red, green, green, blue, blue.
    Colours colours(single);
    EXPECT_EQ(colours.At(47, 7), (Rgb{246, 0, 0}));
    EXPECT_EQ(colours.At(47, 17), (Rgb{0, 246, 0}));
    EXPECT_EQ(colours.At(47, 27), (Rgb{0, 0, 246}));
    EXPECT_EQ(Colours(Scan(*device, {{"three-pass", "1"}})).bytes, colours.bytes);
    EXPECT_EQ(Colours(Scan(*device, {{"three-pass-order", "BGR"}})).bytes, colours.bytes);
}

TEST_F(SaneTwoDevices, HandScannerPageOfUnknownHeightIsReadToItsEnd) {
    auto device = Open();
    Raster page = Scan(*device, {{"hand-scanner", "1"}});
    EXPECT_EQ(page.Width(), 216);   // 110 mm at 50 dpi
    EXPECT_EQ(page.Height(), 334);  // 170 mm
    EXPECT_TRUE(AllBlack(page));
    EXPECT_EQ(Scan(*device, {{"mode", "Color"}, {"three-pass", "1"}}).Height(), 334);
}

TEST_F(SaneTwoDevices, FeederGivesTenPagesThenNoDocs) {
    for (const char* mode : {"Gray", "Color"}) {
        auto device = Open();
        ASSERT_TRUE(device->SetOption("source", "Automatic Document Feeder"));
        ASSERT_TRUE(device->SetOption("mode", mode));
        int pages = 0;
        Raster page;
        DeviceStatus status;
        while ((status = device->ScanPage(page)) == DeviceStatus::Good && ++pages < 20) EXPECT_EQ(page.Height(), 196);
        EXPECT_EQ(status, DeviceStatus::NoDocs) << mode << ": " << device->LastError();
        EXPECT_TRUE(page.Empty());
        EXPECT_EQ(pages, 10) << mode;
        device->EndRun();
    }
}

namespace {
struct Fault {
    const char* code;
    DeviceStatus status;
};
std::ostream& operator<<(std::ostream& out, const Fault& f) { return out << f.code; }
class SaneTwoDevicesFault : public SaneTwoDevices, public ::testing::WithParamInterface<Fault> {};
}  // namespace

TEST_P(SaneTwoDevicesFault, AFaultInTheMiddleOfAFeederRunKeepsTheEarlierPages) {
    auto device = Open();
    ASSERT_TRUE(device->SetOption("source", "Automatic Document Feeder"));
    std::vector<Raster> pages(3);
    for (Raster& page : pages) ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good) << device->LastError();
    ASSERT_TRUE(device->SetOption("read-return-value", GetParam().code)) << device->LastError();
    Raster broken = Raster::Blank(10, 10, 8);
    EXPECT_EQ(device->ScanPage(broken), GetParam().status) << device->LastError();
    EXPECT_TRUE(broken.Empty());
    EXPECT_FALSE(device->LastError().empty());
    for (const Raster& page : pages) EXPECT_TRUE(page.Height() == 196 && AllBlack(page));
    // The failed scan left the device idle: it takes settings, and the feeder goes on.
    ASSERT_TRUE(device->SetOption("read-return-value", "Default")) << device->LastError();
    EXPECT_EQ(device->ScanPage(broken), DeviceStatus::Good) << device->LastError();
    device->EndRun();
}

INSTANTIATE_TEST_SUITE_P(Statuses, SaneTwoDevicesFault,
                         ::testing::Values(Fault{"SANE_STATUS_JAMMED", DeviceStatus::Jammed},
                                           Fault{"SANE_STATUS_COVER_OPEN", DeviceStatus::CoverOpen},
                                           Fault{"SANE_STATUS_IO_ERROR", DeviceStatus::IoError},
                                           Fault{"SANE_STATUS_NO_DOCS", DeviceStatus::NoDocs},
                                           Fault{"SANE_STATUS_DEVICE_BUSY", DeviceStatus::Busy},
                                           Fault{"SANE_STATUS_CANCELLED", DeviceStatus::Cancelled},
                                           Fault{"SANE_STATUS_NO_MEM", DeviceStatus::NoMemory},
                                           Fault{"SANE_STATUS_ACCESS_DENIED", DeviceStatus::AccessDenied},
                                           Fault{"SANE_STATUS_INVAL", DeviceStatus::Failed}),
                         [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.code).substr(12); });

// The backend's reader pauses 200 ms before each block of a page of 17 blocks, longer than the
// wait limit: the scan stops within the limit (not after 3.4 s), whether reads block or not.
TEST_F(SaneTwoDevices, AWaitPastTheLimitStopsThePageInTimeAndTheDeviceScansAgain) {
    for (const char* blocking : {"1", "0"}) {
        SCOPED_TRACE(std::string("blocking reads: ") + blocking);
        auto device = Open();
        const char* other = blocking[0] == '1' ? "0" : "1";
        for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
                 {"enable-test-options", "1"}, {"non-blocking", other}, {"select-fd", other}, {"resolution", "300"},
                 {"read-delay", "1"}, {"read-delay-duration", "200000"}}) {
            ASSERT_TRUE(device->SetOption(option, value)) << option;
        }
        device->SetWaitLimit(std::chrono::milliseconds(50));
        EXPECT_LT(FailingScan(*device, DeviceStatus::IoError, "the scanner sent no data for 50 ms"), std::chrono::seconds(2));
        device->SetWaitLimit(std::chrono::seconds(5));
        EXPECT_EQ(Scan(*device, {{"read-delay-duration", "1000"}}).Height(), 1181);
        EXPECT_TRUE(device->SetOption("read-delay", "0"));
    }
}

TEST_F(SaneTwoDevices, AnEndOfDataBeforeAnyLineIsNoPage) {
    auto device = Open();
    ASSERT_TRUE(device->SetOption("read-return-value", "SANE_STATUS_EOF"));
    Raster page;
    EXPECT_EQ(device->ScanPage(page), DeviceStatus::Failed);
    EXPECT_TRUE(page.Empty());
    EXPECT_NE(device->LastError().find("no image data"), std::string::npos) << device->LastError();
}

// The backend's reader thread is cancelled at once after it starts (the announced page) or in
// the middle of the page: ctest also runs this test 200 times in one process, since a cancel
// that catches the reader setting up hangs only now and then.
TEST_F(SaneHighResolution, PagesOverThePixelBudgetAreRefusedOrCutOff) {
    auto device = Open();
    ASSERT_TRUE(device->SetOption("resolution", "4800"));
    FailingScan(*device, DeviceStatus::Failed, "too large");  // 15118 x 18897 pixels, announced
    // A hand scanner does not announce its 20787 x 32125 pixels: reading stops at the budget.
    ASSERT_TRUE(device->SetOption("hand-scanner", "1"));
    ASSERT_TRUE(device->SetOption("depth", "1"));
    FailingScan(*device, DeviceStatus::Failed, "longer than");
    EXPECT_EQ(Scan(*device, {{"resolution", "50"}}).Height(), 334);  // usable afterwards
}

TEST_F(SaneHighResolution, APageCutOffWhileTheScannerPausesBetweenBlocksEndsInTime) {
    auto device = Open();
    for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
             {"resolution", "4800"}, {"hand-scanner", "1"}, {"depth", "1"}, {"read-delay", "1"}, {"read-delay-duration", "1000"}}) {
        ASSERT_TRUE(device->SetOption(option, value)) << option;
    }
    // About 290 blocks of 64 KiB come before the budget is reached, each after a pause.
    EXPECT_LT(FailingScan(*device, DeviceStatus::Failed, "longer than"), std::chrono::seconds(20));
    ASSERT_TRUE(device->SetOption("read-delay", "0"));
    EXPECT_EQ(Scan(*device, {{"resolution", "50"}}).Height(), 334);
}

TEST_F(SaneNoBackends, AMachineWithoutScannersListsNone) {
    EXPECT_TRUE(ListScanDevices().empty());
    EXPECT_THROW(OpenScanDevice("nosuchbackend:0"), DorvexError);
}
