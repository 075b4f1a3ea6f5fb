// The scan window's recognition: the run after a scan, the reading of a document when it is
// chosen or read again, the reading of an area chosen with the rubber band into one field, and
// the field editor that shows the words of the document chosen.

#include <cstdio>

#include "control/FrmScan.h"
#include "ocr/FrmOCR.h"
#include "ocr/WordParser.h"
#include "support/Error.h"
#include "support/ModGlobal.h"
#include "support/Prompter.h"
#include "support/WinInfo.h"

namespace dorvex {
namespace {

constexpr const char* kNothingRead = "選取範圍內沒有辨識到文字";
constexpr const char* kReadFailed = "辨識失敗：";
constexpr const char* kFieldsKept = "（欄位維持原值）";

}  // namespace

void FrmScan::ShowWords(const std::shared_ptr<CInno>& doc) {
    // An edit of the document shown before goes into that document, not into this one.
    OCRDetail.ForceSync();
    mDetailDoc = doc;
    static const std::vector<CPhase> kNone;
    OCRDetail.Update(doc ? &doc->Words() : &kNone);
}

void FrmScan::RecognizeDocument(const std::shared_ptr<CInno>& doc, bool again) {
    if (!mWordParser || !doc) return;
    if (again || !doc->IsParsed()) {
        const std::string first = doc->FilePaths(1);
        if (!again && mReading) {
            // While the scanner runs the workers read it: a reading they have done is taken, any
            // other follows with the run after the scan. The window does not wait for it.
            OCRDetail.ForceSync();
            if (std::optional<PageReading> reading = mReading->Take(doc, nullptr)) {
                doc->SetWords(std::move(reading->Fields));
                StatusText = reading->Error.empty() ? doc->ErrorMsg : kReadFailed + reading->Error;
            }
        } else if (!mWordParser->IsSupported()) {
            StatusText = std::string(FrmOCR::kNotSupported) + "：" + mWordParser->Engine().LastError();
            if (again) mPrompter.MessageBox(StatusText, "", MsgButtons::OK, MsgIcon::Exclamation);
        } else if (!first.empty()) {
            StatusText = "解析 " + doc->Inno() + " ...";
            if (OnRedraw) OnRedraw();
            mPrompter.Yield();
            PageReading reading = mWordParser->Read(first);
            OCRDetail.ForceSync();  // an edit still in its field goes in before the new words
            // Reading again that fails keeps the words the document holds, the clerk's
            // corrections among them; a first reading stores what it found.
            if (again && !reading.Error.empty()) {
                StatusText = kReadFailed + reading.Error + kFieldsKept;
                mPrompter.MessageBox(StatusText, "", MsgButtons::OK, MsgIcon::Exclamation);
            } else {
                doc->SetWords(std::move(reading.Fields));
                StatusText = reading.Error.empty() ? doc->ErrorMsg : kReadFailed + reading.Error;
            }
        }
    }
    // The person may have gone on to another document while this one was read.
    if (doc == mPages->CurrentDoc) ShowWords(doc);
    Redraw();
}

void FrmScan::RecognizeScanList() {
    if (!mWordParser) return;
    FrmOCR window(mPrompter);
    window.ScanList = mList.get();
    window.WordParser = mWordParser.get();
    window.Queue = mReading.get();
    if (ShowOcrWindow) ShowOcrWindow(window);
    else window.Form_Activate();
    // The person sees why nothing was read, and which documents could not be.
    if (!window.LastError().empty()) {
        StatusText = window.LastError();
        if (window.LastError() == FrmOCR::kNotSupported) {
            StatusText += "：" + (mReading ? mReading->EngineError() : mWordParser->Engine().LastError());
        }
    } else if (!window.Failures.empty()) {
        StatusText = kReadFailed + window.Failures.front() +
                     (window.Failures.size() > 1 ? "（另 " + std::to_string(window.Failures.size() - 1) + " 份）" : "");
    }
    ShowWords(mPages->CurrentDoc);
}

bool FrmScan::OcrMenuWanted() const {
    if (!mLoaded || !IsOcrEnabled()) return false;
    const std::optional<RasterRect>& band = mPages->OneViewer.RubberBand;
    const ToolButton* erase = Commands.Button("btnRectangleErase");
    return band && band->width > 0 && band->height > 0 && !(erase && erase->Pressed);
}

void FrmScan::OcrMenuClick(int index) {
    ImageViewer& viewer = mPages->OneViewer;
    const std::shared_ptr<CInno> doc = mPages->CurrentDoc;
    if (!mWordParser || !doc || !viewer.HasImage() || !viewer.RubberBand || index < 0 ||
        index >= static_cast<int>(OcrMenu.size())) {
        return;
    }
    if (!mWordParser->IsSupported()) {
        mPrompter.MessageBox(std::string(FrmOCR::kNotSupported) + "：" + mWordParser->Engine().LastError(), "",
                             MsgButtons::OK, MsgIcon::Exclamation);
        return;
    }
    const std::string key = DocDetail::GetRealTitle(OcrMenu[static_cast<std::size_t>(index)].Caption);
    std::string text;
    std::string failure;
    std::string tmp;
    try {
        tmp = CWinInfo().getTmpFileName();
        Raster area = viewer.Image().Crop(*viewer.RubberBand);
        if (area.Empty()) throw DorvexError(err::InvalidArgument, "the area lies outside the page");
        if (area.BitsPerPixel() != 1) area.ReduceTo1Bit();
        area.Save(tmp, fileformat::TiffG4);
        mWordParser->Load(tmp);
        text = mWordParser->Text();
        // An area holding a title with its colon is read as a field: its value is what is meant.
        if (text.empty()) {
            for (const CPhase& phase : mWordParser->GetData()) {
                if (phase.Key == key) text = phase.Value;
            }
        }
        failure = mWordParser->LoadError();
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (!tmp.empty()) std::remove(tmp.c_str());
    viewer.RubberBand.reset();
    OCRDetail.ForceSync();  // an edit still in its field goes in before the area's text
    // Nothing read leaves the field as it was rather than emptying it.
    if (!text.empty()) doc->PutWord(key, text);
    StatusText = !failure.empty() ? kReadFailed + failure : text.empty() ? kNothingRead : doc->ErrorMsg;
    ShowWords(doc);
    Redraw();
}

}  // namespace dorvex
