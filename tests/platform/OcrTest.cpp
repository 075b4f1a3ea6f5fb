// The recognition engine adapter on the generated letters (DORVEX_OCR_CORPUS), with the real
// Tesseract and its chi_tra data.

#include "platform/Ocr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "TestUtil.h"
#include "ocr/SubTitle.h"
#include "ocr/WordParser.h"
#include "support/CodePage.h"
#include "support/Error.h"

using namespace dorvex;

namespace {

std::string Corpus(const std::string& name) {
    const char* dir = std::getenv("DORVEX_OCR_CORPUS");
    return std::string(dir ? dir : "ocr-corpus") + "/" + name;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

int ErrorNumber(const std::function<void()>& call, std::string* text = nullptr) {
    try {
        call();
    } catch (const DorvexError& e) {
        if (text) *text = e.what();
        return e.Number();
    }
    return 0;
}

std::vector<CPhase> Fields(const OcrPage& page) {
    CSubTitles titles;
    CWordParser parser(titles);
    parser.LoadPage(page);
    return parser.GetData();
}

std::string Field(const std::vector<CPhase>& fields, const std::string& key) {
    for (const CPhase& phase : fields) {
        if (phase.Key == key) return phase.Value;
    }
    return "(missing)";
}

}  // namespace

TEST(OcrEngine, MissingLanguageDataIsAClearErrorAndKept) {
    test::TempFolder folder;
    OcrOptions options;
    options.DataPath = folder.Path();  // an empty folder: no chi_tra.traineddata in it
    OcrEngine engine(options);
    EXPECT_FALSE(engine.IsSupported());
    EXPECT_NE(engine.LastError().find("chi_tra"), std::string::npos) << engine.LastError();
    EXPECT_NE(engine.LastError().find("tesseract-ocr-chi-tra"), std::string::npos) << engine.LastError();
    EXPECT_NE(engine.LastError().find(folder.Path()), std::string::npos) << engine.LastError();
    EXPECT_FALSE(engine.IsSupported());  // the answer is kept
    std::string text;
    EXPECT_EQ(ErrorNumber([&] { engine.RecognizeFirstPage(Corpus("01.tif")); }, &text), err::CannotCreateObject);
    EXPECT_EQ(text, engine.LastError());
}

TEST(OcrEngine, ReadsALetterAsOneWordPerCharacterOnItsLines) {
    OcrEngine engine;
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    OcrPage page = engine.RecognizeFirstPage(Corpus("01.tif"));
    EXPECT_EQ(page.Pass, 1);
    EXPECT_EQ(page.Turned, 0);
    EXPECT_EQ(page.XDpi, 300);
    EXPECT_EQ(page.YDpi, 300);
    EXPECT_EQ(page.PixelWidth, 2480);
    EXPECT_EQ(page.PixelHeight, 3508);
    ASSERT_GT(page.Words.size(), 250u);
    long region = 0;
    for (const OcrWord& word : page.Words) {
        EXPECT_EQ(ToU32(word.Text).size(), 1u) << word.Text;
        ASSERT_EQ(word.Rects.size(), 1u);
        const PixelRect& r = word.Rects.front();
        EXPECT_TRUE(r.Left >= 0 && r.Left < r.Right && r.Right <= page.PixelWidth) << word.Text;
        EXPECT_TRUE(r.Top >= 0 && r.Top < r.Bottom && r.Bottom <= page.PixelHeight) << word.Text;
        EXPECT_TRUE(word.RegionId == region || word.RegionId == region + 1) << word.Text;  // lines in order from 0
        region = word.RegionId;
    }
    EXPECT_EQ(page.Words.front().RegionId, 0);
    EXPECT_GE(region, 15);  // every printed line of the letter is a line of its own
    const std::string text = page.Text();
    // The full-width colons of the titles, which the model reads as ASCII, are as printed.
    EXPECT_NE(text.find("發文日期：中華民國113年3月5日\n"), std::string::npos) << text;
    EXPECT_NE(text.find("受文者：臺北市立建國高級中學\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(':'), std::string::npos) << text;

    // A character is about as wide as the print (14 pt at 300 dpi: 58 pixels a character).
    for (const OcrWord& word : page.Words) {
        if (word.Text != "發") continue;
        long width = word.Rects.front().Right - word.Rects.front().Left;
        EXPECT_GT(width, 40);
        EXPECT_LT(width, 62);
    }
    std::vector<CPhase> fields = Fields(page);
    EXPECT_EQ(Field(fields, "發文日期"), "中華民國113年3月5日");
    EXPECT_EQ(Field(fields, "說明"), "一、依據本局113年2月20日會議決議辦理。二、請於113年4月30日前提報執行情形。");
}

TEST(OcrEngine, ALetterheadsSetApartTypeIsReadAgainAmongTheTypeNames) {
    // After the letterhead's wide gap the model reads 函 as 戰 in a brush font, and 書函 as 書吵
    // on a skewed, specked page.
    OcrOptions options;
    options.ApartWords = {"令", "函", "簽", "書函", "公告", "開會通知單"};
    OcrEngine engine(options);
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    std::string text = "\n" + engine.RecognizeFirstPage(Corpus("03.tif")).Text();
    EXPECT_NE(text.find("\n桃園市政府衛生局函\n"), std::string::npos) << text;
    text = "\n" + engine.RecognizeFirstPage(Corpus("30.tif")).Text();
    EXPECT_NE(text.find("\n南投縣政府書函\n"), std::string::npos) << text;

    // A second reading is kept only when it is one of the words: 函 never becomes another.
    options.ApartWords = {"公告", "令"};
    OcrEngine narrow(options);
    text = narrow.RecognizeFirstPage(Corpus("03.tif")).Text();
    EXPECT_EQ(text.find("衛生局公告"), std::string::npos) << text;
    EXPECT_EQ(text.find("衛生局令"), std::string::npos) << text;
}

TEST(OcrEngine, AFullStopWithoutARingIsAComma) {
    // In a brush font the model reads the comma that opens a wrapped line as "。"; the comma's
    // ink is a solid head with a tail, the full stop's a ring, and the ring stays a full stop.
    OcrEngine engine;
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    const std::string text = "\n" + engine.RecognizeFirstPage(Corpus("03.tif")).Text();
    EXPECT_NE(text.find("\n，請查照。\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\n。"), std::string::npos) << text;
}

TEST(OcrEngine, APageLyingOnItsSideIsReadUpright) {
    OcrEngine engine;
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    OcrPage page = engine.RecognizeFirstPage(Corpus("turned.tif"));
    EXPECT_EQ(page.Pass, 1);
    EXPECT_EQ(page.Turned, 270);  // it lay a quarter clockwise
    EXPECT_EQ(page.PixelWidth, 2480);
    EXPECT_EQ(page.PixelHeight, 3508);
    std::vector<CPhase> fields = Fields(page);
    EXPECT_EQ(Field(fields, "受文者"), "新北市立圖書館");
    EXPECT_EQ(Field(fields, "發文字號"), "新北府文字第1130876543號");
}

TEST(OcrEngine, ABlankPageIsReadTwiceAndHasNoWords) {
    OcrEngine engine;
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    OcrPage page = engine.Recognize(Raster::Blank(1654, 2339, 1, 200));
    EXPECT_TRUE(page.Words.empty());
    EXPECT_EQ(page.Pass, 2);
    EXPECT_EQ(page.Text(), "");
    EXPECT_EQ(page.XDpi, 200);
    EXPECT_EQ(page.PixelWidth, 1654);
}

TEST(OcrEngine, PagesBeyondTheEnginesCoordinatesAreRefused) {
    OcrEngine engine;
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    std::string text;
    EXPECT_EQ(ErrorNumber([&] { engine.Recognize(Raster::Blank(kMaxOcrSide + 1, 16, 1)); }, &text), err::InvalidArgument);
    EXPECT_NE(text.find("too large"), std::string::npos) << text;
    EXPECT_EQ(ErrorNumber([&] { engine.Recognize(Raster()); }), err::InvalidArgument);
}

TEST(OcrEngine, ARecognitionPastItsTimeLimitFails) {
    OcrOptions options;
    options.TimeLimitMs = 1;
    OcrEngine engine(options);
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    std::string text;
    EXPECT_EQ(ErrorNumber([&] { engine.RecognizeFirstPage(Corpus("02.tif")); }, &text), err::AutomationError);
    EXPECT_NE(text.find("longer than"), std::string::npos) << text;
}

TEST(OcrEngine, UnreadableFilesAreNamed) {
    OcrEngine engine;
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    test::TempFolder folder;
    std::string text;
    EXPECT_EQ(ErrorNumber([&] { engine.RecognizeFirstPage(folder.File("missing.tif")); }, &text), err::FileNotFound);
    std::ofstream(folder.File("note.tif")) << "not an image";
    EXPECT_EQ(ErrorNumber([&] { engine.RecognizeFirstPage(folder.File("note.tif")); }, &text), err::InvalidArgument);
    EXPECT_NE(text.find("note.tif"), std::string::npos) << text;
}

TEST(OcrEngine, WritesASearchablePdfOfEveryPage) {
    OcrEngine engine;
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    test::TempFolder folder;
    ::umask(022);
    const std::string twoPages = folder.File("two.tif");
    PageFileBuilder builder(twoPages);
    builder.AddFrom(Corpus("03.tif"), 1);
    builder.AddFrom(Corpus("10.tif"), 1);
    builder.Finish();
    builder.Commit();
    const std::string out = folder.File("letters.pdf");
    std::vector<std::pair<std::size_t, int>> seen;
    std::string subject;
    int pages = engine.WriteSearchablePdf({Corpus("01.tif"), twoPages, Corpus("09.jpg")}, out,
                                          [&](std::size_t file, int page, const OcrPage& recognised) {
                                              seen.emplace_back(file, page);
                                              if (file == 0) subject = Field(Fields(recognised), "受文者");
                                          });
    EXPECT_EQ(pages, 4);
    EXPECT_EQ(seen, (std::vector<std::pair<std::size_t, int>>{{0, 1}, {1, 1}, {1, 2}, {2, 1}}));
    EXPECT_EQ(subject, "臺北市立建國高級中學");
    const std::string pdf = ReadAll(out);
    ASSERT_GT(pdf.size(), 1000u);
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    EXPECT_EQ(pdf.substr(pdf.size() - 6), "%%EOF\n");
    EXPECT_EQ(Count(pdf, "/Type /Page\n"), 4u);
    EXPECT_EQ(Count(pdf, "/CCITTFaxDecode"), 3u);  // the black-and-white scans as they are
    EXPECT_EQ(Count(pdf, "/DCTDecode"), 1u);       // the JPEG scan's own data
    // A document for others to read, as any new file under the umask (022 here).
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(out).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    // Nothing else is left beside it.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"letters.pdf", "two.tif"}));
}

TEST(OcrEngine, APdfThatCannotBeWrittenWholeLeavesTheOldFile) {
    OcrEngine engine;
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    test::TempFolder folder;
    const std::string out = folder.File("letters.pdf");
    std::ofstream(out) << "the old file";
    std::string text;
    EXPECT_EQ(ErrorNumber([&] { engine.WriteSearchablePdf({Corpus("01.tif"), folder.File("missing.tif")}, out); }, &text),
              err::FileNotFound);
    EXPECT_EQ(ReadAll(out), "the old file");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.Path())) ++entries;
    EXPECT_EQ(entries, 1u);  // no temporary file left behind

    EXPECT_EQ(ErrorNumber([&] { engine.WriteSearchablePdf({Corpus("01.tif")}, folder.File("no/such/folder/x.pdf")); }),
              err::PathNotFound);
    EXPECT_EQ(ErrorNumber([&] { engine.WriteSearchablePdf({}, out); }), err::InvalidArgument);
}
