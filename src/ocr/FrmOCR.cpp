#include "ocr/FrmOCR.h"

#include "model/ScanList.h"
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
    if (!ScanList) mLastError = kNoScanList;
    else if (!WordParser) mLastError = kNoParser;
    else if (!WordParser->IsSupported()) mLastError = kNotSupported;
    if (!mLastError.empty()) {
        Visible = false;
        return;
    }
    const std::vector<std::shared_ptr<CInno>> docs = ScanList->AllInnos();
    ProgressMin = 0;
    ProgressMax = static_cast<int>(docs.size());
    ProgressValue = 0;
    for (const std::shared_ptr<CInno>& doc : docs) {
        LabMessage = "解析 " + doc->Inno() + " ...";
        Progress();
        // A document without a page file has nothing to read yet; it stays unread.
        const std::string first = doc->FilePaths(1);
        if (!doc->IsParsed() && !first.empty()) {
            WordParser->Load(first);
            doc->SetWords(WordParser->GetData());
            if (!WordParser->LoadError().empty()) Failures.push_back(doc->Inno() + ": " + WordParser->LoadError());
        }
        ++ProgressValue;
    }
    Progress();
    Visible = false;
}

}  // namespace dorvex
