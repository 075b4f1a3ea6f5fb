// The delayed upload's pieces without the scheduler: the time dialog, the export, the list
// and script files, the script runner and the robot working through a list against the
// reference server.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ScriptedPrompter.h"
#include "TestImages.h"
#include "TestUtil.h"
#include "model/FrmDelayUpload.h"
#include "model/ScanList.h"
#include "platform/AtQueue.h"
#include "platform/Raster.h"
#include "refserver/RefServer.h"
#include "refserver/Storage.h"
#include "server/DelayUpload.h"
#include "server/Robot.h"
#include "support/CodePage.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

std::tm At(int hour, int minute) {
    std::tm t{};
    t.tm_hour = hour;
    t.tm_min = minute;
    return t;
}

// A scan list of A1 (three single-page files) and M1 (one three-page TIFF).
struct Documents {
    explicit Documents(const test::TempFolder& dir) {
        a1 = list.Add("B", "A1");
        a1->EnableMultiTIFF = false;
        for (int i = 1; i <= 3; ++i) {
            std::string path = dir.File("a1-" + std::to_string(i) + ".tif");
            test::WriteGrayTiff(path, 1, 8 + i, 8);
            a1->NewPage(path);
        }
        m1 = list.Add("B", "M1");
        test::WriteGrayTiff(dir.File("m1.tif"), 3, 8, 8);
        m1->SetFilePath(dir.File("m1.tif"));
        m1->SetActPage(3);
    }
    CScanList list;
    std::shared_ptr<CInno> a1, m1;
};

class RobotList : public ::testing::Test {
protected:
    void SetUp() override {
        refserver::RefServerOptions options;
        options.dataDir = tmp.File("data");
        server = std::make_unique<refserver::RefServer>(options);
        server->Start();
        robot.ServerURL = server->BaseUrl() + "upload.php";
        std::filesystem::create_directories(tmp.File("out"));
    }
    void TearDown() override { server->Stop(); }
    std::optional<refserver::StoredDocument> Stored(const std::string& inno) {
        return refserver::Storage(tmp.File("data")).Find(inno);
    }
    std::string Export(Documents& docs) {
        return ExportScanListTo(docs.list, tmp.File("out"), true, "P", "王小明");
    }
    std::string ListText() { return FromAnsi(ReadFileBytes(list)); }

    test::TempFolder tmp;
    std::unique_ptr<refserver::RefServer> server;
    test::ScriptedPrompter person;
    AtQueue queue{"/nonexistent/at"};  // nothing here schedules
    Robot robot{person, queue};
    std::string list = tmp.File(kListFileName);
};

}  // namespace

TEST(FrmDelayUploadDialog, HoursFromNowMinutesInTensAndTheDefaults) {
    FrmDelayUpload late;
    late.Form_Load(At(22, 35));
    EXPECT_EQ(late.CmbHour.items, (std::vector<std::string>{"22", "23"}));
    EXPECT_EQ(late.CmbHour.text, "22");
    EXPECT_EQ(late.CmbMinute.items, (std::vector<std::string>{"00", "10", "20", "30", "40", "50"}));
    EXPECT_EQ(late.CmbMinute.text, "30");

    FrmDelayUpload morning;
    morning.Form_Load(At(9, 5));
    ASSERT_EQ(morning.CmbHour.items.size(), 15u);
    EXPECT_EQ(morning.CmbHour.items.front(), "09");
    EXPECT_EQ(morning.CmbHour.items.back(), "23");
    EXPECT_EQ(morning.CmbHour.text, "10");
    EXPECT_EQ(morning.CmbMinute.text, "00");
    EXPECT_FALSE(morning.ClickOK());
    morning.CmbMinute.Select(4);
    morning.CmdOK_Click();
    EXPECT_TRUE(morning.ClickOK());
    EXPECT_EQ(morning.Time(), "10:40");
    morning.CmdCancel_Click();
    EXPECT_FALSE(morning.ClickOK());

    FrmDelayUpload last;
    last.Form_Load(At(23, 59));
    EXPECT_EQ(last.CmbHour.items, (std::vector<std::string>{"23"}));
    EXPECT_EQ(last.CmbMinute.text, "50");
}

TEST(DelayUploadFiles, ScriptListAndExport) {
    test::TempFolder tmp;
    EXPECT_EQ(ScriptText("/t", "http://h/u.php"),
              "Const SRC_FILE = \"/t/Dorvex.dat\"\r\nConst SERVER_URL = \"http://h/u.php\"\r\nDim Robot\r\n"
              "Set Robot = CreateObject(\"Dorvex.Robot\")\r\nRobot.ServerURL = SERVER_URL\r\n"
              "Robot.UploadByListFile SRC_FILE\r\nSet Robot = Nothing\r\n");

    Documents docs(tmp);
    const std::string out = tmp.File("out");
    std::filesystem::create_directories(out + "/A1");
    WriteFileAtomic(out + "/A1/0002.jpg", "old");  // replaced
    std::string lines = ExportScanListTo(docs.list, out, true, "P", "王小明");
    EXPECT_EQ(lines, out + "/A1/0001.jpg,P,A1,3,1,王小明\r\n" + out + "/A1/0002.jpg,P,A1,3,2,王小明\r\n" + out +
                         "/A1/0003.jpg,P,A1,3,3,王小明\r\n" + out + "/M1.tif,P,M1,3,0,王小明\r\n");
    EXPECT_EQ(ReadFileBytes(out + "/A1/0002.jpg"), ReadFileBytes(docs.a1->FilePaths(2)));
    EXPECT_EQ(ReadFileBytes(out + "/M1.tif"), ReadFileBytes(docs.m1->FilePath()));
    // Without the list ("全部另存") the same files, no lines.
    EXPECT_EQ(ExportScanListTo(docs.list, out, false, "P", "op"), "");

    // Appended in CP950 with CR LF, the earlier lines kept.
    const std::string list = tmp.File(kListFileName);
    AppendListLines(list, lines);
    AppendListLines(list, ListLine({"/x/B2.tif", "P", "B2", 1, 0, "王小明"}));
    std::string bytes = ReadFileBytes(list);
    EXPECT_EQ(bytes, ToAnsi(lines + "/x/B2.tif,P,B2,1,0,王小明\r\n"));
    EXPECT_EQ(ReadListFile(list).size(), 5u);

    // A document number that would leave the folder, and a field the list cannot hold.
    docs.list.Add("B", "../up")->SetFilePath(docs.m1->FilePath());
    EXPECT_THROW(ExportScanListTo(docs.list, out, true, "P", "op"), DorvexError);
    EXPECT_THROW(ListLine({"/a,b.tif", "P", "X", 1, 0, "op"}), DorvexError);
}

TEST(DelayUploadFiles, ReadingIsBoundedAndTheScriptMustBeTheGeneratedOne) {
    test::TempFolder tmp;
    const std::string big = tmp.File("big.dat");
    std::filesystem::resize_file((std::ofstream(big), big), kMaxListBytes + 1);
    EXPECT_THROW(ReadListFile(big), DorvexError);
    std::string many;
    for (std::size_t i = 0; i <= kMaxListLines; ++i) many += "a,b\n";
    WriteFileAtomic(big, many);
    EXPECT_THROW(ReadListFile(big), DorvexError);

    test::ScriptedPrompter person;
    AtQueue queue{"/nonexistent/at"};
    Robot robot(person, queue);
    const std::string script = tmp.File(kScriptFileName);
    std::string text = ScriptText(tmp.Path(), "http://127.0.0.1:1/u.php");
    WriteFileAtomic(script, text.substr(0, text.find("Robot.UploadByListFile")) + "CreateObject(\"WScript.Shell\").Run \"rm -rf /\"\r\n");
    try {
        RunRobotScript(script, robot);
        FAIL() << "a foreign script ran";
    } catch (const DorvexError& e) {
        EXPECT_NE(std::string(e.what()).find("line 6"), std::string::npos) << e.what();
    }
    // The generated form, with LF only, runs: no list, nothing to do.
    std::string lf = text;
    for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.replace(at, 2, "\n");
    WriteFileAtomic(script, lf);
    EXPECT_NO_THROW(RunRobotScript(script, robot));
    EXPECT_EQ(robot.ServerURL, "http://127.0.0.1:1/u.php");
}

TEST_F(RobotList, SendsEveryListedPageAndDeletesWhatTheServerAccepted) {
    Documents docs(tmp);
    AppendListLines(list, Export(docs));
    WriteScriptFile(tmp.File(kScriptFileName), tmp.Path(), robot.ServerURL);
    RunRobotScript(tmp.File(kScriptFileName), robot);

    auto a1 = Stored("A1");
    ASSERT_TRUE(a1);
    EXPECT_EQ(a1->pages, 3);
    EXPECT_EQ(a1->files.size(), 3u);  // page 2 of 3 went up as page 2, after page 1
    auto m1 = Stored("M1");
    ASSERT_TRUE(m1);
    EXPECT_TRUE(m1->multiPage);
    EXPECT_FALSE(FileExists(tmp.File("out/A1/0002.jpg")));
    EXPECT_FALSE(FileExists(tmp.File("out/M1.tif")));
    EXPECT_FALSE(FileExists(list));
    EXPECT_TRUE(person.messages.empty());
}

TEST_F(RobotList, AFileTheServerRefusedStaysListedForTheNextRun) {
    Documents docs(tmp);
    AppendListLines(list, Export(docs));
    // The server holds M1 already: its file is refused as a duplicate.
    std::string held = tmp.File("held.tif");
    test::WriteGrayTiff(held, 1, 8, 8);
    ASSERT_TRUE(robot.UploadFile(held, "P", "M1", 1, 0, "op"));

    robot.UploadByListFile(list);
    EXPECT_TRUE(Stored("A1"));
    EXPECT_FALSE(FileExists(tmp.File("out/A1/0001.jpg")));
    EXPECT_TRUE(FileExists(tmp.File("out/M1.tif")));
    EXPECT_EQ(ListText(), tmp.File("out/M1.tif") + ",P,M1,3,0,王小明\r\n");

    // A run against no server keeps everything, in order.
    AppendListLines(list, Export(docs));
    std::string before = ListText();
    robot.ServerURL = "http://127.0.0.1:9/upload.php";
    robot.UploadByListFile(list);
    EXPECT_EQ(ListText(), before);
    EXPECT_TRUE(FileExists(tmp.File("out/A1/0001.jpg")));
}

TEST_F(RobotList, AFileExportedAgainWhileItIsSentIsNotDeleted) {
    const std::string page = tmp.File("out/R1.tif");
    test::WriteGrayTiff(page, 1, 8, 8);
    AppendListLines(list, ListLine({page, "P", "R1", 1, 0, "op"}));
    // The clerk exports R1 again while the robot sends it: a new file takes the old one's place.
    bool replaced = false;
    person.onYield = [&] {
        if (replaced) return;
        test::WriteGrayTiff(page + ".new", 1, 9, 9);
        std::filesystem::rename(page + ".new", page);
        replaced = true;
    };
    robot.UploadByListFile(list);
    ASSERT_TRUE(replaced);
    EXPECT_TRUE(Stored("R1"));
    EXPECT_TRUE(FileExists(page));
    EXPECT_EQ(ReadImageInfo(page).width, 9);
}

TEST_F(RobotList, AMissingFileIsDroppedAndAShortLineStopsTheRunKeepingTheRest) {
    Documents docs(tmp);
    std::string lines = Export(docs);
    std::string m1Line = lines.substr(lines.find(tmp.File("out/M1.tif")));
    std::string a1Page1 = lines.substr(0, lines.find("\r\n") + 2);
    std::filesystem::remove(tmp.File("out/A1/0001.jpg"));
    AppendListLines(list, a1Page1 + "no comma here\r\n" + m1Line + "/x/A9.tif,P,A9\r\n" + a1Page1);
    EXPECT_THROW(robot.UploadByListFile(list), DorvexError);
    EXPECT_TRUE(Stored("M1"));
    EXPECT_FALSE(FileExists(tmp.File("out/M1.tif")));
    EXPECT_EQ(ListText(), "/x/A9.tif,P,A9\r\n" + a1Page1);
}
