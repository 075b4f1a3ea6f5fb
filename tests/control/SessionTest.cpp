// Sessions of the control end to end: a host calls a Show method, a scripted person works in
// the scan window, the pages come from the file feeder and go to the reference server.

#include <gtest/gtest.h>

#include <filesystem>

#include "ScriptedPrompter.h"
#include "TestUtil.h"
#include "control/FrmScan.h"
#include "control/OrbScan.h"
#include "model/FrmConf.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "platform/Raster.h"
#include "refserver/RefServer.h"
#include "refserver/Storage.h"
#include "server/Cipher.h"
#include "server/Queries.h"
#include "server/ScriptedPeer.h"
#include "server/Upload.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModGlobal.h"
#include "support/ModShow.h"

namespace dorvex {
namespace {

using test::ScriptedPrompter;

// Page k of a feed: a block of 800·k dark pixels, never blank.
Raster FeedPage(int k) {
    Raster page = Raster::Blank(400, 300, 1, 200);
    for (int y = 100; y < 140; ++y) {
        for (int x = 20; x < 20 + 20 * k; ++x) page.SetBlack(x, y);
    }
    return page;
}
int FeedNumberIn(const std::string& path, int page) {
    return static_cast<int>((Raster::Load(path, page).CountInk() + 400) / 800);
}

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        mOldConfig = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_CONFIG_HOME", tmp.File("config").c_str(), 1);
        WriteFileAtomic(tmp.File("seed.xml"), R"(<Seed><Operator name="*">
            <ScanList><Item batchno="B1" inno="L1" pages="3"/></ScanList>
            <ScanCaps><Feeder>1</Feeder><DPI>200</DPI><UseBarcode>0</UseBarcode><EnableMultiTIFF>1</EnableMultiTIFF>
              <ImgFormat>G4</ImgFormat><EnableScanFix>0</EnableScanFix><ScanMode>0</ScanMode></ScanCaps>
            </Operator></Seed>)");
        refserver::RefServerOptions options;
        options.dataDir = tmp.File("data");
        options.seedFile = tmp.File("seed.xml");
        server = std::make_unique<refserver::RefServer>(options);
        server->Start();
        url = server->BaseUrl() + "upload.php";
        control.SetEncServerURL(EncryptText(url));
        control.SetEncOperator(EncryptText("王小明"));
    }
    void TearDown() override {
        server->Stop();
        if (mOldConfig) ::setenv("XDG_CONFIG_HOME", mOldConfig->c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
    }
    // Loads the feeder with pages first..last and makes it the chosen device.
    void Feed(int first, int last) {
        std::string folder = tmp.File("feed");
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        for (int k = first; k <= last; ++k) {
            char name[16];
            std::snprintf(name, sizeof name, "/%03d.tif", k);
            FeedPage(k).Save(folder + name, fileformat::TiffG4);
        }
        SettingsStore store;
        store.Set("Twain", Acquisition::kSourceKey, "file:" + folder);
        store.Save();
    }
    std::optional<refserver::StoredDocument> Stored(const std::string& inno) {
        refserver::Storage storage(tmp.File("data"));
        return storage.Find(inno);
    }

    test::TempFolder tmp;
    std::optional<std::string> mOldConfig;
    std::unique_ptr<refserver::RefServer> server;
    std::string url;
    ScriptedPrompter person;
    InProcessHost host{person};
    OrbScan control{host};
};

TEST_F(Session, ASingleDocumentIsScannedUploadedAndItsMessagesReachThePage) {
    Feed(1, 3);
    control.SetEncInno(EncryptText("A1"));
    std::vector<std::string> relayed;
    control.DebugMessage.Connect([&](const std::string& text) { relayed.push_back(text); });
    std::string tmpFile;
    host.Person = [&](FrmScan& window) {
        EXPECT_EQ(window.Properties(prop::Mode), "2");
        EXPECT_EQ(window.Properties(prop::Inno), "A1");
        EXPECT_EQ(window.Properties(prop::ServerUrl), url);
        window.StartScan(true);
        auto doc = window.ScanCompleteList()->GetInno2("A1");
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->ActPage(), 3);
        tmpFile = doc->FilePath();
        EXPECT_EQ(InspectRecoveryFile().size(), 1u);
        window.ImgUpload();
        EXPECT_EQ(doc->state(), state::SavedOther);
        // Sent: a crash now would not bring it back as unsent.
        EXPECT_TRUE(InspectRecoveryFile().empty());
    };
    control.ShowSingleTwain();
    ASSERT_EQ(relayed.size(), 2u);
    EXPECT_EQ(relayed[0], "上傳網址:" + url);
    EXPECT_EQ(relayed[1], "Inno=A1\r\nErrCode=1\r\nErrDescription=");
    auto stored = Stored("A1");
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->files.size(), 1u);
    for (int page = 1; page <= 3; ++page) EXPECT_EQ(FeedNumberIn(stored->files[0].path, page), page);
    // Everything was saved: closing asked nothing and deleted the temporary files.
    EXPECT_TRUE(person.messages.empty());
    EXPECT_FALSE(FileExists(tmpFile));
    EXPECT_FALSE(FileExists(RecoveryFilePath()));
}

TEST_F(Session, ClosingWithUnsavedPagesKeepsThemAndTheNextSessionRestoresThem) {
    Feed(1, 4);
    person.answers = {MsgResult::No, MsgResult::Cancel};  // not now; keep the temporary files
    std::string file;
    host.Person = [&](FrmScan& window) {
        window.StartScan(true);
        ASSERT_EQ(window.ScanCompleteList()->AllInnos().size(), 1u);
        file = window.ScanCompleteList()->LastCInno()->FilePath();
    };
    control.ShowMultiTwain("");
    ASSERT_EQ(person.messages.size(), 2u);
    EXPECT_EQ(person.messages[0], FrmScan::kAskSave);
    EXPECT_EQ(person.messages[1], FrmScan::kAskDeleteTmp);
    EXPECT_EQ(person.boxes[1].buttons, MsgButtons::OKCancel);
    ASSERT_TRUE(FileExists(file));
    std::vector<RecoveryEntry> waiting = InspectRecoveryFile();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].pages, 4);
    EXPECT_TRUE(waiting[0].problems.empty());
    EXPECT_FALSE(Stored(waiting[0].inno));

    // The next session offers the recovery file, restores it and uploads the pages.
    ScriptedPrompter again;
    again.answers = {MsgResult::OK};
    InProcessHost host2(again);
    OrbScan control2(host2);
    control2.SetEncServerURL(EncryptText(url));
    control2.SetEncOperator(EncryptText("王小明"));
    host2.Person = [&](FrmScan& window) {
        auto doc = window.ScanCompleteList()->GetInno2(waiting[0].inno);
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->ActPage(), 4);
        window.OnlyScanList = false;
        window.ImgUpload();
    };
    control2.ShowMultiTwain("");
    ASSERT_FALSE(again.messages.empty());
    EXPECT_EQ(again.messages[0], ScanPages::kRestoreQuestion);
    auto stored = Stored(waiting[0].inno);
    ASSERT_TRUE(stored);
    for (int page = 1; page <= 4; ++page) EXPECT_EQ(FeedNumberIn(stored->files[0].path, page), page);
}

TEST_F(Session, KeepingTheFileAsksNothingAndTellsThePageWhereItIs) {
    Feed(1, 2);
    control.SetEncInno(EncryptText("K1"));
    host.Person = [](FrmScan& window) { window.StartScan(true); };
    control.ShowSingleTwainB();
    EXPECT_TRUE(person.messages.empty());
    ASSERT_FALSE(control.LastTmpFile().empty());
    ASSERT_TRUE(FileExists(control.LastTmpFile()));
    EXPECT_EQ(ReadImageInfo(control.LastTmpFile()).pages, 2);
    EXPECT_EQ(FeedNumberIn(control.LastTmpFile(), 2), 2);
}

TEST_F(Session, EditingDownloadsTheDocumentsTheServerHolds) {
    // A document on the server first, sent as the scan window sends it.
    Feed(3, 5);
    control.SetEncInno(EncryptText("E1"));
    host.Person = [](FrmScan& window) {
        window.StartScan(true);
        window.ImgUpload();
    };
    control.ShowSingleTwain();
    ASSERT_TRUE(Stored("E1"));

    // One document: the window downloads it when it is activated.
    control.SetEncBatchNo(EncryptText("B7"));
    host.Person = [](FrmScan& window) {
        EXPECT_EQ(window.Properties(prop::Mode), "1");
        EXPECT_EQ(window.Properties(prop::BatchNo), "B7");
        auto doc = window.Pages().CurrentDoc;
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->Inno(), "E1");
        ASSERT_EQ(doc->ActPage(), 3);
        EXPECT_EQ(FeedNumberIn(doc->FilePath(), 1), 3);
        EXPECT_TRUE(window.Pages().OneViewer.HasImage());
    };
    control.ShowSimpleEdit();

    // Several: the control's own list, downloaded document by document.
    control.AddInno("E1", 3, true, "B7");
    host.Person = [](FrmScan& window) {
        EXPECT_FALSE(window.OnlyScanList);
        auto doc = window.ScanCompleteList()->GetInno2("E1");
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->ActPage(), 3);
        EXPECT_TRUE(doc->FilesExists());
        EXPECT_EQ(FeedNumberIn(doc->FilePath(), 3), 5);
    };
    control.ShowMultiEdit("");
}

TEST_F(Session, ASingleDocumentWindowAsksForItsNumberUntilOneIsTyped) {
    Feed(1, 1);
    person.inputs = {std::string("   "), std::nullopt, std::string("Z9")};
    host.Person = [](FrmScan& window) { EXPECT_EQ(window.Properties(prop::Inno), "Z9"); };
    control.ShowSingleTwain();
    EXPECT_TRUE(person.inputs.empty());
}

TEST_F(Session, AScanOfAListedDocumentMarksItScanned) {
    Feed(1, 2);
    host.Person = [](FrmScan& window) {
        window.CmbBatchNoText = "B1";
        window.StartScan(true);
        auto doc = window.ScanCompleteList()->LastCInno();
        ASSERT_TRUE(doc);
        // The tree shows the scanned list with the new document under its batch.
        int node = window.Tree.FindKey("d," + doc->Inno());
        ASSERT_GT(node, 0);
        EXPECT_EQ(window.Tree.Node(node)->Text, doc->Inno() + "(2)");
        EXPECT_EQ(window.Tree.DocumentAt(*window.ScanCompleteList(), node), doc);
        // A double click shows it from its first page.
        EXPECT_EQ(doc->SelectedIndex, 2);
        window.TreeView1_DblClick(node);
        EXPECT_EQ(doc->SelectedIndex, 1);
        EXPECT_EQ(FeedNumberIn(window.Pages().OneViewer.FilePath(), window.Pages().OneViewer.Page()), 1);
        // Renaming it to the listed number makes the list's entry scanned.
        window.TreeView1_AfterLabelEdit(node, "L1(2)");
        EXPECT_EQ(doc->Inno(), "L1");
        EXPECT_EQ(window.ServerList->GetInno2("L1")->state(), state::Scanned);
        EXPECT_EQ(InspectRecoveryFile().at(0).inno, "L1");
        // Deleting it from the tree: its record goes first, then its file.
        std::string file = doc->FilePath();
        window.TreeDelete(window.Tree.FindKey("d,L1"));
        EXPECT_EQ(window.ScanCompleteList()->GetInno2("L1"), nullptr);
        EXPECT_FALSE(FileExists(file));
        EXPECT_FALSE(FileExists(RecoveryFilePath()));
        EXPECT_EQ(window.ServerList->GetInno2("L1")->state(), state::New);
    };
    person.answers = {MsgResult::No, MsgResult::OK};
    control.ShowMultiTwain("");
}

// ---- The control's own surface ----

TEST(Control, PropertiesNotifyTheHostAndTheReadOnlyOnesRefuse) {
    ScriptedPrompter person;
    InProcessHost host(person);
    OrbScan control(host);
    control.SetProxy("p:1");
    control.SetProxy("p:1");
    control.SetSessionId("s");
    EXPECT_EQ(host.ChangedKeys, (std::vector<std::string>{"Proxy", "Proxy", "SessionID"}));
    try {
        control.SetUploadReport("x");
        FAIL();
    } catch (const DorvexError& e) {
        EXPECT_EQ(e.Number(), 382);
    }
    host.Running = false;
    try {
        control.SetLastTmpFile("x");
        FAIL();
    } catch (const DorvexError& e) {
        EXPECT_EQ(e.Number(), 387);
    }
    EXPECT_EQ(control.UploadReport(), "");
    EXPECT_EQ(host.ChangedKeys.size(), 3u);
    EXPECT_THROW(control.SetByKey("NoSuchThing", "1"), DorvexError);
}

TEST(Control, ThePropertyBagKeepsEveryValueAndTheSwitchesWaitForTheSetters) {
    ScriptedPrompter person;
    InProcessHost host(person);
    SetTopMostEnabled(false);
    SetOcrEnabled(false);
    OrbScan first(host);
    first.InitProperties();
    EXPECT_TRUE(first.OnlyScanList());
    EXPECT_TRUE(first.ScanListVisible());
    EXPECT_TRUE(first.EnableOverWrite());
    first.SetByKey("EnableTopMost", "True");
    first.SetByKey("EnableOCR", "1");
    first.SetByKey("OnlyScanList", "False");
    first.SetEncInno("cipher,with=odd|chars");
    EXPECT_TRUE(IsTopMostEnabled());
    EXPECT_TRUE(IsOcrEnabled());
    PropertyBag bag;
    first.WriteProperties(bag);
    EXPECT_EQ(bag.Values().size(), 16u);

    SetTopMostEnabled(false);
    SetOcrEnabled(false);
    OrbScan second(host);
    second.ReadProperties(bag);
    EXPECT_TRUE(second.EnableTopMost());
    EXPECT_TRUE(second.EnableOCR());
    EXPECT_FALSE(second.OnlyScanList());
    EXPECT_EQ(second.EncInno(), "cipher,with=odd|chars");
    // Read back, the switches stay as they were until the page sets them again.
    EXPECT_FALSE(IsTopMostEnabled());
    EXPECT_FALSE(IsOcrEnabled());
    // Missing keys take the defaults.
    OrbScan third(host);
    third.ReadProperties(PropertyBag());
    EXPECT_TRUE(third.OnlyScanList());
    EXPECT_FALSE(third.EnableOCR());
}

TEST(Control, AddInnoFillsTheControlsOwnList) {
    ScriptedPrompter person;
    InProcessHost host(person);
    OrbScan control(host);
    control.AddInno("D1", 5, false, "B1");
    control.AddInno("D2", 1, true, "B2");
    auto doc = control.ScanList().GetInno2("D1");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->ActPage(), 5);
    EXPECT_FALSE(doc->EnableMultiTIFF);
    EXPECT_EQ(control.ScanList().Length(), 2);
    // One number in two batches: each batch's document keeps its own pages and storage.
    control.AddInno("D1", 3, true, "B2");
    EXPECT_EQ(doc->ActPage(), 5);
    EXPECT_FALSE(doc->EnableMultiTIFF);
    auto second = control.ScanList().GetInno("B2", "D1");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->ActPage(), 3);
    EXPECT_TRUE(second->EnableMultiTIFF);
}

TEST(Control, UploadsWithoutAFolderOrAPrefixDoNothing) {
    ScriptedPrompter person;
    InProcessHost host(person);
    OrbScan control(host);
    control.UploadDir("");  // no prefix: nothing, not even the folder question
    person.folder = "";
    control.UploadFileWithInno("A1");  // the person cancels the folder choice
    test::TempFolder tmp;
    person.folder = tmp.Path();
    control.UploadFileWithInno("A1");  // no A1.tif there
    std::filesystem::create_directories(tmp.File("A2.tif"));
    control.UploadFileWithInno("A2");  // a folder is not the file
    EXPECT_EQ(control.UploadReport(), "");
    EXPECT_TRUE(person.messages.empty());
}

TEST(Control, AWrongCipherStopsTheMethodBeforeAnyWindow) {
    ScriptedPrompter person;
    InProcessHost host(person);
    OrbScan control(host);
    control.SetEncServerURL("not a cipher text");
    bool opened = false;
    host.BeforeLoad = [&](FrmScan&) { opened = true; };
    EXPECT_THROW(control.ShowMultiTwainA(), DorvexError);
    EXPECT_FALSE(opened);
}

// ---- The window's own timer ----

TEST(ScanWindow, TheKeepAliveGoesToTempPhpEveryTenthTickWithTheCookie) {
    test::ScriptedPeer peer({test::PeerAction::Reply("ok")}, true);
    ScriptedPrompter person;
    FrmScan window(person);
    window.SetProperties(prop::ServerUrl, peer.Url("/a/b.php"));
    window.SessionId = "xyz";
    for (int i = 0; i < 20; ++i) window.RefreshTimer_Timer();
    EXPECT_TRUE(peer.Requests().empty());  // no cookie name: the timer never started
    window.SetSessionIdName("PHPSESSID");
    for (int i = 0; i < 9; ++i) window.RefreshTimer_Timer();
    EXPECT_TRUE(peer.Requests().empty());
    window.RefreshTimer_Timer();
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Path(), "/a/temp.php");
    EXPECT_NE(requests[0].Header("Cookie").find("PHPSESSID=xyz"), std::string::npos);
    window.SetProperties(prop::ServerUrl, "no-slash");
    EXPECT_EQ(window.KeepAliveUrl(), "temp.php");
}

}  // namespace
}  // namespace dorvex

namespace dorvex {
namespace {

TEST_F(Session, SavedChoicesGoOverTheServersValuesWhetherOrNotItAnswers) {
    SettingsStore store;
    store.Set("Twain", "DPI", "300");
    store.Set("Twain", "UseBarcode", "1");
    store.Save();
    for (bool serverAnswers : {true, false}) {
        ScriptedPrompter someone;
        FrmScan window(someone);
        window.SetProperties(prop::Mode, "0");
        window.SetProperties(prop::ServerUrl, serverAnswers ? url : "http://127.0.0.1:1/x");
        window.Form_Load();
        EXPECT_EQ(window.Properties(prop::DPI), "300") << serverAnswers;
        EXPECT_EQ(window.Properties(prop::UseBarcode), "1") << serverAnswers;
        // A server value that nobody saved stays the server's.
        if (serverAnswers) {
            EXPECT_EQ(window.Properties(prop::Feeder), "1");
        }
    }
}

}  // namespace
}  // namespace dorvex

namespace dorvex {
namespace {

TEST_F(Session, TheControlsUploadsRelayEachResultAndKeepTheReport) {
    // A folder of two documents, chosen by the person.
    std::filesystem::create_directories(tmp.File("out"));
    for (const char* name : {"U1", "U2"}) {
        Raster page = FeedPage(2);
        page.Save(tmp.File(std::string("out/") + name + ".tif"), fileformat::TiffG4);
    }
    person.folder = tmp.File("out");
    std::vector<std::string> results;
    control.AfterUpload.Connect([&](const std::string& inno, long code, const std::string&) {
        results.push_back(inno + "=" + std::to_string(code));
    });
    control.UploadDir("P1");
    EXPECT_EQ(results, (std::vector<std::string>{"U1=1", "U2=1"}));
    EXPECT_NE(control.UploadReport().find("U1,1,"), std::string::npos) << control.UploadReport();
    ASSERT_TRUE(Stored("U2"));

    // One file by its number: the window's results are not relayed, the report is kept.
    control.UploadFileWithInno("U1");
    EXPECT_EQ(results.size(), 2u);
    EXPECT_NE(control.UploadReport().find("U1,"), std::string::npos);
}

TEST_F(Session, TheWindowsCommandsRunFromMenusToolBarsAndKeys) {
    Feed(1, 5);
    control.SetEncInno(EncryptText("C1"));
    std::vector<std::string> traces;
    host.Person = [&](FrmScan& window) {
        window.StartScan(true);
        auto doc = window.Pages().CurrentDoc;
        ASSERT_TRUE(doc);
        ASSERT_EQ(doc->ActPage(), 5);
        // The last page is shown; navigation by key, the first by menu, the next by button.
        EXPECT_EQ(doc->SelectedIndex, 5);
        double now = 100;
        window.Commands.Clock = [&] { return now; };
        window.KeyDown(KeyCode::P);
        EXPECT_EQ(doc->SelectedIndex, 4);
        now += 0.05;
        window.KeyDown(KeyCode::P);  // a key held down repeats at most ten times a second
        EXPECT_EQ(doc->SelectedIndex, 4);
        window.MenuClick("mnuView(0)");
        EXPECT_EQ(doc->SelectedIndex, 1);
        window.ButtonClick("上一頁");  // before the first page: nothing
        EXPECT_EQ(doc->SelectedIndex, 1);
        window.ButtonClick("下一頁");
        EXPECT_EQ(doc->SelectedIndex, 2);
        EXPECT_EQ(FeedNumberIn(doc->FilePath(), 2), 2);
        // The information box of the page shown.
        window.ButtonClick("影像資訊");
        ASSERT_FALSE(person.boxes.empty());
        EXPECT_EQ(person.boxes.back().title, kInfoTitle);
        EXPECT_NE(person.boxes.back().text.find("頁　　數：2/5"), std::string::npos) << person.boxes.back().text;
        // A new number for the single document: the list and the recovery file follow.
        person.inputs = {std::string(" C2 ")};
        window.MenuClick("mnuEdit(4)");
        EXPECT_EQ(window.Properties(prop::Inno), "C2");
        EXPECT_EQ(doc->Inno(), "C2");
        EXPECT_EQ(InspectRecoveryFile().at(0).inno, "C2");
        // Commands that are not there in this mode run nothing; "離開" asks the view to close.
        window.MenuClick("mnuFile(4)");
        EXPECT_FALSE(window.CloseRequested);
        window.MenuClick("mnuFile(3)");
        EXPECT_TRUE(window.CloseRequested);
    };
    person.answers = {MsgResult::OK, MsgResult::No, MsgResult::OK};
    control.ShowSingleTwain();
}

TEST_F(Session, ASplitOffersANewlyMadeNumberThatTheClerkMayKeep) {
    Feed(1, 5);
    control.SetEncInno(EncryptText("S1"));
    host.Person = [&](FrmScan& window) {
        window.StartScan(true);
        auto doc = window.Pages().CurrentDoc;
        ASSERT_TRUE(doc);
        std::vector<FrmMergeCut> offered;
        // "合併或分割" from the menu: from page 1 on, split, into a number of its own.
        window.Pages().ShowMergeCutDialog = [&](FrmMergeCut& dialog) { offered.push_back(dialog); };
        window.MenuClick("mnuImg(4)");
        window.MenuClick("mnuImg(4)");
        ASSERT_EQ(offered.size(), 2u);
        for (const FrmMergeCut& dialog : offered) {
            EXPECT_EQ(dialog.TxtInno.text.size(), 10u);
            EXPECT_TRUE(dialog.NumberBoxVisible());
            EXPECT_EQ(dialog.StartAt(), 0);
            EXPECT_TRUE(dialog.StartAfter());
        }
        EXPECT_NE(offered[0].TxtInno.text, offered[1].TxtInno.text);

        // X on page 4: split there, the clerk keeps the number offered.
        window.Pages().ShowMergeCutDialog = [&](FrmMergeCut& dialog) {
            offered.push_back(dialog);
            dialog.CmdOK_Click();
        };
        window.CbPg_Click(4);
        window.KeyDown(KeyCode::X);
        ASSERT_EQ(offered.size(), 3u);
        EXPECT_EQ(offered[2].StartAt(), 3);
        const std::string made = offered[2].TxtInno.text;
        ASSERT_EQ(made.size(), 10u);
        EXPECT_NE(made, offered[0].TxtInno.text);
        EXPECT_EQ(doc->ActPage(), 3);
        auto split = window.ScanCompleteList()->GetInno2(made);
        ASSERT_TRUE(split);
        EXPECT_EQ(split->ActPage(), 2);
        EXPECT_EQ(FeedNumberIn(split->FilePath(), 1), 4);
    };
    person.answers = {MsgResult::No, MsgResult::OK};
    control.ShowSingleTwain();
}

TEST_F(Session, TheSettingsDialogWritesBackOnlyWhenConfirmed) {
    host.Person = [&](FrmScan& window) {
        window.ShowConfDialog = [](FrmConf& dialog) {
            dialog.DPI = 300;
            dialog.ItemLimit = 0;  // nothing to copy back
            dialog.ClickOK = false;
        };
        window.ShowScannerConfig();
        EXPECT_EQ(window.Properties(prop::DPI), "200");
        window.ShowConfDialog = [](FrmConf& dialog) {
            dialog.DPI = 300;
            dialog.ItemLimit = 0;
            dialog.ClickOK = true;
        };
        window.ShowScannerConfig();
        EXPECT_EQ(window.Properties(prop::DPI), "300");
        EXPECT_EQ(window.ItemLimit(), 8);
        EXPECT_EQ(window.Restrict().width, 2480);  // 21.0 cm at 300 dpi
    };
    control.ShowMultiTwain("");
    SettingsStore saved;
    EXPECT_EQ(saved.Get("Twain", "DPI"), "300");
}

}  // namespace
}  // namespace dorvex

namespace dorvex {
namespace {

TEST_F(Session, ThePageCountWindowListsEveryDocumentWithItsPages) {
    Feed(1, 3);
    host.Person = [&](FrmScan& window) {
        window.StartScan(true);
        window.OnlyScanList = false;  // not a listed document: sent all the same
        window.ImgUpload();
        auto doc = window.ScanCompleteList()->LastCInno();
        std::vector<FrmList::Row> rows, afterQuery;
        window.ShowListWindow = [&](FrmList& list) {
            EXPECT_EQ(list.ServerURL, url);
            rows = list.InnoList();
            list.CmdQuery_Click();
            afterQuery = list.InnoList();
        };
        window.Execute(Command::UpdateDBPage);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].inno, doc->Inno());
        EXPECT_EQ(rows[0].localPages, "3");
        EXPECT_TRUE(afterQuery.empty());  // the server agrees: nothing to update
    };
    control.ShowMultiTwain("");
}

}  // namespace
}  // namespace dorvex
