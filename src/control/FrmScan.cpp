#include "control/FrmScan.h"

#include "model/FrmConf.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "ocr/SubTitle.h"
#include "ocr/WordParser.h"
#include "server/Queries.h"
#include "server/Transport.h"
#include "server/Upload.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModGlobal.h"
#include "support/ModShow.h"
#include "support/Prompter.h"
#include "support/Text.h"
#include "support/Trace.h"

namespace dorvex {

FrmScan::FrmScan(IPrompter& prompter, SettingsStore* store)
    : mPrompter(prompter), mStore(store), mLanguage(std::make_shared<CLanguage>()) {
    if (!mStore) {
        mOwnStore = std::make_unique<SettingsStore>();
        mStore = mOwnStore.get();
    }
    DelayUpload = [this] { ScheduleDelayUpload(); };
}

// The list may outlive the window (the control keeps its own): every follower leaves it, the
// pages' own when they go.
FrmScan::~FrmScan() { Follow(false); }

bool FrmScan::TreeFollower::ScanListChanged(const CScanList&, unsigned) {
    try {
        mWindow.UpdateTreeView();
    } catch (const std::exception& e) {
        DebugTrace(std::string("tree: ") + e.what());  // the next change brings it up to date
    }
    return true;
}

void FrmScan::Follow(bool on) {
    if (!mList || on == mFollowing) return;
    if (on) mList->Subscribe(&mTreeFollower);
    else mList->Unsubscribe(&mTreeFollower);
    mFollowing = on;
}

void FrmScan::SetScanCompleteList(std::shared_ptr<CScanList> list) {
    // Only before the window loads: its parts work on the list they were made with.
    if (mLoaded) return;
    mList = std::move(list);
}

void FrmScan::SetEnableOCR(bool enable) {
    if (!enable) return;
    mEnableOCR = true;
    if (mPages) mPages->EnableOCR = true;
}

void FrmScan::SetSessionIdName(const std::string& name) {
    mSessionIdName = name;
    if (!name.empty()) mTimerEnabled = true;
}

void FrmScan::SetItemLimit(std::int16_t limit) {
    Props.ItemLimit = limit;
    if (mPages) mPages->MultiViewer.ItemLimit = limit;
}

void FrmScan::ResetRestrictSize() { mRestrict = Props.ComputeRestrictSize(); }

std::string FrmScan::MessageText(const std::string& key, const std::string& fallback) const {
    return mLanguage->GetMessage(key, fallback);
}

// ---- Lifecycle ----

void FrmScan::Form_Load() {
    DebugTrace("Private Sub Form_Load() Start");
    SetLanguage(mLanguage);
    Props.ItemLimit = 8;
    if (!mList) mList = std::make_shared<CScanList>();
    mPages = std::make_unique<ScanPages>(mPrompter, Props, *mList);
    mPages->Store = mStore;
    mPages->EnableOCR = mEnableOCR;
    // With recognition on, a band drawn on the page is always an area to read.
    if (IsOcrEnabled()) mPages->OneViewer.RubberBandMode = true;
    mScanner = std::make_unique<Acquisition>(mPrompter, Props, *mList, *mPages);
    mScanner->Store = mStore;
    mScanner->BatchBoxText = [this] { return CmbBatchNoText; };
    mScanner->OnPageStored = [this] {
        UpdateTreeView();
        // Every document the scanner has finished goes to the background reading.
        if (mReading) mReading->Offer(mScanner->Split.target.get());
    };
    mScanner->OnScanEnded = [this] {
        mList->Sort();
        if (ServerList) ServerList->Sort();
        UpdateTreeView();
        Redraw();
    };

    DebugTrace("設定單一影像瀏覽(LEAD Main)");
    DebugTrace("設定多重影像瀏覽(LEAD Imglist)");
    DebugTrace("設定條碼辨識");
    DebugTrace("取得掃描器設定");
    // A window without a server address (an offline scan) has no one to ask.
    const bool online = !Props.Get(prop::ServerUrl).empty();
    ServerQueries queries(Props, mPrompter);
    if (online) {
        ServerQueries::Caps caps;
        queries.GetScanCaps(Props, DVDPrefix, caps);
    }
    // The person's saved choices go over the server's values, whether or not it answered, so
    // that a server which leaves a tag out does not reset them.
    Props.LoadSaved(*mStore);
    SetItemLimit(Props.ItemLimit);
    if (online) {
        queries.LoadMessages(*mLanguage);
        ModSubTitle().LoadFixedWords(queries.QueryFixedWords());
    }
    DebugTrace("處理Frame效果");
    DebugTrace("產生RasterTwain");
    DebugTrace("建立PopupMenu");
    DebugTrace("Toolbar");
    Commands.Build(Props, mLanguage.get(), IsOcrEnabled());
    mWordParser = std::make_unique<CWordParser>(ModSubTitle());
    mWordParser->EngineOptions = OcrEngineOptions;
    OCRDetail.Change.Connect([this](const std::string& key, const std::string& value) {
        if (std::shared_ptr<CInno> doc = mDetailDoc.lock()) doc->PutWord(key, value);
    });
    OcrMenu.clear();
    for (const std::string& title : OCRDetail.GetTitles()) {
        OcrMenu.push_back({"mnuOCR[" + std::to_string(OcrMenu.size()) + "]", title, "mnuOCRTop", Command::None});
    }
    Tree.Visible = Props.Get(prop::Mode) == "0";
    DebugTrace("取得掃描清單");
    if (online) {
        CmbBatchNo = queries.GetScanList(*mList, ServerList);
    } else {
        ServerList = std::make_shared<CScanList>();
        mList->CompareList = ServerList.get();
    }
    if (!CmbBatchNo.empty()) CmbBatchNoText = CmbBatchNo.front();
    mPages->ServerList = ServerList.get();
    mScanner->ServerList = ServerList.get();
    {
        NotTopMostScope frame(TopMostWindow);
        mPages->OfferRestore();
    }
    mLoaded = true;
    Follow(true);
    UpdateTreeView();
    RefreshOfferedPaperSizes();
    DebugTrace("重新設定物件的顯示");
    Redraw();
    DebugTrace("產生Raster");
    DebugTrace("RasterProcess");
    mPages->TxtAngle = Props.Get(prop::RotateAngle);
    DebugTrace("Private Sub Form_Load() End");
}

void FrmScan::AskDocumentNumber() {
    const std::string title = MessageText("tdesc", "文件概要");
    while (Trim(Props.Get(prop::Inno)).empty()) {
        NotTopMostScope frame(TopMostWindow);
        std::optional<std::string> answer = mPrompter.InputBox("請先輸入" + title, title, "");
        // A person who cannot answer (no one at the desk) must not keep the window asking.
        if (!answer && !mPrompter.Interactive()) return;
        Props.Set(prop::Inno, answer.value_or(""));
    }
    Redraw();
}

void FrmScan::Form_Activate() {
    TraceScope trace("Private Sub Form_Activate()");
    const std::string mode = Props.Get(prop::Mode);
    if (mode == "2" || mode == "3") AskDocumentNumber();
    if (mode == "1" || EnableDownLoadFile) {
        ServerQueries queries(Props, mPrompter);
        if (std::shared_ptr<CInno> doc = queries.GetImgDataFromHttp(*mList, Props.Get(prop::Inno))) {
            mPages->CurrentDoc = doc;
            doc->FirstPage();
            mPages->LoadImageByCInno(doc, true, true);
        }
        EnableDownLoadFile = false;
        UpdateTreeView();
    }
    if (DownloadFromRemote) {
        ServerQueries queries(Props, mPrompter);
        queries.DownloadListedDocuments(*mList);
        DownloadFromRemote = false;
        UpdateTreeView();
    }
    ResetRestrictSize();
}

std::string FrmScan::KeepAliveUrl() const {
    const std::string& url = Props.Get(prop::ServerUrl);
    std::size_t slash = url.rfind('/');
    return (slash == std::string::npos ? std::string() : url.substr(0, slash + 1)) + "temp.php";
}

void FrmScan::RefreshTimer_Timer() {
    if (!mTimerEnabled) return;
    if (++mTicks < 10) return;
    mTicks = 0;
    try {
        HttpGetText(KeepAliveUrl(), mSessionIdName, SessionId);
    } catch (const std::exception& e) {
        DebugTrace(std::string("keep-alive: ") + e.what());  // the next tick tries again
    }
}

void FrmScan::Form_QueryUnload() {
    DebugTrace("Private Sub Form_QueryUnload Start");
    // No page is read any more: the workers end before anything is asked or deleted (the run
    // that waits for them, when it is the one closing the window, gets nothing more).
    if (mReading) mReading->Stop();
    // A correction still in its field belongs to its document before anything is asked.
    OCRDetail.ForceSync();
    // Closing always goes ahead: a failing step is traced and the next one runs.
    auto step = [](const char* what, const std::function<void()>& action) {
        try {
            action();
        } catch (const std::exception& e) {
            DebugTrace(std::string(what) + ": " + e.what());
        }
    };
    bool deleteFiles = !AutoKeepTmpFiles;
    step("save", [&] {
        if (mList && !mList->IsAllSaved() && !AutoKeepTmpFiles) {
            NotTopMostScope frame(TopMostWindow);
            if (mPrompter.MessageBox(kAskSave, "", MsgButtons::YesNo, MsgIcon::None) == MsgResult::Yes) ImgUpload();
        }
    });
    step("recovery", [&] {
        if (FileExists(RecoveryFilePath()) && !AutoKeepTmpFiles) {
            NotTopMostScope frame(TopMostWindow);
            if (mPrompter.MessageBox(kAskDeleteTmp, kAskDeleteTmpTitle, MsgButtons::OKCancel, MsgIcon::Information) ==
                MsgResult::Cancel) {
                deleteFiles = false;
                if (mPages) mPages->WriteRecovery();
            } else {
                deleteFiles = true;
            }
        }
    });
    step("temporary files", [&] {
        // The recovery file is what the closing decided: it follows no further change.
        Follow(false);
        if (mPages) mPages->StopRecovery();
        if (mList) KillTmpFiles(*mList, deleteFiles, AutoKeepTmpFiles);
    });
    step("release", [&] {
        if (mPages) {
            mPages->OneViewer.Clear();
            mPages->TestViewer.Clear();
            mPages->MultiViewer.Clear();
            mPages->CurrentDoc = nullptr;
        }
    });
    mTimerEnabled = false;
    DebugTrace("Private Sub Form_QueryUnload End");
}

// ---- Commands ----

void FrmScan::StartScan(bool append) {
    // A scan command given while pages arrive starts nothing.
    if (!mScanner || mScanner->Busy()) return;
    StartBackgroundReading();
    // The workers end with the scan's run, however it ends.
    struct Ending {
        std::unique_ptr<RecognitionQueue>& reading;
        ~Ending() { reading.reset(); }
    } ending{mReading};
    {
        NotTopMostScope frame(TopMostWindow);
        mScanner->StartScan(append);
    }
    if (IsOcrEnabled()) RecognizeScanList();
    Redraw();
}

void FrmScan::StartBackgroundReading() {
    if (!IsOcrEnabled() || RecognitionWorkers == 0 || !mWordParser) return;
    try {
        mReading = std::make_unique<RecognitionQueue>(*mList, ModSubTitle(), mWordParser->EngineOptions, RecognitionWorkers);
    } catch (const std::exception& e) {
        // Without workers the run after the scan reads the pages itself.
        DebugTrace(std::string("recognition: no background reading: ") + e.what());
    }
}

void FrmScan::StartScanEdit(bool replace) {
    if (!mScanner) return;
    NotTopMostScope frame(TopMostWindow);
    mScanner->ReplacePage = replace;
    mScanner->StartScanEdit();
    mScanner->ReplacePage = false;
    UpdateTreeView();
    Redraw();
}

void FrmScan::SelectSource() {
    if (!mScanner) return;
    {
        NotTopMostScope frame(TopMostWindow);
        mScanner->SelectSource();
    }
    RefreshOfferedPaperSizes();
}

void FrmScan::ConfigScanner() {
    if (!mScanner) return;
    {
        NotTopMostScope frame(TopMostWindow);
        mScanner->ConfigScanner();
    }
    RefreshOfferedPaperSizes();
}

void FrmScan::ShowScannerConfig() {
    TraceScope trace("Public Sub ShowScannerConfig()");
    FrmConf dialog;
    dialog.LoadFrom(Props);
    if (ShowConfDialog) ShowConfDialog(dialog);
    if (dialog.ClickOK) {
        dialog.StoreTo(Props);
        if (dialog.ItemLimit > 0) SetItemLimit(dialog.ItemLimit);
        SaveSettings();
    }
    ResetRestrictSize();
    RefreshOfferedPaperSizes();  // the path (TWAIN or ISIS) may have changed
    if (mPages && mPages->CurrentDoc) mPages->LoadImageByCInno(mPages->CurrentDoc, true, true);
    Redraw();
}

void FrmScan::RunAfterUpload(const std::string& inno, long code, const std::string& text) {
    DebugMessage.Raise(ApplyUploadResult(*mList, inno, code, text, mRefusedThisRun));
}

void FrmScan::ImgUpload(const std::shared_ptr<CInno>& doc) {
    TraceScope trace("Public Sub ImgUpload()");
    if (!mList) return;
    // The field being edited goes into its document before the words are queued.
    OCRDetail.ForceSync();
    mPrompter.Yield();
    FrmUpload upload(mPrompter);
    upload.TopMostWindow = TopMostWindow;
    upload.EnableOverWrite = EnableOverWrite;
    upload.UploadType = 1;
    upload.ServerURL = Props.Get(prop::ServerUrl);
    upload.Operator = Props.Get(prop::Operator);
    upload.Clear();
    upload.DVDPrefix = DVDPrefix;
    upload.Proxy = Props.Get(prop::Proxy);
    DebugMessage.Raise(UploadAddressMessage(upload.ServerURL));
    ScanUploadContext context{mList.get(), ServerList.get(), Props.Get(prop::Mode), OnlyScanList};
    QueueScanListUpload(upload, context, doc);
    mRefusedThisRun.clear();
    upload.AfterUpload.Connect([this](const std::string& inno, long code, const std::string& text) {
        RunAfterUpload(inno, code, text);
    });
    if (ShowUploadWindow) ShowUploadWindow(upload);
    else upload.Form_Activate();
    UpdateTreeView();
    Redraw();
}

void FrmScan::UpdateTreeView() {
    if (!mLoaded) return;
    Tree.UpdateTreeView(Props.Get(prop::Mode), *mList, ServerList.get(), ScanListVisible);
    if (OnRedraw) OnRedraw();
}

void FrmScan::Redraw() {
    if (!mLoaded) return;
    DisplayState state;
    state.Minimized = Minimized;
    state.HasPage = mPages->OneViewer.HasImage();
    state.ScanListBatches = mList->Length();
    state.BatchBoxCount = static_cast<int>(CmbBatchNo.size());
    state.OnlyScanList = OnlyScanList;
    state.Inno = Props.Get(prop::Inno);
    state.ViewMode = ViewMode;
    state.Ocr = IsOcrEnabled();
    Commands.ResetItemsDisplay(state);
    // The field editor follows the document shown, however it came to be shown.
    if (IsOcrEnabled() && mPages->CurrentDoc != mDetailDoc.lock()) ShowWords(mPages->CurrentDoc);
    // The status panels follow the page shown.
    if (const std::shared_ptr<CInno>& doc = mPages->CurrentDoc; doc && !Minimized) {
        auto batch = doc->BatchNo();
        StatusBar.Update(batch ? batch->BatchNo : std::string(), doc->Inno(), doc->SelectedIndex);
    }
    if (OnRedraw) OnRedraw();
}

}  // namespace dorvex
