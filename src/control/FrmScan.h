#pragma once
// The scan window's controller: its public properties and session settings, what it does when
// it loads, each time it is activated and when it closes, the keep-alive timer, the upload
// from the window and its DebugMessage event. The work itself lives in the parts it holds:
// the pages and viewers (ScanPages), the scanner (Acquisition) and the server's questions.
// A view (or a scripted person) shows it: Form_Load, Form_Activate, commands, Form_QueryUnload.

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "control/Acquisition.h"
#include "control/CommandSurface.h"
#include "control/ScanPages.h"
#include "model/ScanList.h"
#include "model/ScanTree.h"
#include "model/ScanProperties.h"
#include "ocr/DocDetail.h"
#include "ocr/RecognitionQueue.h"
#include "platform/Ocr.h"
#include "server/Language.h"
#include "support/Event.h"

namespace dorvex {

class AtQueue;
class CWordParser;
class FrmConf;
class FrmDelayUpload;
class FrmList;
class FrmOCR;
class FrmUpload;
class IPrompter;
class ITopMostWindow;
class SettingsStore;

class FrmScan {
public:
    // `store` holds the saved settings (the per-user settings file when null).
    explicit FrmScan(IPrompter& prompter, SettingsStore* store = nullptr);
    ~FrmScan();
    FrmScan(const FrmScan&) = delete;
    FrmScan& operator=(const FrmScan&) = delete;

    static constexpr const char* kAskSave = "尚未儲存請問是否要馬上進行儲存？";
    static constexpr const char* kAskDeleteTmp = "是否刪除暫存檔?";
    static constexpr const char* kAskDeleteTmpTitle = "是否刪除暫存檔";
    static constexpr const char* kScannedTitle = "已掃描影像";
    static constexpr const char* kToScanTitle = "待掃描清單";

    // ---- Public properties ----
    // The scan list worked on; one the window makes itself at load when none is set.
    void SetScanCompleteList(std::shared_ptr<CScanList> list);
    const std::shared_ptr<CScanList>& ScanCompleteList() const { return mList; }
    bool DownloadFromRemote = false;
    bool ScanListVisible = false;
    bool EnableOCR() const { return mEnableOCR; }
    void SetEnableOCR(bool enable);  // True turns the recognition layout on; False changes nothing
    const std::string& SessionIdName() const { return mSessionIdName; }
    void SetSessionIdName(const std::string& name);  // a non-empty name starts the keep-alive timer
    std::string SessionId;
    std::int32_t FileFormat = 0;
    bool EnableOverWrite = false;
    std::string LastTmpFile() const { return mScanner ? mScanner->LastTmpFile : std::string(); }
    bool AutoKeepTmpFiles = false;
    std::int16_t ItemLimit() const { return Props.ItemLimit; }
    void SetItemLimit(std::int16_t limit);
    std::string DVDPrefix;
    bool OnlyScanList = false;
    bool EnableDownLoadFile = false;
    std::int32_t SaveMode = 0;
    // Properties(index): throws DorvexError(SubscriptOutOfRange) outside 0..51.
    const std::string& Properties(int index) const { return Props.Get(index); }
    void SetProperties(int index, const std::string& value) { Props.Set(index, value); }
    void ResetRestrictSize();
    RestrictSize Restrict() const { return mRestrict; }

    // Raised with the upload's address and each file's result.
    Event<const std::string&> DebugMessage;

    // ---- The parts (pages and scanner exist from Form_Load on) ----
    ScanProperties Props;
    std::shared_ptr<CScanList> ServerList;  // the to-scan list last fetched
    CLanguage& Messages() { return *mLanguage; }
    ScanPages& Pages() { return *mPages; }
    Acquisition& Scanner() { return *mScanner; }
    // The batch box: the batches the server listed, and the text typed or chosen.
    std::vector<std::string> CmbBatchNo;
    std::string CmbBatchNoText;
    ITopMostWindow* TopMostWindow = nullptr;  // set by the view
    int ViewMode = 0;                          // 0 single page, 1 thumbnails
    ScanTree Tree;
    CommandSurface Commands;
    ImgBar StatusBar;
    std::string StatusText;     // the status bar's message panel (a document's ErrorMsg)
    bool Minimized = false;     // the window's state, told by the view
    bool CloseRequested = false;  // "離開": the view closes the window

    // Views and hosts: the modal dialogs and redraw. Without them the dialogs run headless
    // (the upload runs, the settings dialog is not shown).
    std::function<void(FrmUpload&)> ShowUploadWindow;
    std::function<void(FrmConf&)> ShowConfDialog;
    std::function<void()> OnRedraw;  // lay out, redraw items and tree
    std::function<void()> ShowAbout;
    std::function<void()> PrintPage;   // prints the page shown
    std::function<void()> DelayUpload;  // the delayed upload (ScheduleDelayUpload unless replaced)
    std::function<void(FrmDelayUpload&)> ShowDelayUploadDialog;  // without it, no time is chosen
    AtQueue* Scheduler = nullptr;  // the system's `at` when null
    std::function<void(FrmList&)> ShowListWindow;  // the page-count window
    std::function<void(FrmOCR&)> ShowOcrWindow;    // the recognition run's progress

    // ---- Recognition (with the recognition switch on) ----
    // The field editor beside the viewer; its corrections go into the document it shows.
    DocDetail OCRDetail;
    // What the recognition engine is made with when the window loads.
    OcrOptions OcrEngineOptions;
    // How many background workers read the documents' first pages while a scan runs (0: none;
    // the run after the scan then reads them itself).
    unsigned RecognitionWorkers = RecognitionQueue::DefaultWorkers();
    // The background reading of the scan running (nullptr outside a scan with recognition).
    const RecognitionQueue* BackgroundReading() const { return mReading.get(); }
    // The window's word parser, from Form_Load on (nullptr before).
    CWordParser* WordParser() { return mWordParser.get(); }
    // Reads the first page of a document into its words (again, even when read before, with
    // `again`), then shows them in the field editor.
    void RecognizeDocument(const std::shared_ptr<CInno>& doc, bool again);
    // Reads every unread document of the scan list (the recognition window).
    void RecognizeScanList();
    // The field editor shows this document's words (nothing for nullptr).
    void ShowWords(const std::shared_ptr<CInno>& doc);
    // The OCR menu: one item per field title, keys "mnuOCR[0]", "mnuOCR[1]", ...
    std::vector<MenuItem> OcrMenu;
    // After a rubber band was drawn on the page: whether the OCR menu opens for it (recognition
    // on, a band of some size kept, and "區塊刪除" not pressed).
    bool OcrMenuWanted() const;
    // Reads the rubber band's area of the page shown into the field of OcrMenu[index].
    void OcrMenuClick(int index);

    // ---- Lifecycle ----
    void Form_Load();
    void Form_Activate();
    void Form_QueryUnload();
    bool Loaded() const { return mLoaded; }
    // The keep-alive timer: one tick a minute while it runs.
    bool RefreshTimerEnabled() const { return mTimerEnabled; }
    void RefreshTimer_Timer();
    // The address the keep-alive request goes to: the server address up to its last "/",
    // then "temp.php".
    std::string KeepAliveUrl() const;

    // ---- Commands ----
    void StartScan(bool append = true);
    void StartScanEdit(bool replace = false);
    void SelectSource();
    void ConfigScanner();
    void ShowScannerConfig();
    // Uploads one document (only when changed) or every document the rules allow.
    void ImgUpload(const std::shared_ptr<CInno>& doc = nullptr);
    // The tree and display after a change to the scan list.
    void UpdateTreeView();
    void Redraw();  // ResetItemsDisplay, then the view draws

    // ---- The command surface (menus, tool bars, keys) ----
    // Runs a command with the framing every command gets: the rubber band is off while it
    // runs, and back on afterwards when recognition is on.
    void Execute(Command command);
    void MenuClick(const std::string& key) { Execute(Commands.MenuCommand(key)); }
    void ButtonClick(const std::string& caption);
    void KeyDown(KeyCode key) { Execute(Commands.KeyCommand(key)); }
    // The page-count window: every document of the scan list with its page count, to compare
    // with the server's and update them.
    void ShowPageCounts();
    // Asks for a new document number in mode "2" and renames the document.
    void ResetSingleInno();
    void ImgShowInfo();
    // Saves the page shown as a file of the chosen format; false when nothing was written.
    bool ShowSave();
    // "全部另存": copies every document's page files into a folder the person picks.
    void SaveAllPages();
    // The delayed upload: asks for a time, writes the script, exports the documents into a
    // folder the person picks, lists them and schedules the job; tells the person what failed.
    void ScheduleDelayUpload();
    // Thumbnails: a click selects the page, a double click shows it in the single-page view.
    void MultiViewer_Click(int item);
    void MultiViewer_DblClick(int item);
    // The thumbnails' group buttons: the first page of the next or the previous group.
    void MultiViewer_Group(bool next);
    // A stroke of "簽字筆" or "橡皮擦" across the page shown (image pixels): the page is saved.
    void OneViewer_Stroke(const std::vector<StrokePoint>& points);
    // The page box: the page (1-based) of the current document to show.
    void CbPg_Click(int page);

    // ---- The tool-bar boxes ----
    // The pixel-type box: "黑白", "灰階", "彩色" for PixelType 0, 1, 2; choosing one saves.
    static const std::vector<std::string> kPixelTypes;
    int PixelTypeIndex() const;  // -1 when the setting is none of them
    void CmbPxType_Click(int index);
    // The paper-size box, shown only when EnablePaperSize is 1: the sizes offered (A4 landscape
    // right after A4) and the one set; choosing one saves. On the TWAIN path the sizes are
    // those the device offers, asked when the window loads and after the source or the
    // settings change; the whole table when the device cannot say.
    bool PaperSizeBoxVisible() const;
    std::vector<std::string> PaperSizeTexts() const;
    void RefreshOfferedPaperSizes();
    std::string PaperSizeText() const;
    void CmbSize_Click(const std::string& text);
    // The duplex options "單面掃描" (0) and "雙面掃描" (1); not saved.
    int DuplexIndex() const;
    void OptDuplex_Click(int index);

    // The tree's gestures, by node index.
    void TreeView1_Click(int node);
    void TreeView1_DblClick(int node);  // shows the document from its first page
    void TreeView1_AfterLabelEdit(int node, const std::string& label);
    void TreeDelete(int node);
    void TreeDragDrop(int source, int target);

private:
    // The tree and its labels follow the scan list: every change reaches UpdateTreeView.
    class TreeFollower final : public IScanListObserver {
    public:
        explicit TreeFollower(FrmScan& window) : mWindow(window) {}
        bool ScanListChanged(const CScanList&, unsigned) override;

    private:
        FrmScan& mWindow;
    };
    void Follow(bool on);

    void AskDocumentNumber();
    void StartBackgroundReading();
    void SaveSettings();
    void RunAfterUpload(const std::string& inno, long code, const std::string& text);
    std::string MessageText(const std::string& key, const std::string& fallback) const;

    IPrompter& mPrompter;
    std::unique_ptr<SettingsStore> mOwnStore;
    SettingsStore* mStore;
    std::shared_ptr<CScanList> mList;
    std::shared_ptr<CLanguage> mLanguage;
    std::unique_ptr<ScanPages> mPages;
    std::unique_ptr<Acquisition> mScanner;
    RestrictSize mRestrict;
    bool mEnableOCR = false;
    std::string mSessionIdName;
    bool mTimerEnabled = false;
    std::int16_t mTicks = 0;
    bool mLoaded = false;
    std::set<std::string> mRefusedThisRun;
    std::unique_ptr<CWordParser> mWordParser;
    std::unique_ptr<RecognitionQueue> mReading;
    std::weak_ptr<CInno> mDetailDoc;  // the document whose words the field editor shows
    std::optional<std::vector<std::int32_t>> mOfferedPapers;  // the device's paper codes
    TreeFollower mTreeFollower{*this};
    bool mFollowing = false;
};

}  // namespace dorvex
