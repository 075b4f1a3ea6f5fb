#include "control/CommandSurface.h"

#include <algorithm>
#include <chrono>

#include "control/Viewers.h"
#include "model/ScanList.h"
#include "model/ScanProperties.h"
#include "platform/Raster.h"
#include "server/Language.h"
#include "support/ModFS.h"
#include "support/Text.h"

namespace dorvex {
namespace {

// In which scan modes, and with which settings, an item is created.
enum class When { Always, NotEdit, Several, SingleScan, NotEditNorSeveral, Edit, DelayUpload, UpdateDBPage };

struct MenuRow {
    const char* key;
    const char* caption;  // after the message text when there is one
    const char* message;  // message map key, or nullptr
    const char* fallback;
    When when;
    Command cmd;
};

using C = Command;
constexpr MenuRow kMenus[] = {
    {"mnuFileTop", "&檔案(&F)", nullptr, nullptr, When::Always, C::None},
    {"mnuFile(0)", "儲存", nullptr, nullptr, When::NotEdit, C::ImgUpload},
    {"mnuFile(1)", "另存", nullptr, nullptr, When::NotEdit, C::ShowSave},
    {"mnuFile(4)", "全部另存", nullptr, nullptr, When::Several, C::SaveAllPages},
    {"mnuFile(6)", "", "delayUpload", "延遲上傳", When::DelayUpload, C::DelayUpload},
    {"mnuFile(5)", "頁數更新", nullptr, nullptr, When::UpdateDBPage, C::UpdateDBPage},
    {"mnuFile(2)", "列印", nullptr, nullptr, When::Always, C::ImgPrint},
    {"mnuFile(3)", "離開", nullptr, nullptr, When::Always, C::Close},
    {"mnuScanTop", "&掃描器(&S)", nullptr, nullptr, When::NotEdit, C::None},
    {"mnuScaner(0)", "一般設定", nullptr, nullptr, When::NotEdit, C::ShowScannerConfig},
    {"mnuScaner(1)", "選擇掃描器", nullptr, nullptr, When::NotEdit, C::SelectSource},
    {"mnuScaner(2)", "設定掃描器", nullptr, nullptr, When::NotEdit, C::ConfigScanner},
    {"mnuScaner(3)", "掃描", nullptr, nullptr, When::NotEdit, C::StartScan},
    {"mnuEditTop", "&編輯(&E)", nullptr, nullptr, When::NotEdit, C::None},
    {"mnuEdit(0)", "剪下", nullptr, nullptr, When::NotEdit, C::ImgCut},
    {"mnuEdit(1)", "複製", nullptr, nullptr, When::NotEdit, C::ImgCopy},
    {"mnuEdit(2)", "貼上", nullptr, nullptr, When::NotEdit, C::ImgPaste},
    {"mnuEdit(3)", "刪除", nullptr, nullptr, When::NotEdit, C::ImgDelete},
    {"mnuEdit(4)", "修改", "tdesc", "文件概要", When::SingleScan, C::ResetSingleInno},
    {"mnuViewTop", "&檢視(&V)", nullptr, nullptr, When::Always, C::None},
    {"mnuView(0)", "第一頁", nullptr, nullptr, When::Always, C::ImgMoveFirst},
    {"mnuView(1)", "上一頁", nullptr, nullptr, When::Always, C::ImgMovePrevious},
    {"mnuView(2)", "下一頁", nullptr, nullptr, When::Always, C::ImgMoveNext},
    {"mnuView(3)", "最後一頁", nullptr, nullptr, When::Always, C::ImgMoveLast},
    {"mnuView(5)", "放大", nullptr, nullptr, When::Always, C::ImgZoomIn},
    {"mnuView(6)", "縮小", nullptr, nullptr, When::Always, C::ImgZoomOut},
    {"mnuView(7)", "原尺寸", nullptr, nullptr, When::Always, C::ImgOriginalSize},
    {"mnuView(8)", "整頁顯示", nullptr, nullptr, When::Always, C::ImgFitView},
    {"mnuView(12)", "區塊放大", nullptr, nullptr, When::Always, C::AreaZoom},
    {"mnuView(9)", "-", nullptr, nullptr, When::Always, C::None},
    {"mnuView(10)", "單頁模式", nullptr, nullptr, When::Always, C::SingleView},
    {"mnuView(11)", "多頁模式", nullptr, nullptr, When::Always, C::MultiView},
    {"mnuImgTop", "&影像(&I)", nullptr, nullptr, When::Always, C::None},
    {"mnuImg(0)", "旋轉", nullptr, nullptr, When::NotEdit, C::ImgRotate},
    {"mnuImg(1)", "去除黑點", nullptr, nullptr, When::NotEdit, C::ImgDotRemove},
    {"mnuImg(2)", "去除黑邊", nullptr, nullptr, When::NotEdit, C::ImgBorderRemove},
    {"mnuImg(3)", "歪斜校正", nullptr, nullptr, When::NotEdit, C::ImgDeskew},
    {"mnuImg(4)", "合併或分割", nullptr, nullptr, When::NotEditNorSeveral, C::MergeCut},
    {"mnuImg(7)", "加頁", nullptr, nullptr, When::NotEdit, C::AddPages},
    {"mnuImg(10)", "取代", nullptr, nullptr, When::NotEdit, C::ReplacePages},
    {"mnuImg(8)", "剪裁", nullptr, nullptr, When::NotEdit, C::Crop},
    {"mnuImg(9)", "移動多頁", nullptr, nullptr, When::NotEdit, C::MoveMultiPages},
    {"mnuImg(11)", "批次處理", nullptr, nullptr, When::NotEdit, C::BatchImageEffect},
    {"mnuImg(5)", "簽字筆", nullptr, nullptr, When::Edit, C::Pen},
    {"mnuImg(6)", "橡皮擦", nullptr, nullptr, When::Edit, C::Eraser},
    {"mnuHelpTop", "&說明(&H)", nullptr, nullptr, When::Always, C::None},
    {"mnuHelp(0)", "關於QUORINv2...", nullptr, nullptr, When::Always, C::About},
};

// The main tool bar is the same in every mode; the redraw enables its buttons.
struct ButtonRow {
    const char* key;
    const char* caption;
    ButtonStyle style;
    Command cmd;
};

constexpr ButtonRow kButtons[] = {
    {"btnScan", "掃描", ButtonStyle::Default, C::StartScan},
    {"btnImg", "影像", ButtonStyle::Dropdown, C::None},
    {"btnPgUp", "上一頁", ButtonStyle::Default, C::ImgMovePrevious},
    {"btnPuDn", "下一頁", ButtonStyle::Default, C::ImgMoveNext},
    {"btnZoomIn", "放大", ButtonStyle::Default, C::ImgZoomIn},
    {"btnZoomOut", "縮小", ButtonStyle::Default, C::ImgZoomOut},
    {"btnFullPage", "整頁", ButtonStyle::Check, C::FullPage},
    {"btnRectangleErase", "區塊刪除", ButtonStyle::Check, C::RectangleErase},
    {"btnCut", "剪下", ButtonStyle::Default, C::ImgCut},
    {"btnCopy", "複製", ButtonStyle::Default, C::ImgCopy},
    {"btnPaste", "貼上", ButtonStyle::Default, C::ImgPaste},
    {"btnDelete", "刪除", ButtonStyle::Default, C::ImgDelete},
    {"btnConterClockwise", "逆時針旋轉", ButtonStyle::Default, C::RotateCounterClockwise},
    {"btnClockwise", "順時針旋轉", ButtonStyle::Default, C::RotateClockwise},
    {"btnOneView", "單頁瀏覽", ButtonStyle::Default, C::SingleView},
    {"btnMultiView", "多頁瀏覽", ButtonStyle::Default, C::LoadMultiView},
    {"btnInfo", "影像資訊", ButtonStyle::Default, C::ImgShowInfo},
    {"btnPrint", "列印", ButtonStyle::Default, C::ImgPrint},
    {"btnSave", "儲存", ButtonStyle::Default, C::ImgUpload},
};

constexpr const char* kPunctuation[] = {"，", "、", "；", "：", "？", "（", "）", "〝", "〞", "「", "」", "。", "⊙", "☆"};

// Enabled with a page in the viewer, in every mode.
constexpr const char* kPageButtons[] = {"btnImg", "btnPgUp", "btnPuDn", "btnZoomIn", "btnZoomOut", "btnRectangleErase",
                                        "btnCut", "btnCopy", "btnPaste", "btnDelete", "btnOneView", "btnMultiView",
                                        "btnInfo", "btnPrint"};
constexpr const char* kPageMenus[] = {"mnuFile(1)", "mnuFile(2)", "mnuEdit(0)", "mnuEdit(1)", "mnuEdit(2)", "mnuEdit(3)",
                                      "mnuView(0)", "mnuView(1)", "mnuView(2)", "mnuView(3)", "mnuView(5)", "mnuView(6)",
                                      "mnuView(7)", "mnuView(8)", "mnuView(10)", "mnuView(11)", "mnuView(12)",
                                      "mnuImg(0)", "mnuImg(1)", "mnuImg(2)", "mnuImg(3)", "mnuImg(8)"};
constexpr const char* kBatchMenus[] = {"mnuFile(4)", "mnuFile(5)", "mnuFile(6)"};
constexpr const char* kScanMenus[] = {"mnuScaner(0)", "mnuScaner(1)", "mnuScaner(2)", "mnuScaner(3)"};
constexpr const char* kPageMenusOutsideEdit[] = {"mnuImg(4)", "mnuImg(7)", "mnuImg(9)", "mnuImg(10)"};

bool Present(When when, const std::string& mode, bool delayUpload, bool updateDBPage) {
    switch (when) {
    case When::Always: return true;
    case When::NotEdit: return mode != "1";
    case When::Several: return mode == "0";
    case When::SingleScan: return mode == "2";
    case When::NotEditNorSeveral: return mode != "1" && mode != "0";
    case When::Edit: return mode == "1";
    case When::DelayUpload: return mode == "0" && delayUpload;
    case When::UpdateDBPage: return mode == "0" && updateDBPage;
    }
    return false;
}

template <typename Item>
const Item* FindIn(const std::vector<Item>& items, const std::string& key) {
    auto found = std::find_if(items.begin(), items.end(), [&key](const Item& item) { return item.Key == key; });
    return found == items.end() ? nullptr : &*found;
}

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string CompressionName(int format) {
    switch (format) {
    case fileformat::TiffG4: return "CCITT Group 4";
    case fileformat::TiffLzw: return "LZW";
    case fileformat::Jpeg: return "JPEG";
    case fileformat::Png: return "Deflate";
    default: return "None";
    }
}

}  // namespace

CommandSurface::CommandSurface() : Clock(SteadySeconds) {}

void CommandSurface::Build(const ScanProperties& props, const CLanguage* language, bool ocr) {
    mMode = props.Get(prop::Mode);
    const bool delayUpload = props.Number(prop::EnableDelayUpload) == 1;
    const bool updateDBPage = props.Number(prop::EnableUpdateDBPage) == 1;
    auto message = [language](const char* key, const char* fallback) {
        return language ? language->GetMessage(key, fallback) : std::string(fallback);
    };

    Menus.clear();
    std::string top;
    for (const MenuRow& row : kMenus) {
        if (!Present(row.when, mMode, delayUpload, updateDBPage)) continue;
        MenuItem item;
        item.Key = row.key;
        item.Caption = (row.message ? message(row.message, row.fallback) : std::string()) + row.caption;
        const bool isTop = item.Key.ends_with("Top");
        if (isTop) top = item.Key;
        item.Parent = isTop ? "" : top;
        item.Cmd = row.cmd;
        Menus.push_back(item);
    }

    Toolbar1.clear();
    for (const ButtonRow& row : kButtons) {
        ToolButton button;
        button.Key = row.key;
        button.Caption = row.caption;
        button.Style = row.style;
        button.Cmd = row.cmd;
        if (row.style == ButtonStyle::Dropdown) button.Menu = "mnuImgTop";
        Toolbar1.push_back(button);
    }
    Toolbar3.assign(std::begin(kPunctuation), std::end(kPunctuation));

    TreeMenu.clear();
    if (ocr) {
        TreeMenu = {{"mnuTreeTop", "", "", C::None},
                    {"mnuTree[0]", "重新命名", "mnuTreeTop", C::TreeRename},
                    {"mnuTree[1]", "刪除", "mnuTreeTop", C::TreeDelete},
                    {"mnuTree[2]", "重新辨識", "mnuTreeTop", C::TreeRecognize},
                    {"mnuTree[3]", "儲存", "mnuTreeTop", C::TreeSave}};
    }
    ImgEditMenu = {{"mnuImgEditTop", "", "", C::None}, {"mnuImgEdit[0]", "分割", "mnuImgEditTop", C::SplitAtThumbnail}};
}

const MenuItem* CommandSurface::Menu(const std::string& key) const {
    for (const auto* items : {&Menus, &TreeMenu, &ImgEditMenu}) {
        if (const MenuItem* item = FindIn(*items, key)) return item;
    }
    return nullptr;
}

const ToolButton* CommandSurface::Button(const std::string& key) const { return FindIn(Toolbar1, key); }

void CommandSurface::ResetItemsDisplay(const DisplayState& state) {
    if (state.Minimized) return;
    const bool page = state.HasPage;
    const bool batches = state.ScanListBatches > 0;
    mHasPage = page;
    auto enableMenus = [this](const auto& keys, bool on) {
        for (const char* key : keys) {
            if (MenuItem* item = Menu(key)) item->Enabled = on;
        }
    };
    auto enableButton = [this](const char* key, bool on) {
        if (ToolButton* button = Button(key)) button->Enabled = on;
    };

    for (const char* key : kPageButtons) enableButton(key, page);
    PageBoxEnabled = page;
    enableMenus(kPageMenus, page);
    enableMenus(kBatchMenus, batches);

    if (mMode != "1") {
        enableButton("btnConterClockwise", page);
        enableButton("btnClockwise", page);
        enableButton("btnSave", batches);
        const bool scan = mMode == "0" ? state.BatchBoxCount > 0 || !state.OnlyScanList : !state.Inno.empty();
        enableButton("btnScan", scan);
        enableMenus(kScanMenus, scan);
        enableMenus(kPageMenusOutsideEdit, page);
    }

    const bool multi = state.ViewMode == 1;
    OneViewerVisible = !multi;
    MultiViewerVisible = multi;
    if (page) {
        if (ToolButton* one = Button("btnOneView")) one->Pressed = !multi;
        if (ToolButton* many = Button("btnMultiView")) many->Pressed = multi;
        if (MenuItem* one = Menu("mnuView(10)")) one->Checked = !multi;
        if (MenuItem* many = Menu("mnuView(11)")) many->Checked = multi;
    }
    if (ToolButton* full = Button("btnFullPage")) full->Visible = state.Ocr;
}

bool CommandSurface::FullPage() const {
    const ToolButton* full = Button("btnFullPage");
    return full && full->Visible && full->Pressed;
}

Command CommandSurface::MenuCommand(const std::string& key) const {
    const MenuItem* item = Menu(key);
    return item && item->Visible && item->Enabled ? item->Cmd : C::None;
}

Command CommandSurface::ButtonCommand(const std::string& caption) {
    if (std::find(Toolbar3.begin(), Toolbar3.end(), caption) != Toolbar3.end()) return C::InsertText;
    auto found = std::find_if(Toolbar1.begin(), Toolbar1.end(),
                              [&caption](const ToolButton& button) { return button.Caption == caption; });
    if (found == Toolbar1.end() || !found->Visible || !found->Enabled) return C::None;
    if (found->Style == ButtonStyle::Check) found->Pressed = !found->Pressed;
    return found->Cmd;
}

Command CommandSurface::KeyCommand(KeyCode key) {
    const double now = Clock();
    // A clock that went back (another day) lets the key through.
    if (mLastKey && now >= *mLastKey && now - *mLastKey <= 0.1) return C::None;
    mLastKey = now;
    Command command = C::None;
    switch (key) {
    case KeyCode::P: command = C::ImgMovePrevious; break;
    case KeyCode::N: command = C::ImgMoveNext; break;
    case KeyCode::L: command = C::ImgMoveLast; break;
    case KeyCode::X: command = C::SplitAtPage; break;
    case KeyCode::D: command = C::DeletePages; break;
    case KeyCode::M: command = C::MergeWith; break;
    case KeyCode::F1: command = C::StartScan; break;
    case KeyCode::F4: command = C::ImgDelete; break;
    case KeyCode::F6: command = C::AddPages; break;
    case KeyCode::F8: command = C::ImgUpload; break;
    case KeyCode::F11: command = C::ScanSimplex; break;
    case KeyCode::F12: command = C::ScanDuplex; break;
    case KeyCode::Delete: command = C::EraseRubberBand; break;
    case KeyCode::Other: break;
    }
    return IsAvailable(command) ? command : C::None;
}

bool CommandSurface::IsAvailable(Command command) const {
    if (command == C::None) return false;
    bool hasItem = false;
    for (const auto* items : {&Menus, &TreeMenu, &ImgEditMenu}) {
        for (const MenuItem& item : *items) {
            if (item.Cmd != command) continue;
            if (item.Visible && item.Enabled) return true;
            hasItem = true;
        }
    }
    for (const ToolButton& button : Toolbar1) {
        if (button.Cmd != command) continue;
        if (button.Visible && button.Enabled) return true;
        hasItem = true;
    }
    if (hasItem) return false;
    switch (command) {
    case C::SplitAtPage:
    case C::DeletePages:
    case C::MergeWith: return mHasPage && mMode != "1";
    case C::ScanSimplex:
    case C::ScanDuplex: return IsAvailable(C::StartScan);
    case C::EraseRubberBand: {
        const ToolButton* erase = Button("btnRectangleErase");
        return erase && erase->Pressed && erase->Visible && erase->Enabled;
    }
    case C::InsertText: return true;
    default: return false;
    }
}

int NavigationTarget(Command command, int selectedIndex, int pageCount) {
    switch (command) {
    case C::ImgMoveFirst: return 0;
    case C::ImgMovePrevious: return selectedIndex - 2;
    case C::ImgMoveNext: return selectedIndex;
    case C::ImgMoveLast: return pageCount - 1;
    default: return -1;
    }
}

// ---- "影像資訊" ----

ImageFacts FactsOf(const ImageViewer& viewer, const CInno& doc, const std::string& title) {
    const Raster& image = viewer.Image();
    ImageFacts facts;
    facts.Title = title;
    facts.Inno = doc.Inno();
    facts.Page = doc.SelectedIndex;
    facts.Pages = doc.ActPage();
    facts.Format = viewer.FileInfo().format;
    facts.Compression = CompressionName(facts.Format);
    if (!image.Empty()) {
        facts.Width = image.Width();
        facts.Height = image.Height();
        facts.BitsPerPixel = image.BitsPerPixel();
        facts.XDpi = image.XDpi();
        facts.YDpi = image.YDpi();
    }
    // Rows padded to whole 32-bit words, as the image lies in memory.
    const std::int64_t stride = (static_cast<std::int64_t>(facts.Width) * facts.BitsPerPixel + 31) / 32 * 4;
    facts.MemoryKB = stride * facts.Height / 1024;
    facts.FileKB = GetFileLength(viewer.FilePath()) / 1024;
    return facts;
}

std::string FormatName(int format) {
    switch (format) {
    case 1: return "ZSoft PCX";
    case 2: return "CompuServe GIF";
    case fileformat::Tiff:
    case fileformat::TiffLzw:
    case fileformat::TiffG4: return "Tagged Image File Format (TIFF, TIFLZW, or CCITT file)";
    case 4: return "TARGA";
    case fileformat::Bmp: return "Windows BMP";
    case 10: return "JPEG Lossless";
    case fileformat::Jpeg: return "JPEG YUV 4:1:1";
    case 23: return "JPEG YUV 4:2:2";
    case fileformat::Png: return "Portable Network Graphics";
    case 163:
    case 164: return "JPEG 2000";
    case 171: return "JPEG CieLAB 4:4:4";
    case 172: return "JPEG CieLAB 4:1:1";
    case 173: return "JPEG CieLAB 4:2:2";
    default: return "IOCA, compressed using CCITT group 4";
    }
}

std::string ImgShowInfoText(const ImageFacts& f) {
    const char* colour = f.BitsPerPixel == 1 ? "黑白" : f.BitsPerPixel == 8 ? "灰階" : "彩色";
    const std::string lines[] = {
        f.Title + "：" + f.Inno,
        "頁　　數：" + std::to_string(f.Page) + "/" + std::to_string(f.Pages),
        "格　　式：" + FormatName(f.Format),
        "壓縮方式：" + f.Compression,
        "寬　　度：" + std::to_string(f.Width),
        "高　　度：" + std::to_string(f.Height),
        "記憶佔用：" + std::to_string(f.MemoryKB) + "KB",
        "硬碟佔用：" + std::to_string(f.FileKB) + "KB",
        "畫　　素：" + std::to_string(f.BitsPerPixel) + "-Bits",
        std::string("色　　彩：") + colour,
        "解  析  度：" + std::to_string(f.XDpi) + " X " + std::to_string(f.YDpi) + " dpi",
    };
    std::string text = lines[0];
    for (std::size_t i = 1; i < std::size(lines); ++i) text += "\r\n" + lines[i];
    return text;
}

// ---- "另存" ----

int SaveFormatFor(const std::string& path, int bitsPerPixel) {
    const std::string extension = ToLowerAscii(GetFileExtension(path));
    if (extension == "tif") return bitsPerPixel == 1 ? fileformat::TiffG4 : fileformat::TiffLzw;
    if (extension == "pcx") return fileformat::Pcx;
    if (extension == "bmp") return fileformat::Bmp;
    if (extension == "png") return fileformat::Png;
    if (extension == "jpg") return fileformat::Jpeg;
    return 0;
}

}  // namespace dorvex
