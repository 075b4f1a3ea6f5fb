#pragma once
// The scan window's work on pages: showing a document's pages in the viewers, saving the page
// shown, the manual clean-up commands, cut, copy, paste, delete, move, rotate, merge and split,
// the batch clean-up of the whole scan list, and the recovery file offered back at start.

#include <functional>
#include <memory>
#include <string>

#include "control/PageProcessing.h"
#include "control/Viewers.h"
#include "model/EditDialogs.h"
#include "model/FrmBorderRemove.h"
#include "model/PageFiles.h"
#include "model/ScanList.h"
#include "model/ScanProperties.h"

namespace dorvex {

class IPrompter;
class SettingsStore;

class ScanPages {
public:
    ScanPages(IPrompter& prompter, ScanProperties& properties, CScanList& scanList);
    ~ScanPages();
    ScanPages(const ScanPages&) = delete;
    ScanPages& operator=(const ScanPages&) = delete;

    // ---- State shared with the rest of the scan window ----
    CScanList* ServerList = nullptr;      // the to-scan list
    SettingsStore* Store = nullptr;       // where changed settings are saved
    std::shared_ptr<CInno> CurrentDoc;
    ImageViewer OneViewer;
    ImageViewer TestViewer;
    ThumbnailStrip MultiViewer;
    bool EnableOCR = false;
    std::string TxtAngle;  // the rotation angle box

    // Modal dialogs, shown by the views; each returns when its dialog has closed.
    std::function<void(FrmBorderRemove&)> ShowBorderRemove;
    std::function<void(FrmDelete&)> ShowDelete;
    std::function<void(FrmMultiMove&)> ShowMultiMove;
    std::function<void(FrmRotate&)> ShowRotate;
    std::function<void(FrmMergeCut&)> ShowMergeCutDialog;

    // ---- Page files and viewers ----
    void SaveThisPage(bool sync);
    void InsertThisPage();
    void InsertPageByCInno(const std::shared_ptr<CInno>& doc);
    void SyncBitmap();
    // Shows the document's current page; with `refresh` the strip is reloaded when the page
    // count changed or `force` is set.
    void LoadImageByCInno(const std::shared_ptr<CInno>& doc, bool refresh = false, bool force = false);
    void LoadImageFile(const std::string& path);
    void LoadBitmapList(int pageCount);
    void ImgMoveTo(int page);  // 0-based
    // The first page of the next or the previous group of thumbnails; nothing past either end.
    void MoveGroup(bool next);
    // A stroke of the drawing tool on the page shown (image pixels), saved with the page.
    void DrawStroke(const std::vector<StrokePoint>& points);

    // Asks kRestoreQuestion when a recovery file exists and restores it on OK. From then on the
    // recovery file follows every change of the scan list (before, it is the crash's record).
    static constexpr const char* kRestoreQuestion = "偵測到備份檔，是否要回覆?";
    bool OfferRestore();
    // Rewrites the recovery file now and keeps it following the scan list, so that a crash at
    // any moment restores the documents as they are.
    void WriteRecovery();
    // The recovery file stops following (the window closed and deleted or kept its files).
    void StopRecovery();

    // ---- Manual clean-up ----
    void ImgDotRemove();
    void ImgBorderRemove();
    void BorderRemove(int flag, int percent, int noiseLength, int variance);
    void ImgDeskew();
    void RotateAngle(int hundredths, bool save);
    void RotateByAngleBox(bool clockwise);
    void TxtAngle_Change(const std::string& text);
    void ExecuteBatchImageEffect();

    // ---- Editing ----
    int ClipboardMode = 0;  // 0 nothing, 1 cut, 2 copied
    static const char* const kCutSourceGone;  // pasting a page whose document is gone
    static const char* const kPasteTitle;
    std::shared_ptr<CInno> CutSource;
    void ImgCut();
    void ImgCopy();
    void ImgPaste();
    void ImgDelete();
    void ImgDeleteByPageNumber(const std::shared_ptr<CInno>& doc, int page, bool reload);
    void DeletePages();
    void MoveMultiPages();
    void ImgRotate();
    // With presets (merge flag, start page index, direction, target) when given; a target
    // alone is the new number of a split.
    void ShowMergeCut(std::optional<bool> merge = std::nullopt, int startAt = -1, bool after = true,
                      const std::string& target = "");

    std::int32_t PageCounter = 0;  // pages of the current scan; chooses duplex angles

private:
    void SaveSettings();
    void ShowError(const std::exception& e);

    void FollowRecovery();

    IPrompter& mPrompter;
    ScanProperties& mProps;
    CScanList& mList;
    RecoveryFileFollower mRecovery;
    bool mFollowing = false;
};

}  // namespace dorvex
