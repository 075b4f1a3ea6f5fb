#include "control/ScanPages.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <utility>

#include "ScriptedPrompter.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "model/PageEditing.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "support/ModFS.h"

using namespace dorvex;

namespace {

struct Window {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    ScanProperties props;
    CScanList list;
    CScanList server;
    SettingsStore store{dir.File("Dorvex.ini")};
    ScanPages pages{person, props, list};

    Window() {
        pages.ServerList = &server;
        pages.Store = &store;
    }
    std::shared_ptr<CInno> Document(const std::string& inno, std::vector<int> numbers, bool multi = true) {
        auto doc = list.Add("B", inno);
        doc->EnableMultiTIFF = multi;
        for (int k : numbers) AppendPage(*doc, test::NumberedPage(k));
        doc->FirstPage();
        return doc;
    }
    std::vector<int> Numbers(const CInno& doc) {
        std::vector<int> numbers;
        for (int p = 1; p <= doc.ActPage(); ++p) numbers.push_back(test::PageNumberOf(LoadPage(doc, p)));
        return numbers;
    }
    int Shown() { return test::PageNumberOf(pages.OneViewer.Image()); }
};

}  // namespace

TEST(ScanPages, ShowingPagesAndTheThumbnailGroup) {
    Window w;
    w.props.ItemLimit = 3;
    auto doc = w.Document("A", {1, 2, 3, 4, 5});
    w.pages.CurrentDoc = doc;
    w.pages.LoadImageByCInno(doc, true, true);
    EXPECT_EQ(w.Shown(), 1);
    EXPECT_EQ(w.pages.OneViewer.FileInfo().pages, 5);
    ASSERT_EQ(w.pages.MultiViewer.Items.size(), 3u);
    w.pages.ImgMoveTo(3);
    EXPECT_EQ(w.Shown(), 4);
    EXPECT_EQ(w.pages.MultiViewer.Offset, 3);
    EXPECT_EQ(w.pages.MultiViewer.Items.size(), 2u);
    EXPECT_EQ(w.pages.MultiViewer.Selected, 0);
    w.pages.ImgMoveTo(5);  // beyond the last page: nothing
    EXPECT_EQ(doc->SelectedIndex, 4);
    w.pages.LoadImageFile(doc->FilePath());
    EXPECT_EQ(w.Shown(), 1);

    w.pages.OneViewer.ZoomPercent = 12;
    w.pages.OneViewer.ZoomOut();
    EXPECT_EQ(w.pages.OneViewer.ZoomPercent, 7);
    w.pages.OneViewer.ZoomOut();
    EXPECT_EQ(w.pages.OneViewer.ZoomPercent, 7);
}

TEST(ScanPages, GroupButtonsGoToTheFirstPageOfTheNextOrPreviousGroup) {
    Window w;
    w.props.ItemLimit = 3;
    auto doc = w.Document("A", {1, 2, 3, 4, 5, 6, 7});
    w.pages.CurrentDoc = doc;
    w.pages.LoadImageByCInno(doc, true, true);
    w.pages.MoveGroup(false);  // before the first group: nothing
    EXPECT_EQ(doc->SelectedIndex, 1);
    w.pages.MoveGroup(true);
    EXPECT_EQ(w.Shown(), 4);
    EXPECT_EQ(w.pages.MultiViewer.Offset, 3);
    EXPECT_EQ(w.pages.MultiViewer.Items.front().page, 4);
    w.pages.MoveGroup(true);
    EXPECT_EQ(w.Shown(), 7);
    ASSERT_EQ(w.pages.MultiViewer.Items.size(), 1u);
    w.pages.MoveGroup(true);  // past the last group: nothing
    EXPECT_EQ(doc->SelectedIndex, 7);
    w.pages.MoveGroup(false);
    EXPECT_EQ(w.Shown(), 4);
    EXPECT_EQ(w.pages.MultiViewer.Items.size(), 3u);
}

TEST(ScanPages, RubberBandsAreClippedAndAnArmedAreaZoomFitsTheBandIntoTheView) {
    Window w;
    auto doc = w.Document("A", {1});
    w.pages.CurrentDoc = doc;
    w.pages.LoadImageByCInno(doc);
    ImageViewer& viewer = w.pages.OneViewer;  // 200 x 120 pixels
    const auto revision = viewer.Revision();
    EXPECT_FALSE(viewer.BandDrawn({-10, 100, 50, 50}, 800, 600, false));
    ASSERT_TRUE(viewer.RubberBand);
    EXPECT_EQ(viewer.RubberBand->left, 0);
    EXPECT_EQ(viewer.RubberBand->width, 40);
    EXPECT_EQ(viewer.RubberBand->top, 100);
    EXPECT_EQ(viewer.RubberBand->height, 20);
    viewer.BandDrawn({300, 10, 20, 20}, 800, 600, false);  // outside the page
    EXPECT_FALSE(viewer.RubberBand);

    viewer.RubberBandMode = true;
    viewer.AreaZoomArmed = true;
    EXPECT_FALSE(viewer.BandDrawn({10, 10, 40, 20}, 800, 600, true));  // recognition keeps the band
    EXPECT_TRUE(viewer.RubberBand && viewer.AreaZoomArmed);
    auto area = viewer.BandDrawn({10, 10, 40, 20}, 800, 600, false);
    ASSERT_TRUE(area);
    EXPECT_EQ(area->left, 10);
    EXPECT_EQ(viewer.DisplayMode, ImageViewer::Display::Zoom);
    EXPECT_EQ(viewer.ZoomPercent, ImageViewer::kMaxAreaZoom);  // 2000 % would fit
    EXPECT_FALSE(viewer.RubberBand || viewer.AreaZoomArmed || viewer.RubberBandMode);
    viewer.RubberBandMode = viewer.AreaZoomArmed = true;
    viewer.BandDrawn({0, 0, 200, 100}, 800, 300, false);
    EXPECT_EQ(viewer.ZoomPercent, 300);

    // A fitted page tells its scale, and zooming goes on from there.
    viewer.FitView();
    viewer.FittedAt(37);
    viewer.ZoomIn();
    EXPECT_EQ(viewer.ZoomPercent, 42);
    viewer.FittedAt(80);  // not fitted any more
    EXPECT_EQ(viewer.ZoomPercent, 42);
    EXPECT_EQ(viewer.Revision(), revision);  // bands and zoom leave the image as it is
    EXPECT_EQ(std::as_const(viewer).Image().Width(), 200);
    EXPECT_EQ(viewer.Revision(), revision);
    viewer.Image().Invert();
    EXPECT_NE(viewer.Revision(), revision);
}

TEST(ScanPages, PenAndEraserStrokesAreSavedWithThePage) {
    Window w;
    auto doc = w.Document("A", {1, 2});
    w.pages.CurrentDoc = doc;
    w.pages.LoadImageByCInno(doc);
    w.pages.DrawStroke({{20, 60}, {120, 60}});  // no tool: nothing
    EXPECT_EQ(test::PageNumberIn(doc->FilePath(), 1), 1);
    w.pages.OneViewer.ActiveTool = ImageViewer::Tool::Pen;
    const auto revision = w.pages.OneViewer.Revision();
    w.pages.DrawStroke({{20, 60}, {120, 60}, {120, 100}});
    EXPECT_NE(w.pages.OneViewer.Revision(), revision);
    Raster stored = LoadPage(*doc, 1);
    EXPECT_TRUE(stored.IsBlack(70, 60) && stored.IsBlack(120, 90));
    EXPECT_FALSE(stored.IsBlack(70, 80));
    EXPECT_EQ(test::PageNumberIn(doc->FilePath(), 2), 2);  // the other page is untouched
    // The eraser takes out the bar of page 1 (x 10..19, y 10..19) and the pen's line.
    w.pages.OneViewer.ActiveTool = ImageViewer::Tool::Eraser;
    w.pages.DrawStroke({{5, 15}, {25, 15}});
    w.pages.DrawStroke({{10, 60}, {130, 60}, {120, 60}, {120, 110}});
    EXPECT_EQ(LoadPage(*doc, 1).CountInk(), 0);
}

TEST(ScanPages, CopyPasteCutPasteAndDelete) {
    Window w;
    auto doc = w.Document("A", {1, 2, 3});
    w.pages.CurrentDoc = doc;
    w.pages.LoadImageByCInno(doc);
    w.pages.ImgCopy();
    w.pages.ImgPaste();  // after the current page, which becomes the copy
    EXPECT_EQ(w.Numbers(*doc), (std::vector<int>{1, 1, 2, 3}));
    EXPECT_EQ(doc->SelectedIndex, 2);
    doc->SelectedIndex = 4;
    w.pages.ImgCut();
    doc->SelectedIndex = 1;
    w.pages.ImgPaste();  // a page cut from behind lands before the current page
    EXPECT_EQ(w.Numbers(*doc), (std::vector<int>{3, 1, 1, 2}));
    EXPECT_EQ(w.pages.ClipboardMode, 0);
    doc->SelectedIndex = 2;
    w.pages.LoadImageByCInno(doc);
    w.pages.ImgDelete();
    EXPECT_EQ(w.Numbers(*doc), (std::vector<int>{3, 1, 2}));

    auto single = w.Document("S", {9});
    w.pages.CurrentDoc = single;
    w.pages.LoadImageByCInno(single);
    w.pages.ImgDelete();  // the only page: the document goes
    EXPECT_FALSE(w.list.IsInnoExists("S"));
    EXPECT_FALSE(w.pages.CurrentDoc);
    EXPECT_FALSE(w.pages.OneViewer.HasImage());
}

TEST(ScanPages, ManualCleanUpSavesThePageAndTheSettings) {
    Window w;
    auto doc = w.Document("A", {2, 3});
    w.pages.CurrentDoc = doc;
    w.pages.LoadImageByCInno(doc);
    doc->SetState(state::SavedOther);  // already on the server: the clean-up changes it again
    w.pages.OneViewer.Image().SetBlack(150, 100);  // a speck
    w.pages.ImgDotRemove();
    EXPECT_EQ(LoadPage(*doc, 1).CountInk(), 200);
    EXPECT_EQ(doc->state(), state::ChangedOther);

    w.pages.ShowBorderRemove = [](FrmBorderRemove& dialog) {
        dialog.TxtWNlength = 25;
        dialog.CmdOK_Click();
    };
    w.pages.ImgBorderRemove();
    EXPECT_EQ(w.props.Get(prop::BRWNLength), "10");
    EXPECT_EQ(SettingsStore(w.store.Path()).Get("Twain", "BRWNLength"), "10");

    w.pages.TxtAngle_Change("abc");
    EXPECT_EQ(w.props.Get(prop::RotateAngle), "90");
    w.pages.RotateByAngleBox(true);  // "abc": nothing
    EXPECT_EQ(LoadPage(*doc, 1).Width(), 200);
    w.pages.TxtAngle_Change("90");
    w.pages.TxtAngle_Change("180");
    EXPECT_EQ(SettingsStore(w.store.Path()).Get("Twain", "RotateAngle"), "180");
    w.pages.TxtAngle_Change("90");
    w.pages.RotateByAngleBox(false);
    EXPECT_EQ(LoadPage(*doc, 1).Width(), 120);

    w.pages.ShowRotate = [](FrmRotate& dialog) {
        dialog.Choice = 0;
        dialog.CmdOK_Click();
    };
    w.pages.ImgRotate();
    EXPECT_EQ(LoadPage(*doc, 1).Width(), 200);
}

TEST(ScanPages, BatchCleanUpDropsBlankPages) {
    Window w;
    w.props.Set(prop::WPageRemove, "1");
    w.props.Set(prop::BlankPercent, "0.5");
    auto doc = w.list.Add("B", "A");
    AppendPage(*doc, test::NumberedPage(3));
    AppendPage(*doc, Raster::Blank(200, 120, 1));
    AppendPage(*doc, Raster::Blank(200, 120, 1));
    AppendPage(*doc, test::NumberedPage(4));
    auto blankOnly = w.list.Add("B", "EMPTY");
    AppendPage(*blankOnly, Raster::Blank(200, 120, 1));
    w.pages.ExecuteBatchImageEffect();
    EXPECT_EQ(w.Numbers(*doc), (std::vector<int>{3, 4}));
    EXPECT_FALSE(w.list.IsInnoExists("EMPTY"));
}

TEST(ScanPages, RecoveryIsOfferedBack) {
    Window w;
    auto doc = w.Document("A", {1, 2});
    doc->SetChanged();
    w.pages.WriteRecovery();
    CScanList fresh;
    ScanPages other(w.person, w.props, fresh);
    w.person.answers = {MsgResult::Cancel};
    EXPECT_FALSE(other.OfferRestore());
    EXPECT_EQ(fresh.Length(), 0);
    EXPECT_TRUE(other.OfferRestore());  // OK
    EXPECT_EQ(fresh.GetInno2("A")->ActPage(), 2);
    ASSERT_EQ(w.person.boxes.size(), 2u);
    for (const auto& box : w.person.boxes) {
        EXPECT_EQ(box.text, "偵測到備份檔，是否要回覆?");
        EXPECT_EQ(box.title, "系統回覆");
        EXPECT_EQ(box.buttons, MsgButtons::OKCancel);
        EXPECT_EQ(box.icon, MsgIcon::None);
    }
}

TEST(ScanPages, ARecoveryFileTooLargeToBeOneIsRefusedWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#endif
    Window w;
    // A damaged file of a gigabyte (sparse: it takes no disk) must not be read into memory.
    { std::ofstream(RecoveryFilePath()) << "#Dorvex recovery 2\r\n"; }
    std::filesystem::resize_file(RecoveryFilePath(), std::uintmax_t{1} << 30);
    w.person.answers = {MsgResult::OK};
    pid_t child = ::fork();
    if (child == 0) {
        std::ifstream statm("/proc/self/statm");
        long pages = 0;
        statm >> pages;
        const rlim_t room = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE)) + (rlim_t{256} << 20);
        rlimit limit{room, room};
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            bool restored = w.pages.OfferRestore();
            ::_exit(!restored && w.person.boxes.size() == 2 && w.person.boxes[1].icon == MsgIcon::Exclamation ? 0 : 1);
        } catch (...) {
            ::_exit(2);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ScanPages, MergeCutDialogAndPageDialogs) {
    Window w;
    auto doc = w.Document("A", {1, 2, 3, 4, 5});
    w.pages.CurrentDoc = doc;
    w.pages.EnableOCR = true;
    w.pages.ShowMergeCutDialog = [](FrmMergeCut& dialog) {
        EXPECT_EQ(dialog.CbMC.items.size(), 3u);
        dialog.CbSelPage.Select(3);
        dialog.CbMC.Select(2);  // 附件
        dialog.CmdOK_Click();
    };
    w.pages.ShowMergeCut();
    ASSERT_TRUE(w.list.IsInnoExists("A_1"));
    EXPECT_EQ(w.Numbers(*w.list.GetInno2("A_1")), (std::vector<int>{4, 5}));
    EXPECT_EQ(w.Numbers(*doc), (std::vector<int>{1, 2, 3}));

    w.pages.ShowMultiMove = [](FrmMultiMove& dialog) {
        dialog.TxtStart.text = "1";
        dialog.TxtEnd.text = "1";
        dialog.TxtTarget.text = "3";
        dialog.CmdOK_Click();
    };
    w.pages.MoveMultiPages();
    EXPECT_EQ(w.Numbers(*doc), (std::vector<int>{2, 3, 1}));
    w.pages.ShowDelete = [](FrmDelete& dialog) {
        dialog.ChooseType(2);
        dialog.TxtStart.text = "2";
        dialog.TxtEnd.text = "3";
        dialog.CmdOK_Click();
    };
    w.pages.DeletePages();
    EXPECT_EQ(w.Numbers(*doc), (std::vector<int>{2}));
}
