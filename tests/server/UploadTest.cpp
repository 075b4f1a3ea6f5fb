#include "server/Upload.h"

#include <gtest/gtest.h>

#include <set>
#include <leptonica/allheaders.h>

#include <filesystem>

#include "ScriptedPrompter.h"
#include "TestImages.h"
#include "TestUtil.h"
#include "platform/Raster.h"
#include "platform/Xml.h"
#include "server/Base64.h"
#include "server/ScriptedPeer.h"
#include "support/CodePage.h"
#include "support/ModFS.h"

using namespace dorvex;
using test::PeerAction;
using test::ScriptedPeer;

namespace {

const std::string kOk = "<Response><ErrCode>0</ErrCode><ErrDescription/></Response>";

struct Result {
    std::string inno;
    long code;
    std::string text;
};

struct Fixture {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    FrmUpload upload{person};
    std::vector<Result> results;

    explicit Fixture(const std::string& url) {
        upload.ServerURL = url;
        upload.Operator = "op";
        upload.UploadType = 1;
        upload.AfterUpload.Connect([this](const std::string& inno, long code, const std::string& text) {
            results.push_back({inno, code, text});
        });
    }
    std::string Tiff(const std::string& name, int pages = 1, std::size_t size = 0) {
        std::string path = dir.File(name);
        test::WriteGrayTiff(path, pages, 8, 8, size);
        return path;
    }
};

struct Chunk {
    std::string method, total, part, name, pages, pageIndex, overwrite, parent, refName, prefix;
    std::string bytes;
};

Chunk ParseChunk(const std::string& body) {
    auto doc = XmlDocument::Parse(body);
    EXPECT_TRUE(doc) << body.substr(0, 200);
    if (!doc) return {};
    XmlNode request = doc->SelectOne("/Request");
    XmlNode b = doc->SelectOne("/Request/BatchUpload");
    auto a = [&](const char* name) { return b.Attribute(name).value_or(""); };
    return {request.Attribute("method").value_or(""), a("total"), a("this"), a("name"), a("pages"), a("pageindex"),
            a("overwrite"), a("parentname"), a("refname"), a("dvdprefix"), Base64Decode(b.Text())};
}

std::vector<Chunk> Chunks(ScriptedPeer& peer) {
    std::vector<Chunk> chunks;
    for (const auto& request : peer.Requests()) {
        if (request.body.find("BatchUpload") != std::string::npos) chunks.push_back(ParseChunk(request.body));
    }
    return chunks;
}

}  // namespace

TEST(Upload, SendsAFileInOneMebibyteChunksInOrder) {
    ScriptedPeer peer({PeerAction::Reply(kOk)}, true);
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = true;
    f.upload.DVDPrefix = "DVD";
    std::string path = f.Tiff("DOC1.tif", 1, 2621440);  // 2.5 MiB
    f.upload.AddFile(path, "DOC1", 1, "OLD", 0, "");
    ASSERT_TRUE(f.upload.StartUploadFiles());

    std::vector<Chunk> chunks = Chunks(peer);
    ASSERT_EQ(chunks.size(), 3u);
    std::string joined;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].method, "BatchUpload");
        EXPECT_EQ(chunks[i].total, "3");
        EXPECT_EQ(chunks[i].part, std::to_string(i + 1));
        EXPECT_EQ(chunks[i].name, "DOC1");
        EXPECT_EQ(chunks[i].pageIndex, "0");
        EXPECT_EQ(chunks[i].overwrite, "1");
        EXPECT_EQ(chunks[i].refName, "OLD");
        EXPECT_EQ(chunks[i].prefix, "DVD");
        joined += chunks[i].bytes;
    }
    EXPECT_EQ(chunks[0].bytes.size(), 1048576u);
    EXPECT_EQ(chunks[1].bytes.size(), 1048576u);
    EXPECT_EQ(chunks[2].bytes.size(), 524288u);
    EXPECT_EQ(joined, ReadFileBytes(path));
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].code, 1);
    EXPECT_EQ(f.upload.Report(), "DOC1,1,上傳成功,\r\n");
    EXPECT_EQ(f.upload.LabMsg, "DOC1上傳成功");
    EXPECT_EQ(f.upload.UploadProMax, 3);
    EXPECT_GE(f.person.yields, 3);
    // The report log in the temporary folder, in CP950.
    ASSERT_FALSE(f.upload.LogFile().empty());
    EXPECT_EQ(f.upload.LogFile().rfind(f.dir.Path() + "/Upload", 0), 0u);
    EXPECT_EQ(ReadFileBytes(f.upload.LogFile()), ToAnsi(f.upload.Report()));
}

// Sending needs no pixels: a page over the decoding budget (268 megapixels) goes whole.
TEST(Upload, APageTooLargeToDecodeIsStillSent) {
    ScriptedPeer peer({PeerAction::Reply(kOk)}, true);
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = true;
    std::string path = f.dir.File("HUGE.tif");
    test::WriteLargeWhiteTiff(path, 4096, 65536);
    ASSERT_FALSE(ProbeImage(path));  // its pixels are over the budget
    f.upload.AddFile(path, "HUGE", 1, "", 0, "");
    ASSERT_TRUE(f.upload.StartUploadFiles());
    std::string joined;
    for (const Chunk& chunk : Chunks(peer)) joined += chunk.bytes;
    EXPECT_EQ(joined, ReadFileBytes(path));
    EXPECT_EQ(f.upload.Report(), "HUGE,1,上傳成功,\r\n");
}

TEST(Upload, TheWindowIsToldOfEveryStatusAndChunkBeforeItYields) {
    struct Seen {
        std::string status;
        int value, max;
        bool okEnabled, closed;
    };
    // The person's event loop: at every yield, what the window was last told must be the
    // engine's present state (the view paints what it was told).
    struct Person : test::ScriptedPrompter {
        const FrmUpload* upload = nullptr;
        const std::vector<Seen>* seen = nullptr;
        int stale = 0;
        void Yield() override {
            ScriptedPrompter::Yield();
            if (!upload || !seen || seen->empty()) return;
            const Seen& last = seen->back();
            if (last.status != upload->LabMsg || last.value != upload->UploadProValue || last.max != upload->UploadProMax) {
                ++stale;
            }
        }
    } person;
    ScriptedPeer peer({PeerAction::Reply(kOk)}, true);
    test::TempFolder dir;
    FrmUpload upload(person);
    std::vector<Seen> seen;
    person.upload = &upload;
    person.seen = &seen;
    upload.ServerURL = peer.Url();
    upload.UploadType = 1;
    upload.EnableOverWrite = true;
    upload.AutoClose = true;
    std::string path = dir.File("DOC1.tif");
    test::WriteGrayTiff(path, 1, 8, 8, 2621440);
    upload.AddFile(path, "DOC1", 1, "", 0, "");
    upload.StateChanged.Connect([&] {
        seen.push_back({upload.LabMsg, upload.UploadProValue, upload.UploadProMax, upload.CmdOKEnabled, upload.Closed});
    });
    upload.Form_Activate();

    ASSERT_GE(seen.size(), 6u);
    EXPECT_FALSE(seen.front().okEnabled);  // OK is off before anything is sent
    std::vector<int> chunkValues;
    for (const Seen& s : seen) {
        if (s.status == "處理DOC1" && s.max == 3) chunkValues.push_back(s.value);
    }
    EXPECT_EQ(chunkValues, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(seen[seen.size() - 2].status, "DOC1上傳成功");
    EXPECT_FALSE(seen[seen.size() - 2].okEnabled);
    EXPECT_TRUE(seen.back().okEnabled);
    EXPECT_TRUE(seen.back().closed);
    EXPECT_GT(person.yields, 3);
    EXPECT_EQ(person.stale, 0);
}

TEST(Upload, ExactlyOneMebibyteIsOneRequest) {
    ScriptedPeer peer({PeerAction::Reply(kOk)}, true);
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = true;
    f.upload.AddFile(f.Tiff("A.tif", 1, 1048576), "A", 1, "", 0, "");
    ASSERT_TRUE(f.upload.StartUploadFiles());
    auto chunks = Chunks(peer);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].total, "1");
    EXPECT_EQ(chunks[0].bytes.size(), 1048576u);
}

TEST(Upload, OneFilePerPageDocument) {
    ScriptedPeer peer({PeerAction::Reply(kOk)}, true);
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = false;  // each page still goes with overwrite="1"
    CScanList list;
    auto parent = list.Add("B", "MAIN");
    auto doc = list.Add("B", "ATT-1");
    doc->EnableMultiTIFF = false;
    doc->OldInno = "WAS";
    doc->SetParent(parent);
    for (int i = 1; i <= 3; ++i) doc->NewPage(f.Tiff("p" + std::to_string(i) + ".tif"));
    f.upload.AddFileByCInno(doc);
    EXPECT_EQ(f.upload.FileListCount(), 3);
    ASSERT_TRUE(f.upload.StartUploadFiles());

    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 4u);  // one remote check for the document, then its three files
    EXPECT_NE(requests[0].body.find("QueryImgInfoByInno"), std::string::npos);
    auto chunks = Chunks(peer);
    ASSERT_EQ(chunks.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(chunks[static_cast<std::size_t>(i)].pageIndex, std::to_string(i + 1));
        EXPECT_EQ(chunks[static_cast<std::size_t>(i)].pages, "3");
        EXPECT_EQ(chunks[static_cast<std::size_t>(i)].overwrite, "1");
        EXPECT_EQ(chunks[static_cast<std::size_t>(i)].parent, "MAIN");
        EXPECT_EQ(chunks[static_cast<std::size_t>(i)].refName, "WAS");
    }
    EXPECT_EQ(f.results.size(), 3u);
    EXPECT_EQ(f.upload.Report(), "ATT-1,1,上傳成功,\r\n");
}

TEST(Upload, LaterPagesOfADocumentAreNotTakenForDuplicates) {
    // The server holds the document once its first page arrived; the run goes on regardless.
    const std::string exists = "<R><ErrCode>0</ErrCode><ImgInfo><TotalPart>1</TotalPart></ImgInfo></R>";
    ScriptedPeer peer({PeerAction::Reply(kOk), PeerAction::Reply(kOk), PeerAction::Reply(exists)}, true);
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = false;
    f.upload.AddFile(f.Tiff("1.tif"), "D", 2, "", 1, "");
    f.upload.AddFile(f.Tiff("2.tif"), "D", 2, "", 2, "");
    ASSERT_TRUE(f.upload.StartUploadFiles());
    EXPECT_EQ(Chunks(peer).size(), 2u);
    EXPECT_EQ(peer.Requests().size(), 3u);  // one check, two pages
    EXPECT_TRUE(f.person.messages.empty());
}

TEST(Upload, MultiPageFileCarriesTheWindowsOverwrite) {
    ScriptedPeer peer({PeerAction::Reply(kOk)}, true);
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = false;
    auto doc = std::make_shared<CInno>();
    doc->SetInno("M1");
    doc->SetFilePath(f.Tiff("m.tif", 3));
    doc->SetActPage(3);
    f.upload.AddFileByCInno(doc);
    ASSERT_TRUE(f.upload.StartUploadFiles());
    auto chunks = Chunks(peer);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].pageIndex, "0");
    EXPECT_EQ(chunks[0].pages, "3");
    EXPECT_EQ(chunks[0].overwrite, "0");
}

TEST(Upload, ADocumentTheServerHoldsStopsTheRun) {
    ScriptedPeer peer({PeerAction::Reply("<R><ImgInfo><TotalPart>2</TotalPart></ImgInfo></R>")}, true);
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = false;
    std::string path = f.Tiff("A1.tif");
    f.upload.AddFile(path, "A1", 1, "", 0, "");
    f.upload.AddFile(f.Tiff("A2.tif"), "A2", 1, "", 0, "");
    auto doc = std::make_shared<CInno>();
    doc->PutWord("主旨", "x");
    f.upload.AddWordsByCInno(doc);
    EXPECT_FALSE(f.upload.StartUploadFiles());
    EXPECT_EQ(f.person.messages, (std::vector<std::string>{"A1重複建置"}));
    EXPECT_EQ(peer.Requests().size(), 1u);  // only the check: no chunk, no second file, no words
    EXPECT_EQ(f.upload.Report(), "A1,0,重複建置," + path + "\r\n");
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].text, "重複建置");
    EXPECT_TRUE(f.upload.LogFile().empty());
    EXPECT_EQ(f.upload.WordsCount(), 1u);
}

TEST(Upload, ServerRefusalsAndUnreadableReplies) {
    ScriptedPeer peer({PeerAction::Reply("<R><ErrCode>-3</ErrCode><ErrDescription>文件已存在</ErrDescription></R>"),
                       PeerAction::Reply("<R><Other/></R>"), PeerAction::Reply("<html>Fatal error"),
                       PeerAction::Reply(kOk), PeerAction::Reply(kOk)});
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = true;
    std::string a = f.Tiff("a.tif"), b = f.Tiff("b.tif"), c = f.Tiff("c.tif");
    std::string notImage = f.dir.File("notes.tif");
    WriteBytesToFile("this is not a picture", notImage);
    f.upload.AddFile(a, "A12", 1, "", 0, "");
    f.upload.AddFile(b, "B", 1, "", 0, "");
    f.upload.AddFile(c, "C", 1, "", 0, "");
    f.upload.AddFile(notImage, "N", 1, "", 0, "");
    f.upload.AddFile(f.Tiff("d.tif"), "A1", 1, "", 0, "");  // not hidden by the line of A12
    f.upload.AddFile(f.dir.File("missing.tif"), "X", 1, "", 0, "");  // not queued
    EXPECT_EQ(f.upload.FileListCount(), 5);
    ASSERT_TRUE(f.upload.StartUploadFiles());
    EXPECT_EQ(f.upload.Report(), "A12,-3,文件已存在," + a + "\r\n" +
                                     "B,0,Server無法處理(無回應處理結果)," + b + "\r\n" +
                                     "C,0,Server無法處理(程式異常)<html>Fatal error," + c + "\r\n" +
                                     "N,0,非影像檔格式," + notImage + "\r\n" +
                                     "A1,1,上傳成功,\r\n");
    ASSERT_EQ(f.results.size(), 5u);
    EXPECT_EQ(f.results[0].text, "文件已存在");
    EXPECT_EQ(f.results[1].text, "Server無法處理(無回應處理結果)<R><Other/></R>");
    EXPECT_EQ(f.results[3].text, "非影像檔格式");
    EXPECT_EQ(f.results[4].code, 1);
    EXPECT_TRUE(f.person.messages.empty());
}

TEST(Upload, ConnectionRefusedMidFileStopsThatFileOnly) {
    ScriptedPeer peer({PeerAction::Reply(kOk)});  // answers the first chunk, then refuses
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = true;
    std::string big = f.Tiff("big.tif", 1, 3 * 1048576);
    f.upload.AddFile(big, "BIG", 1, "", 0, "");
    f.upload.AddFile(f.Tiff("next.tif"), "NEXT", 1, "", 0, "");
    ASSERT_TRUE(f.upload.StartUploadFiles());
    EXPECT_EQ(Chunks(peer).size(), 1u);
    ASSERT_EQ(f.results.size(), 2u);
    EXPECT_EQ(f.results[0].code, 0);
    EXPECT_EQ(f.results[0].text.rfind("Server無法處理(程式異常)", 0), 0u);
    EXPECT_GT(f.results[0].text.size(), std::string("Server無法處理(程式異常)").size());  // says why
    EXPECT_EQ(f.results[1].code, 0);
    EXPECT_EQ(f.person.messages.size(), 2u);  // one per failed file, not per chunk
    EXPECT_FALSE(f.upload.LogFile().empty());
}

TEST(Upload, ANonNumericErrorCodeEndsTheRun) {
    ScriptedPeer peer({PeerAction::Reply("<R><ErrCode>E42</ErrCode><ErrDescription>x</ErrDescription></R>")}, true);
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = true;
    f.upload.AddFile(f.Tiff("a.tif"), "A", 1, "", 0, "");
    f.upload.AddFile(f.Tiff("b.tif"), "B", 1, "", 0, "");
    EXPECT_FALSE(f.upload.StartUploadFiles());
    EXPECT_EQ(Chunks(peer).size(), 1u);
    ASSERT_EQ(f.person.messages.size(), 1u);
    EXPECT_NE(f.person.messages[0].find("E42"), std::string::npos);
}

TEST(Upload, WordsFollowTheFilesInQueueOrder) {
    ScriptedPeer peer({PeerAction::Reply(kOk)}, true);
    Fixture f(peer.Url());
    f.upload.EnableOverWrite = true;
    auto first = std::make_shared<CInno>();
    first->SetInno("W1");
    first->SetFilePath(f.Tiff("w1.tif"));
    first->SetActPage(1);
    first->PutWord("主旨", "甲");
    auto plain = std::make_shared<CInno>();
    plain->SetInno("P");
    plain->SetFilePath(f.Tiff("p.tif"));
    plain->SetActPage(1);
    auto second = std::make_shared<CInno>();
    second->SetInno("W2");
    second->SetFilePath(f.Tiff("w2.tif"));
    second->SetActPage(1);
    second->PutWord("說明", "乙");
    f.upload.AddFileByCInno(first);
    f.upload.AddFileByCInno(plain);
    f.upload.AddFileByCInno(second);
    first->PutWord("主旨", "甲（更正）");  // edited after queuing: the edit goes out
    ASSERT_TRUE(f.upload.StartUploadFiles());
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 5u);
    for (int i = 0; i < 3; ++i) EXPECT_NE(requests[static_cast<std::size_t>(i)].body.find("BatchUpload"), std::string::npos);
    EXPECT_EQ(requests[3].body, R"(<Request method="UpdateDocWords"><UpdateDocWords inno="W1"><主旨>甲（更正）</主旨></UpdateDocWords></Request>)");
    EXPECT_NE(requests[4].body.find(R"(inno="W2")"), std::string::npos);
    EXPECT_EQ(f.upload.WordsCount(), 0u);
    EXPECT_EQ(f.upload.LabMsg, "完成...");
}

TEST(Upload, FolderScanFindsTiffDocumentsAndJpegPages) {
    ScriptedPeer peer({PeerAction::Reply(kOk)}, true);
    Fixture f(peer.Url());
    std::string root = f.dir.File("batch");
    std::filesystem::create_directories(root + "/sub");
    std::filesystem::create_directories(root + "/A0001");
    test::WriteGrayTiff(root + "/D1.TIF", 2, 8, 8);
    test::WriteGrayTiff(root + "/sub/D2.tiff", 1, 8, 8);
    WriteBytesToFile("text", root + "/readme.txt");
    WriteBytesToFile("not a jpeg", root + "/A0001/3.jpg");
    WriteBytesToFile("a note", root + "/A0001/notes.txt");
    for (const char* name : {"1.jpg", "2.JPEG"}) {
        PIX* pix = pixCreate(8, 8, 8);
        pixWrite((root + "/A0001/" + name).c_str(), pix, IFF_JFIF_JPEG);
        pixDestroy(&pix);
    }
    std::filesystem::create_symlink(root, root + "/sub/loop");  // must not scan forever
    f.person.folder = root;
    f.upload.UploadType = 0;
    f.upload.EnableOverWrite = true;
    f.upload.AutoClose = true;
    f.upload.Form_Activate();
    std::vector<std::string> got;
    for (const auto& e : f.upload.Entries()) {
        got.push_back(e.inno + " pages=" + std::to_string(e.pages) + " index=" + std::to_string(e.pageIndex));
    }
    // A0001 holds two JPEG pages beside a file that is none and a note: two pages.
    EXPECT_EQ(got, (std::vector<std::string>{"A0001 pages=2 index=1", "A0001 pages=2 index=2", "D1 pages=2 index=0",
                                             "D2 pages=1 index=0"}));
    EXPECT_TRUE(f.upload.CmdOKEnabled);
    EXPECT_TRUE(f.upload.Closed);
    EXPECT_EQ(Chunks(peer).size(), 4u);

    // Cancelling the folder picker uploads nothing, not even the files already listed.
    Fixture cancelled(peer.Url());
    cancelled.upload.AddFile(cancelled.Tiff("LEFT.tif"), "LEFT", 1, "", 0, "");
    cancelled.upload.UploadType = 0;
    cancelled.person.folder = "";
    std::size_t requests = peer.Requests().size();
    cancelled.upload.Form_Activate();
    EXPECT_EQ(peer.Requests().size(), requests);
    EXPECT_TRUE(cancelled.results.empty());
    EXPECT_EQ(cancelled.upload.Report(), "");
}

TEST(ScanWindowUpload, QueuesChangedDocumentsAndMarksResults) {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    FrmUpload upload(person);
    CScanList server;
    server.Add("B", "LISTED");
    CScanList scanned;
    auto make = [&](const std::string& inno, bool withFile) {
        auto doc = scanned.Add("B", inno);
        std::string path = dir.File(inno + ".tif");
        if (withFile) test::WriteGrayTiff(path, 1, 8, 8);
        doc->SetFilePath(path);
        doc->SetActPage(1);
        doc->SetChanged();
        return doc;
    };
    auto listed = make("LISTED", true);
    auto other = make("OTHER", true);
    auto missing = make("MISSING", false);
    auto saved = make("SAVED", true);
    saved->PutWord("主旨", "x");
    saved->SetState(state::SavedOther);

    ScanUploadContext context{&scanned, &server, "0", true};
    QueueScanListUpload(upload, context, nullptr);
    ASSERT_EQ(upload.FileListCount(), 1);
    EXPECT_EQ(upload.Entries()[0].inno, "LISTED");
    EXPECT_EQ(upload.WordsCount(), 1u);  // the saved document's words only
    EXPECT_EQ(other->ErrorMsg, "非掃描清單檔案");
    EXPECT_EQ(missing->ErrorMsg, "檔案不存在");

    FrmUpload all(person);
    context.onlyScanList = false;
    QueueScanListUpload(all, context, nullptr);
    EXPECT_EQ(all.FileListCount(), 2);
    FrmUpload single(person);
    QueueScanListUpload(single, context, saved);  // not changed: nothing
    QueueScanListUpload(single, context, other);
    EXPECT_EQ(single.FileListCount(), 1);

    std::set<std::string> refused;
    EXPECT_EQ(ApplyUploadResult(scanned, "OTHER", 1, "", refused), "Inno=OTHER\r\nErrCode=1\r\nErrDescription=");
    EXPECT_EQ(other->state(), state::SavedOther);
    EXPECT_EQ(ApplyUploadResult(scanned, "LISTED", 0, "壞了", refused), "Inno=LISTED\r\nErrCode=0\r\nErrDescription=壞了");
    EXPECT_EQ(listed->ErrorMsg, "壞了");
    EXPECT_EQ(ApplyUploadResult(scanned, "NONE", 0, "", refused), "Inno=NONE\r\nErrCode=0\r\nErrDescription=");

    // A document saved only when every file of it was accepted in the run, in either order.
    auto twoFiles = make("TWO", true);
    ApplyUploadResult(scanned, "TWO", 0, "page 1 refused", refused);
    ApplyUploadResult(scanned, "TWO", 1, "", refused);
    EXPECT_EQ(twoFiles->state(), state::ChangedOther);
    std::set<std::string> nextRun;
    auto later = make("LATER", true);
    ApplyUploadResult(scanned, "LATER", 1, "", nextRun);
    ApplyUploadResult(scanned, "LATER", 0, "page 2 refused", nextRun);
    EXPECT_EQ(later->state(), state::ChangedOther);
    EXPECT_EQ(later->ErrorMsg, "page 2 refused");
}
