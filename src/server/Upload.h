#pragma once
// The upload window's engine: a list of page files to send, each cut into chunks of at most
// 1 MiB that travel base64-encoded inside BatchUpload requests; a result event per file; a
// report of one line per document, also written to a log file; then the documents' words.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/ScanList.h"
#include "server/WordsReq.h"
#include "support/Event.h"

namespace dorvex {

class IPrompter;
class ITopMostWindow;
class CImgReq;

struct UploadEntry {
    std::string file;
    std::string inno;
    std::int16_t pages = 0;
    std::string refName;
    std::int16_t pageIndex = 0;
    std::string parentName;
};

inline constexpr std::int64_t kChunkSize = 1048576;

class FrmUpload {
public:
    explicit FrmUpload(IPrompter& prompter);
    ~FrmUpload();

    // ---- Properties ----
    std::string ServerURL;
    std::string Operator;
    std::string Proxy;
    std::string DVDPrefix;
    bool EnableOverWrite = false;
    std::int32_t UploadType = 0;  // 0: ask for a folder and scan it; 1: the list filled by the caller
    bool AutoClose = false;
    bool CheckRemote = false;  // kept for the caller
    const std::string& Report() const { return mReport; }
    // The report log written by the last complete run ("" when none was written).
    const std::string& LogFile() const { return mLogFile; }

    // ---- Window state that the view draws ----
    std::string LabMsg;
    int UploadProMin = 0, UploadProMax = 0, UploadProValue = 0;
    bool CmdOKEnabled = true;
    bool Closed = false;
    ITopMostWindow* TopMostWindow = nullptr;

    // Raised whenever the state above changes while the window runs (status line, progress,
    // OK, closing), before the engine yields to the event loop: the view redraws from it.
    Event<> StateChanged;

    // Raised once per uploaded or refused file: document number, 1 for success or 0, and the
    // failure text ("" on success).
    Event<const std::string&, long, const std::string&> AfterUpload;

    // ---- The upload list ----
    void Clear();
    std::int32_t FileListCount() const { return static_cast<std::int32_t>(mEntries.size()); }
    const std::vector<UploadEntry>& Entries() const { return mEntries; }
    // Appends an entry when `file` names an existing file (not a folder); else nothing.
    void AddFile(const std::string& file, const std::string& inno, std::int16_t pages, const std::string& refName,
                 std::int16_t pageIndex, const std::string& parentName);
    // Queues every page file of a document whose files all exist, then its words.
    void AddFileByCInno(const std::shared_ptr<CInno>& doc);
    // Queues the document's words when it was recognised.
    void AddWordsByCInno(const std::shared_ptr<CInno>& doc);
    std::size_t WordsCount() const { return mWords.size(); }
    // The folder scan: TIFF files as documents named after the file, JPEG files as pages of a
    // document named after the folder; sub-folders recursively; non-images skipped.
    void AddFolder(const std::string& folder);

    // ---- Running ----
    // What showing the window does: (ask for a folder,) run, enable OK, close when AutoClose.
    void Form_Activate();
    // The run. Returns false when it ended on an error (shown to the person): the remaining
    // files and the words are then not sent and no log is written.
    bool StartUploadFiles();
    void CmdOK_Click() { Closed = true; }

private:
    void SetStatus(const std::string& text);
    void Show();  // tells the view, then yields
    bool RemoteExists(const std::string& inno);
    void AddReportLine(const std::string& inno, long code, const std::string& message, const std::string& path);
    void UploadEntryFile(CImgReq& request, const UploadEntry& entry);
    void SendWords(CImgReq& request);
    void WriteReportLog();
    void ScanFolder(const std::string& folder, std::set<std::string>& visited);

    IPrompter& mPrompter;
    std::vector<UploadEntry> mEntries;
    std::vector<CDocWordsReq> mWords;
    std::string mReport;
    std::set<std::string> mReported;
    std::set<std::string> mAllowedThisRun;
    std::string mLogFile;
};

// ---- The scan window's side of an upload ----

struct ScanUploadContext {
    CScanList* scanList = nullptr;
    const CScanList* serverList = nullptr;  // the to-scan list last fetched
    std::string mode;                      // the window's mode ("0".."3")
    bool onlyScanList = false;
};

// Queues one document (only when changed and its files exist) or, with doc null, every
// changed document the rules allow, marking the refused ones' ErrorMsg.
void QueueScanListUpload(FrmUpload& upload, const ScanUploadContext& context, const std::shared_ptr<CInno>& doc);

// What the scan window does with each result: a 1 marks the document saved unless a file of it
// was refused in this run (`refusedThisRun`, kept by the caller for one run); anything else
// stores the text in its ErrorMsg and keeps or makes the document changed. Returns the
// DebugMessage text.
std::string ApplyUploadResult(CScanList& scanList, const std::string& inno, long code, const std::string& text,
                              std::set<std::string>& refusedThisRun);

}  // namespace dorvex
