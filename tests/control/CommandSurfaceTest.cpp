#include "control/CommandSurface.h"

#include <gtest/gtest.h>

#include "ScriptedPrompter.h"
#include "TestPages.h"
#include "TestUtil.h"
#include "control/FrmScan.h"
#include "control/ScanPages.h"
#include "model/SettingsStore.h"
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

template <typename Item>
std::vector<std::string> Keys(const std::vector<Item>& items) {
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
    // The tree's context menu comes with recognition.
    EXPECT_TRUE(Built("0").TreeMenu.empty());
    EXPECT_EQ(Built("0").MenuCommand("mnuTree[1]"), Command::None);
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
    // The main tool bar is whole in every mode. Without a page the redraw turns the page
    // buttons off; scanning, turning and saving are not its to turn off in this mode.
    EXPECT_EQ(Keys(edit.Toolbar1), Keys(Built("0").Toolbar1));
    EXPECT_EQ(edit.Toolbar1.size(), 19u);
    edit.ResetItemsDisplay(DisplayState{});
    for (const char* key : {"btnImg", "btnPgUp", "btnCut", "btnDelete", "btnInfo", "btnPrint"}) {
        EXPECT_FALSE(Enabled(edit, key)) << key;
    }
    for (const char* key : {"btnScan", "btnConterClockwise", "btnClockwise", "btnSave"}) EXPECT_TRUE(Enabled(edit, key)) << key;
    EXPECT_EQ(edit.ButtonCommand("儲存"), Command::ImgUpload);
    double now = 0;
    edit.Clock = [&now] { return now += 1; };
    EXPECT_EQ(edit.KeyCommand(KeyCode::F1), Command::StartScan);
    EXPECT_EQ(edit.KeyCommand(KeyCode::X), Command::None);  // splitting is not this mode's
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
    // "整頁" pressed gives the side panels' room to the viewer; pressed again it gives it back,
    // and it counts only while it is shown.
    EXPECT_FALSE(s.FullPage());
    EXPECT_EQ(s.ButtonCommand("整頁"), Command::FullPage);
    EXPECT_TRUE(s.FullPage());
    state.Ocr = false;
    s.ResetItemsDisplay(state);
    EXPECT_FALSE(s.FullPage());
    state.Ocr = true;
    s.ResetItemsDisplay(state);
    EXPECT_TRUE(s.FullPage());
    EXPECT_EQ(s.ButtonCommand("整頁"), Command::FullPage);
    EXPECT_FALSE(s.FullPage());

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
    EXPECT_EQ(SaveFormatFor("/x/a.PCX", 1), fileformat::Pcx);
    EXPECT_EQ(SaveFormatFor("/x.d/a", 1), 0);
}

TEST(ScanWindowBoxes, PixelTypeAndPaperSizeAreSavedDuplexIsNot) {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    SettingsStore store{dir.File("Dorvex.ini")};
    FrmScan window(person, &store);
    window.Form_Load();
    auto saved = [&](const char* key) { return SettingsStore(dir.File("Dorvex.ini")).Get("Twain", key); };

    EXPECT_EQ(FrmScan::kPixelTypes, (std::vector<std::string>{"黑白", "灰階", "彩色"}));
    EXPECT_EQ(window.PixelTypeIndex(), 0);
    window.CmbPxType_Click(2);
    EXPECT_EQ(window.Properties(prop::PixelType), "2");
    EXPECT_EQ(window.PixelTypeIndex(), 2);
    EXPECT_EQ(saved("PixelType"), "2");
    window.CmbPxType_Click(3);  // no such entry
    EXPECT_EQ(window.Properties(prop::PixelType), "2");

    EXPECT_FALSE(window.PaperSizeBoxVisible());
    window.SetProperties(prop::EnablePaperSize, "1");
    EXPECT_TRUE(window.PaperSizeBoxVisible());
    std::vector<std::string> papers = window.PaperSizeTexts();
    ASSERT_GE(papers.size(), 3u);
    EXPECT_EQ(papers[0], "A4 - 210 × 297 mm");
    EXPECT_EQ(papers[1], "A4L - 297 × 210 mm");
    EXPECT_EQ(papers[2], "JISB5 - 182 × 257 mm");
    for (const char* without : {"NONE", "", "USSTATEMENT"}) {
        EXPECT_EQ(std::count(papers.begin(), papers.end(), without), 0) << without;
    }
    EXPECT_EQ(window.PaperSizeText(), papers[0]);
    window.CmbSize_Click("A3 - 297 × 420 mm");
    EXPECT_EQ(window.Properties(prop::PaperSize), "11");
    EXPECT_EQ(window.PaperSizeText(), "A3 - 297 × 420 mm");
    EXPECT_EQ(saved("PaperSize"), "11");
    window.CmbSize_Click("B7");  // not a paper size
    EXPECT_EQ(window.Properties(prop::PaperSize), "11");

    EXPECT_EQ(window.DuplexIndex(), 0);
    window.OptDuplex_Click(1);
    EXPECT_EQ(window.Properties(prop::Duplex), "1");
    EXPECT_EQ(window.DuplexIndex(), 1);
    window.OptDuplex_Click(0);
    EXPECT_EQ(window.DuplexIndex(), 0);
    window.CmbPxType_Click(1);  // a later save does not write the duplex option either
    EXPECT_FALSE(saved("Duplex"));
}

TEST(ScanWindowBoxes, PageBoxGroupsToolsAndAreaZoomGoThroughTheWindow) {
    test::TempFolder dir;
    test::ScriptedPrompter person;
    SettingsStore store{dir.File("Dorvex.ini")};
    FrmScan window(person, &store);
    window.Form_Load();
    window.SetItemLimit(2);
    auto doc = window.ScanCompleteList()->Add("B7", "A1");
    for (int k : {1, 2, 3, 4, 5}) AppendPage(*doc, test::NumberedPage(k));
    window.UpdateTreeView();
    window.TreeView1_Click(doc->Index);
    ASSERT_EQ(window.Pages().CurrentDoc, doc);
    EXPECT_EQ(window.StatusBar.PagePanel, "頁碼：1");

    // The page box, and the status panels follow the page shown whatever showed it.
    window.CbPg_Click(3);
    EXPECT_EQ(test::PageNumberOf(window.Pages().OneViewer.Image()), 3);
    EXPECT_EQ(window.StatusBar.PagePanel, "頁碼：3");
    EXPECT_EQ(window.StatusBar.BatchPanel, "批號：B7");
    window.CbPg_Click(9);
    EXPECT_EQ(doc->SelectedIndex, 3);
    window.MenuClick("mnuView(2)");
    EXPECT_EQ(window.StatusBar.PageSelector, "4");

    // Group buttons: pages 3-4 are shown; the next group starts at 5.
    window.ButtonClick("多頁瀏覽");
    EXPECT_EQ(window.ViewMode, 1);
    window.MultiViewer_Group(true);
    EXPECT_EQ(doc->SelectedIndex, 5);
    EXPECT_EQ(window.Pages().MultiViewer.Offset, 4);
    window.MultiViewer_Group(false);
    EXPECT_EQ(doc->SelectedIndex, 3);

    // Area zoom arms the next band; any other command disarms it.
    ImageViewer& viewer = window.Pages().OneViewer;
    window.MenuClick("mnuView(12)");
    EXPECT_TRUE(viewer.RubberBandMode && viewer.AreaZoomArmed);
    window.MenuClick("mnuView(5)");
    EXPECT_FALSE(viewer.RubberBandMode || viewer.AreaZoomArmed);

    // The drawing tools: choosing a tool again puts it away.
    window.Execute(Command::Pen);
    EXPECT_EQ(viewer.ActiveTool, ImageViewer::Tool::Pen);
    window.Execute(Command::Eraser);
    EXPECT_EQ(viewer.ActiveTool, ImageViewer::Tool::Eraser);
    window.Execute(Command::Eraser);
    EXPECT_EQ(viewer.ActiveTool, ImageViewer::Tool::None);
    window.OneViewer_Stroke({{30, 80}, {150, 80}});  // no tool: the page stays as it is
    EXPECT_EQ(test::PageNumberIn(doc->FilePath(), 3), 3);
    window.Execute(Command::Pen);
    window.OneViewer_Stroke({{30, 80}, {150, 80}});
    EXPECT_TRUE(LoadPage(*doc, 3).IsBlack(100, 80));
}
