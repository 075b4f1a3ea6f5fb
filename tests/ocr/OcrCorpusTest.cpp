// Recognition and parsing over the generated letters (tests/ocr/make_ocr_corpus.sh): how many
// of the fields that the letters print come out exactly, on clean 300-dpi pages and on the
// degraded ones (200 dpi, skewed up to 3 degrees, specks or grain, JPEG), and per layout
// (receipt stamps, citations, hanging items, lines ending in a title word, 書函 letters). The
// figures are printed; the thresholds sit a little under what the engine reaches today, so
// that a change that loses fields fails, while 100 % is not the bar: the model misreads a
// character here and there (a person's name, 檢 as 松 in one font). DORVEX_OCR_LAYOUTS (comma-separated) limits the run to some layouts.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "ocr/SubTitle.h"
#include "ocr/WordParser.h"
#include "platform/Ocr.h"

using namespace dorvex;

namespace {

std::string CorpusDir() {
    const char* dir = std::getenv("DORVEX_OCR_CORPUS");
    return dir ? dir : "ocr-corpus";
}

struct Tally {
    int fields = 0;
    int exact = 0;  // key found with exactly the printed value
    int found = 0;  // key found, whatever its value
    double Rate(int n) const { return fields == 0 ? 0 : 100.0 * n / fields; }
};

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(line);
    std::string part;
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!line.empty() && line.back() == separator) parts.emplace_back();
    return parts;
}

bool LayoutWanted(const std::string& layout) {
    const char* wanted = std::getenv("DORVEX_OCR_LAYOUTS");
    if (wanted == nullptr || *wanted == '\0') return true;
    for (const std::string& name : Split(wanted, ',')) {
        if (name == layout) return true;
    }
    return false;
}

void PrintTallies(const char* what, const std::map<std::string, Tally>& tallies) {
    for (const auto& [name, tally] : tallies) {
        std::printf("  %-10s %-14s %3d of %3d exact (%5.1f %%)\n", what, name.c_str(), tally.exact, tally.fields, tally.Rate(tally.exact));
    }
}

}  // namespace

TEST(OcrCorpus, FieldsOfTheGeneratedLettersComeOutExactly) {
    std::ifstream pages(CorpusDir() + "/pages.txt");
    ASSERT_TRUE(pages) << "no corpus in " << CorpusDir();
    // The engine as the window gets it, from a parser (which tells it the type names).
    CSubTitles readerTitles;
    CWordParser reader(readerTitles);
    OcrEngine& engine = reader.Engine();
    ASSERT_TRUE(engine.IsSupported()) << engine.LastError();
    std::map<std::string, Tally> tallies, byLayout, byField;
    // Fields found, by whether they came out exactly and whether their confidence marks them.
    struct {
        int exactMarked = 0, exactUnmarked = 0, wrongMarked = 0, wrongUnmarked = 0;
    } marks;
    std::string row;
    int pageCount = 0;
    while (std::getline(pages, row)) {
        std::vector<std::string> cells = Split(row, '|');
        ASSERT_GE(cells.size(), 3u) << row;
        const std::string& file = cells[0];
        const std::string& kind = cells[2];
        const std::string layout = cells.size() > 7 ? cells[7] : "plain";
        if (!LayoutWanted(layout)) continue;
        const std::string stem = file.substr(0, file.rfind('.'));
        std::ifstream expectedFile(CorpusDir() + "/" + stem + ".fields");
        ASSERT_TRUE(expectedFile) << stem << ".fields";

        OcrPage page = engine.RecognizeFirstPage(CorpusDir() + "/" + file);
        CSubTitles titles;
        CWordParser parser(titles);
        parser.LoadPage(page);
        std::map<std::string, std::string> got;
        std::map<std::string, float> confidence;
        for (const CPhase& phase : parser.GetData()) {
            got[phase.Key] = phase.Value;
            confidence[phase.Key] = phase.Confidence;
        }

        Tally& tally = tallies[kind];
        std::string line;
        int pageExact = 0, pageFields = 0;
        while (std::getline(expectedFile, line)) {
            std::vector<std::string> keyValue = Split(line, '\t');
            ASSERT_EQ(keyValue.size(), 2u) << stem << ": " << line;
            Tally& layoutTally = byLayout[layout];
            Tally& fieldTally = byField[keyValue[0]];
            ++tally.fields;
            ++layoutTally.fields;
            ++fieldTally.fields;
            ++pageFields;
            auto it = got.find(keyValue[0]);
            if (it != got.end()) ++tally.found;
            if (it != got.end()) {
                const bool exact = it->second == keyValue[1];
                const bool unsure = CPhase::IsUnsure(confidence[keyValue[0]]);
                ++(exact ? (unsure ? marks.exactMarked : marks.exactUnmarked) : (unsure ? marks.wrongMarked : marks.wrongUnmarked));
            }
            if (it != got.end() && it->second == keyValue[1]) {
                ++tally.exact;
                ++layoutTally.exact;
                ++fieldTally.exact;
                ++pageExact;
            } else {
                std::printf("  %s %s: expected \"%s\", got %s (confidence %.0f)\n", file.c_str(), keyValue[0].c_str(), keyValue[1].c_str(),
                            it == got.end() ? "nothing" : ("\"" + it->second + "\"").c_str(),
                            it == got.end() ? -1.0 : static_cast<double>(confidence[keyValue[0]]));
            }
        }
        std::printf("%s (%s, %s, %s dpi, %s %s pt, skew %s, %s): %d of %d fields exact\n", file.c_str(), layout.c_str(), kind.c_str(),
                    cells[1].c_str(), cells.size() > 3 ? cells[3].c_str() : "?", cells.size() > 4 ? cells[4].c_str() : "?",
                    cells.size() > 5 ? cells[5].c_str() : "?", cells.size() > 6 ? cells[6].c_str() : "?", pageExact, pageFields);
        ++pageCount;
    }
    ASSERT_GE(pageCount, 8);
    const Tally& clean = tallies["clean"];
    const Tally& degraded = tallies["degraded"];
    std::printf("clean 300-dpi pages: %d of %d fields exact (%.1f %%), %d found (%.1f %%)\n", clean.exact, clean.fields,
                clean.Rate(clean.exact), clean.found, clean.Rate(clean.found));
    std::printf("degraded pages:      %d of %d fields exact (%.1f %%), %d found (%.1f %%)\n", degraded.exact, degraded.fields,
                degraded.Rate(degraded.exact), degraded.found, degraded.Rate(degraded.found));
    PrintTallies("layout", byLayout);
    PrintTallies("field", byField);
    std::printf("marked unsure (confidence under %.0f): %d of %d misread fields, %d of %d exact ones\n", CPhase::kSure, marks.wrongMarked,
                marks.wrongMarked + marks.wrongUnmarked, marks.exactMarked, marks.exactMarked + marks.exactUnmarked);
    ASSERT_GT(clean.fields, 50);
    ASSERT_GT(degraded.fields, 40);
    // Measured with Tesseract 5.3.0 and Debian's chi_tra over all layouts: 97.2 % exact /
    // 100 % found on the clean pages, 94.6 % / 98.2 % on the degraded ones. Reading the page
    // as one block instead of line by line, or without the letterhead's second reading, loses
    // 4 to 15 points; a full stop that is not told from a comma by its ink, 0.6.
    EXPECT_GE(clean.Rate(clean.exact), 96.5);  // one field of slack
    EXPECT_GE(clean.Rate(clean.found), 98.0);
    EXPECT_GE(degraded.Rate(degraded.exact), 92.0);
    EXPECT_GE(degraded.Rate(degraded.found), 96.0);
}
