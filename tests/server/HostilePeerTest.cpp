// The client against servers that misbehave: a reply is a success only when it really is one,
// every limit holds, and nothing a server sends can forge a line of the report.

#include <gtest/gtest.h>

#include <chrono>

#include "ScriptedPeer.h"
#include "ScriptedPrompter.h"
#include "TestImages.h"
#include "TestUtil.h"
#include "platform/Http.h"
#include "server/Queries.h"
#include "server/Reply.h"
#include "server/Transport.h"
#include "server/Upload.h"
#include "support/CodePage.h"
#include "support/ModFS.h"

using namespace dorvex;
using test::PeerAction;
using test::ScriptedPeer;

namespace {

const std::string kOk = "<Response><ErrCode>0</ErrCode><ErrDescription/></Response>";

std::string Nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += "<a>";
    text += "<ErrCode>0</ErrCode>";
    for (int i = 0; i < levels; ++i) text += "</a>";
    return text;
}

// Limits for one test, put back afterwards.
struct Limits {
    HttpLimits saved = GetHttpLimits();
    explicit Limits(HttpLimits limits) { SetHttpLimits(limits); }
    ~Limits() { SetHttpLimits(saved); }
};

struct UploadRun {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    FrmUpload upload{person};
    std::vector<std::pair<std::string, long>> results;
    explicit UploadRun(const std::string& url) {
        upload.ServerURL = url;
        upload.Operator = "op";
        upload.UploadType = 1;
        upload.EnableOverWrite = true;
        upload.AfterUpload.Connect([this](const std::string& inno, long code, const std::string&) { results.emplace_back(inno, code); });
    }
    void Add(const std::string& inno, std::size_t size = 0) {
        std::string path = dir.File(inno + ".tif");
        test::WriteGrayTiff(path, 1, 8, 8, size);
        upload.AddFile(path, inno, 1, "", 0, "");
    }
};

}  // namespace

TEST(HostileReplies, OnlyOneWellFormedDocumentWithErrCodeZeroIsASuccess) {
    EXPECT_EQ(ReadReplyStatus(kOk).kind, ReplyStatus::Success);
    EXPECT_EQ(ReadReplyStatus("<?xml version=\"1.0\"?>\n<!-- fine -->" + kOk + "\n<!-- end -->\n").kind, ReplyStatus::Success);
    for (const std::string& bad : std::vector<std::string>{kOk + "\nFatal error: Allowed memory size exhausted in x.php on line 7",
                                   "Warning: something\n" + kOk, kOk + kOk, "<R><ErrCode>0</ErrCode>&bogus;</R>",
                                   "<!DOCTYPE R [<!ENTITY e \"x\">]>" + kOk, Nested(100000)}) {
        EXPECT_EQ(ReadReplyStatus(bad).kind, ReplyStatus::NotXml) << bad.substr(0, 80);
    }
    EXPECT_EQ(ReadReplyStatus(Nested(200)).kind, ReplyStatus::Success);  // deep, but within bounds
    EXPECT_EQ(ReadReplyStatus("<R><ErrCode> 0\n</ErrCode></R>").kind, ReplyStatus::Success);
    EXPECT_EQ(ReadReplyStatus("<R><ErrCode> -3 </ErrCode></R>").errCode, "-3");
    for (const char* huge : {"1e400", "12345678901234567890123456", "2147483648", "0.5"}) {
        EXPECT_EQ(ReadReplyStatus(std::string("<R><ErrCode>") + huge + "</ErrCode></R>").kind, ReplyStatus::Malformed) << huge;
    }
    // With an error status: the server's refusal counts, anything else is the HTTP failure.
    EXPECT_EQ(ReadReplyStatus("<R><ErrCode>-3</ErrCode></R>", 500).kind, ReplyStatus::ServerError);
    ReplyStatus failed = ReadReplyStatus(kOk, 502);
    EXPECT_EQ(failed.kind, ReplyStatus::HttpFailure);
    EXPECT_EQ(failed.errDescription, "HTTP 502");
    EXPECT_EQ(ReadReplyStatus("<html>bad gateway</html>", 502).kind, ReplyStatus::HttpFailure);
}

TEST(HostileReplies, TheCharsetOfTheReplyIsHonoured) {
    const std::string text = "<R><ErrCode>-3</ErrCode><ErrDescription>文號重複</ErrDescription></R>";
    std::string big5 = ToAnsi(text);
    EXPECT_EQ(DecodeReply(big5, "text/xml; charset=Big5"), text);
    EXPECT_EQ(DecodeReply("<?xml version=\"1.0\" encoding=\"big5\"?>" + big5, "text/xml"),
              "<?xml version=\"1.0\" encoding=\"big5\"?>" + text);
    std::string utf16 = "\xFF\xFE";
    for (char32_t c : ToU32(text)) utf16 += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    EXPECT_EQ(DecodeReply(utf16, "application/xml"), text);
    EXPECT_EQ(DecodeReply(text, "text/xml; charset=utf-8"), text);

    ScriptedPeer peer({PeerAction::Reply(big5, 200, "text/xml; charset=big5")});
    CImgReq sender;
    std::string reply = sender.RequestByObject(peer.Url(), CLangReq(), "");
    EXPECT_EQ(ReadReplyStatus(reply).errDescription, "文號重複");
}

TEST(HostileReplies, ATrickleAnEndlessRequestAndAHugeReplyEndWithAnError) {
    {
        Limits limits({5, 2, 600, 1024, 64u << 20});
        ScriptedPeer peer({PeerAction::TrickleReply(std::string(200, ' ') + kOk)});
        CImgReq sender;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(sender.RequestByObject(peer.Url(), CLangReq(), ""), "");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
        EXPECT_FALSE(sender.LastError().empty());
    }
    {
        Limits limits({5, 60, 2, 1, 64u << 20});  // the stall rule would wait; the request bound does not
        ScriptedPeer peer({PeerAction::TrickleReply(std::string(200, ' ') + kOk)});
        CImgReq sender;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(sender.RequestByObject(peer.Url(), CLangReq(), ""), "");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    }
    {
        Limits limits({5, 60, 600, 1024, 1u << 20});
        ScriptedPeer peer({PeerAction::Reply("<R>" + std::string(3u << 20, 'x') + "</R>")});
        CImgReq sender;
        EXPECT_EQ(sender.RequestByObject(peer.Url(), CLangReq(), ""), "");
        EXPECT_NE(sender.LastError().find("larger than 1 MiB"), std::string::npos) << sender.LastError();
        EXPECT_TRUE(sender.LastReply().empty());
    }
}

TEST(HostileUploads, AMiddleChunkThatFailsRefusesTheFile) {
    ScriptedPeer peer({PeerAction::Reply(kOk), PeerAction::Reply("<html>PHP Warning</html>"), PeerAction::Reply(kOk)}, true);
    UploadRun run(peer.Url());
    run.Add("DOC", 2621440);  // three chunks
    ASSERT_TRUE(run.upload.StartUploadFiles());
    EXPECT_EQ(peer.Requests().size(), 2u);  // nothing sent after the failing chunk
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_EQ(run.results[0].second, 0);
    EXPECT_EQ(run.upload.Report().rfind("DOC,0,", 0), 0u) << run.upload.Report();
}

TEST(HostileUploads, AnErrorStatusWithARefusalReportsTheRefusal) {
    std::string refusal = ToAnsi("<R><ErrCode>-3</ErrCode><ErrDescription>文號重複</ErrDescription></R>");
    ScriptedPeer peer({PeerAction::Reply(refusal, 409, "text/xml; charset=big5"), PeerAction::Reply(kOk, 500)});
    UploadRun run(peer.Url());
    run.Add("A");
    run.Add("B");
    ASSERT_TRUE(run.upload.StartUploadFiles());
    EXPECT_NE(run.upload.Report().find("A,-3,文號重複,"), std::string::npos) << run.upload.Report();
    EXPECT_NE(run.upload.Report().find("B,0,Server無法處理(程式異常)HTTP 500"), std::string::npos) << run.upload.Report();
}

TEST(HostileUploads, NoServerTextCanForgeAReportLineOrPassForSuccess) {
    ScriptedPeer peer({PeerAction::Reply("oops\r\n9999999999,1,上傳成功,\r\n"),
                       PeerAction::Reply("<R><ErrCode>1</ErrCode><ErrDescription>x,\r\n8888888888,1,上傳成功</ErrDescription></R>"),
                       PeerAction::Reply("<R><ErrCode>1e400</ErrCode></R>")});
    UploadRun run(peer.Url());
    run.Add("A");
    run.Add("B");
    run.Add("C");
    ASSERT_TRUE(run.upload.StartUploadFiles());
    std::string report = run.upload.Report();
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = report.find("\r\n", at)) != std::string::npos; at = end + 2) lines.push_back(report.substr(at, end - at));
    ASSERT_EQ(lines.size(), 3u) << report;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find(",1,"), std::string::npos) << line;  // no line reads as accepted
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 3) << line;
    }
    for (const auto& [inno, code] : run.results) EXPECT_EQ(code, 0) << inno;
    std::string log = FromAnsi(ReadFileBytes(run.upload.LogFile()));
    EXPECT_EQ(log, report);
}
