// The file feeder ("file:PATH") on folders and files made here.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "TestImages.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "platform/Raster.h"
#include "platform/ScanDevice.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;
using test::NumberedPage;
using test::PageNumberOf;

namespace {

// The numbers of the pages fed until the feeder stops, then how it stopped.
std::vector<int> FeedAll(IScanDevice& device, DeviceStatus& stop) {
    std::vector<int> numbers;
    Raster page;
    while ((stop = device.ScanPage(page)) == DeviceStatus::Good && numbers.size() < 50) numbers.push_back(PageNumberOf(page));
    return numbers;
}

std::string OpenError(const std::string& name) {
    try {
        OpenScanDevice(name);
    } catch (const DorvexError& e) {
        return e.what();
    }
    return "(opened)";
}

}  // namespace

TEST(FileFeeder, FeedsAFolderInNameOrderSkippingWhatIsNoImage) {
    test::TempFolder dir;
    const std::string in = dir.Path() + "/";
    NumberedPage(2).Save(in + "b.tif", fileformat::TiffG4);
    NumberedPage(1, 8).Save(in + "a.png", fileformat::Png);
    NumberedPage(3).Save(in + "c.tif", fileformat::TiffG4);
    NumberedPage(4).Save(in + "c.tif", fileformat::TiffG4, 2, SaveMode::Append);
    NumberedPage(5, 24).Save(in + "d.jpg", fileformat::Jpeg);
    NumberedPage(9).Save(in + ".hidden.tif", fileformat::TiffG4);
    ASSERT_TRUE(WriteBytesToFile("not a page", in + "notes.txt") && WriteBytesToFile("text", in + "bb.tif") &&
                WriteBytesToFile("", in + "empty.png"));
    std::filesystem::create_directory(in + "sub.tif");

    auto device = OpenScanDevice("file:" + dir.Path());
    EXPECT_EQ(device->Name(), "file:" + dir.Path());
    Raster page;
    ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good);
    EXPECT_EQ(PageNumberOf(page), 1);
    device->EndRun();  // the next run goes on from the next page
    DeviceStatus stop = DeviceStatus::Good;
    EXPECT_EQ(FeedAll(*device, stop), (std::vector<int>{2, 3, 4, 5}));
    EXPECT_EQ(stop, DeviceStatus::NoDocs);
    EXPECT_FALSE(device->LastError().empty());
    device->EndRun();
    EXPECT_EQ(device->ScanPage(page), DeviceStatus::NoDocs);  // paper once fed is gone

    auto file = OpenScanDevice("file:" + in + "c.tif");  // one multi-page file
    EXPECT_EQ(FeedAll(*file, stop), (std::vector<int>{3, 4}));
    EXPECT_EQ(stop, DeviceStatus::NoDocs);
}

TEST(FileFeeder, ModeConvertsThePagesAndResolutionFollowsTheNextPage) {
    test::TempFolder dir;
    NumberedPage(1).Save(dir.File("1.tif"), fileformat::TiffG4);  // 1 bit, 200 dpi
    Raster fine = NumberedPage(2, 24);
    fine.SetDpi(300, 300);
    fine.Save(dir.File("2.png"), fileformat::Png);
    NumberedPage(3, 8).Save(dir.File("3.tif"), fileformat::TiffLzw);
    NumberedPage(4, 24).Save(dir.File("4.png"), fileformat::Png);

    auto device = OpenScanDevice("file:" + dir.Path());
    DeviceOption mode = *device->Option("mode");
    EXPECT_EQ(mode.choices, (std::vector<std::string>{"Lineart", "Gray", "Color"}));
    EXPECT_EQ(mode.value, "Lineart");  // as the first page is
    EXPECT_EQ(device->Option("source")->choices, (std::vector<std::string>{"Automatic Document Feeder", "Flatbed"}));
    DeviceOption resolution = *device->Option("resolution");
    EXPECT_FALSE(resolution.active || resolution.settable);
    EXPECT_EQ(resolution.value, "200");

    Raster page;
    ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good);
    EXPECT_EQ(page.BitsPerPixel(), 1);
    EXPECT_EQ(device->Option("resolution")->value, "300");
    const std::vector<std::pair<std::string, int>> steps = {{"Gray", 8}, {"color", 24}, {"Lineart", 1}};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        ASSERT_TRUE(device->SetOption("mode", steps[i].first));
        ASSERT_TRUE(device->SetOption("source", i == 1 ? "Flatbed" : "Automatic Document Feeder"));  // the glass feeds too
        ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good);
        EXPECT_EQ(page.BitsPerPixel(), steps[i].second);
        EXPECT_EQ(PageNumberOf(page), static_cast<int>(i) + 2);
    }
    EXPECT_EQ(page.XDpi(), 200);
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"mode", "Sepia"}, {"resolution", "300"}, {"duplex", "1"}}) {
        EXPECT_FALSE(device->SetOption(name, value)) << name;
        EXPECT_FALSE(device->LastError().empty()) << name;
    }
    EXPECT_EQ(device->Option("mode")->value, "Lineart");
}

// A pace makes the feeder as slow as a real one (for demonstrations and the benchmarks): a page
// comes no sooner than the pace allows after the one before.
TEST(FileFeeder, APaceSpacesThePages) {
    test::TempFolder dir;
    for (int k = 1; k <= 3; ++k) NumberedPage(k).Save(dir.File(std::to_string(k) + ".tif"), fileformat::TiffG4);
    auto device = OpenScanDevice("file:" + dir.Path());
    EXPECT_EQ(device->Option("pages-per-minute")->value, "0");
    for (const char* refused : {"-1", "1001", "fast", ""}) EXPECT_FALSE(device->SetOption("pages-per-minute", refused)) << refused;
    ASSERT_TRUE(device->SetOption("pages-per-minute", "600"));  // one page every 100 ms
    EXPECT_EQ(device->Option("pages-per-minute")->value, "600");
    const auto start = std::chrono::steady_clock::now();
    DeviceStatus stop = DeviceStatus::Good;
    EXPECT_EQ(FeedAll(*device, stop), (std::vector<int>{1, 2, 3}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

TEST(FileFeeder, DamagedFilesFailWhenFedAfterTheEarlierPages) {
    test::TempFolder dir;
    NumberedPage(1).Save(dir.File("1.tif"), fileformat::TiffG4);
    NumberedPage(2, 8).Save(dir.File("2.png"), fileformat::Png);
    std::string png = ReadFileBytes(dir.File("2.png"));
    ASSERT_TRUE(WriteBytesToFile(png.substr(0, png.size() / 2), dir.File("2.png")));
    test::WriteGrayTiff(dir.File("3.tif"), 3, 200, 120, 0, 2);  // page 2 points past the end
    test::WriteGrayTiff(dir.File("4.tif"), 3, 200, 120);
    std::string tiff = ReadFileBytes(dir.File("4.tif"));
    ASSERT_TRUE(WriteBytesToFile(tiff.substr(0, tiff.size() * 7 / 10), dir.File("4.tif")));  // cut in page 3
    NumberedPage(5).Save(dir.File("5.tif"), fileformat::TiffG4);

    auto device = OpenScanDevice("file:" + dir.Path());
    const std::vector<std::pair<DeviceStatus, std::string>> expected = {
        {DeviceStatus::Good, "1.tif"},    {DeviceStatus::IoError, "2.png"}, {DeviceStatus::Good, "3.tif"},
        {DeviceStatus::IoError, "3.tif"}, {DeviceStatus::Good, "3.tif"},    {DeviceStatus::Good, "4.tif"},
        {DeviceStatus::Good, "4.tif"},    {DeviceStatus::IoError, "4.tif"}, {DeviceStatus::Good, "5.tif"},
        {DeviceStatus::NoDocs, ""}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        Raster page;
        const DeviceStatus status = device->ScanPage(page);
        EXPECT_EQ(status, expected[i].first) << "scan " << i + 1 << ": " << device->LastError();
        EXPECT_EQ(page.Empty(), status != DeviceStatus::Good) << "scan " << i + 1;
        if (status == DeviceStatus::IoError) {
            EXPECT_NE(device->LastError().find(dir.File(expected[i].second)), std::string::npos) << device->LastError();
        }
    }
}

TEST(FileFeeder, OpeningWithoutPagesThrows) {
    test::TempFolder dir;
    EXPECT_NE(OpenError("file:" + dir.File("missing")).find(dir.File("missing") + " does not exist"), std::string::npos);
    EXPECT_NE(OpenError("file:").find("folder or an image file"), std::string::npos);
    ASSERT_TRUE(WriteBytesToFile("text", dir.File("notes.txt")));
    EXPECT_NE(OpenError("file:" + dir.Path()).find("no image files"), std::string::npos);
    EXPECT_NE(OpenError("file:" + dir.File("notes.txt")).find("not an image"), std::string::npos);
}

TEST(DeviceStatus, EveryStatusHasItsOwnText) {
    std::set<std::string> texts;
    for (int s = static_cast<int>(DeviceStatus::Good); s <= static_cast<int>(DeviceStatus::Failed); ++s) {
        texts.insert(DeviceStatusText(static_cast<DeviceStatus>(s)));
    }
    EXPECT_EQ(texts.size(), 10u);
    EXPECT_EQ(std::string(DeviceStatusText(DeviceStatus::Jammed)), "document feeder jammed");
}
