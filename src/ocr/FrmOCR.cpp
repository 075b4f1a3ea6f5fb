#include "ocr/FrmOCR.h"

#include "model/ScanList.h"
#include "ocr/RecognitionQueue.h"
#include "ocr/WordParser.h"
#include "support/Prompter.h"

namespace dorvex {

void FrmOCR::Progress() {
    if (OnProgress) OnProgress();
    mPrompter.Yield();
}

void FrmOCR::Form_Activate() {
    if (mRan) return;
    mRan = true;
    Visible = true;
    const auto progress = [this] { Progress(); };
    if (!ScanList) mLastError = kNoScanList;
    else if (!WordParser) mLastError = kNoParser;
    else if (!(Queue ? Queue->IsSupported(progress) : WordParser->IsSupported())) mLastError = kNotSupported;
    if (!mLastError.empty()) {
        Visible = false;
        return;
    }
    const std::vector<std::shared_ptr<CInno>> docs = ScanList->AllInnos();
    ProgressMin = 0;
    ProgressMax = static_cast<int>(docs.size());
    ProgressValue = 0;
    if (Queue) Queue->Offer();  // the workers go on with everything unread while the run waits
    for (const std::shared_ptr<CInno>& doc : docs) {
        LabMessage = "解析 " + doc->Inno() + " ...";
        Progress();
        // A document without a page file has nothing to read yet; it stays unread. One taken
        // out of the list meanwhile is no longer read.
        if (AwaitsReading(*doc) && ScanList->Contains(*doc)) {
            std::optional<PageReading> reading = Queue ? Queue->Take(doc, progress) : WordParser->Read(doc->FilePaths(1));
            if (reading) {
                doc->SetWords(std::move(reading->Fields));
                if (!reading->Error.empty()) Failures.push_back(doc->Inno() + ": " + reading->Error);
            }
        }
        ++ProgressValue;
    }
    Progress();
    Visible = false;
}

}  // namespace dorvex
