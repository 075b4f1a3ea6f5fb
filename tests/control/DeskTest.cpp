// The scan window's followers: after every edit the tree shows exactly the scan list's
// documents with their page counts, each node opens its own document, and the recovery file
// lists exactly the documents with unsent pages.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <random>
#include <string>
#include <vector>

#include "ScriptedPrompter.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "control/FrmScan.h"
#include "model/EditDialogs.h"
#include "model/PageEditing.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "platform/Raster.h"
#include "refserver/RefServer.h"
#include "refserver/Storage.h"
#include "support/ModFS.h"

namespace dorvex {
namespace {

struct Desk {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    SettingsStore store{dir.File("Dorvex.ini")};
    FrmScan window{person, &store};
    CScanList& list() { return *window.ScanCompleteList(); }

    Desk() { window.Form_Load(); }
    std::shared_ptr<CInno> Document(const std::string& inno, int pages, bool multi = true) {
        auto doc = list().Add("B", inno);
        doc->EnableMultiTIFF = multi;
        for (int k = 1; k <= pages; ++k) AppendPage(*doc, test::NumberedPage(k + 2));
        return doc;
    }
    int NodeOf(const std::string& inno) {
        for (int i = 1; i <= window.Tree.Count(); ++i) {
            auto doc = window.Tree.DocumentAt(list(), i);
            if (doc && doc->Inno() == inno) return i;
        }
        return 0;
    }
    void Show(const std::string& inno, int page = 1) {
        window.TreeView1_Click(NodeOf(inno));
        window.CbPg_Click(page);
    }
    // "inno(pages)" of every document node, in the order shown, after checking that each one
    // opens the document its label names.
    std::vector<std::string> Labels() {
        std::vector<std::string> labels;
        std::vector<int> stack = window.Tree.Children(0);
        std::vector<int> order;
        while (!stack.empty()) {
            int node = stack.front();
            stack.erase(stack.begin());
            order.push_back(node);
            std::vector<int> children = window.Tree.Children(node);
            stack.insert(stack.begin(), children.begin(), children.end());
        }
        for (int node : order) {
            const TreeNode* shown = window.Tree.Node(node);
            if (shown->Key.rfind("d,", 0) != 0) continue;
            labels.push_back(shown->Text);
            auto doc = window.Tree.DocumentAt(list(), node);
            EXPECT_TRUE(doc) << shown->Text;
            if (doc) {
                EXPECT_EQ(shown->Text, doc->Inno() + "(" + std::to_string(doc->ActPage()) + ")");
            }
        }
        return labels;
    }
    std::vector<std::string> Recovered() {
        std::vector<std::string> entries;
        for (const RecoveryEntry& entry : InspectRecoveryFile()) entries.push_back(entry.inno + "(" + std::to_string(entry.pages) + ")");
        return entries;
    }
};

using Labels = std::vector<std::string>;

TEST(Desk, TheTreeAndTheRecoveryFileFollowEveryPageEdit) {
    Desk desk;
    desk.Document("A", 1);
    desk.Document("B", 2);
    desk.Document("C", 1);
    auto e = desk.Document("E", 3, false);
    EXPECT_EQ(desk.Labels(), (Labels{"A(1)", "B(2)", "C(1)", "E(3)"}));

    // A's only page: A goes, and every other node still opens its own document.
    desk.Show("A");
    desk.window.ButtonClick("刪除");
    EXPECT_EQ(desk.Labels(), (Labels{"B(2)", "C(1)", "E(3)"}));
    EXPECT_EQ(desk.Recovered(), (Labels{"B(2)", "C(1)", "E(3)"}));

    // A page of E: its label follows.
    desk.Show("E", 2);
    desk.window.ButtonClick("刪除");
    EXPECT_EQ(desk.Labels(), (Labels{"B(2)", "C(1)", "E(2)"}));
    EXPECT_EQ(desk.Recovered(), (Labels{"B(2)", "C(1)", "E(2)"}));

    // Cut from B, paste into C.
    desk.Show("B", 2);
    desk.window.ButtonClick("剪下");
    desk.Show("C");
    desk.window.ButtonClick("貼上");
    EXPECT_EQ(desk.Labels(), (Labels{"B(1)", "C(2)", "E(2)"}));
    EXPECT_EQ(desk.Recovered(), (Labels{"B(1)", "C(2)", "E(2)"}));

    // Split E after its first page: the new document has its node, right after E.
    desk.window.Pages().ShowMergeCutDialog = [](FrmMergeCut& dialog) {
        dialog.Preset(false, 1, true, "F");
        dialog.ClickOK = true;
    };
    desk.Show("E");
    desk.window.Pages().ShowMergeCut(false, 1, true, "F");
    EXPECT_EQ(desk.Labels(), (Labels{"B(1)", "C(2)", "E(1)", "F(1)"}));
    EXPECT_EQ(desk.Recovered(), (Labels{"B(1)", "C(2)", "E(1)", "F(1)"}));

    // The tree's "刪除" on B deletes B, and only B.
    const std::string cFile = desk.list().GetInno2("C")->FilePath();
    desk.window.TreeDelete(desk.NodeOf("B"));
    EXPECT_EQ(desk.Labels(), (Labels{"C(2)", "E(1)", "F(1)"}));
    EXPECT_TRUE(FileExists(cFile));
    EXPECT_EQ(desk.Recovered(), (Labels{"C(2)", "E(1)", "F(1)"}));
    (void)e;
}

TEST(Desk, TheBatchCleanUpsDroppedPagesLeaveTheTreeAndTheRecoveryFile) {
    Desk desk;
    desk.window.SetProperties(prop::WPageRemove, "1");
    auto a = desk.Document("A", 2, false);
    AppendPage(*a, Raster::Blank(200, 120, 1));
    auto blank = desk.list().Add("B", "Z");
    AppendPage(*blank, Raster::Blank(200, 120, 1));
    EXPECT_EQ(desk.Labels(), (Labels{"A(3)", "Z(1)"}));
    desk.window.ButtonClick("刪除");  // nothing shown: nothing happens
    desk.window.MenuClick("mnuImg(11)");
    EXPECT_EQ(desk.Labels(), (Labels{"A(2)"}));
    EXPECT_EQ(desk.Recovered(), (Labels{"A(2)"}));
}

// ---- Random sequences of a person's actions ----

// Steps per seed: DORVEX_DESK_STEPS, else 1500 (300 in a sanitizer build).
int StepsPerSeed() {
    if (const char* steps = std::getenv("DORVEX_DESK_STEPS")) return std::max(std::atoi(steps), 1);
#if defined(__SANITIZE_ADDRESS__)
    return 300;
#else
    return 1500;
#endif
}

struct RandomDesk : Desk {
    std::mt19937 random;
    std::multiset<int> kept;  // the page numbers the person did not delete
    int nextNumber = 1;
    int renames = 0;
    std::string feed;
    std::unique_ptr<refserver::RefServer> server;
    int uploads = 0;
    int sentChecks = 0;  // documents found on the server as the model holds them

    explicit RandomDesk(unsigned seed) : random(seed) {
        refserver::RefServerOptions options;
        options.dataDir = dir.File("data");
        server = std::make_unique<refserver::RefServer>(options);
        server->Start();
        window.Props.Set(prop::ServerUrl, server->BaseUrl() + "upload.php");
        window.Props.Set(prop::Operator, "王小明");
        // A document sent, edited and sent again replaces the server's copy.
        window.EnableOverWrite = true;
        window.SetProperties(prop::WPageRemove, "0");
        // A scanned page lies on a whole sheet: only an empty one counts as the blank back.
        window.Props.Set(prop::BlankPercent, "0.01");
        window.Props.Set(prop::BRFlag, "0");
        window.Props.Set(prop::Feeder, "1");
        window.Props.Set(prop::ScanMode, "0");
        feed = dir.File("feed");
        window.Scanner().DeviceName = "file:" + feed;
        window.Pages().ShowMergeCutDialog = [](FrmMergeCut& dialog) { dialog.CmdOK_Click(); };
    }
    ~RandomDesk() { server->Stop(); }
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
    std::shared_ptr<CInno> AnyDocument() {
        auto docs = list().AllInnos();
        return docs.empty() ? nullptr : docs[static_cast<std::size_t>(Pick(static_cast<int>(docs.size())))];
    }
    int Total() {
        int total = 0;
        for (const auto& doc : list().AllInnos()) total += doc->ActPage();
        return total;
    }
    void SelectAny() {
        if (auto doc = AnyDocument()) Show(doc->Inno(), 1 + Pick(std::max(doc->ActPage(), 1)));
    }
    int ShownNumber() { return test::PageNumberOf(window.Pages().OneViewer.Image()); }
    // A page the person deletes; one not kept shows up at the next check.
    void Forget(int number) {
        if (auto at = kept.find(number); at != kept.end()) kept.erase(at);
    }

    std::string Step() {
        switch (Pick(11)) {
            case 0: {
                if (Total() > 24) return "select";
                std::filesystem::remove_all(feed);
                std::filesystem::create_directories(feed);
                const int pages = 1 + Pick(3);
                for (int i = 0; i < pages; ++i) {
                    const int number = 2 + (nextNumber++ % 15);
                    test::NumberedPage(number).Save(feed + "/" + std::to_string(100 + i) + ".tif", fileformat::TiffG4);
                    kept.insert(number);
                }
                window.ButtonClick("掃描");
                return "scan";
            }
            case 1: SelectAny(); return "select";
            case 2:
                SelectAny();
                if (window.Pages().OneViewer.HasImage()) {
                    Forget(ShownNumber());
                    window.ButtonClick("刪除");
                }
                return "delete page";
            case 3: {
                auto doc = AnyDocument();
                if (!doc) return "tree delete";
                for (int p = 1; p <= doc->ActPage(); ++p) Forget(test::PageNumberOf(LoadPage(*doc, p)));
                window.TreeDelete(NodeOf(doc->Inno()));
                return "tree delete";
            }
            case 4:
                SelectAny();
                window.ButtonClick("剪下");
                SelectAny();
                window.ButtonClick("貼上");
                return "cut and paste";
            case 5: {
                SelectAny();
                auto doc = window.Pages().CurrentDoc;
                if (!doc) return "split";
                window.Pages().ShowMergeCut(false, Pick(doc->ActPage()), Pick(2) == 0, "S" + std::to_string(nextNumber++));
                return "split";
            }
            case 6: {
                SelectAny();
                auto doc = window.Pages().CurrentDoc;
                auto other = AnyDocument();
                if (!doc || !other) return "merge";
                window.Pages().ShowMergeCut(true, Pick(doc->ActPage()), Pick(2) == 0, other->Inno());
                return "merge";
            }
            case 7: {
                auto doc = AnyDocument();
                if (doc) window.TreeView1_AfterLabelEdit(NodeOf(doc->Inno()), "R" + std::to_string(++renames) + "(9)");
                return "rename";
            }
            case 8:
                SelectAny();
                window.ButtonClick("逆時針旋轉");
                return "rotate";
            case 9:
                window.MenuClick("mnuImg(11)");
                return "batch clean-up";
            default:
                window.ButtonClick("儲存");
                ++uploads;
                return "upload";
        }
    }

    // Every follower agrees with the model, every page reads whole, nothing is lost.
    void Check() {
        std::vector<std::string> expected;
        for (const auto& doc : list().AllInnos()) expected.push_back(doc->Inno() + "(" + std::to_string(doc->ActPage()) + ")");
        std::vector<std::string> shown = Labels();
        std::sort(shown.begin(), shown.end());
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(shown, expected);
        std::map<std::string, int> unsent, recorded;
        std::multiset<int> numbers;
        for (const auto& doc : list().AllInnos()) {
            if (doc->state() == state::Changed || doc->state() == state::ChangedOther) unsent[doc->Inno()] = doc->ActPage();
            if (doc->EnableMultiTIFF) {
                ASSERT_EQ(ReadImageInfo(doc->FilePath()).pages, doc->ActPage()) << doc->Inno();
            }
            for (int p = 1; p <= doc->ActPage(); ++p) numbers.insert(test::PageNumberOf(LoadPage(*doc, p)));
        }
        for (const RecoveryEntry& entry : InspectRecoveryFile()) {
            ASSERT_TRUE(entry.problems.empty()) << entry.inno << ": " << entry.problems.front();
            recorded[entry.inno] = entry.pages;
        }
        ASSERT_EQ(recorded, unsent);
        ASSERT_EQ(numbers, kept);
        // A document the window calls sent is on the server as it stands.
        refserver::Storage storage(dir.File("data"));
        for (const auto& doc : list().AllInnos()) {
            if (doc->state() != state::Saved && doc->state() != state::SavedOther) continue;
            auto stored = storage.Find(doc->Inno());
            ASSERT_TRUE(stored) << doc->Inno() << " is marked sent";
            // A page's number, shape and ink: a rotation not sent shows.
            auto signature = [](const Raster& page) {
                return std::to_string(page.Width()) + "x" + std::to_string(page.Height()) + ":" + std::to_string(page.CountInk());
            };
            std::vector<std::string> onServer, inModel;
            for (const auto& file : stored->files) {
                for (int p = 1, n = ReadImageInfo(file.path).pages; p <= n; ++p) onServer.push_back(signature(Raster::Load(file.path, p)));
            }
            for (int p = 1; p <= doc->ActPage(); ++p) inModel.push_back(signature(LoadPage(*doc, p)));
            ASSERT_EQ(onServer, inModel) << doc->Inno();
            ++sentChecks;
        }
    }
};

TEST(Desk, RandomSequencesOfAPersonsActionsKeepEveryFollowerTrue) {
    const int steps = StepsPerSeed();
    int run = 0, sent = 0;
    for (unsigned seed : {1u, 2u, 3u, 20240607u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomDesk desk(seed);
        std::string last;
        for (int step = 1; step <= steps; ++step) {
            last = desk.Step();
            desk.Check();
            if (::testing::Test::HasFatalFailure()) {
                ADD_FAILURE() << "seed " << seed << " step " << step << " (" << last << ")";
                return;
            }
            ++run;
        }
        EXPECT_GT(desk.sentChecks, 0);
        sent += desk.sentChecks;
        // Nobody was asked anything but what these actions ask.
        for (const std::string& message : desk.person.messages) EXPECT_EQ(message, ScanPages::kCutSourceGone) << "seed " << seed;
    }
    std::cout << "[desk] " << run << " steps over 4 seeds, " << sent << " sent documents found on the server as shown\n";
}

}  // namespace
}  // namespace dorvex
