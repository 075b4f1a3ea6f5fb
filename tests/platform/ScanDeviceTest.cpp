// SANE devices through the real SANE "test" backend. Each test process gets a SANE of its own:
// a private configuration folder (SANE_CONFIG_DIR) whose dll.conf names the test backend only,
// set before the first SANE call. SANE reads it once per process, so each setup below is its
// own ctest entry (a --gtest_filter on its suite); in a process set up otherwise a suite skips.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/Raster.h"
#include "platform/ScanDevice.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

enum class Setup { TwoDevices, HighResolution, NoBackends };

// The test backend's settings; pages are 80 x 100 mm at 50 dpi: 157 x 196 pixels.
std::string TestConf(int devices, int maxResolution) {
    return "number_of_devices " + std::to_string(devices) +
           "\nmode Gray\ndepth 8\nhand-scanner false\nthree-pass false\nthree-pass-order RGB\n"
           "resolution_min 1.0\nresolution_max " + std::to_string(maxResolution) + ".0\nresolution_quant 1.0\nresolution 50.0\n"
           "test-picture \"Solid black\"\ninvert-endianess false\nread-limit false\nread-delay false\n"
           "read-status-code \"Default\"\nfuzzy-parameters false\nppl-loss 0\nnon-blocking false\nselect-fd false\n"
           "enable-test-options false\ngeometry_min 0.0\ngeometry_max 200.0\ngeometry_quant 1.0\n"
           "tl_x 0.0\ntl_y 0.0\nbr_x 80.0\nbr_y 100.0\n";
}

// The configuration folder, removed when the process ends.
struct ConfigFolder {
    std::string path;
    ~ConfigFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

std::optional<Setup>& ProcessSetup() {
    static std::optional<Setup> setup;
    return setup;
}

// Sets this process's SANE up as `setup`; false when it was set up otherwise already.
bool UseSetup(Setup setup) {
    if (ProcessSetup()) return *ProcessSetup() == setup;
    static ConfigFolder folder;
    std::string pattern = (std::filesystem::temp_directory_path() / "dorvex-sane-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder.path = pattern;
    const bool backend = setup != Setup::NoBackends;
    if (!WriteBytesToFile(backend ? "test\n" : "# no backends\n", folder.path + "/dll.conf") ||
        !WriteBytesToFile(TestConf(setup == Setup::TwoDevices ? 2 : 1, setup == Setup::HighResolution ? 4800 : 1200),
                          folder.path + "/test.conf")) {
        throw std::runtime_error("cannot write the SANE configuration");
    }
    // No trailing ':' — SANE would then read the system's folders too.
    if (::setenv("SANE_CONFIG_DIR", folder.path.c_str(), 1) != 0) throw std::runtime_error("setenv failed");
    ProcessSetup() = setup;
    return true;
}

// Opens a test device with the configured settings: the test backend keeps the values set in
// one opening for the next within the process.
std::unique_ptr<IScanDevice> Open(const std::string& name) {
    std::unique_ptr<IScanDevice> device = OpenScanDevice(name);
    const std::vector<std::pair<std::string, std::string>> settings = {
        {"read-return-value", "Default"}, {"enable-test-options", "0"}, {"hand-scanner", "0"}, {"mode", "Color"},
        {"three-pass", "1"}, {"three-pass-order", "RGB"}, {"three-pass", "0"}, {"mode", "Gray"}, {"depth", "8"}, {"resolution", "50"},
        {"test-picture", "Solid black"}, {"source", "Flatbed"}, {"tl-x", "0"}, {"tl-y", "0"}, {"br-x", "80"}, {"br-y", "100"}};
    for (const auto& [option, value] : settings) EXPECT_TRUE(device->SetOption(option, value)) << option << ": " << device->LastError();
    return device;
}

std::string ValueOf(IScanDevice& device, const std::string& name) {
    std::optional<DeviceOption> option = device.Option(name);
    EXPECT_TRUE(option) << name;
    return option ? option->value : "";
}

bool AllBlack(const Raster& page) { return page.CountInk() == static_cast<std::int64_t>(page.Width()) * page.Height(); }

// The page's pixels as PNG bytes: two pages with the same pixels give the same bytes.
std::string PixelsOf(const Raster& page) {
    std::string path = (std::filesystem::temp_directory_path() / ("dorvex-sane-page-" + std::to_string(::getpid()) + ".png")).string();
    page.Save(path, fileformat::Png);
    std::string bytes = ReadFileBytes(path);
    std::filesystem::remove(path);
    return bytes;
}

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rgb& c) { return out << "(" << c.r << "," << c.g << "," << c.b << ")"; }

// The colours of a page, read back from a 24-bit BMP file of it.
class Colours {
public:
    explicit Colours(Raster page) {
        page.ConvertTo(24);
        std::string path = (std::filesystem::temp_directory_path() / ("dorvex-sane-page-" + std::to_string(::getpid()) + ".bmp")).string();
        page.Save(path, fileformat::Bmp);
        mBytes = ReadFileBytes(path);
        std::filesystem::remove(path);
        mWidth = page.Width();
        mHeight = page.Height();
        EXPECT_EQ(Word(28, 2), 24u);
    }
    Rgb At(int x, int y) const {
        const std::size_t row = ((static_cast<std::size_t>(mWidth) * 3 + 3) / 4) * 4;
        const std::size_t at = Word(10, 4) + row * static_cast<std::size_t>(mHeight - 1 - y) + static_cast<std::size_t>(x) * 3;
        auto byte = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(mBytes.at(i))); };
        return {byte(at + 2), byte(at + 1), byte(at)};
    }

private:
    std::uint32_t Word(std::size_t at, int size) const {
        std::uint32_t value = 0;
        for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(mBytes.at(at + static_cast<std::size_t>(i)));
        return value;
    }
    std::string mBytes;
    int mWidth = 0;
    int mHeight = 0;
};

Raster Scan(IScanDevice& device) {
    Raster page;
    EXPECT_EQ(device.ScanPage(page), DeviceStatus::Good) << device.LastError();
    device.EndRun();
    return page;
}

class SaneTwoDevices : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UseSetup(Setup::TwoDevices)) GTEST_SKIP() << "SANE was set up otherwise in this process; ctest runs this suite alone";
    }
};

class SaneHighResolution : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UseSetup(Setup::HighResolution)) GTEST_SKIP() << "SANE was set up otherwise in this process; ctest runs this suite alone";
    }
};

class SaneNoBackends : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UseSetup(Setup::NoBackends)) GTEST_SKIP() << "SANE was set up otherwise in this process; ctest runs this suite alone";
    }
};

}  // namespace

TEST_F(SaneTwoDevices, ListsExactlyTheConfiguredTestDevices) {
    std::vector<DeviceInfo> devices = ListScanDevices();
    ASSERT_EQ(devices.size(), 2u);
    std::sort(devices.begin(), devices.end(), [](const DeviceInfo& a, const DeviceInfo& b) { return a.name < b.name; });
    EXPECT_EQ(devices[0].name, "test:0");
    EXPECT_EQ(devices[1].name, "test:1");
    EXPECT_EQ(devices[0].vendor, "Noname");
    EXPECT_EQ(devices[0].model, "frontend-tester");
    EXPECT_EQ(devices[0].type, "virtual device");
    EXPECT_EQ(ListScanDevices().size(), 2u);  // a second listing in the same session
}

TEST_F(SaneTwoDevices, OptionsCarryTypesConstraintsUnitsAndValues) {
    auto device = Open("test:0");
    EXPECT_EQ(device->Name(), "test:0");
    std::vector<DeviceOption> options = device->Options();
    EXPECT_TRUE(std::any_of(options.begin(), options.end(), [](const DeviceOption& o) {
        return o.type == DeviceOption::Type::Group && o.name.empty() && o.title == "Geometry";
    }));

    DeviceOption mode = *device->Option("mode");
    EXPECT_EQ(mode.type, DeviceOption::Type::String);
    EXPECT_EQ(mode.choices, (std::vector<std::string>{"Gray", "Color"}));
    EXPECT_EQ(mode.value, "Gray");
    EXPECT_TRUE(mode.active);
    EXPECT_TRUE(mode.settable);

    DeviceOption depth = *device->Option("depth");
    EXPECT_EQ(depth.type, DeviceOption::Type::Int);
    EXPECT_EQ(depth.choices, (std::vector<std::string>{"1", "8", "16"}));
    EXPECT_EQ(depth.value, "8");
    EXPECT_EQ(depth.unit, "");

    DeviceOption resolution = *device->Option("resolution");
    EXPECT_EQ(resolution.type, DeviceOption::Type::Fixed);
    EXPECT_EQ(resolution.unit, "dpi");
    EXPECT_EQ(resolution.min, 1.0);
    EXPECT_EQ(resolution.max, 1200.0);
    EXPECT_EQ(resolution.step, 1.0);
    EXPECT_EQ(resolution.value, "50");

    DeviceOption source = *device->Option("source");
    EXPECT_EQ(source.choices, (std::vector<std::string>{"Flatbed", "Automatic Document Feeder"}));
    EXPECT_EQ(source.value, "Flatbed");

    for (const char* side : {"tl-x", "tl-y", "br-x", "br-y"}) {
        DeviceOption edge = *device->Option(side);
        EXPECT_EQ(edge.type, DeviceOption::Type::Fixed) << side;
        EXPECT_EQ(edge.unit, "mm") << side;
        EXPECT_EQ(edge.min, 0.0) << side;
        EXPECT_EQ(edge.max, 200.0) << side;
    }
    EXPECT_EQ(ValueOf(*device, "br-x"), "80");
    EXPECT_EQ(ValueOf(*device, "br-y"), "100");

    // Options that depend on others: three-pass counts in colour only.
    EXPECT_EQ(device->Option("three-pass")->type, DeviceOption::Type::Bool);
    EXPECT_FALSE(device->Option("three-pass")->active);
    EXPECT_FALSE(device->Option("read-limit-size")->active);
    EXPECT_EQ(device->Option("print-options")->type, DeviceOption::Type::Button);
    EXPECT_EQ(device->Option("print-options")->value, "");
    EXPECT_FALSE(device->Option("no-such-option"));
    EXPECT_FALSE(device->Option(""));

    ASSERT_TRUE(device->SetOption("mode", "Color"));
    EXPECT_TRUE(device->Option("three-pass")->active);
    EXPECT_EQ(ValueOf(*device, "three-pass"), "0");

    // The backend's own test options: read-only, word lists, several values.
    ASSERT_TRUE(device->SetOption("enable-test-options", "1"));
    DeviceOption readOnly = *device->Option("bool-soft-detect");
    EXPECT_TRUE(readOnly.active);
    EXPECT_FALSE(readOnly.settable);
    EXPECT_EQ(device->Option("int-constraint-word-list")->choices.front(), "-42");
    EXPECT_EQ(device->Option("int-constraint-array")->value, "");
    DeviceOption fixedList = *device->Option("fixed-constraint-word-list");
    EXPECT_EQ(fixedList.type, DeviceOption::Type::Fixed);
    EXPECT_FALSE(fixedList.choices.empty());
}

TEST_F(SaneTwoDevices, SetOptionTakesNumbersListsAndBooleansAndRefusesWhatDoesNotFit) {
    auto device = Open("test:0");
    EXPECT_TRUE(device->SetOption("resolution", "300"));
    EXPECT_EQ(ValueOf(*device, "resolution"), "300");
    EXPECT_TRUE(device->SetOption("resolution", "5000"));  // clamped by the device
    EXPECT_EQ(ValueOf(*device, "resolution"), "1200");
    EXPECT_TRUE(device->SetOption("br-x", "60"));
    EXPECT_EQ(ValueOf(*device, "br-x"), "60");
    EXPECT_TRUE(device->SetOption("mode", "color"));  // a list entry in any case
    EXPECT_EQ(ValueOf(*device, "mode"), "Color");
    EXPECT_TRUE(device->SetOption("hand-scanner", "1"));
    EXPECT_EQ(ValueOf(*device, "hand-scanner"), "1");
    EXPECT_TRUE(device->SetOption("depth", "16"));
    EXPECT_EQ(ValueOf(*device, "depth"), "16");

    auto refused = [&](const std::string& name, const std::string& value) {
        bool taken = device->SetOption(name, value);
        EXPECT_FALSE(taken) << name << "=" << value;
        EXPECT_FALSE(device->LastError().empty()) << name << "=" << value;
    };
    refused("no-such-option", "1");
    refused("", "1");
    refused("br-x", "10");         // inactive for a hand scanner
    refused("read-limit-size", "64");  // inactive until read-limit is on
    refused("mode", "Sepia");
    refused("resolution", "abc");
    refused("resolution", "300dpi");
    refused("resolution", "");
    refused("depth", "8.5");
    refused("hand-scanner", "maybe");
    EXPECT_EQ(ValueOf(*device, "mode"), "Color");
    EXPECT_EQ(ValueOf(*device, "depth"), "16");
    ASSERT_TRUE(device->SetOption("enable-test-options", "1"));
    refused("bool-soft-detect", "1");  // the device sets it, software only reads it
    refused("int-constraint-array", "4");  // several values
}

TEST_F(SaneTwoDevices, OpeningAnUnknownOrOpenDeviceThrowsAndClosingFreesIt) {
    EXPECT_THROW(OpenScanDevice("test:7"), DorvexError);
    EXPECT_THROW(OpenScanDevice("nosuchbackend:0"), DorvexError);
    EXPECT_THROW(OpenScanDevice(""), DorvexError);
    {
        auto first = Open("test:1");
        try {
            OpenScanDevice("test:1");
            ADD_FAILURE() << "a device open twice";
        } catch (const DorvexError& e) {
            EXPECT_NE(std::string(e.what()).find("busy"), std::string::npos) << e.what();
        }
    }
    EXPECT_NO_THROW(Open("test:1"));
}

TEST_F(SaneTwoDevices, FlatbedGreyPageHasTheScanSizeAndResolution) {
    auto device = Open("test:0");
    Raster page = Scan(*device);
    EXPECT_EQ(page.Width(), 157);
    EXPECT_EQ(page.Height(), 196);
    EXPECT_EQ(page.BitsPerPixel(), 8);
    EXPECT_EQ(page.XDpi(), 50);
    EXPECT_EQ(page.YDpi(), 50);
    EXPECT_TRUE(AllBlack(page));

    ASSERT_TRUE(device->SetOption("test-picture", "Solid white"));
    ASSERT_TRUE(device->SetOption("resolution", "100"));
    page = Scan(*device);
    EXPECT_EQ(page.Width(), 314);
    EXPECT_EQ(page.Height(), 393);
    EXPECT_EQ(page.XDpi(), 100);
    EXPECT_EQ(page.CountInk(), 0);
}

TEST_F(SaneTwoDevices, OneBitPagesKeepBlackAsBlackAndTheirBitOrder) {
    auto device = Open("test:0");
    ASSERT_TRUE(device->SetOption("depth", "1"));
    Raster black = Scan(*device);
    EXPECT_EQ(black.BitsPerPixel(), 1);
    EXPECT_EQ(black.Width(), 157);  // not a whole number of bytes: the last bits are no pixels
    EXPECT_TRUE(AllBlack(black));
    ASSERT_TRUE(device->SetOption("test-picture", "Solid white"));
    EXPECT_EQ(Scan(*device).CountInk(), 0);

    // The grid at 1 bit has its ink where the grid at 8 bits has it.
    ASSERT_TRUE(device->SetOption("test-picture", "Grid"));
    ASSERT_TRUE(device->SetOption("resolution", "100"));
    Raster lineArt = Scan(*device);
    ASSERT_TRUE(device->SetOption("depth", "8"));
    Raster grey = Scan(*device);
    ASSERT_EQ(lineArt.Width(), grey.Width());
    ASSERT_EQ(lineArt.Height(), grey.Height());
    EXPECT_GT(grey.CountInk(), 0);
    EXPECT_LT(grey.CountInk(), static_cast<std::int64_t>(grey.Width()) * grey.Height());
    int differences = 0;
    for (int y = 0; y < grey.Height(); ++y) {
        for (int x = 0; x < grey.Width(); ++x) differences += lineArt.IsBlack(x, y) != grey.IsBlack(x, y);
    }
    EXPECT_EQ(differences, 0);
}

TEST_F(SaneTwoDevices, SixteenBitSamplesAreReducedToTheirHighByte) {
    auto device = Open("test:0");
    ASSERT_TRUE(device->SetOption("test-picture", "Color pattern"));
    ASSERT_TRUE(device->SetOption("depth", "16"));
    // In the backend's 16-bit pattern the high byte grows from left to right (0 at x = 4), the
    // low byte from top to bottom (0 at y = 4); in colour the band is red.
    Raster grey = Scan(*device);
    EXPECT_EQ(grey.BitsPerPixel(), 8);
    Colours g(grey);
    EXPECT_EQ(g.At(10, 150), (Rgb{6, 6, 6}));
    EXPECT_EQ(g.At(150, 20), (Rgb{146, 146, 146}));
    ASSERT_TRUE(device->SetOption("mode", "Color"));
    Raster colour = Scan(*device);
    EXPECT_EQ(colour.BitsPerPixel(), 24);
    Colours c(colour);
    EXPECT_EQ(c.At(10, 150), (Rgb{6, 0, 0}));
    EXPECT_EQ(c.At(150, 20), (Rgb{146, 0, 0}));
}

TEST_F(SaneTwoDevices, OneBitColourSamplesAreFullOrNoIntensity) {
    auto device = Open("test:0");
    ASSERT_TRUE(device->SetOption("mode", "Color"));
    ASSERT_TRUE(device->SetOption("depth", "1"));
    Raster black = Scan(*device);
    EXPECT_EQ(black.BitsPerPixel(), 24);
    EXPECT_EQ(black.Width(), 157);
    EXPECT_TRUE(AllBlack(black));
    ASSERT_TRUE(device->SetOption("test-picture", "Solid white"));
    Raster white = Scan(*device);
    EXPECT_EQ(white.CountInk(), 0);
    EXPECT_EQ(Colours(white).At(156, 195), (Rgb{255, 255, 255}));
}

TEST_F(SaneTwoDevices, ColourInOneFrameOrThreePassesGivesTheSamePage) {
    auto device = Open("test:0");
    ASSERT_TRUE(device->SetOption("mode", "Color"));
    Raster black = Scan(*device);
    EXPECT_EQ(black.BitsPerPixel(), 24);
    EXPECT_EQ(black.Width(), 157);
    EXPECT_EQ(black.Height(), 196);
    EXPECT_TRUE(AllBlack(black));

    ASSERT_TRUE(device->SetOption("test-picture", "Color pattern"));
    Raster single = Scan(*device);
    // The backend's pattern: bands of 5 lines, red, red, green, green, blue, blue.
    Colours colours(single);
    EXPECT_EQ(colours.At(47, 7), (Rgb{246, 0, 0}));
    EXPECT_EQ(colours.At(47, 17), (Rgb{0, 246, 0}));
    EXPECT_EQ(colours.At(47, 27), (Rgb{0, 0, 246}));
    ASSERT_TRUE(device->SetOption("three-pass", "1"));
    Raster rgb = Scan(*device);
    ASSERT_TRUE(device->SetOption("three-pass-order", "BGR"));
    Raster bgr = Scan(*device);
    EXPECT_EQ(rgb.BitsPerPixel(), 24);
    EXPECT_EQ(PixelsOf(rgb), PixelsOf(single));
    EXPECT_EQ(PixelsOf(bgr), PixelsOf(single));
}

TEST_F(SaneTwoDevices, HandScannerPageOfUnknownHeightIsReadToItsEnd) {
    auto device = Open("test:0");
    ASSERT_TRUE(device->SetOption("hand-scanner", "1"));
    Raster page = Scan(*device);
    EXPECT_EQ(page.Width(), 216);   // 110 mm at 50 dpi
    EXPECT_EQ(page.Height(), 334);  // 170 mm at 50 dpi
    EXPECT_TRUE(AllBlack(page));
    ASSERT_TRUE(device->SetOption("mode", "Color"));
    ASSERT_TRUE(device->SetOption("three-pass", "1"));
    page = Scan(*device);
    EXPECT_EQ(page.BitsPerPixel(), 24);
    EXPECT_EQ(page.Height(), 334);
}

TEST_F(SaneTwoDevices, FeederGivesTenPagesThenNoDocs) {
    for (const char* mode : {"Gray", "Color"}) {
        auto device = Open("test:0");
        ASSERT_TRUE(device->SetOption("source", "Automatic Document Feeder"));
        ASSERT_TRUE(device->SetOption("mode", mode));
        std::vector<Raster> pages;
        Raster page;
        DeviceStatus status;
        while ((status = device->ScanPage(page)) == DeviceStatus::Good && pages.size() < 20) {
            pages.push_back(page);
        }
        EXPECT_EQ(status, DeviceStatus::NoDocs) << mode << ": " << device->LastError();
        EXPECT_TRUE(page.Empty());
        device->EndRun();
        ASSERT_EQ(pages.size(), 10u) << mode;
        for (const Raster& p : pages) {
            EXPECT_EQ(p.Width(), 157);
            EXPECT_EQ(p.Height(), 196);
            EXPECT_EQ(p.BitsPerPixel(), std::string(mode) == "Gray" ? 8 : 24);
        }
    }
}

namespace {
struct Fault {
    const char* code;
    DeviceStatus status;
};
class SaneTwoDevicesFault : public SaneTwoDevices, public ::testing::WithParamInterface<Fault> {};
}  // namespace

TEST_P(SaneTwoDevicesFault, AFaultInTheMiddleOfAFeederRunKeepsTheEarlierPages) {
    auto device = Open("test:0");
    ASSERT_TRUE(device->SetOption("source", "Automatic Document Feeder"));
    std::vector<Raster> pages(3);
    for (Raster& page : pages) ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good) << device->LastError();
    ASSERT_TRUE(device->SetOption("read-return-value", GetParam().code)) << device->LastError();
    Raster broken = Raster::Blank(10, 10, 8);
    EXPECT_EQ(device->ScanPage(broken), GetParam().status) << device->LastError();
    EXPECT_TRUE(broken.Empty());
    EXPECT_FALSE(device->LastError().empty());
    for (const Raster& page : pages) {
        EXPECT_EQ(page.Width(), 157);
        EXPECT_EQ(page.Height(), 196);
        EXPECT_TRUE(AllBlack(page));
    }
    // The failed scan left the device idle: it takes settings, and the feeder goes on.
    ASSERT_TRUE(device->SetOption("read-return-value", "Default")) << device->LastError();
    Raster next;
    EXPECT_EQ(device->ScanPage(next), DeviceStatus::Good) << device->LastError();
    EXPECT_EQ(next.Width(), 157);
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
                                           Fault{"SANE_STATUS_UNSUPPORTED", DeviceStatus::Failed},
                                           Fault{"SANE_STATUS_INVAL", DeviceStatus::Failed}),
                         [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.code).substr(12); });

TEST_F(SaneTwoDevices, AnEndOfDataBeforeAnyLineIsNoPage) {
    auto device = Open("test:0");
    ASSERT_TRUE(device->SetOption("read-return-value", "SANE_STATUS_EOF"));
    Raster page;
    EXPECT_EQ(device->ScanPage(page), DeviceStatus::Failed);
    EXPECT_TRUE(page.Empty());
    EXPECT_NE(device->LastError().find("no image data"), std::string::npos) << device->LastError();
}

TEST_F(SaneHighResolution, APageOverThePixelBudgetIsRefusedBeforeItIsRead) {
    auto device = Open("test:0");
    ASSERT_TRUE(device->SetOption("resolution", "4800"));
    ASSERT_TRUE(device->SetOption("br-x", "200"));
    ASSERT_TRUE(device->SetOption("br-y", "200"));
    Raster page;
    EXPECT_EQ(device->ScanPage(page), DeviceStatus::Failed);
    EXPECT_TRUE(page.Empty());
    EXPECT_NE(device->LastError().find("too large"), std::string::npos) << device->LastError();
    // The device is usable afterwards.
    ASSERT_TRUE(device->SetOption("resolution", "50"));
    EXPECT_EQ(device->ScanPage(page), DeviceStatus::Good) << device->LastError();
    device->EndRun();
}

TEST_F(SaneHighResolution, AHandScannerPageIsReadOnlyUpToThePixelBudget) {
    auto device = Open("test:0");
    ASSERT_TRUE(device->SetOption("hand-scanner", "1"));
    ASSERT_TRUE(device->SetOption("depth", "1"));
    ASSERT_TRUE(device->SetOption("resolution", "4800"));  // 20787 pixels wide, 32125 lines long
    Raster page;
    EXPECT_EQ(device->ScanPage(page), DeviceStatus::Failed);
    EXPECT_TRUE(page.Empty());
    EXPECT_NE(device->LastError().find("longer than"), std::string::npos) << device->LastError();
}

TEST_F(SaneNoBackends, AMachineWithoutScannersListsNone) {
    EXPECT_TRUE(ListScanDevices().empty());
    EXPECT_THROW(OpenScanDevice("nosuchbackend:0"), DorvexError);
}
