#include "server/Transport.h"

#include <gtest/gtest.h>

#include <chrono>

#include "ScriptedPrompter.h"
#include "TestUtil.h"
#include "platform/Http.h"
#include "server/Language.h"
#include "server/Reply.h"
#include "server/ScriptedPeer.h"
#include "server/WordsReq.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;
using test::PeerAction;
using test::ScriptedPeer;

namespace {
// Two request texts in one object: the sender posts both and returns the second reply.
struct TwoTexts : CBaseReq {
    std::vector<std::string> GetRequestXML() const override { return {"", "<first/>", "<second/>"}; }
};
}  // namespace

TEST(Transport, PostsEveryTextAndReturnsTheLastReply) {
    ScriptedPeer peer({PeerAction::Reply("<r>1</r>"), PeerAction::Reply("<r>2</r>")});
    CImgReq sender;
    EXPECT_EQ(sender.RequestByObject(peer.Url(), TwoTexts(), ""), "<r>2</r>");
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "<first/>");
    EXPECT_EQ(requests[1].body, "<second/>");
    EXPECT_EQ(requests[0].head.rfind("POST /dorvex/upload.php HTTP/1.1", 0), 0u);
    EXPECT_FALSE(requests[0].HasHeader("Expect"));
    EXPECT_FALSE(requests[0].HasHeader("Content-Type"));
}

TEST(Transport, ServerClientModeSendsXmlContentType) {
    ScriptedPeer peer({PeerAction::Reply("<ok/>")});
    CImgReq sender;
    sender.UseServerClient = true;
    CLangReq request;
    EXPECT_EQ(sender.RequestByObject(peer.Url(), request, ""), "<ok/>");
    EXPECT_EQ(peer.Requests().at(0).Header("Content-Type"), "application/xml");
}

TEST(Transport, SessionCookieGoesWithPostsDownloadsAndKeepAlive) {
    ScriptedPeer peer({PeerAction::Reply("alive"), PeerAction::Reply("<ok/>"), PeerAction::Reply("file")});
    ClearCookies();
    EXPECT_EQ(HttpGetText(KeepAliveUrl(peer.Url("/app/upload.php")), "PHPSESSID", "abc123"), "alive");
    CImgReq sender;
    sender.RequestByObject(peer.Url(), CLangReq(), "");
    test::TempFolder dir;
    EXPECT_TRUE(DownloadToFile(peer.Url("/app/upload.php?enc_inno=x&part=1"), dir.File("page")));
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Path(), "/app/temp.php");
    for (const auto& request : requests) EXPECT_EQ(request.Header("Cookie"), "PHPSESSID=abc123");
    ClearCookies();
}

TEST(Transport, FailuresAreShownAndGiveAnEmptyReply) {
    test::ScriptedPrompter person;
    {
        ScriptedPeer peer({PeerAction::Reply("oops", 500)});
        CImgReq sender(&person);
        EXPECT_EQ(sender.RequestByObject(peer.Url(), CLangReq(), ""), "");
        EXPECT_NE(sender.LastError().find("500"), std::string::npos);
    }
    {
        ScriptedPeer closed({});  // listener closed at once: connection refused
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        CImgReq sender(&person);
        EXPECT_EQ(sender.RequestByObject(closed.Url(), CLangReq(), ""), "");
    }
    EXPECT_EQ(person.messages.size(), 2u);
}

TEST(Transport, OnlyHttpAndHttpsAddressesAreReached) {
    test::TempFolder dir;
    WriteFileAtomic(dir.File("secret.txt"), "<Reply><ErrCode>0</ErrCode></Reply>");
    CImgReq sender;
    for (const std::string& url : {"file://" + dir.File("secret.txt"), std::string("gopher://127.0.0.1:9/_x"),
                                   std::string("dict://127.0.0.1:9/x")}) {
        EXPECT_EQ(sender.RequestByObject(url, CLangReq(), ""), "") << url;
        // Refused before anything is sent: neither the file read nor a connection tried.
        EXPECT_NE(sender.LastError().find("not supported or disabled"), std::string::npos) << sender.LastError();
    }
}

TEST(Transport, ASilentServerEndsInBoundedTime) {
    HttpLimits saved = GetHttpLimits();
    SetHttpLimits({2, 1});
    ScriptedPeer peer({PeerAction::NeverAnswer()});
    CImgReq sender;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sender.RequestByObject(peer.Url(), CLangReq(), ""), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(sender.LastError().empty());
    SetHttpLimits(saved);
}

TEST(Transport, DownloadNeverLeavesATornOrWrongFile) {
    test::TempFolder dir;
    std::string path = dir.File("page.tif");
    WriteBytesToFile("previous", path);
    ScriptedPeer peer({PeerAction::Reply("not found", 404), PeerAction::CloseWithoutAnswer(), PeerAction::Reply("new bytes")});
    EXPECT_FALSE(DownloadToFile(peer.Url("/x?part=1"), path));
    EXPECT_FALSE(DownloadToFile(peer.Url("/x?part=2"), path));
    EXPECT_EQ(ReadFileBytes(path), "previous");
    EXPECT_TRUE(DownloadToFile(peer.Url("/x?part=3"), path));
    EXPECT_EQ(ReadFileBytes(path), "new bytes");
    EXPECT_EQ(ListFiles(dir.Path(), "*", false).size(), 1u);  // no leftovers beside it
    EXPECT_FALSE(DownloadToFile(peer.Url("/x"), dir.File("missing-folder/f")));
}

TEST(Transport, UrlEncodeAndKeepAliveAddress) {
    EXPECT_EQ(UrlEncode("a b&c"), "a+b%26c");
    EXPECT_EQ(UrlEncode("\t"), "%9");
    EXPECT_EQ(UrlEncode("王"), "%A4FD");
    EXPECT_EQ(UrlEncode("Zm9v+/="), "Zm9v%2B%2F%3D");
    EXPECT_EQ(KeepAliveUrl("http://host/a/b.php"), "http://host/a/temp.php");
    EXPECT_EQ(KeepAliveUrl("nohost"), "temp.php");
}

TEST(Replies, StatusConventionAndHelpers) {
    EXPECT_EQ(ReadReplyStatus("").kind, ReplyStatus::NotXml);
    EXPECT_EQ(ReadReplyStatus("<html><body>error").kind, ReplyStatus::NotXml);
    EXPECT_EQ(ReadReplyStatus("<Response/>").kind, ReplyStatus::NoErrCode);
    EXPECT_EQ(ReadReplyStatus("<R><ErrCode/></R>").kind, ReplyStatus::Success);
    EXPECT_EQ(ReadReplyStatus("<R><x><ErrCode>0</ErrCode></x></R>").kind, ReplyStatus::Success);
    ReplyStatus failed = ReadReplyStatus("<R><ErrCode>-3</ErrCode><ErrDescription>重複</ErrDescription></R>");
    EXPECT_EQ(failed.kind, ReplyStatus::ServerError);
    EXPECT_EQ(failed.errCode, "-3");
    EXPECT_EQ(failed.errDescription, "重複");

    auto doc = XmlDocument::Parse(R"(<R><DPI></DPI><Feeder>1</Feeder><Item batchno="B1"/></R>)");
    ASSERT_TRUE(doc);
    EXPECT_EQ(GetContentByTagName(*doc, "DPI", "0"), "0");
    EXPECT_EQ(GetContentByTagName(*doc, "Feeder", "0"), "1");
    EXPECT_EQ(GetContentByTagName(*doc, "Duplex", "keep"), "keep");
    XmlNode item = doc->SelectOne("//Item");
    EXPECT_EQ(GetAttribute(item, "batchno"), "B1");
    EXPECT_EQ(GetAttribute(item, "inno"), "");
}

TEST(MessageMap, FirstMatchWins) {
    CLanguage map;
    EXPECT_EQ(map.GetMessage("msg.20", "重複建置"), "重複建置");
    map.AddXml(R"(<R><Messages><Message key="msg.20" value="文件已存在"/><Message key="msg.20" value="second"/>)"
               R"(<Message value="no key"/></Messages></R>)");
    map.AddXml("not xml");
    EXPECT_EQ(map.Count(), 2u);
    EXPECT_EQ(map.GetMessage("msg.20", "重複建置"), "文件已存在");
    EXPECT_EQ(map.GetMessage("MSG.20", "x"), "x");
}

TEST(WordsRequests, Texts) {
    EXPECT_EQ(CFixWordsReq().GetRequestXML().at(1), R"(<Request method="QueryFixedWords"></Request>)");
    auto doc = std::make_shared<CInno>();
    CDocWordsReq request;
    request.Inno = "A1";
    request.Document = doc;
    EXPECT_EQ(request.GetRequestXML().at(1), R"(<Request method="UpdateDocWords"><UpdateDocWords inno="A1"/></Request>)");
    doc->PutWord("類別", "函");
    doc->PutWord("主旨", "a<b & c");
    doc->PutWord("附件", "");
    std::string text = request.GetRequestXML().at(1);
    EXPECT_EQ(text, R"(<Request method="UpdateDocWords"><UpdateDocWords inno="A1"><類別>函</類別>)"
                    R"(<主旨>a&lt;b &amp; c</主旨><附件/></UpdateDocWords></Request>)");
    ASSERT_TRUE(XmlDocument::Parse(text));
    doc->PutWord("bad name", "x");
    EXPECT_THROW(request.GetRequestXML(), DorvexError);
    EXPECT_TRUE(IsXmlName("發文字號"));
    EXPECT_FALSE(IsXmlName("1abc"));
}
