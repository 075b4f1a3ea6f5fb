#include "server/Queries.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ScriptedPrompter.h"
#include "TestUtil.h"
#include "model/ScanProperties.h"
#include "server/Language.h"
#include "server/ScriptedPeer.h"
#include "support/ModFS.h"

using namespace dorvex;
using test::PeerAction;
using test::ScriptedPeer;

namespace {
ScanProperties Session(const std::string& url) {
    ScanProperties p;
    p.Set(prop::ServerUrl, url);
    p.Set(prop::Operator, "clerk");
    return p;
}
}  // namespace

TEST(Queries, CapabilitiesOverwriteTheServerSettings) {
    ScriptedPeer peer({PeerAction::Reply("<R><ScanCaps><UseBarcode>1</UseBarcode><ImgFormat>G4</ImgFormat>"
                                         "<ScanOcx>5</ScanOcx><Debug>1</Debug><BCLeft>10</BCLeft></ScanCaps></R>"),
                       PeerAction::Reply("<R><ScanCaps><ScanOcx>0</ScanOcx></ScanCaps></R>"),
                       PeerAction::Reply("not xml")});
    test::ScriptedPrompter person;
    ScanProperties p = Session(peer.Url());
    p.Set(prop::Duplex, "1");
    p.Set(prop::DPI, "300");
    p.Set(prop::EnableMultiTIFF, "0");
    ServerQueries queries(p, person);
    ServerQueries::Caps caps;
    ASSERT_TRUE(queries.GetScanCaps(p, "qrndc", caps));
    EXPECT_EQ(p.Get(prop::UseBarcode), "1");
    EXPECT_EQ(p.Get(prop::DPI), "0");        // missing: "0"
    EXPECT_EQ(p.Get(prop::Duplex), "1");     // missing: kept
    EXPECT_EQ(p.Get(prop::ImgFormat), "TIF");  // the "qrndc" prefix wins
    EXPECT_EQ(p.Get(prop::EnableMultiTIFF), "1");
    EXPECT_EQ(p.Get(prop::BCLeft), "10");
    EXPECT_EQ(p.Get(prop::BCWidth), "1");    // missing: kept
    EXPECT_EQ(caps.scanOcx, 2);
    EXPECT_EQ(caps.debug, 1);
    EXPECT_EQ(peer.Requests().at(0).body, R"(<Request method="QueryScanCaps" operator="clerk" />)");

    ASSERT_TRUE(queries.GetScanCaps(p, "", caps));
    EXPECT_EQ(caps.scanOcx, 1);
    EXPECT_EQ(p.Get(prop::ImgFormat), "TIF");  // missing: kept
    EXPECT_FALSE(queries.GetScanCaps(p, "", caps));
}

TEST(Queries, ScanListFillsTheServerListAndBatchSelector) {
    ScriptedPeer peer({PeerAction::Reply(R"(<R><ScanList><Item batchno="B2" inno="X1" pages="3"/>)"
                                         R"(<Item batchno="B1" inno="Y1" pages="2"/><Item batchno="B2" inno="X2"/></ScanList></R>)"),
                       PeerAction::Reply("<R><ScanList/></R>")});
    test::ScriptedPrompter person;
    ServerQueries queries(Session(peer.Url()), person);
    CScanList scanned;
    std::shared_ptr<CScanList> server;
    EXPECT_EQ(queries.GetScanList(scanned, server), (std::vector<std::string>{"B2", "B1"}));
    ASSERT_TRUE(server);
    EXPECT_EQ(scanned.CompareList, server.get());
    EXPECT_EQ(server->GetInno("B2", "X1")->PredictPage, 3);
    EXPECT_EQ(server->GetInno("B2", "X2")->ListSeq, 2);
    // Scanned documents now sort by the server's order.
    EXPECT_EQ(scanned.Add("B2", "X2")->ListSeq, 2);
    EXPECT_EQ(scanned.Add("B2", "NEW")->ListSeq, 1001);

    EXPECT_TRUE(queries.GetScanList(scanned, server).empty());
    EXPECT_EQ(server->Length(), 0);  // a new empty list
    EXPECT_EQ(scanned.CompareList, server.get());
}

TEST(Queries, MessagesAndFixedWords) {
    ScriptedPeer peer({PeerAction::Reply(R"(<R><Message key="msg.20" value="文件重複"/></R>)"),
                       PeerAction::Reply("<R><Word><OldText>a</OldText><NewText>b</NewText></Word></R>")});
    test::ScriptedPrompter person;
    ServerQueries queries(Session(peer.Url()), person);
    CLanguage map;
    queries.LoadMessages(map);
    EXPECT_EQ(map.GetMessage("msg.20", "重複建置"), "文件重複");
    EXPECT_NE(queries.QueryFixedWords().find("<OldText>a</OldText>"), std::string::npos);
    EXPECT_EQ(peer.Requests().at(0).body, R"(<Request method="QueryLanguage"></Request>)");
    EXPECT_EQ(peer.Requests().at(1).body, R"(<Request method="QueryFixedWords"></Request>)");
}

TEST(PageCounts, QueryAndUpdateReplies) {
    ScriptedPeer peer({PeerAction::Reply(R"(<R><Ref inno="A1" pages="3"/><Ref inno="A2" pages="3"/>)"
                                         R"(<Ref inno="A3" pages="-1"/><Ref inno="ZZ" pages="1"/><Ref inno="A4"/></R>)"),
                       PeerAction::Reply(R"(<R><Ref inno="A2" pages="-2"/></R>)")});
    test::ScriptedPrompter person;
    FrmList window(person);
    window.ServerURL = peer.Url();
    window.Add("A1", 3);
    window.Add("A2", 2);
    window.Add("A3", 5);
    window.Add("A4", 1);
    window.CmdQuery_Click();
    EXPECT_EQ(peer.Requests().at(0).body,
              "<Request method=\"QueryInnoPages\"><QueryInnoPages><Inno>A1</Inno><Inno>A2</Inno><Inno>A3</Inno>"
              "<Inno>A4</Inno></QueryInnoPages></Request>");
    const auto& rows = window.InnoList();
    ASSERT_EQ(rows.size(), 3u);  // A1 agreed with the server and left the list
    EXPECT_EQ(rows[0].inno, "A2");
    EXPECT_EQ(rows[0].serverPages, "3");
    EXPECT_EQ(rows[1].status, "查無資料");
    EXPECT_FALSE(rows[1].checked);
    window.CmdUpdate_Click();  // only checked rows go
    EXPECT_EQ(peer.Requests().at(1).body,
              "<Request method=\"InnoPagesUpdate\"><InnoPagesUpdate><Ref inno=\"A2\" pages=\"2\"/>"
              "<Ref inno=\"A4\" pages=\"1\"/></InnoPagesUpdate></Request>");
    EXPECT_EQ(window.InnoList()[0].status, "更新失敗");
    window.ProcessReply("garbage");
    EXPECT_EQ(window.InnoList().size(), 3u);
}

TEST(Downloads, ADocumentWithAPartMissingStaysAsItWas) {
    test::TempFolder dir;
    // Document A: parts 1 and 3 arrive, part 2 does not. Document B: its one part arrives.
    ScriptedPeer peer({PeerAction::Reply("page-1"), PeerAction::Reply("gone", 404), PeerAction::Reply("page-b")});
    test::ScriptedPrompter person;
    ServerQueries queries(Session(peer.Url()), person);
    CScanList list;
    auto a = list.Add("B", "A");
    a->EnableMultiTIFF = false;
    a->SetActPage(3);
    a->SetState(state::Scanned);
    auto b = list.Add("B", "BB");
    b->EnableMultiTIFF = false;
    b->SetActPage(1);
    EXPECT_EQ(queries.DownloadListedDocuments(list), 1);
    EXPECT_EQ(a->ActPage(), 3);
    EXPECT_EQ(a->Length(), 0);
    EXPECT_EQ(a->state(), state::Scanned);  // never uploadable as changed
    EXPECT_EQ(b->ActPage(), 1);
    EXPECT_EQ(ReadFileBytes(b->FilePaths(1)), "page-b");
    EXPECT_EQ(b->state(), state::SavedOther);
    ASSERT_EQ(person.boxes.size(), 1u);
    EXPECT_NE(person.boxes[0].text.find("A"), std::string::npos);
    EXPECT_EQ(person.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 1);
}
