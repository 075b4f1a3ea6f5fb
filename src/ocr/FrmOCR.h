#pragma once
// The recognition run after a scan: the first page of every document of the scan list that has
// not been read yet is recognised and its letter fields stored in the document, with a label
// and a progress bar that a view shows while it runs.

#include <functional>
#include <string>
#include <vector>

namespace dorvex {

class CScanList;
class CWordParser;
class IPrompter;
class RecognitionQueue;

class FrmOCR {
public:
    explicit FrmOCR(IPrompter& prompter) : mPrompter(prompter) {}

    static constexpr const char* kNoScanList = "尚未設定掃描清單";
    static constexpr const char* kNoParser = "尚未設定解析元件";
    static constexpr const char* kNotSupported = "系統不支援OCR";

    CScanList* ScanList = nullptr;
    CWordParser* WordParser = nullptr;
    // When set, background workers read the pages (most of them while the scanner ran) and the
    // run takes each document's reading in turn, serving the window while it waits; the
    // results are those of the parser's own reading. Without, the run reads each page itself.
    RecognitionQueue* Queue = nullptr;
    // Empty, or why the run did not start (then no document was touched).
    const std::string& LastError() const { return mLastError; }

    // What the view shows: the label and the progress bar.
    std::string LabMessage;
    int ProgressMin = 0;
    int ProgressMax = 0;
    int ProgressValue = 0;
    bool Visible = false;
    // Documents whose recognition ended early, as "number: reason". They count as read (their
    // words are what was found, maybe none); "重新辨識" reads one again.
    std::vector<std::string> Failures;
    // Told before each document, while it waits for a reading and at the end, so that a view
    // draws the label and the bar.
    std::function<void()> OnProgress;

    // Runs the recognition once (later activations do nothing) and hides the window.
    void Form_Activate();

private:
    void Progress();

    IPrompter& mPrompter;
    std::string mLastError;
    bool mRan = false;
};

}  // namespace dorvex
