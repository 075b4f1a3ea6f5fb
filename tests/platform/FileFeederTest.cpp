// The file feeder ("file:PATH") on folders and files made here.

#include <gtest/gtest.h>

#include <filesystem>
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

// Scans until the feeder stops; the numbers of the pages delivered, and the status it stopped with.
std::vector<int> FeedAll(IScanDevice& device, DeviceStatus& stop) {
    std::vector<int> numbers;
    Raster page;
    while ((stop = device.ScanPage(page)) == DeviceStatus::Good && numbers.size() < 50) numbers.push_back(PageNumberOf(page));
    return numbers;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const DorvexError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(FileFeeder, FeedsAFolderInNameOrderSkippingWhatIsNoImage) {
    test::TempFolder dir;
    const std::string folder = dir.File("in");
    std::filesystem::create_directory(folder);
    NumberedPage(2).Save(folder + "/b.tif", fileformat::TiffG4);
    NumberedPage(1, 8).Save(folder + "/a.png", fileformat::Png);
    NumberedPage(3).Save(folder + "/c.tif", fileformat::TiffG4);
    NumberedPage(4).Save(folder + "/c.tif", fileformat::TiffG4, 2, SaveMode::Append);
    NumberedPage(5, 24).Save(folder + "/d.jpg", fileformat::Jpeg);
    NumberedPage(9).Save(folder + "/.hidden.tif", fileformat::TiffG4);
    ASSERT_TRUE(WriteBytesToFile("not a page", folder + "/notes.txt"));
    ASSERT_TRUE(WriteBytesToFile("text named like an image", folder + "/bb.tif"));
    ASSERT_TRUE(WriteBytesToFile("", folder + "/empty.png"));
    std::filesystem::create_directory(folder + "/sub.tif");

    auto device = OpenScanDevice("file:" + folder);
    EXPECT_EQ(device->Name(), "file:" + folder);
    DeviceStatus stop = DeviceStatus::Good;
    // A run may end early: the next run goes on from the next page.
    Raster page;
    ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good);
    EXPECT_EQ(PageNumberOf(page), 1);
    device->EndRun();
    EXPECT_EQ(FeedAll(*device, stop), (std::vector<int>{2, 3, 4, 5}));
    EXPECT_EQ(stop, DeviceStatus::NoDocs);
    EXPECT_FALSE(device->LastError().empty());
    device->EndRun();
    // Paper once fed is gone.
    EXPECT_EQ(device->ScanPage(page), DeviceStatus::NoDocs);
    EXPECT_TRUE(page.Empty());
}

TEST(FileFeeder, FeedsThePagesOfOneMultiPageFile) {
    test::TempFolder dir;
    const std::string file = dir.File("doc.tif");
    for (int k = 1; k <= 3; ++k) NumberedPage(k).Save(file, fileformat::TiffG4, k, SaveMode::Append);
    auto device = OpenScanDevice("file:" + file);
    DeviceStatus stop = DeviceStatus::Good;
    EXPECT_EQ(FeedAll(*device, stop), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(stop, DeviceStatus::NoDocs);
}

TEST(FileFeeder, ModeConvertsThePagesAndResolutionFollowsTheNextPage) {
    test::TempFolder dir;
    const std::string folder = dir.File("in");
    std::filesystem::create_directory(folder);
    NumberedPage(1).Save(folder + "/1.tif", fileformat::TiffG4);  // 200 dpi, 1 bit
    Raster fine = NumberedPage(2, 24);
    fine.SetDpi(300, 300);
    fine.Save(folder + "/2.png", fileformat::Png);
    NumberedPage(3, 8).Save(folder + "/3.tif", fileformat::TiffLzw);
    NumberedPage(4, 24).Save(folder + "/4.png", fileformat::Png);

    auto device = OpenScanDevice("file:" + folder);
    DeviceOption mode = *device->Option("mode");
    EXPECT_EQ(mode.choices, (std::vector<std::string>{"Lineart", "Gray", "Color"}));
    EXPECT_EQ(mode.value, "Lineart");  // as the first page is
    DeviceOption source = *device->Option("source");
    EXPECT_EQ(source.choices, (std::vector<std::string>{"Automatic Document Feeder", "Flatbed"}));
    EXPECT_EQ(source.value, "Automatic Document Feeder");
    DeviceOption resolution = *device->Option("resolution");
    EXPECT_FALSE(resolution.active);
    EXPECT_FALSE(resolution.settable);
    EXPECT_EQ(resolution.unit, "dpi");
    EXPECT_EQ(resolution.value, "200");

    Raster page;
    ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good);
    EXPECT_EQ(page.BitsPerPixel(), 1);
    EXPECT_EQ(device->Option("resolution")->value, "300");

    ASSERT_TRUE(device->SetOption("mode", "Gray"));
    ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good);
    EXPECT_EQ(page.BitsPerPixel(), 8);
    EXPECT_EQ(page.XDpi(), 300);
    EXPECT_EQ(PageNumberOf(page), 2);

    ASSERT_TRUE(device->SetOption("mode", "Color"));
    ASSERT_TRUE(device->SetOption("source", "Flatbed"));  // the glass gives the next page too
    ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good);
    EXPECT_EQ(page.BitsPerPixel(), 24);
    EXPECT_EQ(PageNumberOf(page), 3);

    ASSERT_TRUE(device->SetOption("mode", "Lineart"));
    ASSERT_EQ(device->ScanPage(page), DeviceStatus::Good);
    EXPECT_EQ(page.BitsPerPixel(), 1);
    EXPECT_EQ(PageNumberOf(page), 4);

    EXPECT_FALSE(device->SetOption("mode", "Sepia"));
    EXPECT_FALSE(device->LastError().empty());
    EXPECT_FALSE(device->SetOption("resolution", "300"));
    EXPECT_FALSE(device->SetOption("duplex", "1"));
    EXPECT_EQ(device->Option("mode")->value, "Lineart");
    EXPECT_EQ(device->ScanPage(page), DeviceStatus::NoDocs);
    EXPECT_EQ(device->Option("resolution")->value, "200");  // the last page's, with none to come
}

TEST(FileFeeder, DamagedFilesFailWhenFedAfterTheEarlierPages) {
    test::TempFolder dir;
    const std::string folder = dir.File("in");
    std::filesystem::create_directory(folder);
    NumberedPage(1).Save(folder + "/1.tif", fileformat::TiffG4);
    // A PNG cut in half.
    NumberedPage(2, 8).Save(folder + "/2.png", fileformat::Png);
    std::string png = ReadFileBytes(folder + "/2.png");
    ASSERT_TRUE(WriteBytesToFile(png.substr(0, png.size() / 2), folder + "/2.png"));
    // Three grey pages whose second points past the end of the file.
    test::WriteGrayTiff(folder + "/3.tif", 3, 200, 120, 0, 2);
    // Three grey pages cut short in the third.
    test::WriteGrayTiff(folder + "/4.tif", 3, 200, 120);
    std::string tiff = ReadFileBytes(folder + "/4.tif");
    ASSERT_TRUE(WriteBytesToFile(tiff.substr(0, tiff.size() * 7 / 10), folder + "/4.tif"));
    NumberedPage(5).Save(folder + "/5.tif", fileformat::TiffG4);

    auto device = OpenScanDevice("file:" + folder);
    struct Step {
        DeviceStatus status;
        std::string file;
    };
    const std::vector<Step> expected = {
        {DeviceStatus::Good, "1.tif"},    {DeviceStatus::IoError, "2.png"}, {DeviceStatus::Good, "3.tif"},
        {DeviceStatus::IoError, "3.tif"}, {DeviceStatus::Good, "3.tif"},    {DeviceStatus::Good, "4.tif"},
        {DeviceStatus::Good, "4.tif"},    {DeviceStatus::IoError, "4.tif"}, {DeviceStatus::Good, "5.tif"},
        {DeviceStatus::NoDocs, ""}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        Raster page;
        DeviceStatus status = device->ScanPage(page);
        EXPECT_EQ(status, expected[i].status) << "scan " << i + 1 << ": " << device->LastError();
        EXPECT_EQ(page.Empty(), status != DeviceStatus::Good) << "scan " << i + 1;
        if (status == DeviceStatus::IoError) {
            EXPECT_NE(device->LastError().find(folder + "/" + expected[i].file), std::string::npos)
                << "scan " << i + 1 << ": " << device->LastError();
        }
    }
}

TEST(FileFeeder, OpeningWithoutPagesThrows) {
    test::TempFolder dir;
    EXPECT_NE(ErrorOf([&] { OpenScanDevice("file:" + dir.File("missing")); }).find(dir.File("missing")), std::string::npos);
    EXPECT_THROW(OpenScanDevice("file:"), DorvexError);
    ASSERT_TRUE(WriteBytesToFile("text", dir.File("notes.txt")));
    EXPECT_NE(ErrorOf([&] { OpenScanDevice("file:" + dir.Path()); }).find("no image files"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { OpenScanDevice("file:" + dir.File("notes.txt")); }).find("not an image"), std::string::npos);
}
