#include "refserver/RefServer.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <libpq-fe.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <thread>

#include "ScriptedPrompter.h"
#include "TestImages.h"
#include "TestUtil.h"
#include "model/ScanProperties.h"
#include "platform/Xml.h"
#include "refserver/Protocol.h"
#include "refserver/Storage.h"
#include "server/Base64.h"
#include "server/Queries.h"
#include "server/Reply.h"
#include "server/Transport.h"
#include "server/Upload.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;
using namespace dorvex::refserver;

namespace {

const char* kSeed = R"(<Seed>
  <Operator name="clerk">
    <ScanList><Item batchno="B1" inno="A1" pages="2"/><Item batchno="B1" inno="A2" pages="1"/></ScanList>
    <ScanCaps><DPI>300</DPI><UseBarcode>1</UseBarcode></ScanCaps>
  </Operator>
  <Operator name="*"><ScanCaps><DPI>200</DPI></ScanCaps></Operator>
  <Messages><Message key="msg.20" value="文件重複"/></Messages>
  <FixedWords><Word><OldText>臺</OldText><NewText>台</NewText></Word></FixedWords>
</Seed>)";

// With DORVEX_TEST_POSTGRES set to a server's URI without a database name (the deployment test
// starts a cluster and runs these tests again so), each server gets a new database of its own
// there; otherwise "" (SQLite in the data folder).
std::string NewDatabase() {
    const char* base = std::getenv("DORVEX_TEST_POSTGRES");
    if (base == nullptr || *base == '\0') return "";
    static int count = 0;
    std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++count);
    PGconn* admin = PQconnectdb((std::string(base) + "/postgres").c_str());
    EXPECT_EQ(PQstatus(admin), CONNECTION_OK) << PQerrorMessage(admin);
    PGresult* made = PQexec(admin, ("CREATE DATABASE " + name).c_str());
    EXPECT_EQ(PQresultStatus(made), PGRES_COMMAND_OK) << PQerrorMessage(admin);
    PQclear(made);
    PQfinish(admin);
    return std::string(base) + "/" + name;
}

struct Server {
    test::TempFolder dir;
    std::string database;  // "" for SQLite in the data folder
    std::unique_ptr<RefServer> server;
    std::string url;
    explicit Server(std::size_t maxBody = 8 * 1024 * 1024) {
        WriteBytesToFile(kSeed, dir.File("seed.xml"));
        RefServerOptions options;
        options.dataDir = dir.File("data");
        options.seedFile = dir.File("seed.xml");
        options.maxBody = maxBody;
        database = NewDatabase();
        options.databaseUrl = database;
        server = std::make_unique<RefServer>(options);
        server->Start();
        url = server->BaseUrl() + "app/upload.php";
    }
    // One connection, kept between requests as the control keeps it.
    CImgReq sender;
    std::string Post(const std::string& body) {
        struct Raw : CBaseReq {
            std::string text;
            std::vector<std::string> GetRequestXML() const override { return {"", text}; }
        } raw;
        raw.text = body;
        return sender.RequestByObject(url, raw, "");
    }
};

// Another client of the same server with its own session cookie ("": none), over a new
// connection for every request, as a proxy in front of the server would pass them on.
struct Client {
    int port;
    std::string cookie;
    Client(const Server& server, std::string session) : port(server.server->Port()), cookie(std::move(session)) {}
    std::string Post(const std::string& body) {
        httplib::Client http("127.0.0.1", port);
        httplib::Headers headers;
        if (!cookie.empty()) headers.emplace("Cookie", "lang=zh; SessionID=" + cookie + "; theme=dark");
        auto reply = http.Post("/app/upload.php", headers, body, "text/xml");
        return reply && reply->status == 200 ? reply->body : "";
    }
};

std::string Upload(const std::string& name, int total, int part, const std::string& data, const std::string& overwrite = "1",
                   const std::string& pageIndex = "0") {
    return "<Request method=\"BatchUpload\" operator=\"op\"><BatchUpload total=\"" + std::to_string(total) + "\" this=\"" +
           std::to_string(part) + "\" name=\"" + name + "\" pages=\"1\" encoding=\"base64\" dvdprefix=\"\" overwrite=\"" +
           overwrite + "\" refname=\"\" pageindex=\"" + pageIndex + "\" parentname=\"\">" + data + "</BatchUpload></Request>";
}

std::string Code(const std::string& reply) { return ReadReplyStatus(reply).errCode; }

}  // namespace

TEST(RefServer, UploadsReadBackByteForByte) {
    Server s;
    test::ScriptedPrompter person;
    // A multi-page document over several chunks and a document of single-page files.
    std::string multi = s.dir.File("M1.tif");
    test::WriteGrayTiff(multi, 3, 600, 800, 2500000);
    FrmUpload upload(person);
    upload.ServerURL = s.url;
    upload.Operator = "clerk";
    upload.UploadType = 1;
    upload.AddFile(multi, "M1", 3, "", 0, "");
    std::vector<std::string> pages;
    for (int i = 1; i <= 2; ++i) {
        pages.push_back(s.dir.File("S1-" + std::to_string(i) + ".tif"));
        test::WriteGrayTiff(pages.back(), 1, 16 * i, 16, 0);
        upload.AddFile(pages.back(), "S1", 2, "", static_cast<std::int16_t>(i), "");
    }
    ASSERT_TRUE(upload.StartUploadFiles());
    EXPECT_EQ(upload.Report(), "M1,1,上傳成功,\r\nS1,1,上傳成功,\r\n");

    // Back through QueryImgInfoByInno / QueryImgByInno.
    ScanProperties session;
    session.Set(prop::ServerUrl, s.url);
    session.Set(prop::Operator, "clerk");
    ServerQueries queries(session, person);
    CScanList list;
    auto m1 = queries.GetImgDataFromHttp(list, "M1");
    ASSERT_TRUE(m1);
    EXPECT_TRUE(m1->EnableMultiTIFF);
    EXPECT_EQ(m1->ActPage(), 3);
    EXPECT_EQ(m1->state(), state::SavedOther);
    EXPECT_EQ(m1->OldInno, "M1");
    EXPECT_EQ(ReadFileBytes(m1->FilePath()), ReadFileBytes(multi));
    auto s1 = queries.GetImgDataFromHttp(list, "S1");
    ASSERT_TRUE(s1);
    EXPECT_FALSE(s1->EnableMultiTIFF);
    ASSERT_EQ(s1->ActPage(), 2);
    EXPECT_EQ(ReadFileBytes(s1->FilePaths(2)), ReadFileBytes(pages[1]));
    EXPECT_EQ(queries.GetImgDataFromHttp(list, "NOPE"), nullptr);

    // Back through the plain download (?enc_inno=…&part=…).
    CScanList listed;
    auto d1 = listed.Add("B1", "M1");
    d1->SetActPage(3);
    auto d2 = listed.Add("B1", "S1");
    d2->EnableMultiTIFF = false;
    d2->SetActPage(2);
    auto d3 = listed.Add("B1", "GONE");
    d3->EnableMultiTIFF = false;
    d3->SetActPage(1);
    EXPECT_EQ(queries.DownloadListedDocuments(listed), 1);
    EXPECT_EQ(ReadFileBytes(d1->FilePath()), ReadFileBytes(multi));
    EXPECT_EQ(d1->ActPage(), 3);
    EXPECT_EQ(d1->state(), state::SavedOther);
    EXPECT_EQ(ReadFileBytes(d2->FilePaths(1)), ReadFileBytes(pages[0]));
    EXPECT_EQ(d2->state(), state::SavedOther);
    EXPECT_EQ(d3->ActPage(), 1);  // nothing arrived: the document stays as it was
    EXPECT_EQ(d3->Length(), 0);
    EXPECT_NE(d3->state(), state::SavedOther);

    // Asked again (a window activated again), a document here keeps its pages as they are.
    EXPECT_EQ(queries.GetImgDataFromHttp(list, "M1"), m1);
    EXPECT_EQ(m1->ActPage(), 3);
    EXPECT_EQ(ReadFileBytes(m1->FilePath()), ReadFileBytes(multi));
    // A part that does not read as an image: nothing is kept, and the person is told.
    std::optional<refserver::StoredDocument> stored = refserver::Storage(s.dir.File("data"), s.database).Find("S1");
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->files.size(), 2u);
    WriteFileAtomic(stored->files[1].path, "not an image");
    CScanList fresh;
    person.messages.clear();
    EXPECT_EQ(queries.GetImgDataFromHttp(fresh, "S1"), nullptr);
    EXPECT_FALSE(fresh.IsInnoExists("S1"));
    ASSERT_EQ(person.messages.size(), 1u);
    EXPECT_EQ(person.messages[0], "1份文件下載失敗：S1");
}

TEST(RefServer, RefusalsCarryACodeAndADescription) {
    Server s;
    std::string data = Base64Encode("abc");
    EXPECT_EQ(Code(s.Post(Upload("D", 1, 1, data))), "0");
    std::string exists = s.Post(Upload("D", 1, 1, data, "0"));
    EXPECT_EQ(Code(exists), "-3");
    EXPECT_FALSE(ReadReplyStatus(exists).errDescription.empty());
    EXPECT_EQ(Code(s.Post(Upload("E", 1, 1, "@@@"))), "-4");
    EXPECT_EQ(Code(s.Post(Upload("E", 3, 2, data))), "-5");   // part 2 before part 1
    EXPECT_EQ(Code(s.Post(Upload("E", 3, 1, data))), "0");
    EXPECT_EQ(Code(s.Post(Upload("E", 3, 3, data))), "-5");   // part 3 after part 1
    EXPECT_EQ(Code(s.Post(Upload("E", 2, 1, data))), "0");
    EXPECT_EQ(Code(s.Post(Upload("E", 3, 2, data))), "-5");   // a count that changed
    EXPECT_EQ(Code(s.Post(Upload("E", 1, 2, data))), "-7");   // this > total
    EXPECT_EQ(Code(s.Post(Upload("", 1, 1, data))), "-7");
    EXPECT_EQ(Code(s.Post("<Request method=\"Nope\"/>")), "-2");
    EXPECT_EQ(Code(s.Post("<Request method=")), "-1");
    EXPECT_EQ(Code(s.Post("")), "-1");
    EXPECT_EQ(ReadReplyStatus(s.Post(Upload("E", 1, 1, "@@@"))).kind, ReplyStatus::ServerError);
    // A body over the limit gets a refusal, not a crash.
    Server small(4096);
    std::string reply = small.Post(Upload("BIG", 1, 1, Base64Encode(std::string(8192, 'x'))));
    EXPECT_EQ(reply, "");  // HTTP 413: the client reports a transport failure
}

TEST(RefServer, SeedAnswersAndWords) {
    Server s;
    test::ScriptedPrompter person;
    ScanProperties session;
    session.Set(prop::ServerUrl, s.url);
    session.Set(prop::Operator, "clerk");
    ServerQueries queries(session, person);
    CScanList scanned;
    std::shared_ptr<CScanList> server;
    EXPECT_EQ(queries.GetScanList(scanned, server), (std::vector<std::string>{"B1"}));
    EXPECT_EQ(server->GetInno("B1", "A1")->PredictPage, 2);
    ServerQueries::Caps caps;
    ASSERT_TRUE(queries.GetScanCaps(session, "", caps));
    EXPECT_EQ(session.Get(prop::DPI), "300");
    ScanProperties other;
    other.Set(prop::ServerUrl, s.url);
    other.Set(prop::Operator, "someone");
    ServerQueries otherQueries(other, person);
    ASSERT_TRUE(otherQueries.GetScanCaps(other, "", caps));
    EXPECT_EQ(other.Get(prop::DPI), "200");
    EXPECT_NE(queries.QueryFixedWords().find("<NewText>台</NewText>"), std::string::npos);

    EXPECT_EQ(Code(s.Post(R"(<Request method="UpdateDocWords"><UpdateDocWords inno="A1"><主旨>a&lt;b</主旨></UpdateDocWords></Request>)")), "0");
    // Page counts: unknown documents answer -1; an update of an unknown one -2.
    s.Post(Upload("A1", 1, 1, Base64Encode("x")));
    FrmList window(person);
    window.ServerURL = s.url;
    window.Add("A1", 4);
    window.Add("A9", 1);
    window.CmdQuery_Click();
    ASSERT_EQ(window.InnoList().size(), 2u);
    EXPECT_EQ(window.InnoList()[0].serverPages, "1");
    EXPECT_EQ(window.InnoList()[1].status, "查無資料");
    window.SetChecked(1, true);
    window.CmdUpdate_Click();
    ASSERT_EQ(window.InnoList().size(), 1u);  // A1 now agrees and leaves the list
    EXPECT_EQ(window.InnoList()[0].status, "更新失敗");
}

TEST(RefServer, ConcurrentClientsAreSafe) {
    Server s;
    std::vector<std::thread> clients;
    std::atomic<int> accepted{0};
    for (int c = 0; c < 6; ++c) {
        clients.emplace_back([&, c] {
            Client client(s, "session-" + std::to_string(c));
            for (int d = 0; d < 5; ++d) {
                std::string name = "C" + std::to_string(c) + "-" + std::to_string(d);
                std::string payload = std::string(3000 + c * 100 + d, static_cast<char>('a' + c));
                bool ok = true;
                for (int part = 1; part <= 3; ++part) {
                    ok = Code(client.Post(Upload(name, 3, part, Base64Encode(payload)))) == "0" && ok;
                }
                if (ok) ++accepted;
            }
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(accepted.load(), 30);
    auto reply = XmlDocument::Parse(s.Post(R"(<Request method="QueryImgByInno" operator="x"><QueryImgByInno inno="C3-4" part="1" /></Request>)"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(Base64Decode(reply->SelectOne("//MainData").Text()), std::string(3 * (3304), 'd'));
}

TEST(RefServer, StorageSurvivesARestart) {
    test::TempFolder dir;
    RefServerOptions options;
    options.dataDir = dir.File("data");
    options.databaseUrl = NewDatabase();
    {
        RefServer first(options);
        first.Start();
        CImgReq sender;
        struct Raw : CBaseReq {
            std::string text;
            std::vector<std::string> GetRequestXML() const override { return {"", text}; }
        } raw;
        raw.text = Upload("KEEP", 1, 1, Base64Encode("kept bytes"));
        EXPECT_EQ(Code(sender.RequestByObject(first.BaseUrl(), raw, "")), "0");
    }
    Storage storage(options.dataDir, options.databaseUrl);
    auto doc = storage.Find("KEEP");
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->files.size(), 1u);
    EXPECT_EQ(ReadFileBytes(doc->files[0].path), "kept bytes");
    RefServerOptions bad;
    bad.dataDir = "/proc/forbidden/x";
    EXPECT_THROW(RefServer server(bad), std::exception);
    bad.dataDir = dir.File("other");
    bad.databaseUrl = "postgresql://nobody@127.0.0.1:1/none?connect_timeout=2";
    EXPECT_THROW(RefServer server(bad), DorvexError);
}

TEST(RefServer, DeeplyNestedRequestsAreRefused) {
    Server s;
    for (const char* method : {"BatchUpload", "QueryScanList", "UpdateDocWords"}) {
        std::string body = std::string("<Request method=\"") + method + "\" operator=\"op\"><" + method +
                           " total=\"1\" this=\"1\" name=\"N\" inno=\"N\" pages=\"1\" pageindex=\"0\" encoding=\"base64\">";
        for (int i = 0; i < 60000; ++i) body += "<a>";
        for (int i = 0; i < 60000; ++i) body += "</a>";
        body += std::string("</") + method + "></Request>";
        std::string reply = s.Post(body);
        EXPECT_EQ(Code(reply), "-7") << method;
        EXPECT_FALSE(ReadReplyStatus(reply).errDescription.empty());
    }
    // Still serving, and a request within the depth limit is answered as before.
    EXPECT_EQ(Code(s.Post(Upload("N1", 1, 1, Base64Encode("n")))), "0");
    EXPECT_THROW(ParseSeed("<Seed>" + std::string(5000, '<') + "</Seed>"), std::exception);
    std::string deepSeed = "<Seed>";
    for (int i = 0; i < 5000; ++i) deepSeed += "<a>";
    for (int i = 0; i < 5000; ++i) deepSeed += "</a>";
    EXPECT_THROW(ParseSeed(deepSeed + "</Seed>"), DorvexError);
}

TEST(RefServer, NumbersOutOfRangeAreRefused) {
    Server s;
    auto upload = [&](const std::string& attrs, const std::string& data) {
        return s.Post("<Request method=\"BatchUpload\" operator=\"op\"><BatchUpload " + attrs +
                      " name=\"R1\" encoding=\"base64\" overwrite=\"1\">" + data + "</BatchUpload></Request>");
    };
    std::string data = Base64Encode("page bytes");
    EXPECT_EQ(Code(upload("total=\"1\" this=\"1\" pages=\"70000\" pageindex=\"0\"", data)), "-7");
    EXPECT_EQ(Code(upload("total=\"1\" this=\"1\" pages=\"1\" pageindex=\"65537\"", data)), "-7");
    EXPECT_EQ(Code(upload("total=\"1\" this=\"1\" pages=\"-1\" pageindex=\"0\"", data)), "-7");
    EXPECT_EQ(Code(upload("total=\"99999999999999999999\" this=\"1\" pages=\"1\" pageindex=\"0\"", data)), "-7");
    EXPECT_EQ(Code(upload("total=\"1e3\" this=\"1\" pages=\"1\" pageindex=\"0\"", data)), "-7");
    std::string empty = upload("total=\"1\" this=\"1\" pages=\"1\" pageindex=\"0\"", "");
    EXPECT_EQ(Code(empty), "-7");
    EXPECT_FALSE(ReadReplyStatus(empty).errDescription.empty());
    auto info = XmlDocument::Parse(s.Post(R"(<Request method="QueryImgInfoByInno" operator="x"><QueryImgInfoByInno inno="R1"/></Request>)"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->SelectOne("//TotalPart").Text(), "0");

    EXPECT_EQ(Code(upload("total=\"1\" this=\"1\" pages=\"32767\" pageindex=\"0\"", data)), "0");
    auto part = [&](const std::string& number) {
        return s.Post(R"(<Request method="QueryImgByInno" operator="x"><QueryImgByInno inno="R1" part=")" + number + "\" /></Request>");
    };
    EXPECT_EQ(Code(part("1")), "0");
    EXPECT_EQ(Code(part("17592186044417")), "-8");  // 2^44 + 1
    EXPECT_EQ(Code(part("2")), "-8");
    EXPECT_EQ(Code(part("0")), "-8");
}

namespace {

// The stored file of a one-file document ("" when there is none).
std::string StoredBytes(Server& s, const std::string& name) {
    std::string text =
        s.Post("<Request method=\"QueryImgByInno\" operator=\"x\"><QueryImgByInno inno=\"" + name + "\" part=\"1\" /></Request>");
    auto reply = XmlDocument::Parse(text);
    if (!reply || Code(text) != "0") return "";
    return Base64Decode(reply->SelectOne("//MainData").Text());
}

}  // namespace

TEST(RefServer, AFileStartedAgainByAnotherSenderRefusesTheFirstUploader) {
    Server s;
    Client a(s, "alpha"), b(s, "beta");
    std::string a1(700, 'a'), a2(700, 'A'), b1(500, 'b'), b2(500, 'B'), b3(500, '3');
    EXPECT_EQ(Code(a.Post(Upload("SAME", 3, 1, Base64Encode(a1)))), "0");
    EXPECT_EQ(Code(b.Post(Upload("SAME", 3, 1, Base64Encode(b1)))), "0");
    std::string refused = a.Post(Upload("SAME", 3, 2, Base64Encode(a2)));
    EXPECT_EQ(Code(refused), "-9");
    EXPECT_FALSE(ReadReplyStatus(refused).errDescription.empty());
    EXPECT_EQ(StoredBytes(s, "SAME"), "");
    EXPECT_EQ(Code(b.Post(Upload("SAME", 3, 2, Base64Encode(b2)))), "0");
    EXPECT_EQ(Code(b.Post(Upload("SAME", 3, 3, Base64Encode(b3)))), "0");
    EXPECT_EQ(StoredBytes(s, "SAME"), b1 + b2 + b3);

    // The same cookie under another operator is another sender.
    auto as = [](const std::string& op, const std::string& body) {
        std::string text = body;
        text.replace(text.find("operator=\"op\""), 13, "operator=\"" + op + "\"");
        return text;
    };
    EXPECT_EQ(Code(a.Post(as("clerk1", Upload("OPS", 2, 1, Base64Encode(a1))))), "0");
    EXPECT_EQ(Code(a.Post(as("clerk2", Upload("OPS", 2, 1, Base64Encode(b1))))), "0");
    EXPECT_EQ(Code(a.Post(as("clerk1", Upload("OPS", 2, 2, Base64Encode(a2))))), "-9");
    EXPECT_EQ(Code(a.Post(as("clerk2", Upload("OPS", 2, 2, Base64Encode(b2))))), "0");
    EXPECT_EQ(StoredBytes(s, "OPS"), b1 + b2);

    // Names holding the characters a joined key would use stay apart.
    auto upload = [](const std::string& op, const std::string& name, int part, const std::string& data) {
        return "<Request method=\"BatchUpload\" operator=\"" + op + "\"><BatchUpload total=\"2\" this=\"" +
               std::to_string(part) + "\" name=\"" + name +
               "\" pages=\"1\" pageindex=\"0\" encoding=\"base64\" overwrite=\"1\">" + Base64Encode(data) + "</BatchUpload></Request>";
    };
    EXPECT_EQ(Code(a.Post(upload("x&#10;y", "z", 1, a1))), "0");
    EXPECT_EQ(Code(b.Post(upload("x", "y&#10;z", 1, b1))), "0");
    EXPECT_EQ(Code(a.Post(upload("x&#10;y", "z", 2, a2))), "0");
    EXPECT_EQ(Code(b.Post(upload("x", "y&#10;z", 2, b2))), "0");
    EXPECT_EQ(StoredBytes(s, "z"), a1 + a2);
}

// Several clients upload the same document at once, round after round: the stored file is
// always one client's whole file, of a client told it was stored; the others are refused.
void RaceUploads(int clientCount, int rounds) {
    Server s;
    std::vector<std::unique_ptr<Client>> clients;
    for (int c = 0; c < clientCount; ++c) clients.push_back(std::make_unique<Client>(s, "racer-" + std::to_string(c)));
    constexpr int kParts = 4;
    auto piece = [](int c, int round, int part) {
        return std::string(300 + 37 * c + part, static_cast<char>('A' + c)) + std::to_string(round) + "/" + std::to_string(part);
    };
    for (int round = 0; round < rounds; ++round) {
        std::string name = "RACE" + std::to_string(round);
        std::vector<int> succeeded(static_cast<std::size_t>(clientCount), 0);
        std::vector<std::string> problems(static_cast<std::size_t>(clientCount));
        std::barrier start(clientCount);
        std::vector<std::thread> threads;
        for (int c = 0; c < clientCount; ++c) {
            threads.emplace_back([&, c] {
                start.arrive_and_wait();
                for (int part = 1; part <= kParts; ++part) {
                    std::string reply = clients[static_cast<std::size_t>(c)]->Post(Upload(name, kParts, part, Base64Encode(piece(c, round, part))));
                    std::string code = Code(reply);
                    if (code == "0") {
                        if (part == kParts) succeeded[static_cast<std::size_t>(c)] = 1;
                        continue;
                    }
                    // The control stops sending a file at its first refused part.
                    if (code.empty() || code[0] != '-' || ReadReplyStatus(reply).errDescription.empty()) {
                        problems[static_cast<std::size_t>(c)] = "unclear refusal: " + reply;
                    }
                    break;
                }
            });
        }
        for (auto& t : threads) t.join();
        for (const auto& problem : problems) EXPECT_EQ(problem, "");
        std::string stored = StoredBytes(s, name);
        int matches = 0;
        for (int c = 0; c < clientCount; ++c) {
            std::string whole;
            for (int part = 1; part <= kParts; ++part) whole += piece(c, round, part);
            if (stored == whole) {
                ++matches;
                EXPECT_TRUE(succeeded[static_cast<std::size_t>(c)]) << "round " << round << ": client " << c << " was refused";
            }
        }
        ASSERT_EQ(matches, 1) << "round " << round << ": the stored file is no client's whole file (" << stored.size() << " bytes)";
    }
}

// Every part over a new connection, as behind a proxy: the sender is its operator and cookie.
TEST(RefServer, PartsOfOneSenderMayComeOverAnyConnection) {
    Server s;
    Client withCookie(s, "desk-7"), withoutCookie(s, "");
    std::string p1(900, '1'), p2(900, '2'), p3(100, '3');
    for (Client* client : {&withCookie, &withoutCookie}) {
        std::string name = client->cookie.empty() ? "ANON" : "COOKIE";
        EXPECT_EQ(Code(client->Post(Upload(name, 3, 1, Base64Encode(p1)))), "0") << name;
        EXPECT_EQ(Code(client->Post(Upload(name, 3, 2, Base64Encode(p2)))), "0") << name;
        EXPECT_EQ(Code(client->Post(Upload(name, 3, 3, Base64Encode(p3)))), "0") << name;
        EXPECT_EQ(StoredBytes(s, name), p1 + p2 + p3) << name;
    }
    // A part 1 sent again (its reply was lost) starts the file over for the same sender.
    Client retrying(s, "desk-8");
    EXPECT_EQ(Code(retrying.Post(Upload("RETRY", 2, 1, Base64Encode(p3)))), "0");
    EXPECT_EQ(Code(retrying.Post(Upload("RETRY", 2, 1, Base64Encode(p1)))), "0");
    EXPECT_EQ(Code(retrying.Post(Upload("RETRY", 2, 2, Base64Encode(p2)))), "0");
    EXPECT_EQ(StoredBytes(s, "RETRY"), p1 + p2);
    // The cookie is read among others, quoted or not; its absence is a sender of its own.
    Client quoted(s, "\"desk-7\"");
    EXPECT_EQ(Code(withCookie.Post(Upload("MIXED", 2, 1, Base64Encode(p1)))), "0");
    EXPECT_EQ(Code(quoted.Post(Upload("MIXED", 2, 2, Base64Encode(p2)))), "0");
    EXPECT_EQ(StoredBytes(s, "MIXED"), p1 + p2);
    EXPECT_EQ(Code(withCookie.Post(Upload("MIXED", 2, 1, Base64Encode(p3)))), "0");
    EXPECT_EQ(Code(withoutCookie.Post(Upload("MIXED", 2, 2, Base64Encode(p3)))), "-9");
    EXPECT_EQ(StoredBytes(s, "MIXED"), p1 + p2);
}

TEST(RefServer, TwoClientsUploadingOneDocumentNeverMix) { RaceUploads(2, 25); }
TEST(RefServer, EightClientsUploadingOneDocumentNeverMix) { RaceUploads(8, 12); }

namespace {

// A plain TCP connection to the server on 127.0.0.1, with 10 s limits on sending and receiving.
struct RawConnection {
    int fd = -1;
    explicit RawConnection(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~RawConnection() {
        if (fd >= 0) ::close(fd);
    }
    bool Send(const std::string& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Readable() {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }
    // What arrives until the peer closes, a receive limit passes or 1 MiB has come.
    std::string ReadAll() {
        std::string text;
        char buffer[65536];
        while (text.size() < 1048576) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    // The status line and headers of the first reply ("" when none came within the limit).
    std::string ReadHead() {
        std::string text;
        char c;
        while (text.size() < 65536 && text.find("\r\n\r\n") == std::string::npos) {
            if (::recv(fd, &c, 1, 0) != 1) return text;
            text.push_back(c);
        }
        return text;
    }
};

std::string PostHead(const std::string& extra) {
    return "POST /app/upload.php HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

}  // namespace

TEST(RefServer, AChunkedBodyOverTheLimitIsRefusedWhileItArrives) {
    Server s(65536);
    RawConnection raw(s.server->Port());
    ASSERT_GE(raw.fd, 0);
    ASSERT_TRUE(raw.Send(PostHead("Transfer-Encoding: chunked\r\n")));
    std::string chunk(16384, 'x');
    std::string framed = "4000\r\n" + chunk + "\r\n";
    const int kChunks = 4096;  // 64 MiB, far more than any buffer between the two ends
    int sent = 0;
    while (sent < kChunks && !raw.Readable() && raw.Send(framed)) ++sent;
    std::string head = raw.ReadHead();
    EXPECT_EQ(head.substr(0, 12), "HTTP/1.1 413") << head;
    EXPECT_LT(sent, kChunks) << "the whole body was read before a reply";
    EXPECT_EQ(Code(s.Post(R"(<Request method="QueryScanList" operator="clerk"/>)")), "0");
}

TEST(RefServer, ADeclaredLengthOverTheLimitIsRefusedBeforeTheBody) {
    Server s(65536);
    {
        RawConnection raw(s.server->Port());
        ASSERT_GE(raw.fd, 0);
        ASSERT_TRUE(raw.Send(PostHead("Content-Length: 300000000\r\n")));
        std::string head = raw.ReadHead();  // no byte of the body has been sent
        EXPECT_EQ(head.substr(0, 12), "HTTP/1.1 413") << head;
        EXPECT_NE(head.find("Connection: close"), std::string::npos) << head;
        EXPECT_EQ(head.find("Connection: close"), head.rfind("Connection: close")) << head;
    }
    {
        RawConnection raw(s.server->Port());
        ASSERT_GE(raw.fd, 0);
        ASSERT_TRUE(raw.Send(PostHead("Content-Length: 300000000\r\nExpect: 100-continue\r\n")));
        std::string head = raw.ReadHead();
        EXPECT_EQ(head.substr(0, 12), "HTTP/1.1 413") << head;
    }
    // A GET does not carry a body, in chunks or not.
    RawConnection get(s.server->Port());
    ASSERT_GE(get.fd, 0);
    ASSERT_TRUE(get.Send("GET /app/temp.php HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n"));
    EXPECT_EQ(get.ReadHead().substr(0, 12), "HTTP/1.1 400");
}

TEST(RefServer, AnyContentTypeCarriesTheRequest) {
    Server s;
    std::string body = Upload("TYPED", 1, 1, Base64Encode(std::string(20000, 't')));
    for (const char* type : {"application/x-www-form-urlencoded", "multipart/form-data; boundary=zz", "text/plain",
                             "multipart/form-data"}) {
        RawConnection raw(s.server->Port());
        ASSERT_GE(raw.fd, 0);
        ASSERT_TRUE(raw.Send(PostHead(std::string("Content-Type: ") + type + "\r\nConnection: close\r\nContent-Length: " +
                                      std::to_string(body.size()) + "\r\n") + body));
        std::string reply = raw.ReadAll();
        EXPECT_EQ(reply.substr(0, 12), "HTTP/1.1 200") << type;
        EXPECT_NE(reply.find("<ErrCode>0</ErrCode>"), std::string::npos) << type << ": " << reply.substr(0, 300);
    }
    EXPECT_EQ(StoredBytes(s, "TYPED"), std::string(20000, 't'));
}

TEST(RefServer, SlowAndIdleConnectionsDoNotKeepOthersOut) {
    Server s;
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 50; ++i) {
        slow.push_back(std::make_unique<RawConnection>(s.server->Port()));
        ASSERT_GE(slow.back()->fd, 0);
        // Half of them start a request and send it a byte at a time; the others say nothing.
        if (i % 2 == 0) {
            ASSERT_TRUE(slow.back()->Send(PostHead("Content-Length: 1000\r\n")));
        }
    }
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        for (int second = 0; second < 30 && !stop; ++second) {
            for (std::size_t i = 0; i < slow.size(); i += 2) slow[i]->Send("<");
            for (int tick = 0; tick < 10 && !stop; ++tick) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto begin = std::chrono::steady_clock::now();
    Client client(s, "normal");
    std::string data = Base64Encode(std::string(5000, 'n'));
    EXPECT_EQ(Code(client.Post(Upload("NORMAL", 2, 1, data))), "0");
    EXPECT_EQ(Code(client.Post(Upload("NORMAL", 2, 2, data))), "0");
    EXPECT_EQ(StoredBytes(s, "NORMAL"), std::string(10000, 'n'));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_LT(seconds, 5.0) << "a normal client waited behind slow ones";
    stop = true;
    trickle.join();
}
