// Recognition by background workers while the feeder runs, against the run that reads every page
// itself after the scan: the same fields with the same progress; a reading of a document changed
// or taken away after it was queued is not stored; a scan that fails and a window closed in the
// middle end the workers. Real engine, real file feeder, the generated letters.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "ScriptedPrompter.h"
#include "TestUtil.h"
#include "control/FrmScan.h"
#include "model/PageEditing.h"
#include "model/SettingsStore.h"
#include "ocr/FrmOCR.h"
#include "ocr/RecognitionQueue.h"
#include "ocr/WordParser.h"
#include "platform/Raster.h"
#include "support/ModFS.h"
#include "support/ModGlobal.h"

namespace dorvex {
namespace {

namespace fs = std::filesystem;
using test::ScriptedPrompter;

std::string Letter(const std::string& name) {
    const char* corpus = std::getenv("DORVEX_OCR_CORPUS");
    return std::string(corpus ? corpus : "ocr-corpus") + "/" + name;
}

std::string Separator() {
    const char* corpus = std::getenv("DORVEX_CORPUS");
    return std::string(corpus ? corpus : "corpus") + "/separator.tif";
}

// What the run after a scan stores when it reads the file itself.
std::vector<CPhase> ReadAlone(const std::string& path) {
    static CWordParser parser(ModSubTitle());
    return parser.Read(path).Fields;
}

void WaitUntilIdle(const RecognitionQueue& queue) {
    while (queue.Busy()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// A scan window in mode "0" on the file feeder, separator sheets between the letters.
class FeederScan : public ::testing::Test {
protected:
    void SetUp() override { SetOcrEnabled(true); }
    void TearDown() override { SetOcrEnabled(false); }

    // The feeder's folder holding `sheets` in order.
    std::string Feed(const std::vector<std::string>& sheets) {
        const std::string folder = config.File("feed" + std::to_string(++feeds));
        fs::create_directories(folder);
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "%03zu.tif", i + 1);
            fs::copy_file(sheets[i], folder + "/" + name);
        }
        return folder;
    }
    std::unique_ptr<FrmScan> Window(const std::string& folder, unsigned workers) {
        auto window = std::make_unique<FrmScan>(person, &store);
        window->SetProperties(prop::Mode, "0");
        window->SetEnableOCR(true);
        window->RecognitionWorkers = workers;
        window->Form_Load();
        for (auto [index, value] : {std::pair{prop::Feeder, "1"}, {prop::ScanMode, "0"}, {prop::UseBarcode, "1"},
                                    {prop::SplitPageMethod, "1"}, {prop::BCSeparator, "SEPARATOR"},
                                    {prop::EnableScanFix, "0"}, {prop::EnableMultiTIFF, "1"}}) {
            window->Props.Set(index, value);
        }
        window->Scanner().DeviceName = "file:" + folder;
        return window;
    }

    test::TempFolder config;
    SettingsStore store{config.File("Dorvex.ini")};
    ScriptedPrompter person;
    int feeds = 0;
};

// One scan's documents as the run left them: pages and fields, in list order, and the progress
// values the recognition window showed (each once), every label naming the document at hand.
struct Outcome {
    std::vector<std::pair<int, std::vector<CPhase>>> documents;
    std::vector<int> progress;
    int progressMax = 0;
};

Outcome Scan(FrmScan& window, const std::function<void()>& atScanEnd = nullptr) {
    Outcome outcome;
    window.Scanner().OnScanEnded = [ended = window.Scanner().OnScanEnded, atScanEnd] {
        if (ended) ended();
        if (atScanEnd) atScanEnd();
    };
    window.ShowOcrWindow = [&](FrmOCR& run) {
        run.OnProgress = [&] {
            if (run.ProgressMax == 0) return;  // the workers' engine still starting
            const auto docs = run.ScanList->AllInnos();
            const auto& shown = docs[static_cast<std::size_t>(std::min<int>(run.ProgressValue, run.ProgressMax - 1))];
            EXPECT_EQ(run.LabMessage, "解析 " + shown->Inno() + " ...");
            if (outcome.progress.empty() || outcome.progress.back() != run.ProgressValue) outcome.progress.push_back(run.ProgressValue);
        };
        run.Form_Activate();
        outcome.progressMax = run.ProgressMax;
    };
    window.StartScan(true);
    window.ShowOcrWindow = nullptr;
    for (const auto& doc : window.ScanCompleteList()->AllInnos()) outcome.documents.emplace_back(doc->ActPage(), doc->Words());
    return outcome;
}

TEST_F(FeederScan, TheWorkersReadWhileTheFeederRunsWhatTheRunAfterItReads) {
    const std::string folder = Feed({Letter("06.tif"), Separator(), Letter("07.tif"), Letter("13.tif"), Separator(),
                                     Letter("17.tif"), Separator(), Letter("21.tif")});
    Outcome alone;
    {
        test::TempFolder tmp;
        auto window = Window(folder, 0);
        alone = Scan(*window);
        EXPECT_EQ(window->BackgroundReading(), nullptr);
    }
    Outcome background;
    {
        test::TempFolder tmp;
        auto window = Window(folder, 1);
        background = Scan(*window, [&] {
            // The feeder stopped: every document it finished was given to the workers; the last
            // one, which a trailing blank sheet could still have changed, was not.
            const RecognitionQueue* reading = window->BackgroundReading();
            ASSERT_NE(reading, nullptr);
            const auto docs = window->ScanCompleteList()->AllInnos();
            ASSERT_EQ(docs.size(), 4u);
            int held = 0;
            for (const auto& doc : docs) held += reading->Holds(doc) ? 1 : 0;
            EXPECT_EQ(held, 3);
        });
        EXPECT_EQ(window->BackgroundReading(), nullptr);  // the workers ended with the scan
        EXPECT_EQ(window->StatusText, "");
    }
    // Documents are numbered at random: they are compared as the same set.
    auto sorted = [](std::vector<std::pair<int, std::vector<CPhase>>> docs) {
        std::sort(docs.begin(), docs.end(), [](const auto& a, const auto& b) {
            return std::make_pair(a.first, a.second.empty() ? std::string() : a.second.front().Value) <
                   std::make_pair(b.first, b.second.empty() ? std::string() : b.second.front().Value);
        });
        return docs;
    };
    ASSERT_EQ(alone.documents.size(), 4u);
    EXPECT_EQ(sorted(background.documents), sorted(alone.documents));
    for (const auto& [pages, words] : alone.documents) EXPECT_FALSE(words.empty()) << pages;
    EXPECT_EQ(background.progressMax, 4);
    EXPECT_EQ(background.progress, alone.progress);
    EXPECT_EQ(alone.progress, (std::vector<int>{0, 1, 2, 3, 4}));
}

// Documents edited, taken away or typed into after their readings were queued (done already, or
// still to do), against what reading them afresh gives.
TEST(BackgroundReading, AReadingOfPagesChangedSinceItWasQueuedIsNeverStored) {
    test::TempFolder tmp;
    ScriptedPrompter person;
    CScanList list;
    auto copy = [&](const std::string& letter) {
        const std::string path = tmp.File(std::to_string(list.TotalInnos()) + "-" + letter);
        fs::copy_file(Letter(letter), path);
        return path;
    };
    auto perPage = [&](const std::string& inno, const std::vector<std::string>& letters) {
        auto doc = list.Add("B1", inno);
        doc->EnableMultiTIFF = false;
        for (const std::string& letter : letters) doc->AppendFile(copy(letter));
        doc->SetActPage(static_cast<std::int32_t>(letters.size()));
        return doc;
    };
    auto oneFile = [&](const std::string& inno, const std::vector<std::string>& letters) {
        auto doc = list.Add("B1", inno);
        for (const std::string& letter : letters) AppendPage(*doc, Raster::Load(Letter(letter)));
        return doc;
    };
    auto deleted = perPage("A", {"06.tif", "07.tif"});  // its first page deleted
    auto removed = perPage("B", {"13.tif"});            // taken out of the list during the run
    auto typed = perPage("C", {"17.tif"});              // the clerk types a field during the run
    auto moved = oneFile("D", {"06.tif", "07.tif"});    // its pages reordered in the file
    auto saved = oneFile("E", {"13.tif"});              // its page saved over

    RecognitionQueue queue(list, ModSubTitle(), {}, 1);
    queue.Offer();
    WaitUntilIdle(queue);  // every reading done, and now out of date for four documents
    DeletePageOfDocument(list, nullptr, deleted, 1);
    ASSERT_TRUE(MovePages(*moved, 2, 2, 0));
    SaveThisPage(*saved, Raster::Load(Letter("17.tif")));
    // A document whose page is deleted while its reading is queued or running.
    auto soon = perPage("G", {"17.tif", "06.tif"});
    queue.Offer();
    soon->Delete(1, false);

    FrmOCR run(person);
    run.ScanList = &list;
    CWordParser parser;
    run.WordParser = &parser;
    run.Queue = &queue;
    bool first = true;
    person.onYield = [&] {
        if (!first) return;
        first = false;
        list.RemoveByInno("B");
        typed->PutWord("主旨", "手打的主旨");
    };
    run.Form_Activate();
    EXPECT_EQ(run.LastError(), "");
    EXPECT_EQ(run.ProgressValue, 6);
    EXPECT_TRUE(run.Failures.empty());

    for (const auto& doc : {deleted, moved, saved, soon}) {
        ASSERT_TRUE(doc->IsParsed()) << doc->Inno();
        EXPECT_EQ(doc->Words(), ReadAlone(doc->FilePaths(1))) << doc->Inno();
        EXPECT_FALSE(doc->Words().empty()) << doc->Inno();
    }
    EXPECT_NE(deleted->Words(), ReadAlone(Letter("06.tif")));
    EXPECT_FALSE(removed->IsParsed());
    EXPECT_EQ(typed->Words(), (std::vector<CPhase>{{"主旨", "手打的主旨"}}));
    EXPECT_FALSE(queue.Busy());
}

// Stopping in the middle of a reading: the workers end, nothing more is given, and a window
// closed while its scan reads in the background ends its workers before anything is deleted.
TEST_F(FeederScan, StoppingMidReadingEndsTheWorkersAndGivesNothingMore) {
    test::TempFolder tmp;
    {
        CScanList list;
        std::vector<std::shared_ptr<CInno>> docs;
        for (const char* letter : {"06.tif", "07.tif", "13.tif"}) {
            auto doc = list.Add("B1", letter);
            doc->AppendFile(Letter(letter));
            doc->SetActPage(1);
            docs.push_back(doc);
        }
        RecognitionQueue queue(list, ModSubTitle(), {}, 2);
        queue.Offer();
        EXPECT_TRUE(queue.Busy());
        queue.Stop();
        EXPECT_FALSE(queue.Busy());
        EXPECT_FALSE(queue.Take(docs[0], [] {}));
        queue.Offer();
        EXPECT_FALSE(queue.Busy());
    }

    const std::string folder = Feed({Letter("06.tif"), Separator(), Letter("07.tif"), Separator(), Letter("13.tif")});
    auto window = Window(folder, 1);
    int yields = 0;
    bool closed = false;
    person.onYield = [&] {
        if (++yields != 3 || closed) return;
        ASSERT_NE(window->BackgroundReading(), nullptr);
        window->Form_QueryUnload();
        closed = true;
        EXPECT_FALSE(window->BackgroundReading()->Busy());
    };
    window->StartScan(true);
    EXPECT_TRUE(closed);
    EXPECT_EQ(window->BackgroundReading(), nullptr);
}

// A feeder that jams in the middle: the documents stored before it are read as the run after
// the scan reads them, and the workers end with the scan.
TEST_F(FeederScan, AScanThatFailsKeepsTheReadingsOfItsStoredPages) {
    const std::string damaged = config.File("damaged.tif");
    {
        const std::string bytes = ReadFileBytes(Letter("17.tif"));
        WriteFileAtomic(damaged, bytes.substr(0, bytes.size() / 4));
    }
    test::TempFolder tmp;
    auto window = Window(Feed({Letter("06.tif"), Separator(), Letter("07.tif"), damaged, Letter("13.tif")}), 1);
    window->StartScan(true);
    EXPECT_EQ(window->Scanner().LastOutcome().pagesStored, 2);
    ASSERT_FALSE(person.messages.empty());
    EXPECT_EQ(person.messages.front(), Acquisition::kAcquireError);
    EXPECT_EQ(window->BackgroundReading(), nullptr);
    const auto docs = window->ScanCompleteList()->AllInnos();
    ASSERT_EQ(docs.size(), 2u);
    for (const auto& doc : docs) {
        EXPECT_TRUE(doc->IsParsed());
        EXPECT_EQ(doc->Words(), ReadAlone(doc->FilePaths(1)));
    }
}

}  // namespace
}  // namespace dorvex
