#include "control/CommandSurface.h"

#include <gtest/gtest.h>

#include "ScriptedPrompter.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "control/ScanPages.h"
#include "model/PageEditing.h"
#include "server/Language.h"

using namespace dorvex;

namespace {

CommandSurface Built(const std::string& mode, const CLanguage* language = nullptr, bool ocr = false,
                     const std::string& delay = "0", const std::string& updateDB = "0") {
    ScanProperties props;
    props.Set(prop::Mode, mode);
    props.Set(prop::EnableDelayUpload, delay);
    props.Set(prop::EnableUpdateDBPage, updateDB);
    CommandSurface surface;
    surface.Build(props, language, ocr);
    return surface;
}

std::vector<std::string> Keys(const std::vector<MenuItem>& items) {
    std::vector<std::string> keys;
    for (const auto& item : items) keys.push_back(item.Key);
    return keys;
}

bool Enabled(CommandSurface& s, const std::string& key) {
    if (auto* item = s.Menu(key)) return item->Enabled;
    return s.Button(key)->Enabled;
}

}  // namespace

TEST(CommandSurface, MenusFollowTheModeSettingsAndMessages) {
    CLanguage language;
    language.Add("tdesc", "公文");
    language.Add("delayUpload", "稍後上傳");

    auto several = Built("0", &language, false, "1", "0");
    EXPECT_EQ(several.Menu("mnuFile(6)")->Caption, "稍後上傳");
    EXPECT_EQ(several.Menu("mnuFile(6)")->Parent, "mnuFileTop");
    EXPECT_EQ(several.Menu("mnuFile(5)"), nullptr);
    EXPECT_EQ(several.Menu("mnuImg(4)"), nullptr);
    EXPECT_EQ(several.Menu("mnuEdit(4)"), nullptr);
    EXPECT_EQ(Built("0", nullptr, false, "0", "1").Menu("mnuFile(6)"), nullptr);
    EXPECT_NE(Built("0", nullptr, false, "0", "1").Menu("mnuFile(5)"), nullptr);
    EXPECT_EQ(Built("0").Menu("mnuTree[2]"), nullptr);
    EXPECT_EQ(Keys(Built("0", nullptr, true).TreeMenu),
              (std::vector<std::string>{"mnuTreeTop", "mnuTree[0]", "mnuTree[1]", "mnuTree[2]", "mnuTree[3]"}));

    auto single = Built("2", &language);
    EXPECT_EQ(single.Menu("mnuEdit(4)")->Caption, "公文修改");
    EXPECT_EQ(Built("3").Menu("mnuEdit(4)"), nullptr);
    EXPECT_EQ(Built("2").Menu("mnuEdit(4)")->Caption, "文件概要修改");
    EXPECT_NE(single.Menu("mnuImg(4)"), nullptr);
    EXPECT_EQ(single.Menu("mnuFile(4)"), nullptr);

    // Editing one document: print and leave, the views, the pen and the eraser, and help.
    auto edit = Built("1");
    EXPECT_EQ(Keys(edit.Menus),
              (std::vector<std::string>{"mnuFileTop", "mnuFile(2)", "mnuFile(3)", "mnuViewTop", "mnuView(0)",
                                        "mnuView(1)", "mnuView(2)", "mnuView(3)", "mnuView(5)", "mnuView(6)",
                                        "mnuView(7)", "mnuView(8)", "mnuView(12)", "mnuView(9)", "mnuView(10)",
                                        "mnuView(11)", "mnuImgTop", "mnuImg(5)", "mnuImg(6)", "mnuHelpTop",
                                        "mnuHelp(0)"}));
    EXPECT_EQ(edit.Button("btnScan"), nullptr);
    EXPECT_EQ(edit.Button("btnSave"), nullptr);
    EXPECT_EQ(edit.ButtonCommand("儲存"), Command::None);
    EXPECT_EQ(edit.KeyCommand(KeyCode::F1), Command::None);
}

TEST(CommandSurface, RedrawEnablesByPageBatchesAndScanSource) {
    auto s = Built("0", nullptr, false, "1", "1");
    DisplayState state;
    state.OnlyScanList = true;
    s.ResetItemsDisplay(state);
    for (const char* key : {"btnScan", "mnuScaner(0)", "mnuScaner(3)"}) EXPECT_FALSE(Enabled(s, key)) << key;
    for (const char* key : {"btnPgUp", "btnZoomIn", "btnCut", "btnConterClockwise", "btnInfo", "btnPrint",
                            "mnuView(0)", "mnuView(5)", "mnuEdit(3)", "mnuImg(0)", "mnuFile(2)", "mnuFile(4)",
                            "mnuFile(6)", "btnSave"}) {
        EXPECT_FALSE(Enabled(s, key)) << key;
    }
    for (const char* key : {"mnuFile(0)", "mnuFile(3)", "mnuHelp(0)", "mnuImg(11)"}) EXPECT_TRUE(Enabled(s, key)) << key;
    EXPECT_FALSE(s.PageBoxEnabled);
    EXPECT_EQ(s.KeyCommand(KeyCode::N), Command::None);
    EXPECT_EQ(s.MenuCommand("mnuFile(3)"), Command::Close);
    EXPECT_EQ(s.MenuCommand("mnuView(2)"), Command::None);
    EXPECT_FALSE(s.Button("btnFullPage")->Visible);

    state.OnlyScanList = false;
    state.HasPage = true;
    state.ScanListBatches = 1;
    state.ViewMode = 1;
    state.Ocr = true;
    s.ResetItemsDisplay(state);
    for (const char* key : {"btnScan", "mnuScaner(1)", "btnPgUp", "mnuView(3)", "mnuFile(4)", "btnSave"}) {
        EXPECT_TRUE(Enabled(s, key)) << key;
    }
    EXPECT_TRUE(s.Button("btnMultiView")->Pressed);
    EXPECT_FALSE(s.Button("btnOneView")->Pressed);
    EXPECT_TRUE(s.Menu("mnuView(11)")->Checked);
    EXPECT_TRUE(s.MultiViewerVisible);
    EXPECT_FALSE(s.OneViewerVisible);
    EXPECT_TRUE(s.Button("btnFullPage")->Visible);

    // A batch in the batch box is a scan source even when only listed documents may be sent.
    state.OnlyScanList = true;
    state.BatchBoxCount = 1;
    state.HasPage = false;
    s.ResetItemsDisplay(state);
    EXPECT_TRUE(Enabled(s, "btnScan"));
    EXPECT_TRUE(s.Button("btnMultiView")->Pressed);  // kept without a page

    // Minimized: nothing changes.
    state.Minimized = true;
    state.HasPage = true;
    s.ResetItemsDisplay(state);
    EXPECT_FALSE(Enabled(s, "btnPgUp"));

    // The single-document modes scan once the document number is known.
    auto single = Built("2");
    DisplayState none;
    single.ResetItemsDisplay(none);
    EXPECT_FALSE(Enabled(single, "btnScan"));
    none.Inno = "A1";
    single.ResetItemsDisplay(none);
    EXPECT_TRUE(Enabled(single, "mnuScaner(3)"));
    EXPECT_FALSE(Enabled(single, "mnuImg(4)"));
}

TEST(CommandSurface, KeysButtonsAndTheDebounce) {
    double now = 1000;
    auto s = Built("0");
    s.Clock = [&now] { return now; };
    DisplayState state;
    state.HasPage = true;
    state.OnlyScanList = true;  // and no batch: scanning is off
    s.ResetItemsDisplay(state);

    // A key held down at 30 repeats a second runs at most ten times in that second.
    int handled = 0;
    for (int i = 0; i < 30; ++i, now += 1.0 / 30) handled += s.KeyCommand(KeyCode::N) == Command::ImgMoveNext;
    EXPECT_GE(handled, 7);
    EXPECT_LE(handled, 10);
    now += 1;
    EXPECT_EQ(s.KeyCommand(KeyCode::P), Command::ImgMovePrevious);
    now += 0.05;
    EXPECT_EQ(s.KeyCommand(KeyCode::P), Command::None);  // too soon
    now -= 500;                                             // the clock went back
    EXPECT_EQ(s.KeyCommand(KeyCode::X), Command::SplitAtPage);
    now += 1;
    EXPECT_EQ(s.KeyCommand(KeyCode::F12), Command::None);
    EXPECT_EQ(s.ButtonCommand("掃描"), Command::None);
    state.OnlyScanList = false;
    s.ResetItemsDisplay(state);
    now += 1;
    EXPECT_EQ(s.KeyCommand(KeyCode::F12), Command::ScanDuplex);
    now += 1;
    EXPECT_EQ(s.KeyCommand(KeyCode::Delete), Command::None);  // no erase mode

    EXPECT_EQ(s.ButtonCommand("區塊刪除"), Command::RectangleErase);
    EXPECT_TRUE(s.Button("btnRectangleErase")->Pressed);
    now += 1;
    EXPECT_EQ(s.KeyCommand(KeyCode::Delete), Command::EraseRubberBand);
    EXPECT_EQ(s.ButtonCommand("區塊刪除"), Command::RectangleErase);
    EXPECT_FALSE(s.Button("btnRectangleErase")->Pressed);
    EXPECT_EQ(s.ButtonCommand("多頁瀏覽"), Command::LoadMultiView);
    EXPECT_EQ(s.ButtonCommand("「"), Command::InsertText);
    EXPECT_EQ(s.Button("btnImg")->Menu, "mnuImgTop");
}

TEST(CommandSurface, MovingPastEitherEndChangesNothing) {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    ScanProperties props;
    CScanList list;
    ScanPages pages{person, props, list};
    auto doc = list.Add("B", "A");
    for (int k : {1, 2, 3}) AppendPage(*doc, test::NumberedPage(k));
    pages.CurrentDoc = doc;

    doc->SelectedIndex = 3;
    pages.ImgMoveTo(NavigationTarget(Command::ImgMoveNext, doc->SelectedIndex, doc->ActPage()));
    EXPECT_EQ(doc->SelectedIndex, 3);
    pages.ImgMoveTo(NavigationTarget(Command::ImgMoveFirst, doc->SelectedIndex, doc->ActPage()));
    EXPECT_EQ(test::PageNumberOf(pages.OneViewer.Image()), 1);
    pages.ImgMoveTo(NavigationTarget(Command::ImgMovePrevious, doc->SelectedIndex, doc->ActPage()));
    EXPECT_EQ(doc->SelectedIndex, 1);
    pages.ImgMoveTo(NavigationTarget(Command::ImgMoveLast, doc->SelectedIndex, doc->ActPage()));
    EXPECT_EQ(test::PageNumberOf(pages.OneViewer.Image()), 3);
    pages.ImgMoveTo(NavigationTarget(Command::ImgMovePrevious, doc->SelectedIndex, doc->ActPage()));
    EXPECT_EQ(doc->SelectedIndex, 2);
}

TEST(CommandSurface, InformationTextAndSaveFormats) {
    test::TempFolder dir;
    const std::string path = dir.File("page.tif");
    test::NumberedPage(1).Save(path, fileformat::TiffG4);
    ImageViewer viewer;
    viewer.Load(path, 1);
    CInno doc;
    doc.SetInno("A1");
    doc.SetActPage(4);
    doc.SelectedIndex = 2;

    EXPECT_EQ(ImgShowInfoText(FactsOf(viewer, doc, "文件概要")),
              "文件概要：A1\r\n頁　　數：2/4\r\n格　　式：Tagged Image File Format (TIFF, TIFLZW, or CCITT file)\r\n"
              "壓縮方式：CCITT Group 4\r\n寬　　度：200\r\n高　　度：120\r\n記憶佔用：3KB\r\n硬碟佔用：0KB\r\n"
              "畫　　素：1-Bits\r\n色　　彩：黑白\r\n解  析  度：200 X 200 dpi");
    ImageFacts grey;
    grey.BitsPerPixel = 8;
    grey.Format = 999;
    const std::string text = ImgShowInfoText(grey);
    EXPECT_NE(text.find("格　　式：IOCA, compressed using CCITT group 4\r\n"), std::string::npos);
    EXPECT_NE(text.find("色　　彩：灰階\r\n"), std::string::npos);
    grey.BitsPerPixel = 24;
    EXPECT_NE(ImgShowInfoText(grey).find("色　　彩：彩色"), std::string::npos);

    EXPECT_EQ(SaveFormatFor("/x/a.TIF", 1), fileformat::TiffG4);
    EXPECT_EQ(SaveFormatFor("/x/a.tif", 8), fileformat::TiffLzw);
    EXPECT_EQ(SaveFormatFor("/x/a.jpg", 24), fileformat::Jpeg);
    EXPECT_EQ(SaveFormatFor("/x/a.pcx", 1), 0);
    EXPECT_EQ(SaveFormatFor("/x.d/a", 1), 0);
}
