#include "control/ScanPages.h"

#include <algorithm>

#include "model/PageEditing.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModMath.h"
#include "support/Prompter.h"
#include "support/Trace.h"

namespace dorvex {

const char* const ScanPages::kCutSourceGone = "剪下的頁面已不在原文件中，無法貼上";
const char* const ScanPages::kPasteTitle = "貼上";

ScanPages::ScanPages(IPrompter& prompter, ScanProperties& properties, CScanList& scanList)
    : mPrompter(prompter), mProps(properties), mList(scanList) {
    TxtAngle = mProps.Get(prop::RotateAngle);
    MultiViewer.ItemLimit = mProps.ItemLimit;
    mRecovery.OnError = [this](const std::exception& e) { ShowError(e); };
}

ScanPages::~ScanPages() { StopRecovery(); }

void ScanPages::ShowError(const std::exception& e) {
    // The command stops; the pages on disk are as they were before the failing step.
    mPrompter.MessageBox(e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
}

void ScanPages::SaveSettings() {
    if (Store == nullptr) return;
    try {
        mProps.Save(*Store);
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

// ---- Page files and viewers ----

void ScanPages::SaveThisPage(bool sync) {
    TraceScope trace("Public Sub SaveThisPage()");
    if (!CurrentDoc || !OneViewer.HasImage()) return;
    // The page goes back in the format and depth of the file it was loaded from.
    OneViewer.SavePage = CurrentDoc->RealPageNumber();
    dorvex::SaveThisPage(*CurrentDoc, OneViewer.Image(), OneViewer.FileInfo().format, OneViewer.FileInfo().bitsPerPixel);
    if (sync && !CurrentDoc->FilePath().empty()) SyncBitmap();
}

void ScanPages::InsertThisPage() { InsertPageByCInno(CurrentDoc); }

void ScanPages::InsertPageByCInno(const std::shared_ptr<CInno>& doc) {
    if (!doc || !TestViewer.HasImage()) return;
    if (!InsertPageAfterCurrent(*doc, TestViewer.Image())) return;
    CurrentDoc = doc;
    LoadImageByCInno(doc, true, true);
}

void ScanPages::SyncBitmap() {
    if (CurrentDoc && OneViewer.HasImage()) MultiViewer.Replace(CurrentDoc->SelectedIndex, OneViewer.Image());
}

void ScanPages::LoadImageByCInno(const std::shared_ptr<CInno>& doc, bool refresh, bool force) {
    OneViewer.Clear();
    if (!doc || doc->SelectedIndex < 1) return;
    std::string path = doc->FilePaths(doc->SelectedIndex);
    if (!FileExists(path)) return;
    OneViewer.Load(path, doc->RealPageNumber());
    if (EnableOCR) OneViewer.FitView();
    if (refresh) {
        int shown = static_cast<int>(MultiViewer.Items.size());
        bool countChanged = shown != std::min(doc->ActPage() - MultiViewer.Offset, MultiViewer.ItemLimit);
        bool outsideGroup = doc->SelectedIndex <= MultiViewer.Offset || doc->SelectedIndex > MultiViewer.Offset + shown;
        if (force || countChanged || outsideGroup) LoadBitmapList(doc->ActPage());
        MultiViewer.Selected = doc->SelectedIndex - 1 - MultiViewer.Offset;
    }
}

void ScanPages::LoadImageFile(const std::string& path) {
    MultiViewer.Clear();
    OneViewer.Clear();
    if (path.empty()) return;
    ImageInfo info = ReadImageInfo(path);
    if (info.pages < 1) return;
    OneViewer.Load(path, 1);
    MultiViewer.LoadGroup(info.pages, 0, [&](int page) { return Raster::Load(path, page); });
}

void ScanPages::LoadBitmapList(int pageCount) {
    MultiViewer.ItemLimit = mProps.ItemLimit > 0 ? mProps.ItemLimit : 8;
    if (!CurrentDoc) {
        MultiViewer.Clear();
        return;
    }
    // The group that holds the current page.
    int offset = CurrentDoc->SelectedIndex > 0 ? (CurrentDoc->SelectedIndex - 1) / MultiViewer.ItemLimit * MultiViewer.ItemLimit : 0;
    std::shared_ptr<CInno> doc = CurrentDoc;
    MultiViewer.LoadGroup(pageCount, offset, [doc](int page) { return LoadPage(*doc, page); });
    MultiViewer.Selected = CurrentDoc->SelectedIndex - 1 - MultiViewer.Offset;
}

void ScanPages::ImgMoveTo(int page) {
    if (!CurrentDoc || page < 0 || page >= CurrentDoc->ActPage()) return;
    CurrentDoc->SelectedIndex = page + 1;
    try {
        LoadImageByCInno(CurrentDoc, true);
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

void ScanPages::MoveGroup(bool next) {
    if (!CurrentDoc) return;
    const int limit = std::max(MultiViewer.ItemLimit, 1);
    // The group of the page shown, when the strip shows another document's or no group.
    const int offset = MultiViewer.Items.empty() ? (std::max(CurrentDoc->SelectedIndex, 1) - 1) / limit * limit
                                                 : MultiViewer.Offset;
    ImgMoveTo(next ? offset + limit : offset - limit);
}

void ScanPages::DrawStroke(const std::vector<StrokePoint>& points) {
    try {
        if (OneViewer.DrawStroke(points)) SaveThisPage(true);
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

bool ScanPages::OfferRestore() {
    if (!FileExists(RecoveryFilePath())) {
        FollowRecovery();
        return false;
    }
    if (mPrompter.MessageBox(kRestoreQuestion, "系統回覆", MsgButtons::OKCancel, MsgIcon::None) != MsgResult::OK) {
        FollowRecovery();
        return false;
    }
    try {
        ReadRecoveryFile(mList);
    } catch (const DorvexError& e) {
        // The window opens all the same; the file stays for the clerk to look into, until the
        // first change of the scan list replaces it.
        ShowError(e);
        FollowRecovery();
        return false;
    }
    CompareScanList(mList, ServerList);
    FollowRecovery();
    return true;
}

void ScanPages::FollowRecovery() {
    if (mFollowing) return;
    mList.Subscribe(&mRecovery);
    mFollowing = true;
}

void ScanPages::StopRecovery() {
    if (!mFollowing) return;
    mList.Unsubscribe(&mRecovery);
    mFollowing = false;
}

void ScanPages::WriteRecovery() {
    FollowRecovery();
    mRecovery.Rewrite(mList);
}

// ---- Manual clean-up ----

void ScanPages::ImgDotRemove() {
    if (!OneViewer.HasImage()) return;
    try {
        OneViewer.Image().Despeckle();
        SaveThisPage(true);
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

void ScanPages::ImgBorderRemove() {
    if (!OneViewer.HasImage() || OneViewer.Image().BitsPerPixel() != 1 || !ShowBorderRemove) return;
    FrmBorderRemove dialog;
    dialog.LoadFrom(mProps);
    dialog.Form_Activate();
    ShowBorderRemove(dialog);
    if (!dialog.ClickOK || dialog.Flag == 0) return;
    BorderRemove(dialog.Flag, dialog.Percent, dialog.WNlength, dialog.Variance2);
    dialog.StoreTo(mProps);
    SaveSettings();
}

void ScanPages::BorderRemove(int flag, int percent, int noiseLength, int variance) {
    if (!OneViewer.HasImage()) return;
    try {
        RemoveBorders(OneViewer.Image(), flag, percent, noiseLength, variance);
        SaveThisPage(true);
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

void ScanPages::ImgDeskew() {
    if (!OneViewer.HasImage()) return;
    try {
        std::optional<int> angle = DeskewPage(OneViewer.Image(), mProps, false);
        SaveThisPage(true);
        DebugTrace("mRasterProcess.DeskewExtAngle=" + std::to_string(angle.value_or(0)));
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

void ScanPages::RotateAngle(int hundredths, bool save) {
    TraceScope trace("Public Sub RotateAngle");
    if (!OneViewer.HasImage()) return;
    try {
        OneViewer.Image().Rotate(hundredths);
        if (save) SaveThisPage(true);
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

void ScanPages::RotateByAngleBox(bool clockwise) {
    if (!IsNumeric(TxtAngle)) return;
    double value = std::clamp(RoundHalfEven(Val(TxtAngle) * 100.0), -32768.0, 32767.0);
    RotateAngle(static_cast<int>(clockwise ? value : -value), true);
}

void ScanPages::TxtAngle_Change(const std::string& text) {
    TxtAngle = text;
    if (IsNumeric(text) && text != mProps.Get(prop::RotateAngle)) {
        mProps.Set(prop::RotateAngle, text);
        SaveSettings();
    }
}

void ScanPages::ExecuteBatchImageEffect() {
    DebugTrace("ExecuteBatchImageEffect Start ");
    RestrictSize restrict = mProps.ComputeRestrictSize();
    bool removeBlank = mProps.Number(prop::WPageRemove) == 1;
    try {
        // Each document is cleaned page by page and written back once.
        for (const auto& doc : mList.AllInnos()) {
            CurrentDoc = doc;
            EditEveryPage(mList, ServerList, doc, [&](Raster& page, int number) {
                mPrompter.Yield();
                if (removeBlank && IsBlankPage(page, mProps)) return false;
                RunCleanUpChain(page, mProps, number, restrict);
                return true;
            });
            if (mList.GetInno2(doc->Inno()) != doc) {
                CurrentDoc = nullptr;
                OneViewer.Clear();
                MultiViewer.Clear();
                continue;
            }
            doc->FirstPage();
            LoadImageByCInno(doc, true, true);
        }
    } catch (const DorvexError& e) {
        ShowError(e);
    }
    DebugTrace("ExecuteBatchImageEffect End ");
}

// ---- Editing ----

void ScanPages::ImgCut() {
    if (!CurrentDoc) return;
    ClipboardMode = 1;
    CutSource = CurrentDoc;
    CutSource->SourcePage = CurrentDoc->SelectedIndex;
}

void ScanPages::ImgCopy() {
    if (!OneViewer.HasImage()) return;
    TestViewer.SetImage(OneViewer.Image());
    ClipboardMode = 2;
}

void ScanPages::ImgPaste() {
    try {
        if (ClipboardMode == 2) {
            InsertThisPage();
        } else if (ClipboardMode == 1) {
            if (!CutSource || mList.GetInno2(CutSource->Inno()) != CutSource || CutSource->SourcePage > CutSource->ActPage()) {
                // The cut page's document was merged away or deleted since: its files are not its own.
                ClipboardMode = 0;
                CutSource = nullptr;
                mPrompter.MessageBox(kCutSourceGone, kPasteTitle, MsgButtons::OK, MsgIcon::Exclamation);
                return;
            }
            MoveCutPage(mList, ServerList, CutSource, CurrentDoc);
            ClipboardMode = 0;
            if (CurrentDoc && !mList.GetInno2(CurrentDoc->Inno())) CurrentDoc = nullptr;
            LoadImageByCInno(CurrentDoc, true, true);
        }
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

void ScanPages::ImgDelete() {
    if (!CurrentDoc) return;
    ImgDeleteByPageNumber(CurrentDoc, CurrentDoc->SelectedIndex, true);
    if (CurrentDoc) LoadBitmapList(CurrentDoc->ActPage());
    else MultiViewer.Clear();
}

void ScanPages::ImgDeleteByPageNumber(const std::shared_ptr<CInno>& doc, int page, bool reload) {
    try {
        DeleteOutcome outcome = DeletePageOfDocument(mList, ServerList, doc, page);
        if (outcome == DeleteOutcome::DocumentRemoved) {
            if (CurrentDoc == doc) {
                CurrentDoc = nullptr;
                OneViewer.Clear();
            }
            return;
        }
        if (reload) LoadImageByCInno(doc);
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

void ScanPages::DeletePages() {
    if (!CurrentDoc || !ShowDelete) return;
    FrmDelete dialog;
    dialog.MaxPage = CurrentDoc->ActPage();
    dialog.CurrentPage = CurrentDoc->SelectedIndex;
    ShowDelete(dialog);
    if (!dialog.ClickOK) return;
    try {
        std::shared_ptr<CInno> doc = CurrentDoc;
        DeletePageRange(mList, ServerList, doc, dialog.StartPage, dialog.EndPage);
        if (!mList.GetInno2(doc->Inno())) {
            CurrentDoc = nullptr;
            OneViewer.Clear();
            MultiViewer.Clear();
        } else {
            LoadImageByCInno(doc, true, true);
        }
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

void ScanPages::MoveMultiPages() {
    if (!CurrentDoc || !ShowMultiMove) return;
    FrmMultiMove dialog;
    dialog.Inno = CurrentDoc->Inno();
    dialog.Pages = CurrentDoc->ActPage();
    ShowMultiMove(dialog);
    if (!dialog.IsClickOK) return;
    try {
        MovePages(*CurrentDoc, dialog.StartPage(), dialog.EndPage(), dialog.TargetPage());
        LoadImageByCInno(CurrentDoc, true, true);
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

void ScanPages::ImgRotate() {
    if (!ShowRotate) return;
    FrmRotate dialog;
    ShowRotate(dialog);
    if (dialog.ClickOK) RotateAngle(dialog.Angle(), true);
}

void ScanPages::ShowMergeCut(std::optional<bool> merge, int startAt, bool after, const std::string& target) {
    if (!CurrentDoc || !ShowMergeCutDialog) return;
    FrmMergeCut dialog;
    dialog.SetEnableAttachment(EnableOCR);
    dialog.Inno = CurrentDoc->Inno();
    dialog.TotalPage = CurrentDoc->ActPage();
    for (const auto& doc : mList.AllInnos()) {
        if (doc != CurrentDoc) dialog.AddInno(doc->Inno());
    }
    dialog.Form_Load();
    if (merge) dialog.Preset(*merge, startAt, after, target);
    else if (!target.empty()) dialog.TxtInno.text = target;  // the number a split gets unless changed
    ShowMergeCutDialog(dialog);
    // An attachment numbers itself; the other actions need a target number.
    if (!dialog.ClickOK || (dialog.TargetInno().empty() && !dialog.BeAttachment())) return;
    std::string source = CurrentDoc->Inno();
    try {
        MergeOrCut(mList, ServerList, source, dialog.WantMerge(), dialog.StartAt(), dialog.StartAfter(), dialog.TargetInno(),
                   dialog.BeAttachment());
    } catch (const DorvexError& e) {
        ShowError(e);  // the pages moved, or none did; the recovery file may be what failed
    }
    // Whatever happened, show the document as it now is, or nothing when it has gone.
    CurrentDoc = mList.GetInno2(source);
    try {
        if (CurrentDoc) {
            CurrentDoc->SelectedIndex = std::min(std::max(CurrentDoc->SelectedIndex, 1), CurrentDoc->ActPage());
            LoadImageByCInno(CurrentDoc, true, true);
        } else {
            OneViewer.Clear();
            MultiViewer.Clear();
        }
    } catch (const DorvexError& e) {
        ShowError(e);
    }
}

}  // namespace dorvex
