// Recognition in the scan window with the real engine on the generated letters: the run after a
// scan, reading a document again, an area read into a field, the corrections reaching the
// reference server with the upload, the searchable PDF, and what a desk without the engine's
// language data sees.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "ScriptedPrompter.h"
#include "TestUtil.h"
#include "control/FrmScan.h"
#include "control/OrbScan.h"
#include "model/SettingsStore.h"
#include "ocr/FrmOCR.h"
#include "ocr/WordParser.h"
#include "platform/Ocr.h"
#include "platform/Raster.h"
#include "refserver/RefServer.h"
#include "refserver/Storage.h"
#include "server/Cipher.h"
#include "support/ModFS.h"
#include "support/ModGlobal.h"

namespace dorvex {
namespace {

using test::ScriptedPrompter;

std::string Letter(const std::string& name) {
    const char* corpus = std::getenv("DORVEX_OCR_CORPUS");
    return std::string(corpus ? corpus : "ocr-corpus") + "/" + name;
}

std::map<std::string, std::string> Expected(const std::string& name) {
    std::map<std::string, std::string> fields;
    std::ifstream in(Letter(name));
    for (std::string line; std::getline(in, line);) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) fields[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return fields;
}

std::string WordOf(const CInno& doc, const std::string& key) {
    for (const CPhase& phase : doc.Words()) {
        if (phase.Key == key) return phase.Value;
    }
    return "<none>";
}

// Sets an environment variable for one test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : mName(name) {
        if (const char* old = std::getenv(name)) mOld = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (mOld) ::setenv(mName, mOld->c_str(), 1);
        else ::unsetenv(mName);
    }

private:
    const char* mName;
    std::optional<std::string> mOld;
};

TEST(RecognitionRun, ReadsEachUnreadDocumentOnceAndNamesThoseItCouldNotRead) {
    test::TempFolder tmp;
    ScriptedPrompter person;
    CScanList list;
    auto letter = list.Add("B1", "D1");
    letter->AppendFile(Letter("01.tif"));
    letter->SetActPage(1);
    auto read = list.Add("B1", "D2");
    read->AppendFile(Letter("02.tif"));
    read->SetActPage(1);
    read->SetWords({{"主旨", "已讀"}});
    auto damaged = list.Add("B2", "D3");
    const std::string broken = tmp.File("broken.tif");
    {
        std::ifstream in(Letter("03.tif"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        WriteFileAtomic(broken, bytes.substr(0, bytes.size() / 3));
    }
    damaged->AppendFile(broken);
    damaged->SetActPage(1);
    auto empty = list.Add("B2", "D4");

    CWordParser parser;
    FrmOCR run(person);
    run.ScanList = &list;
    run.WordParser = &parser;
    std::vector<std::string> labels;
    run.OnProgress = [&] { labels.push_back(run.LabMessage + "@" + std::to_string(run.ProgressValue)); };
    run.Form_Activate();
    EXPECT_EQ(run.LastError(), "");
    EXPECT_FALSE(run.Visible);
    EXPECT_EQ(run.ProgressMax, 4);
    EXPECT_EQ(run.ProgressValue, 4);
    const std::vector<std::string> seen = {"解析 D1 ...@0", "解析 D2 ...@1", "解析 D3 ...@2", "解析 D4 ...@3", "解析 D4 ...@4"};
    EXPECT_EQ(labels, seen);

    EXPECT_TRUE(letter->IsParsed());
    EXPECT_EQ(WordOf(*letter, "類別"), "函");
    EXPECT_EQ(WordOf(*letter, "發文日期"), Expected("01.fields")["發文日期"]);
    EXPECT_EQ(read->Words(), (std::vector<CPhase>{{"主旨", "已讀"}}));
    EXPECT_TRUE(damaged->IsParsed());
    EXPECT_TRUE(damaged->Words().empty());
    ASSERT_EQ(run.Failures.size(), 1u);
    EXPECT_EQ(run.Failures[0].rfind("D3: ", 0), 0u) << run.Failures[0];
    EXPECT_FALSE(empty->IsParsed());

    // A second activation does nothing.
    letter->SetWords({});
    run.Form_Activate();
    EXPECT_TRUE(letter->Words().empty());
}

TEST(RecognitionRun, ARunThatCannotStartTouchesNothingAndSaysWhy) {
    test::TempFolder tmp;
    ScriptedPrompter person;
    CScanList list;
    auto doc = list.Add("B1", "D1");
    doc->AppendFile(Letter("01.tif"));
    doc->SetActPage(1);
    CWordParser parser;

    FrmOCR noList(person);
    noList.WordParser = &parser;
    noList.Form_Activate();
    EXPECT_EQ(noList.LastError(), "尚未設定掃描清單");
    FrmOCR noParser(person);
    noParser.ScanList = &list;
    noParser.Form_Activate();
    EXPECT_EQ(noParser.LastError(), "尚未設定解析元件");

    std::filesystem::create_directories(tmp.File("tessdata"));
    CWordParser missing;
    missing.EngineOptions.DataPath = tmp.File("tessdata");
    FrmOCR unsupported(person);
    unsupported.ScanList = &list;
    unsupported.WordParser = &missing;
    unsupported.Form_Activate();
    EXPECT_EQ(unsupported.LastError(), "系統不支援OCR");
    EXPECT_NE(missing.Engine().LastError().find("chi_tra"), std::string::npos) << missing.Engine().LastError();
    EXPECT_FALSE(doc->IsParsed());
    EXPECT_EQ(unsupported.ProgressValue, 0);
}

class RecognitionSession : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", tmp.File("config").c_str(), 1);
        WriteFileAtomic(tmp.File("seed.xml"), R"(<Seed><Operator name="*">
            <ScanCaps><Feeder>1</Feeder><DPI>300</DPI><UseBarcode>0</UseBarcode><EnableMultiTIFF>1</EnableMultiTIFF>
              <ImgFormat>G4</ImgFormat><EnableScanFix>0</EnableScanFix><ScanMode>0</ScanMode></ScanCaps>
            </Operator></Seed>)");
        refserver::RefServerOptions options;
        options.dataDir = tmp.File("data");
        options.seedFile = tmp.File("seed.xml");
        server = std::make_unique<refserver::RefServer>(options);
        server->Start();
        control.SetEncServerURL(EncryptText(server->BaseUrl() + "upload.php"));
        control.SetEncOperator(EncryptText("王小明"));
        control.SetEnableOCR(true);
        control.SetEncInno(EncryptText("A1"));
        // The feeder holds two letters: they make one document, whose first page is read.
        const std::string folder = tmp.File("feed");
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(Letter("01.tif"), folder + "/001.tif");
        std::filesystem::copy_file(Letter("02.tif"), folder + "/002.tif");
        SettingsStore store;
        store.Set("Twain", Acquisition::kSourceKey, "file:" + folder);
        store.Save();
    }
    void TearDown() override {
        server->Stop();
        SetOcrEnabled(false);
    }

    test::TempFolder tmp;
    std::unique_ptr<refserver::RefServer> server;
    ScriptedPrompter person;
    InProcessHost host{person};
    OrbScan control{host};
};

TEST_F(RecognitionSession, AScanIsReadAndTheClerksCorrectionReachesTheServerWithTheUpload) {
    const auto expected = Expected("01.fields");
    std::shared_ptr<CInno> kept;
    host.Person = [&](FrmScan& window) {
        window.StartScan(true);
        auto doc = window.ScanCompleteList()->GetInno2("A1");
        ASSERT_TRUE(doc);
        ASSERT_EQ(doc->ActPage(), 2);
        ASSERT_TRUE(doc->IsParsed());
        EXPECT_EQ(WordOf(*doc, "類別"), "函");
        EXPECT_EQ(WordOf(*doc, "速別"), expected.at("速別"));
        // Only the first letter was read: the second's fields are not there.
        EXPECT_EQ(WordOf(*doc, "發文字號"), expected.at("發文字號"));
        // The field editor shows the document; the clerk corrects the subject and uploads
        // without leaving the field.
        EXPECT_EQ(window.OCRDetail.TypeText(), "函");
        EXPECT_EQ(window.OCRDetail.Text(4), expected.at("速別"));
        window.OCRDetail.TxtContent_GotFocus(6);
        window.OCRDetail.TxtContent_Change(6, "更正後的主旨");
        window.ImgUpload();
        EXPECT_EQ(WordOf(*doc, "主旨"), "更正後的主旨");
        // A correction still in its field when the window closes goes into the document, which
        // is then unsaved again: the person is asked.
        window.OCRDetail.TxtContent_GotFocus(1);
        window.OCRDetail.TxtContent_Change(1, "更正後的受文者");
        person.messages.clear();
        kept = doc;
    };
    control.ShowSingleTwain();
    ASSERT_TRUE(kept);
    EXPECT_EQ(WordOf(*kept, "受文者"), "更正後的受文者");
    ASSERT_FALSE(person.messages.empty());
    EXPECT_EQ(person.messages[0], FrmScan::kAskSave);
    refserver::Storage storage(tmp.File("data"));
    std::map<std::string, std::string> stored;
    for (const auto& [key, value] : storage.Words("A1")) stored[key] = value;
    EXPECT_EQ(stored["主旨"], "更正後的主旨");
    EXPECT_EQ(stored["類別"], "函");
    ASSERT_TRUE(storage.Find("A1"));
}

TEST_F(RecognitionSession, AnAreaIsReadIntoTheChosenFieldAndAnEmptyAreaChangesNothing) {
    // Where the lines of the first letter lie, as the engine reads them.
    OcrEngine engine;
    const OcrPage page = engine.RecognizeFirstPage(Letter("01.tif"));
    std::map<long, RasterRect> lines;
    std::map<long, std::string> texts;
    for (const OcrWord& word : page.Words) {
        const PixelRect& r = word.Rects.front();
        auto [at, fresh] = lines.try_emplace(word.RegionId, RasterRect{int(r.Left), int(r.Top), int(r.Right - r.Left), int(r.Bottom - r.Top)});
        RasterRect& box = at->second;
        if (!fresh) {
            const int right = std::max<int>(box.left + box.width, int(r.Right)), bottom = std::max<int>(box.top + box.height, int(r.Bottom));
            box.left = std::min<int>(box.left, int(r.Left));
            box.top = std::min<int>(box.top, int(r.Top));
            box.width = right - box.left;
            box.height = bottom - box.top;
        }
        texts[word.RegionId] += word.Text;
    }
    long dateLine = -1;
    for (const auto& [id, text] : texts) {
        if (text.rfind("發文日期", 0) == 0) dateLine = id;
    }
    ASSERT_NE(dateLine, -1);
    auto padded = [](RasterRect r) { return RasterRect{r.left - 10, r.top - 10, r.width + 20, r.height + 20}; };

    host.Person = [&](FrmScan& window) {
        window.StartScan(true);
        auto doc = window.ScanCompleteList()->GetInno2("A1");
        ASSERT_TRUE(doc);
        window.CbPg_Click(1);
        ImageViewer& viewer = window.Pages().OneViewer;
        ASSERT_TRUE(viewer.HasImage());
        ASSERT_EQ(window.OcrMenu.size(), 9u);
        EXPECT_EQ(window.OcrMenu[4].Key, "mnuOCR[4]");
        EXPECT_EQ(window.OcrMenu[4].Caption, "來文字號");

        // The date line (title, colon and date) read into "來文字號": its value, not nothing.
        viewer.RubberBand = padded(lines[dateLine]);
        EXPECT_TRUE(window.OcrMenuWanted());
        doc->PutWord("發文字號", "舊字號");
        window.OcrMenuClick(4);
        EXPECT_EQ(WordOf(*doc, "發文字號"), "舊字號");  // no "來文字號" title in the area
        EXPECT_EQ(window.StatusText, "選取範圍內沒有辨識到文字");
        viewer.RubberBand = padded(lines[dateLine]);
        window.OcrMenuClick(3);
        EXPECT_EQ(WordOf(*doc, "發文日期"), Expected("01.fields").at("發文日期"));
        EXPECT_EQ(window.OCRDetail.Text(2), Expected("01.fields").at("發文日期"));
        EXPECT_FALSE(viewer.RubberBand);

        // A band over the empty margin leaves the field as it was.
        const std::string subject = WordOf(*doc, "主旨");
        viewer.RubberBand = RasterRect{5, 5, 60, 60};
        window.OcrMenuClick(7);
        EXPECT_EQ(WordOf(*doc, "主旨"), subject);
        EXPECT_EQ(window.StatusText, "選取範圍內沒有辨識到文字");

        // With "區塊刪除" pressed the band is for erasing; without a band there is no menu.
        viewer.RubberBand = padded(lines[dateLine]);
        window.Commands.Button("btnRectangleErase")->Pressed = true;
        EXPECT_FALSE(window.OcrMenuWanted());
        window.Commands.Button("btnRectangleErase")->Pressed = false;
        viewer.RubberBand.reset();
        EXPECT_FALSE(window.OcrMenuWanted());

        // Read again from the tree menu: the words are replaced by the page's.
        doc->SetWords({{"主旨", "手打"}});
        window.Tree.Selected = 0;
        window.Execute(Command::TreeRecognize);
        EXPECT_EQ(WordOf(*doc, "類別"), "函");
        EXPECT_EQ(WordOf(*doc, "發文日期"), Expected("01.fields").at("發文日期"));
        EXPECT_NE(WordOf(*doc, "主旨"), "手打");
        EXPECT_NE(WordOf(*doc, "主旨"), "<none>");

        // An edit left in a field goes into the document it was made in when another is shown.
        window.ShowWords(doc);
        auto other = window.ScanCompleteList()->Add("B9", "X1");
        window.OCRDetail.TxtContent_GotFocus(1);
        window.OCRDetail.TxtContent_Change(1, "某某學校");
        window.ShowWords(other);
        EXPECT_EQ(WordOf(*doc, "受文者"), "某某學校");
        EXPECT_FALSE(other->IsParsed());
        EXPECT_EQ(window.OCRDetail.Text(1), "");
        // However a document comes to be shown, the field editor follows it.
        window.Pages().CurrentDoc = doc;
        window.Redraw();
        EXPECT_EQ(window.OCRDetail.TypeText(), "函");
        EXPECT_EQ(window.OCRDetail.Text(1), "某某學校");

        // The page saved as a searchable PDF.
        person.saveName = tmp.File("letter.pdf");
        EXPECT_TRUE(window.ShowSave());
        EXPECT_NE(person.saveFilter.find("PDF (可搜尋)|*.pdf"), std::string::npos);
        std::ifstream pdf(tmp.File("letter.pdf"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(pdf)), {});
        EXPECT_EQ(bytes.rfind("%PDF", 0), 0u);
        EXPECT_NE(bytes.find("GlyphLessFont"), std::string::npos);  // the invisible text layer

        // Reading again a page file that can no longer be read keeps the fields, the clerk's
        // correction among them, and says what failed.
        doc->PutWord("主旨", "手改的主旨");
        std::filesystem::resize_file(doc->FilePaths(1), 100);
        person.messages.clear();
        window.Execute(Command::TreeRecognize);
        EXPECT_EQ(WordOf(*doc, "主旨"), "手改的主旨");
        EXPECT_EQ(WordOf(*doc, "類別"), "函");
        EXPECT_EQ(window.StatusText.rfind("辨識失敗：", 0), 0u) << window.StatusText;
        ASSERT_EQ(person.messages.size(), 1u);
        EXPECT_EQ(person.messages[0], window.StatusText);
        EXPECT_EQ(window.OCRDetail.Text(6), "手改的主旨");
    };
    control.ShowSingleTwain();
}

TEST_F(RecognitionSession, WithoutTheLanguageDataEveryRecognitionSaysSoAndNothingChanges) {
    std::filesystem::create_directories(tmp.File("tessdata"));
    ScopedEnv data("TESSDATA_PREFIX", tmp.File("tessdata"));
    host.Person = [&](FrmScan& window) {
        window.StartScan(true);
        auto doc = window.ScanCompleteList()->GetInno2("A1");
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->ActPage(), 2);
        EXPECT_FALSE(doc->IsParsed());
        EXPECT_EQ(window.StatusText.rfind("系統不支援OCR", 0), 0u) << window.StatusText;
        person.messages.clear();
        window.Execute(Command::TreeRecognize);
        ASSERT_EQ(person.messages.size(), 1u);
        EXPECT_EQ(person.messages[0].rfind("系統不支援OCR", 0), 0u);
        EXPECT_FALSE(doc->IsParsed());
        person.saveName.clear();
        window.ShowSave();
        EXPECT_EQ(person.saveFilter.find("PDF"), std::string::npos);
    };
    control.ShowSingleTwain();
}

}  // namespace
}  // namespace dorvex
