#pragma once
// The scan window's command surface as data and rules: the menu bar's items, the main and the
// punctuation tool bars, the context menus, the keyboard map, and the redraw that enables,
// checks and presses them. The Qt view draws these items and hands every gesture back here; a
// gesture on an item that is absent, hidden or disabled runs nothing. Also the texts of the
// image information box and the formats of "另存".

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dorvex {

class CInno;
class CLanguage;
class ImageViewer;
class ScanProperties;

enum class Command {
    None,
    // File
    ImgUpload, ShowSave, SaveAllPages, DelayUpload, UpdateDBPage, ImgPrint, Close,
    // Scanner
    ShowScannerConfig, SelectSource, ConfigScanner, StartScan,
    // Edit
    ImgCut, ImgCopy, ImgPaste, ImgDelete, ResetSingleInno,
    // View
    ImgMoveFirst, ImgMovePrevious, ImgMoveNext, ImgMoveLast, ImgZoomIn, ImgZoomOut, ImgOriginalSize,
    ImgFitView, AreaZoom, SingleView, MultiView,
    LoadMultiView,  // load the document's pages into the thumbnails, then MultiView
    // Image
    ImgRotate, ImgDotRemove, ImgBorderRemove, ImgDeskew, MergeCut, AddPages, ReplacePages, Crop,
    MoveMultiPages, BatchImageEffect, Pen, Eraser,
    About,
    // Tool bar
    FullPage,        // the side panel collapses while "整頁" is pressed
    RectangleErase,  // rubber-band mode on; a band marks an area to erase while "區塊刪除" is pressed
    RotateCounterClockwise, RotateClockwise, ImgShowInfo,
    InsertText,  // a punctuation button: its caption goes into the field editor
    // Keyboard
    SplitAtPage, DeletePages, MergeWith, ScanSimplex, ScanDuplex,
    EraseRubberBand,  // Delete while "區塊刪除" is pressed (and a band is shown: the caller's check)
    // Context menus
    TreeRename, TreeDelete, TreeRecognize, TreeSave, SplitAtThumbnail,
};

struct MenuItem {
    std::string Key;
    std::string Caption;  // "-" for a separator
    std::string Parent;   // the top entry's key; "" for a top entry
    Command Cmd = Command::None;
    bool Enabled = true;
    bool Visible = true;
    bool Checked = false;
};

enum class ButtonStyle { Default, Check, Dropdown };

struct ToolButton {
    std::string Key;
    std::string Caption;
    ButtonStyle Style = ButtonStyle::Default;
    Command Cmd = Command::None;
    std::string Menu;  // the menu a drop-down button's arrow opens
    bool Enabled = true;
    bool Visible = true;
    bool Pressed = false;
};

// What the redraw reads from the window.
struct DisplayState {
    bool Minimized = false;
    bool HasPage = false;     // the single-page viewer holds a page
    int ScanListBatches = 0;  // batches in the scan list
    int BatchBoxCount = 0;    // batches listed in the batch box
    bool OnlyScanList = false;
    std::string Inno;  // the document number setting
    int ViewMode = 0;  // 0 single page, 1 thumbnails
    bool Ocr = false;
};

enum class KeyCode { Other, P, N, L, X, D, M, F1, F4, F6, F8, F11, F12, Delete };

class CommandSurface {
public:
    CommandSurface();

    // Creates the items for the window's settings (scan mode, EnableDelayUpload,
    // EnableUpdateDBPage), with message captions from `language` (may be null); the tree's
    // context menu comes with recognition (`ocr`).
    void Build(const ScanProperties& props, const CLanguage* language, bool ocr);

    std::vector<MenuItem> Menus;  // the menu bar, in creation order
    std::vector<ToolButton> Toolbar1;
    std::vector<std::string> Toolbar3;  // punctuation
    std::vector<MenuItem> TreeMenu;     // "mnuTreeTop" and its items; none without recognition
    std::vector<MenuItem> ImgEditMenu;  // "mnuImgEditTop" and its item
    bool PageBoxEnabled = false;
    bool OneViewerVisible = true;
    bool MultiViewerVisible = false;

    // Any menu's item, a main tool-bar button; nullptr when absent.
    const MenuItem* Menu(const std::string& key) const;
    MenuItem* Menu(const std::string& key) { return const_cast<MenuItem*>(std::as_const(*this).Menu(key)); }
    const ToolButton* Button(const std::string& key) const;
    ToolButton* Button(const std::string& key) { return const_cast<ToolButton*>(std::as_const(*this).Button(key)); }

    // Enables, shows, checks and presses the items for the window's state; nothing while the
    // window is minimized.
    void ResetItemsDisplay(const DisplayState& state);
    // "整頁" is shown and pressed: the side panels (the tree, the field editor) give their room
    // to the viewer.
    bool FullPage() const;

    // The command of a menu item (any menu) by key, of a tool-bar button by caption (a check
    // button's pressed state flips), or of a key; Command::None when the item is absent,
    // hidden or disabled. Keys come at most one per 0.1 s.
    Command MenuCommand(const std::string& key) const;
    Command ButtonCommand(const std::string& caption);
    Command KeyCommand(KeyCode key);
    // Whether a command can run now (one of its items is shown and enabled).
    bool IsAvailable(Command command) const;

    // Seconds from any fixed point; a steady clock unless replaced.
    std::function<double()> Clock;

private:
    std::string mMode;
    bool mHasPage = false;
    std::optional<double> mLastKey;
};

// The page that a navigation command goes to, 0-based, for ScanPages::ImgMoveTo (which does
// nothing outside the document: next from the last page, previous from the first).
int NavigationTarget(Command command, int selectedIndex, int pageCount);

// ---- "影像資訊" ----
constexpr const char* kInfoTitle = "檔案資訊";

struct ImageFacts {
    std::string Title;  // the message "tdesc"
    std::string Inno;
    int Page = 0;
    int Pages = 0;
    int Format = 0;
    std::string Compression;
    int Width = 0;
    int Height = 0;
    std::int64_t MemoryKB = 0;
    std::int64_t FileKB = 0;
    int BitsPerPixel = 0;
    int XDpi = 0;
    int YDpi = 0;
};

// The facts of the page shown for the document.
ImageFacts FactsOf(const ImageViewer& viewer, const CInno& doc, const std::string& title);
std::string FormatName(int format);
// The eleven lines, separated by CR LF.
std::string ImgShowInfoText(const ImageFacts& facts);

// ---- "另存" ----
// Pairs of description and pattern separated by "|".
constexpr const char* kSaveFilter =
    "TIFF Format|*.tif|PCX Format|*.pcx|BMP Format|*.bmp|PNG Format|*.png|JPEG|*.jpg";
// Offered beside them when the recognition engine is present: the page with its text.
constexpr const char* kSearchablePdfFilter = "PDF (可搜尋)|*.pdf";
// The file format for a chosen file name by its extension (any case); 0 for another extension.
int SaveFormatFor(const std::string& path, int bitsPerPixel);

}  // namespace dorvex
