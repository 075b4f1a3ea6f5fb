// Scheduling through the real `at`: only our own jobs are replaced, SetLater's minute, the
// scan window's scheduling and its failure, and one job run to completion by atd.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>

#include "ScriptedPrompter.h"
#include "SmallDisk.h"
#include "TestImages.h"
#include "TestUtil.h"
#include "control/FrmScan.h"
#include "model/FrmDelayUpload.h"
#include "model/ScanList.h"
#include "model/SettingsStore.h"
#include "platform/AtQueue.h"
#include "refserver/RefServer.h"
#include "refserver/Storage.h"
#include "server/DelayUpload.h"
#include "server/Robot.h"
#include "support/CodePage.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

// atd running, started here when it is not and we may; "" when ready, else why not.
std::string EnsureAtd() {
    std::string out;
    if (RunProgram({"atq"}, "", out) != 0) return "the at package is not installed: " + out;
    auto running = [] {
        std::ifstream pidFile("/run/atd.pid");
        long pid = 0;
        return pidFile >> pid && pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
    };
    if (running()) return {};
    if (::geteuid() != 0) return "atd is not running and only root may start it here (systemctl start atd)";
    if (RunProgram({"atd"}, "", out) != 0) return "atd does not start: " + out;
    for (int i = 0; i < 50 && !running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return running() ? std::string() : "atd started but wrote no /run/atd.pid";
}

class AtJobs : public ::testing::Test {
protected:
    void SetUp() override {
        // The build script says when atd cannot run on this machine (not root, another atd).
        if (const char* unavailable = std::getenv("DORVEX_ATD_UNAVAILABLE")) GTEST_SKIP() << unavailable;
        std::string why = EnsureAtd();
        // Elsewhere CI starts atd: there a missing scheduler is a failure, not a reason to skip.
        if (!why.empty() && std::getenv("CI") != nullptr) GTEST_FAIL() << why;
        if (!why.empty()) GTEST_SKIP() << why;
        ::setenv("DORVEX_CLI", DORVEX_BIN, 1);
        ::setenv("XDG_CONFIG_HOME", tmp.File("config").c_str(), 1);
        queue.RemoveOwn();
    }
    void TearDown() override {
        queue.RemoveOwn();  // no job stays behind
        for (const std::string& id : foreign) {
            std::string out;
            RunProgram({"atrm", id}, "", out);
        }
    }
    // Another program's job, in our queue letter and in the default one.
    void AddForeignJobs() {
        for (const char* q : {"d", "a"}) {
            std::string out;
            ASSERT_EQ(RunProgram({"at", "-q", q, "23:59"}, "true\n", out), 0) << out;
            std::size_t at = out.find("job ");
            ASSERT_NE(at, std::string::npos) << out;
            foreign.push_back(out.substr(at + 4, out.find(' ', at + 4) - at - 4));
        }
    }
    std::string AllJobs() {
        std::string out;
        RunProgram({"atq"}, "", out);
        return out;
    }

    test::TempFolder tmp;
    test::ScriptedPrompter person;
    AtQueue queue;
    std::vector<std::string> foreign;
};

// A scan window on `list` that answers the time dialog with hour:minute.
struct ScanWindow {
    ScanWindow(test::ScriptedPrompter& person, std::shared_ptr<CScanList> list, const std::string& url)
        : scan(person, &store) {
        scan.SetScanCompleteList(std::move(list));
        scan.SetProperties(prop::ServerUrl, url);
        scan.SetProperties(prop::Operator, "王小明");
        scan.DVDPrefix = "P";
        scan.ShowDelayUploadDialog = [](FrmDelayUpload& dialog) {
            dialog.CmbMinute.Select(5);
            dialog.CmdOK_Click();
        };
    }
    SettingsStore store;
    FrmScan scan;
};

std::shared_ptr<CScanList> OneDocument(const test::TempFolder& tmp, const std::string& inno, int pages) {
    auto list = std::make_shared<CScanList>();
    auto doc = list->Add("B", inno);
    doc->EnableMultiTIFF = false;
    for (int i = 1; i <= pages; ++i) {
        std::string path = tmp.File(inno + "-" + std::to_string(i) + ".tif");
        test::WriteGrayTiff(path, 1, 8 + i, 8);
        doc->NewPage(path);
    }
    return list;
}

}  // namespace

TEST_F(AtJobs, SchedulingReplacesOnlyOurOwnJobAndSetLaterRoundsToTheMinute) {
    AddForeignJobs();
    {
        // Another desk's delayed upload (its own temporary folder).
        test::TempFolder other;
        AtQueue otherQueue;
        Robot otherRobot(person, otherQueue);
        ASSERT_TRUE(otherRobot.SetTimeout("23:45", "CSCRIPT " + other.File(kScriptFileName))) << otherRobot.LastError();
        ASSERT_EQ(otherQueue.OwnJobs().size(), 1u);
        foreign.push_back(otherQueue.OwnJobs()[0].id);
    }
    Robot robot(person, queue);
    const std::string command = "CSCRIPT " + tmp.File(kScriptFileName);
    ASSERT_TRUE(robot.SetTimeout("23:40", command)) << robot.LastError();
    ASSERT_TRUE(robot.SetTimeout("23:50", command)) << robot.LastError();
    std::vector<AtJob> own = queue.OwnJobs();
    ASSERT_EQ(own.size(), 1u) << AllJobs();
    EXPECT_NE(own[0].when.find("23:50:00"), std::string::npos) << own[0].when;
    for (const std::string& id : foreign) EXPECT_NE(AllJobs().find(id + "\t"), std::string::npos) << AllJobs();

    // SetLater at 10:00:30 schedules 10:01.
    std::tm ten{};
    std::time_t now = std::time(nullptr);
    ASSERT_NE(::localtime_r(&now, &ten), nullptr);
    ten.tm_hour = 10, ten.tm_min = 0, ten.tm_sec = 30;
    std::time_t tenOClock = std::mktime(&ten);
    robot.Clock = [tenOClock] { return tenOClock; };
    ASSERT_TRUE(robot.SetLater(command)) << robot.LastError();
    own = queue.OwnJobs();
    ASSERT_EQ(own.size(), 1u) << AllJobs();
    EXPECT_NE(own[0].when.find("10:01:00"), std::string::npos) << own[0].when;

    robot.Test();
    EXPECT_TRUE(queue.OwnJobs().empty());
    for (const std::string& id : foreign) EXPECT_NE(AllJobs().find(id + "\t"), std::string::npos) << AllJobs();
}

TEST_F(AtJobs, TheScanWindowListsBothExportsKeepsOneJobAndTellsWhenSchedulingFails) {
    person.folder = tmp.File("out");
    std::filesystem::create_directories(person.folder);
    ScanWindow first(person, OneDocument(tmp, "A1", 2), "http://127.0.0.1:9/upload.php");
    first.scan.DelayUpload();
    ScanWindow second(person, OneDocument(tmp, "A2", 1), "http://127.0.0.1:9/upload.php");
    second.scan.DelayUpload();
    EXPECT_TRUE(person.messages.empty()) << person.messages.front();
    EXPECT_EQ(queue.OwnJobs().size(), 1u) << AllJobs();
    std::vector<ListFileLine> lines = ReadListFile(tmp.File(kListFileName));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].text, tmp.File("out/A1/0002.jpg") + ",P,A1,2,2,王小明");
    EXPECT_EQ(lines[2].fields[2], "A2");
    EXPECT_EQ(ReadFileBytes(tmp.File(kScriptFileName)), ToAnsi(ScriptText(tmp.Path(), "http://127.0.0.1:9/upload.php")));

    // A scheduler that refuses new jobs (it still shows the old ones): the person hears that
    // nothing will send the listed files.
    const std::string refusing = tmp.File("refusing-at");
    WriteFileAtomic(refusing, "#!/bin/sh\n[ \"$1\" = -c ] && exec at \"$@\"\necho 'cannot queue the job' >&2\nexit 1\n");
    ASSERT_EQ(::chmod(refusing.c_str(), 0755), 0);
    AtQueue broken(refusing);
    second.scan.Scheduler = &broken;
    second.scan.DelayUpload();
    ASSERT_EQ(person.messages.size(), 1u);
    EXPECT_NE(person.messages[0].find("無法排定"), std::string::npos) << person.messages[0];
    EXPECT_EQ(ReadListFile(tmp.File(kListFileName)).size(), 4u);
    // The job scheduled before still stands.
    EXPECT_EQ(queue.OwnJobs().size(), 1u) << AllJobs();
}

TEST_F(AtJobs, OnAFullDiskThePersonIsToldAndNothingIsScheduledOrLost) {
    test::SmallDisk disk("1m");
    DORVEX_NEED_SMALL_DISK(disk);
    auto list = OneDocument(tmp, "F1", 2);  // the page files stay on the big disk
    person.folder = disk.File("out");
    std::filesystem::create_directories(person.folder);
    const std::string listFile = disk.File(kListFileName);
    AppendListLines(listFile, ListLine({"/x/E1.tif", "P", "E1", 1, 0, "op"}));
    const std::string before = ReadFileBytes(listFile);
    ScanWindow window(person, list, "http://127.0.0.1:9/upload.php");
    disk.Fill();
    window.scan.DelayUpload();
    ASSERT_EQ(person.messages.size(), 1u);
    EXPECT_NE(person.messages[0].find("延遲上傳失敗"), std::string::npos) << person.messages[0];
    AtQueue diskQueue;
    EXPECT_TRUE(diskQueue.OwnJobs().empty()) << AllJobs();
    EXPECT_EQ(ReadFileBytes(listFile), before);

    // "全部另存" the same way: told, nothing half-written.
    window.scan.SaveAllPages();
    ASSERT_EQ(person.messages.size(), 2u);
    EXPECT_NE(person.messages[1].find("全部另存失敗"), std::string::npos) << person.messages[1];
    disk.Empty();
    window.scan.SaveAllPages();
    EXPECT_EQ(person.messages.size(), 2u);
    EXPECT_EQ(ReadFileBytes(disk.File("out/F1/0002.jpg")), ReadFileBytes(list->AllInnos()[0]->FilePaths(2)));
    EXPECT_EQ(ReadFileBytes(listFile), before);
}

// atd runs the job at the next minute: `dorvex cscript` sends the list to the server.
TEST_F(AtJobs, AScheduledJobSendsTheListToTheServer) {
    refserver::RefServerOptions options;
    options.dataDir = tmp.File("data");
    refserver::RefServer server(options);
    server.Start();
    const std::string url = server.BaseUrl() + "upload.php";
    person.folder = tmp.File("out");
    std::filesystem::create_directories(person.folder);
    ScanWindow window(person, OneDocument(tmp, "J1", 3), url);
    window.scan.DelayUpload();
    ASSERT_TRUE(person.messages.empty()) << person.messages.front();

    // The same job for the next minute instead of the one chosen, at least 15 s ahead: `at`
    // takes the current minute for tomorrow's.
    std::time_t now = std::time(nullptr);
    if (now % 60 >= 45) std::this_thread::sleep_for(std::chrono::seconds(61 - now % 60));
    std::time_t soon = std::time(nullptr) + 60;
    std::tm local{};
    ASSERT_NE(::localtime_r(&soon, &local), nullptr);
    char time[8];
    std::snprintf(time, sizeof time, "%02d:%02d", local.tm_hour, local.tm_min);
    Robot robot(person, queue);
    ASSERT_TRUE(robot.SetTimeout(time, "CSCRIPT " + tmp.File(kScriptFileName))) << robot.LastError();
    ASSERT_EQ(queue.OwnJobs().size(), 1u);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(110);
    while (std::chrono::steady_clock::now() < deadline &&
           (FileExists(tmp.File(kListFileName)) || !queue.OwnJobs().empty())) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::string log = FileExists(tmp.File("Dorvex.log")) ? ReadFileBytes(tmp.File("Dorvex.log")) : "";
    ASSERT_FALSE(FileExists(tmp.File(kListFileName))) << "the job did not run in time; its output: " << log;
    auto stored = refserver::Storage(tmp.File("data")).Find("J1");
    server.Stop();
    ASSERT_TRUE(stored) << log;
    EXPECT_EQ(stored->pages, 3);
    EXPECT_EQ(stored->files.size(), 3u);
    EXPECT_FALSE(FileExists(tmp.File("out/J1/0001.jpg")));
}
