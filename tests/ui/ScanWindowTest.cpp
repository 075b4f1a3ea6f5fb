// The scan window's Qt view on the offscreen platform: it draws its controller and hands the
// person's gestures back. Pages are real files; scans come from the file feeder.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPrinter>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QWindow>
#include <cstdio>
#include <filesystem>
#include <map>

#include "ScriptedPrompter.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "control/FrmScan.h"
#include "model/PageEditing.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "support/ModFS.h"
#include "support/ModGlobal.h"
#include "support/ModShow.h"
#include "ui/PageView.h"
#include "ui/QtPrompter.h"
#include "ui/ScanWindow.h"

// LeakSanitizer: the SANE test backend's reader loses its own buffers (the same suppression as
// sane-test-backend.supp; these tests are discovered one by one, which takes no environment).
extern "C" const char* __lsan_default_suppressions() { return "leak:libsane-test.so\n"; }

namespace dorvex {
namespace {

using ui::PageView;
using ui::ScanWindow;

QString Q(const std::string& text) { return QString::fromStdString(text); }

class ScanWindowView : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        mOldConfig = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_CONFIG_HOME", tmp.File("config").c_str(), 1);
        store = std::make_unique<SettingsStore>(tmp.File("Dorvex.ini"));
        list = std::make_shared<CScanList>();
    }
    void TearDown() override {
        if (window && !window->Closed()) window->close();
        window.reset();
        controller.reset();
        SetOcrEnabled(false);
        SetTopMostEnabled(false);
        if (mOldConfig) ::setenv("XDG_CONFIG_HOME", mOldConfig->c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
    }

    // A document of the scan list whose pages are test::NumberedPage(k) for each k.
    std::shared_ptr<CInno> Document(const std::string& batch, const std::string& inno, const std::vector<int>& pages,
                                    int width = 0) {
        auto doc = list->Add(batch, inno);
        for (int k : pages) {
            Raster page = test::NumberedPage(k);
            if (width > 0) page.Resize(width, width * 3 / 5);
            AppendPage(*doc, page);
        }
        doc->FirstPage();
        return doc;
    }

    void Open(const std::string& mode) {
        controller = std::make_unique<FrmScan>(person, store.get());
        controller->SetScanCompleteList(list);
        controller->SetProperties(prop::Mode, mode);
        window = std::make_unique<ScanWindow>(*controller, prompter);
        window->resize(1000, 800);
        window->Open();
        Settle();
    }
    // Serves the events the window posted to itself (its item views' gestures run after them).
    static void Settle() {
        for (int i = 0; i < 4; ++i) QCoreApplication::processEvents();
    }

    QAction* Action(const std::string& key) const { return window->findChild<QAction*>(Q(key)); }
    template <typename Widget>
    Widget* Child(const char* name) const {
        return window->findChild<Widget*>(name);
    }
    QTreeWidgetItem* TreeItem(const std::string& text) const {
        auto* tree = Child<QTreeWidget>("TreeView1");
        auto found = tree->findItems(Q(text), Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }
    // Clicks a document in the tree, as the person would.
    void ChooseInTree(const std::string& text) {
        auto* tree = Child<QTreeWidget>("TreeView1");
        QTreeWidgetItem* item = TreeItem(text);
        ASSERT_TRUE(item) << text;
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
        Settle();
    }
    void PressKey(Qt::Key key) {
        QTest::keyClick(window->windowHandle(), key);
        Settle();
    }
    // Draws a band over the image area `area` (image pixels) on the single-page viewer.
    void DrawBand(const RasterRect& area) {
        auto* view = Child<PageView>("OneViewer");
        const QRect on = view->ToViewport(area);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, on.topLeft());
        QTest::mouseMove(view->viewport(), on.center());
        QTest::mouseMove(view->viewport(), on.bottomRight());
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, on.bottomRight());
        Settle();
    }
    // With DORVEX_SCREENSHOTS set, the window as it is drawn now is kept there as NAME.png.
    void Shot(const char* name) const {
        const char* dir = std::getenv("DORVEX_SCREENSHOTS");
        if (!dir || !*dir) return;
        std::filesystem::create_directories(dir);
        EXPECT_TRUE(window->grab().save(Q(std::string(dir) + "/" + name + ".png"))) << name;
    }
    QStringList Texts(const QList<QAction*>& actions) const {
        QStringList texts;
        for (QAction* action : actions) {
            if (action->isVisible()) texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return texts;
    }

    test::TempFolder tmp;
    std::optional<std::string> mOldConfig;
    test::ScriptedPrompter person;
    ui::QtPrompter prompter;
    std::unique_ptr<SettingsStore> store;
    std::shared_ptr<CScanList> list;
    std::unique_ptr<FrmScan> controller;
    std::unique_ptr<ScanWindow> window;
};

TEST_F(ScanWindowView, TheEditModeHasOnlyPrintAndLeaveTheViewsThePenToolsAndHelp) {
    Open("1");
    EXPECT_TRUE(window->isMaximized());
    QStringList titles;
    for (QAction* top : window->menuBar()->actions()) titles << top->text();
    EXPECT_EQ(titles, QStringList({"檔案(&F)", "檢視(&V)", "影像(&I)", "說明(&H)"}));
    EXPECT_EQ(Texts(Child<QMenu>("mnuFileTop")->actions()), QStringList({"列印", "離開"}));
    EXPECT_EQ(Texts(Child<QMenu>("mnuImgTop")->actions()), QStringList({"簽字筆", "橡皮擦"}));
    EXPECT_EQ(Texts(Child<QMenu>("mnuViewTop")->actions()),
              QStringList({"第一頁", "上一頁", "下一頁", "最後一頁", "放大", "縮小", "原尺寸", "整頁顯示", "區塊放大", "-",
                           "單頁模式", "多頁模式"}));
    EXPECT_EQ(Child<QMenu>("mnuScanTop"), nullptr);
    EXPECT_EQ(Child<QMenu>("mnuEditTop"), nullptr);
    // The main tool bar is the one of every mode ("整頁" comes with recognition).
    EXPECT_EQ(Texts(Child<QToolBar>("Toolbar1")->actions()),
              QStringList({"掃描", "影像", "上一頁", "下一頁", "放大", "縮小", "區塊刪除", "剪下", "複製", "貼上", "刪除",
                           "逆時針旋轉", "順時針旋轉", "單頁瀏覽", "多頁瀏覽", "影像資訊", "列印", "儲存"}));
    ASSERT_TRUE(Action("btnCut") && Action("btnScan") && Action("btnSave"));
    EXPECT_FALSE(Action("btnCut")->isEnabled());
    EXPECT_TRUE(Action("btnScan")->isEnabled());
    ASSERT_TRUE(Action("btnImg"));
    EXPECT_EQ(Action("btnImg")->menu(), Child<QMenu>("mnuImgTop"));
    EXPECT_EQ(Action("btnZoomIn")->toolTip(), "放大");
    // The tree and the scan boxes belong to the other modes; without recognition no punctuation.
    EXPECT_TRUE(Child<QTreeWidget>("TreeView1")->isHidden());
    EXPECT_FALSE(Child<QComboBox>("CmbPxType")->isVisibleTo(window.get()));
    EXPECT_TRUE(Child<QToolBar>("Toolbar3")->isHidden());
    EXPECT_FALSE(Action("btnFullPage")->isVisible());

    // The document being edited, shown: its page buttons come on.
    auto doc = Document("B1", "A1", {1, 2});
    controller->Pages().CurrentDoc = doc;
    controller->Pages().LoadImageByCInno(doc, true, true);
    controller->Redraw();
    Settle();
    for (const char* key : {"btnCut", "btnDelete", "btnConterClockwise", "btnInfo", "btnSave"}) {
        EXPECT_TRUE(Action(key)->isEnabled()) << key;
    }
    Shot("edit-mode");
}

TEST_F(ScanWindowView, MenusAndButtonsFollowThePageShownAndTheViewMode) {
    Document("B1", "A1", {1, 2, 3});
    Open("0");
    EXPECT_EQ(Texts(Child<QMenu>("mnuFileTop")->actions()), QStringList({"儲存", "另存", "全部另存", "列印", "離開"}));
    EXPECT_EQ(Child<QMenu>("mnuScanTop")->title(), "掃描器(&S)");
    // No page yet: the page commands are off, saving, leaving and scanning are on.
    for (const char* key : {"mnuView(5)", "mnuEdit(0)", "mnuFile(2)", "btnZoomIn", "btnPgUp", "btnPrint"}) {
        EXPECT_FALSE(Action(key)->isEnabled()) << key;
    }
    for (const char* key : {"mnuFile(0)", "mnuFile(3)", "mnuHelp(0)", "btnScan", "mnuScaner(3)", "btnSave"}) {
        EXPECT_TRUE(Action(key)->isEnabled()) << key;
    }
    EXPECT_FALSE(Child<QComboBox>("CbPg")->isEnabled());
    EXPECT_FALSE(Child<QTreeWidget>("TreeView1")->isHidden());
    EXPECT_TRUE(TreeItem("掃描作業") && TreeItem("已掃描影像(1)") && TreeItem("B1"));

    ChooseInTree("A1(3)");
    for (const char* key : {"mnuView(5)", "mnuEdit(0)", "mnuFile(2)", "btnZoomIn", "btnPgUp", "btnPrint"}) {
        EXPECT_TRUE(Action(key)->isEnabled()) << key;
    }
    EXPECT_TRUE(Action("mnuView(10)")->isChecked());
    EXPECT_FALSE(Action("mnuView(11)")->isChecked());
    EXPECT_FALSE(Child<PageView>("OneViewer")->PageImage().isNull());
    EXPECT_EQ(Child<QLabel>("PagePanel")->text(), "頁碼：1");
    EXPECT_EQ(Child<QLabel>("InnoPanel")->text(), "文號：A1");
    EXPECT_EQ(Child<QLabel>("BatchPanel")->text(), "批號：B1");
    EXPECT_EQ(Child<QComboBox>("CbPg")->count(), 3);

    // The page box and the buttons move through the document.
    Child<QComboBox>("CbPg")->activated(2);
    Settle();
    EXPECT_EQ(test::PageNumberOf(controller->Pages().OneViewer.Image()), 3);
    EXPECT_EQ(Child<QLabel>("PagePanel")->text(), "頁碼：3");
    Action("btnPgUp")->trigger();
    EXPECT_EQ(Child<QComboBox>("CbPg")->currentText(), "2");

    // "多頁瀏覽" shows the thumbnails and checks its menu item.
    Action("btnMultiView")->trigger();
    auto* thumbnails = Child<QListWidget>("MultiViewer");
    EXPECT_TRUE(thumbnails->isVisibleTo(window.get()));
    EXPECT_FALSE(Child<PageView>("OneViewer")->isVisibleTo(window.get()));
    EXPECT_EQ(thumbnails->count(), 3);
    EXPECT_EQ(thumbnails->currentRow(), 1);
    EXPECT_TRUE(Action("mnuView(11)")->isChecked());
    EXPECT_TRUE(Action("btnMultiView")->isEnabled());
    Action("mnuView(10)")->trigger();
    EXPECT_TRUE(Child<PageView>("OneViewer")->isVisibleTo(window.get()));
}

TEST_F(ScanWindowView, KeysMoveThroughPagesAtMostTenTimesASecondButNotWhileTypingInABox) {
    auto doc = Document("B1", "A1", {1, 2, 3, 4});
    Open("0");
    ChooseInTree("A1(4)");
    double now = 1000;
    controller->Commands.Clock = [&now] { return now; };
    PressKey(Qt::Key_N);
    EXPECT_EQ(doc->SelectedIndex, 2);
    now += 0.05;
    PressKey(Qt::Key_N);  // held down: too soon
    EXPECT_EQ(doc->SelectedIndex, 2);
    now += 0.2;
    PressKey(Qt::Key_L);
    EXPECT_EQ(doc->SelectedIndex, 4);
    EXPECT_EQ(test::PageNumberOf(controller->Pages().OneViewer.Image()), 4);
    now += 0.2;
    PressKey(Qt::Key_N);  // on the last page: nothing
    EXPECT_EQ(doc->SelectedIndex, 4);

    // Typing in the angle box: the letters are the box's.
    auto* angle = Child<QLineEdit>("TxtAngle");
    EXPECT_EQ(angle->text(), "90");
    window->activateWindow();
    QApplication::setActiveWindow(window.get());
    angle->setFocus();
    Settle();
    ASSERT_EQ(QApplication::focusWidget(), angle);
    now += 0.2;
    angle->selectAll();
    PressKey(Qt::Key_P);
    EXPECT_EQ(doc->SelectedIndex, 4);
    EXPECT_EQ(angle->text(), "p");
    // Typed numbers reach the setting.
    angle->clear();
    QTest::keyClicks(angle, "45");
    EXPECT_EQ(controller->Pages().TxtAngle, "45");
    EXPECT_EQ(controller->Properties(prop::RotateAngle), "45");
    Child<QTreeWidget>("TreeView1")->setFocus();
    now += 0.2;
    PressKey(Qt::Key_P);
    EXPECT_EQ(doc->SelectedIndex, 3);
}

TEST_F(ScanWindowView, ABandErasedWithDeleteAndACropChangeTheStoredPage) {
    auto doc = Document("B1", "A1", {12}, 400);  // a bar 240 x 20 pixels at (20, 20)
    Open("0");
    ChooseInTree("A1(1)");
    Raster before = LoadPage(*doc, 1);
    ASSERT_TRUE(before.IsBlack(30, 30) && before.IsBlack(200, 30));

    // Without "區塊刪除" pressed a band cannot be drawn.
    DrawBand({0, 0, 100, 100});
    EXPECT_FALSE(controller->Pages().OneViewer.RubberBand);
    Action("btnRectangleErase")->trigger();
    EXPECT_TRUE(Action("btnRectangleErase")->isChecked());
    DrawBand({0, 0, 100, 100});
    const auto& band = controller->Pages().OneViewer.RubberBand;
    ASSERT_TRUE(band);
    EXPECT_NEAR(band->left, 0, 1);
    EXPECT_NEAR(band->width, 100, 3);
    EXPECT_NEAR(band->height, 100, 3);
    PressKey(Qt::Key_Delete);
    Raster erased = LoadPage(*doc, 1);
    EXPECT_FALSE(erased.IsBlack(30, 30));
    EXPECT_TRUE(erased.IsBlack(200, 30));
    EXPECT_FALSE(controller->Pages().OneViewer.RubberBand);

    // "剪裁" keeps only the band.
    DrawBand({150, 0, 200, 100});
    Action("mnuImg(8)")->trigger();
    Raster cropped = LoadPage(*doc, 1);
    EXPECT_NEAR(cropped.Width(), 200, 3);
    EXPECT_NEAR(cropped.Height(), 100, 3);
    EXPECT_TRUE(cropped.IsBlack(60, 30));
    EXPECT_FALSE(Child<PageView>("OneViewer")->PageImage().isNull());
    EXPECT_NEAR(Child<PageView>("OneViewer")->PageImage().width(), 200, 3);
}

TEST_F(ScanWindowView, AreaZoomFillsTheViewWithTheBand) {
    Document("B1", "A1", {3}, 600);
    Open("0");
    ChooseInTree("A1(1)");
    auto* view = Child<PageView>("OneViewer");
    const double fitted = view->Scale();
    ASSERT_GT(fitted, 0);
    Action("mnuView(12)")->trigger();
    DrawBand({0, 0, 60, 60});
    const ImageViewer& viewer = controller->Pages().OneViewer;
    EXPECT_EQ(viewer.DisplayMode, ImageViewer::Display::Zoom);
    EXPECT_GT(view->Scale(), fitted * 3);
    EXPECT_FALSE(viewer.RubberBand);
    // Back to the whole page, then zooming goes on from what the fitted page was shown at.
    Action("mnuView(8)")->trigger();
    Settle();
    EXPECT_NEAR(view->Scale(), fitted, 0.01);
    Action("btnZoomIn")->trigger();
    Settle();
    EXPECT_NEAR(view->Scale(), fitted + 0.05, 0.011);
    // 1-bit pages are shown in grey levels.
    EXPECT_EQ(view->PageImage().format(), QImage::Format_Grayscale8);
}

TEST_F(ScanWindowView, DocumentsAreAttachedByDragAndDropOnlyWithRecognition) {
    auto main = Document("B1", "A1", {1, 2});
    auto attachment = Document("B1", "A2", {3});
    Document("B2", "C1", {4});
    SetOcrEnabled(true);
    Open("0");
    auto* tree = Child<QTreeWidget>("TreeView1");
    auto drop = [&](const std::string& from, const std::string& onto) {
        ChooseInTree(from);
        QMimeData data;
        data.setData(tree->model()->mimeTypes().value(0), QByteArray());
        const QPoint at = tree->visualItemRect(TreeItem(onto)).center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &enter);
        QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &move);
        const bool accepted = move.isAccepted();
        QDropEvent dropped(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &dropped);
        Settle();
        return accepted;
    };
    EXPECT_TRUE(drop("A2(1)", "A1(2)"));
    EXPECT_EQ(attachment->Parent(), main);
    EXPECT_EQ(TreeItem("A2(1)")->parent(), TreeItem("A1(2)"));
    EXPECT_EQ(InspectRecoveryFile().size(), 3u);
    // Never under itself, never into another batch.
    EXPECT_FALSE(drop("A1(2)", "A2(1)"));
    EXPECT_FALSE(drop("A2(1)", "C1(1)"));
    EXPECT_EQ(attachment->Parent(), main);
    // Onto its batch: attached to nothing.
    EXPECT_TRUE(drop("A2(1)", "B1"));
    EXPECT_EQ(attachment->Parent(), nullptr);
    EXPECT_EQ(TreeItem("A2(1)")->parent(), TreeItem("B1"));

    SetOcrEnabled(false);
    EXPECT_FALSE(drop("A2(1)", "A1(2)"));
    EXPECT_EQ(attachment->Parent(), nullptr);
}

TEST_F(ScanWindowView, TheTreeHasAContextMenuOnlyWithRecognition) {
    Document("B1", "A1", {1});
    Open("0");
    auto* tree = Child<QTreeWidget>("TreeView1");
    EXPECT_TRUE(Child<QMenu>("mnuTreeTop")->actions().isEmpty());
    EXPECT_EQ(Action("mnuTree[1]"), nullptr);
    QString popped;
    QTimer::singleShot(300, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popped = popup->objectName();
            popup->close();
        }
    });
    emit tree->customContextMenuRequested(tree->visualItemRect(TreeItem("A1(1)")).center());
    QTest::qWait(400);
    EXPECT_TRUE(popped.isEmpty()) << popped.toStdString();
}

TEST_F(ScanWindowView, RenamingInPlaceAndDeletingFromTheTreeMenu) {
    auto first = Document("B1", "A1", {1, 2});
    auto second = Document("B1", "A2", {3});
    // Read already: choosing them reads nothing.
    first->SetWords({{"類別", "函"}});
    second->SetWords({{"類別", "函"}});
    SetOcrEnabled(true);
    Open("0");
    auto* tree = Child<QTreeWidget>("TreeView1");
    auto rename = [&](const std::string& from, const char* to) {
        ChooseInTree(from);
        tree->editItem(TreeItem(from));
        auto* editor = tree->viewport()->findChild<QLineEdit*>();
        ASSERT_TRUE(editor);
        editor->selectAll();
        QTest::keyClicks(editor, to);
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
    };
    rename("A1(2)", "Z9");
    EXPECT_EQ(first->Inno(), "Z9");
    EXPECT_TRUE(TreeItem("Z9(2)"));
    EXPECT_EQ(InspectRecoveryFile().at(0).inno, "Z9");
    // A number another document has is refused: the label stays.
    rename("A2(1)", "Z9");
    EXPECT_EQ(second->Inno(), "A2");
    EXPECT_TRUE(TreeItem("A2(1)"));

    // "刪除" of the tree menu deletes the chosen document and its files.
    const std::string file = second->FilePath();
    ChooseInTree("A2(1)");
    EXPECT_EQ(controller->Pages().CurrentDoc, second);
    ASSERT_TRUE(Action("mnuTree[1]"));
    EXPECT_EQ(Action("mnuTree[1]")->text(), "刪除");
    Action("mnuTree[1]")->trigger();
    Settle();
    EXPECT_FALSE(TreeItem("A2(1)"));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(Child<PageView>("OneViewer")->PageImage().isNull());
    EXPECT_TRUE(TreeItem("已掃描影像(1)"));
}

TEST_F(ScanWindowView, ThumbnailsComeInGroupsAndADoubleClickShowsThePage) {
    auto doc = Document("B1", "A1", {1, 2, 3, 4, 5, 6, 7});
    Open("0");
    controller->SetItemLimit(3);
    ChooseInTree("A1(7)");
    Action("btnMultiView")->trigger();
    auto* thumbnails = Child<QListWidget>("MultiViewer");
    auto shown = [&] {
        QStringList pages;
        for (int i = 0; i < thumbnails->count(); ++i) pages << thumbnails->item(i)->text();
        return pages;
    };
    EXPECT_EQ(shown(), QStringList({"1", "2", "3"}));
    EXPECT_FALSE(thumbnails->item(0)->icon().isNull());
    auto* previous = Child<QToolButton>("MultiViewerPrevious");
    auto* next = Child<QToolButton>("MultiViewerNext");
    EXPECT_FALSE(previous->isEnabled());
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(shown(), QStringList({"4", "5", "6"}));
    EXPECT_EQ(doc->SelectedIndex, 4);
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(shown(), QStringList({"7"}));
    EXPECT_FALSE(next->isEnabled());
    QTest::mouseClick(previous, Qt::LeftButton);
    EXPECT_EQ(shown(), QStringList({"4", "5", "6"}));

    // A click selects the page; a double click shows it alone.
    const QPoint fifth = thumbnails->visualItemRect(thumbnails->item(1)).center();
    QTest::mouseClick(thumbnails->viewport(), Qt::LeftButton, {}, fifth);
    Settle();
    EXPECT_EQ(doc->SelectedIndex, 5);
    EXPECT_EQ(test::PageNumberOf(controller->Pages().OneViewer.Image()), 5);
    EXPECT_EQ(controller->ViewMode, 1);
    // Through the window system: press, release, press, release, taken for a double click.
    const QPoint sixth = thumbnails->viewport()->mapTo(window.get(), thumbnails->visualItemRect(thumbnails->item(2)).center());
    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {}, sixth);
    Settle();
    EXPECT_EQ(controller->ViewMode, 0);
    EXPECT_EQ(doc->SelectedIndex, 6);
    EXPECT_TRUE(Child<PageView>("OneViewer")->isVisibleTo(window.get()));
    EXPECT_EQ(Action("mnuImgEdit[0]")->text(), "分割");
}

TEST_F(ScanWindowView, AScanFromTheFeederShowsEachPageAsItArrives) {
    const std::string feed = tmp.File("feed");
    std::filesystem::create_directories(feed);
    for (int k = 1; k <= 3; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "/%03d.tif", k);
        test::NumberedPage(k).Save(feed + name, fileformat::TiffG4);
    }
    Open("0");
    controller->SetProperties(prop::Feeder, "1");
    controller->Scanner().DeviceName = "file:" + feed;
    auto* view = Child<PageView>("OneViewer");
    auto* progress = Child<QProgressBar>("ScanProgress");
    std::vector<int> seen;
    int progressShown = 0;
    auto handled = controller->Scanner().OnPageHandled;
    controller->Scanner().OnPageHandled = [&](IScanDevice& device, std::int32_t counter) {
        handled(device, counter);
        // Drawn already: the page just scanned, the bar running.
        seen.push_back(view->PageImage().isNull() ? 0 : static_cast<int>(view->PageImage().width()));
        progressShown += progress->isVisibleTo(window.get());
    };
    ASSERT_TRUE(Action("btnScan")->isEnabled());
    Action("btnScan")->trigger();
    Settle();
    EXPECT_EQ(seen, (std::vector<int>{200, 200, 200}));
    EXPECT_EQ(progressShown, 3);
    EXPECT_FALSE(progress->isVisibleTo(window.get()));
    ASSERT_EQ(list->TotalInnos(), 1);
    auto doc = list->LastCInno();
    EXPECT_EQ(doc->ActPage(), 3);
    EXPECT_TRUE(TreeItem(doc->Inno() + "(3)"));
    // The viewer holds the last page after the scan.
    EXPECT_FALSE(view->PageImage().isNull());
    EXPECT_EQ(test::PageNumberOf(controller->Pages().OneViewer.Image()), 3);
    EXPECT_EQ(Child<QLabel>("PagePanel")->text(), "頁碼：3");
    EXPECT_TRUE(Action("btnZoomIn")->isEnabled());
}

TEST_F(ScanWindowView, AScanFromTheSaneTestDeviceThroughTheWindow) {
    // SANE reads its configuration at its first call: ctest runs each test in its own process.
    const std::string sane = tmp.File("sane");
    std::filesystem::create_directories(sane);
    WriteBytesToFile("test\n", sane + "/dll.conf");
    WriteBytesToFile("number_of_devices 1\n", sane + "/test.conf");
    ::setenv("SANE_CONFIG_DIR", sane.c_str(), 1);
    Open("0");
    controller->SetProperties(prop::Feeder, "1");
    controller->Scanner().DeviceName = "test:0";
    Action("btnScan")->trigger();
    Settle();
    ASSERT_EQ(list->TotalInnos(), 1);
    auto doc = list->LastCInno();
    EXPECT_EQ(doc->ActPage(), 10);  // the test device's feeder holds ten sheets
    EXPECT_TRUE(TreeItem(doc->Inno() + "(10)"));
    EXPECT_FALSE(Child<PageView>("OneViewer")->PageImage().isNull());
}

TEST_F(ScanWindowView, TheEditModesPenAndEraserMarkThePageWithTheirOwnPointers) {
    auto doc = Document("B1", "A1", {1}, 400);
    Open("1");
    controller->Pages().CurrentDoc = doc;
    controller->Pages().LoadImageByCInno(doc, true, true);
    controller->Redraw();
    auto* view = Child<PageView>("OneViewer");
    ASSERT_TRUE(Action("mnuImg(5)")->isEnabled());
    Action("mnuImg(5)")->trigger();
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::BitmapCursor);
    const QRect line = view->ToViewport({100, 150, 200, 1});
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, line.topLeft());
    QTest::mouseMove(view->viewport(), line.center());
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(line.right(), line.top()));
    Settle();
    Raster drawn = LoadPage(*doc, 1);
    EXPECT_TRUE(drawn.IsBlack(150, 150) && drawn.IsBlack(250, 150));
    EXPECT_FALSE(drawn.IsBlack(150, 180));
    // The eraser takes it out again.
    Action("mnuImg(6)")->trigger();
    EXPECT_EQ(controller->Pages().OneViewer.ActiveTool, ImageViewer::Tool::Eraser);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, line.topLeft());
    QTest::mouseMove(view->viewport(), line.center());
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(line.right(), line.top()));
    Settle();
    EXPECT_FALSE(LoadPage(*doc, 1).IsBlack(150, 150));
    // Chosen again, the tool is put away.
    Action("mnuImg(6)")->trigger();
    EXPECT_NE(view->viewport()->cursor().shape(), Qt::BitmapCursor);
}

TEST_F(ScanWindowView, TheBoxesSetTheirSettings) {
    Open("0");
    auto* pixel = Child<QComboBox>("CmbPxType");
    EXPECT_EQ(pixel->count(), 3);
    EXPECT_EQ(pixel->itemText(1), "灰階");
    pixel->setFocus();
    QTest::keyClick(pixel, Qt::Key_Down);
    EXPECT_EQ(controller->Properties(prop::PixelType), "1");
    EXPECT_EQ(SettingsStore(tmp.File("Dorvex.ini")).Get("Twain", "PixelType"), "1");

    EXPECT_FALSE(Child<QComboBox>("CmbSize")->isVisibleTo(window.get()));
    controller->SetProperties(prop::EnablePaperSize, "1");
    controller->Redraw();
    Settle();
    auto* paper = Child<QComboBox>("CmbSize");
    EXPECT_TRUE(paper->isVisibleTo(window.get()));
    EXPECT_EQ(paper->itemText(1), "A4L - 297 × 210 mm");
    paper->activated(1);
    EXPECT_EQ(controller->Properties(prop::PaperSize), "54");

    QTest::mouseClick(Child<QAbstractButton>("OptDuplex1"), Qt::LeftButton);
    EXPECT_EQ(controller->Properties(prop::Duplex), "1");
    controller->CmbBatchNo = {"B5", "B6"};
    controller->CmbBatchNoText = "B6";
    controller->Redraw();
    auto* batch = Child<QComboBox>("CmbBatchNo");
    EXPECT_EQ(batch->count(), 2);
    EXPECT_EQ(batch->currentText(), "B6");
    batch->setEditText("B9");
    EXPECT_EQ(controller->CmbBatchNoText, "B9");
}

TEST_F(ScanWindowView, TheTopMostSwitchKeepsTheWindowAboveAndMessagesStepOutOfIt) {
    SetTopMostEnabled(true);
    Open("0");
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(controller->TopMostWindow, window.get());
    {
        NotTopMostScope frame(controller->TopMostWindow);
        EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_TRUE(window->isVisible());
    }
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->isMaximized());
}

TEST_F(ScanWindowView, TheSingleDocumentWindowAsksForItsNumberWhenActivated) {
    person.inputs = {std::string("  "), std::string("C7")};
    Open("2");
    EXPECT_EQ(controller->Properties(prop::Inno), "C7");
    EXPECT_TRUE(Action("btnScan")->isEnabled());
    EXPECT_EQ(Texts(Child<QMenu>("mnuEditTop")->actions()).last(), "文件概要修改");
}

TEST_F(ScanWindowView, RunModalServesTheWindowUntilLeaveClosesIt) {
    Document("B1", "A1", {1});
    controller = std::make_unique<FrmScan>(person, store.get());
    controller->SetScanCompleteList(list);
    controller->SetSessionIdName("SID");
    window = std::make_unique<ScanWindow>(*controller, prompter);
    WriteRecoveryFile(*list);
    bool served = false;
    QTimer::singleShot(0, window.get(), [&] {
        served = window->isVisible() && window->isMaximized() && controller->Loaded();
        Action("mnuFile(3)")->trigger();
    });
    // No restore of the pages already listed; no upload now; keep the page files.
    person.answers = {MsgResult::Cancel, MsgResult::No, MsgResult::Cancel};
    window->RunModal();
    EXPECT_TRUE(served);
    EXPECT_TRUE(window->Closed());
    EXPECT_FALSE(window->isVisible());
    // The closing asked its questions and stopped the keep-alive.
    ASSERT_GE(person.messages.size(), 2u);
    EXPECT_EQ(person.messages[person.messages.size() - 2], FrmScan::kAskSave);
    EXPECT_EQ(person.messages.back(), FrmScan::kAskDeleteTmp);
    EXPECT_FALSE(controller->RefreshTimerEnabled());
    EXPECT_TRUE(std::filesystem::exists(list->LastCInno()->FilePath()));
}

TEST_F(ScanWindowView, ThePageShownPrintsToAFile) {
    Document("B1", "A1", {5}, 800);
    Open("0");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(Q(tmp.File("page.pdf")));
    EXPECT_FALSE(window->PrintShownPage(printer));
    ChooseInTree("A1(1)");
    EXPECT_TRUE(window->PrintShownPage(printer));
    EXPECT_GT(std::filesystem::file_size(tmp.File("page.pdf")), 1000u);
}

}  // namespace
}  // namespace dorvex

int main(int argc, char** argv) {
    // The view tests never need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

namespace dorvex {
namespace {

TEST_F(ScanWindowView, TheFieldEditorShowsTheDocumentAndWritesTheClerksCorrectionsIntoIt) {
    auto doc = Document("B1", "A1", {12}, 400);
    doc->SetWords({{"類別", "函"}, {"主旨", "請查照辦理"}, {"發文日期", "中華民國113年3月5日"}});
    auto other = Document("B1", "A2", {3});
    other->SetWords({{"類別", "公告"}});
    SetOcrEnabled(true);
    Open("0");
    auto* detail = Child<QWidget>("OCRDetail");
    ASSERT_TRUE(detail);
    EXPECT_TRUE(detail->isVisible());
    EXPECT_TRUE(Child<QToolBar>("Toolbar3")->isVisible());
    ChooseInTree("A1(1)");
    auto* subject = Child<QLineEdit>("TxtContent6");
    auto* date = Child<QLineEdit>("TxtContent2");
    auto* type = Child<QComboBox>("CbType");
    EXPECT_EQ(subject->text(), QStringLiteral("請查照辦理"));
    EXPECT_EQ(type->currentText(), QStringLiteral("函"));
    EXPECT_EQ(date->palette().color(QPalette::Text), QColor(0, 0, 0));

    // A comma from the punctuation bar goes in at the caret of the field being edited.
    subject->setFocus();
    subject->setCursorPosition(3);
    Settle();
    QAction* comma = nullptr;
    for (QAction* action : Child<QToolBar>("Toolbar3")->actions()) {
        if (action->text() == QStringLiteral("，")) comma = action;
    }
    ASSERT_TRUE(comma);
    QTest::mouseClick(Child<QToolBar>("Toolbar3")->widgetForAction(comma), Qt::LeftButton);
    Settle();
    EXPECT_EQ(subject->text(), QStringLiteral("請查照，辦理"));
    EXPECT_EQ(subject->cursorPosition(), 4);
    EXPECT_TRUE(subject->hasFocus());

    // A date that is not a Republic of China date turns red.
    date->setFocus();
    date->selectAll();
    QTest::keyClicks(date, "2024/03/05");
    Settle();
    EXPECT_EQ(date->palette().color(QPalette::Text), QColor(255, 0, 0));

    // A meeting notice shows its meeting row instead of the subject.
    type->setFocus();
    type->setCurrentIndex(7);
    emit type->activated(7);
    Settle();
    EXPECT_TRUE(Child<QLineEdit>("TxtContent7")->isVisible());
    EXPECT_FALSE(subject->isVisible());

    // Leaving for the tree writes every correction into the document it was made in.
    ChooseInTree("A2(1)");
    EXPECT_EQ(type->currentText(), QStringLiteral("公告"));
    std::map<std::string, std::string> words;
    for (const CPhase& phase : doc->Words()) words[phase.Key] = phase.Value;
    EXPECT_EQ(words["主旨"], "請查照，辦理");
    EXPECT_EQ(words["發文日期"], "2024/03/05");
    EXPECT_EQ(words["類別"], "開會通知單");
    EXPECT_EQ(other->Words().size(), 1u);
}

TEST_F(ScanWindowView, ABandOpensTheOcrMenuAtItsFirstTitleOnlyWithRecognition) {
    Document("B1", "A1", {12}, 400);
    SetOcrEnabled(true);
    Open("0");
    ChooseInTree("A1(1)");
    QString opened, active;
    QStringList titles;
    // The menu runs its own loop: a timer looks for it until it is there and closes it.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            opened = menu->objectName();
            active = menu->activeAction() ? menu->activeAction()->objectName() : QString();
            titles = Texts(menu->actions());
            menu->close();
        }
    });
    closer.start(100);
    DrawBand({20, 20, 200, 40});
    for (int i = 0; i < 50 && opened.isEmpty(); ++i) {
        QTest::qWait(100);
        Settle();
    }
    closer.stop();
    EXPECT_EQ(opened, QStringLiteral("mnuOCRTop"));
    EXPECT_EQ(active, QStringLiteral("mnuOCR[0]"));
    EXPECT_EQ(titles, (QStringList{"類別", "來文機關", "受文者", "來文日期", "來文字號", "速別", "附件", "主旨", "開會事由"}));
    EXPECT_TRUE(controller->Pages().OneViewer.RubberBand);

    // The right button released over the page opens it again while the band is shown.
    auto* view = Child<PageView>("OneViewer");
    const QPoint inside = view->ToViewport({60, 30, 10, 10}).center();
    auto rightClick = [&] {
        opened.clear();
        active.clear();
        closer.start(100);
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, inside);
        for (int i = 0; i < 10 && opened.isEmpty(); ++i) {
            QTest::qWait(100);
            Settle();
        }
        closer.stop();
    };
    rightClick();
    EXPECT_EQ(opened, QStringLiteral("mnuOCRTop"));
    EXPECT_EQ(active, QStringLiteral("mnuOCR[0]"));
    // Without a band, or with recognition off, it does not.
    const RasterRect band = *controller->Pages().OneViewer.RubberBand;
    controller->Pages().OneViewer.RubberBand.reset();
    rightClick();
    EXPECT_TRUE(opened.isEmpty());
    controller->Pages().OneViewer.RubberBand = band;
    SetOcrEnabled(false);
    rightClick();
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(ScanWindowView, FullPageHidesTheTreeAndTheFieldEditor) {
    auto doc = Document("B1", "A1", {12}, 400);
    doc->SetWords({{"類別", "函"}, {"主旨", "請查照辦理"}});
    SetOcrEnabled(true);
    Open("0");
    ChooseInTree("A1(1)");
    auto* tree = Child<QTreeWidget>("TreeView1");
    auto* detail = Child<QWidget>("OCRDetail");
    auto* view = Child<PageView>("OneViewer");
    ASSERT_TRUE(Action("btnFullPage")->isVisible());
    EXPECT_TRUE(tree->isVisible());
    EXPECT_TRUE(detail->isVisible());
    const int narrow = view->width();
    Shot("full-page-off");

    Action("btnFullPage")->trigger();
    Settle();
    EXPECT_TRUE(Action("btnFullPage")->isChecked());
    EXPECT_FALSE(tree->isVisible());
    EXPECT_FALSE(detail->isVisible());
    EXPECT_GT(view->width(), narrow + 200);
    Shot("full-page-on");

    Action("btnFullPage")->trigger();
    Settle();
    EXPECT_TRUE(tree->isVisible());
    EXPECT_TRUE(detail->isVisible());
}

TEST_F(ScanWindowView, EachPageScannedShowsWhereItsBarcodeIsLookedFor) {
    const std::string feed = tmp.File("feed");
    std::filesystem::create_directories(feed);
    for (int k = 1; k <= 2; ++k) test::NumberedPage(k).Save(feed + "/00" + std::to_string(k) + ".tif", fileformat::TiffG4);
    Open("0");
    controller->SetProperties(prop::Feeder, "1");
    controller->SetProperties(prop::UseBarcode, "1");
    controller->SetProperties(prop::BCLeft, "0.5");
    controller->SetProperties(prop::BCTop, "0");
    controller->SetProperties(prop::BCWidth, "0.5");
    controller->SetProperties(prop::BCHeight, "0.5");
    controller->Scanner().DeviceName = "file:" + feed;
    auto* view = Child<PageView>("OneViewer");
    // Pixels of the frame's colour on the drawn viewer along the area's left edge.
    auto framed = [&] {
        const QImage drawn = view->viewport()->grab().toImage();
        const QRect area = view->ToViewport({100, 0, 100, 60});
        int hits = 0;
        for (int y = area.top() + 2; y < area.bottom() - 2; ++y) {
            for (int x = area.left(); x <= area.left() + 2; ++x) hits += drawn.pixelColor(x, y) == ui::kBarcodeAreaColour;
        }
        return hits;
    };
    std::vector<int> seen;
    auto handled = controller->Scanner().OnPageHandled;
    controller->Scanner().OnPageHandled = [&](IScanDevice& device, std::int32_t counter) {
        handled(device, counter);
        const auto& area = controller->Pages().OneViewer.BarcodeArea;
        EXPECT_TRUE(area && area->left == 100 && area->top == 0 && area->width == 100 && area->height == 60);
        seen.push_back(framed());
        if (counter == 2) Shot("barcode-area");
    };
    Action("btnScan")->trigger();
    Settle();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_GT(seen[0], 10);
    EXPECT_GT(seen[1], 10);
    // The page shown after the scan is the stored one, without the frame.
    EXPECT_FALSE(controller->Pages().OneViewer.BarcodeArea);
    EXPECT_EQ(framed(), 0);
}

}  // namespace
}  // namespace dorvex
