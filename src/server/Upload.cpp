#include "server/Upload.h"

#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <future>

#include "platform/Raster.h"
#include "server/Language.h"
#include "server/Reply.h"
#include "server/Transport.h"
#include "support/CodePage.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModGlobal.h"
#include "support/ModMath.h"
#include "support/ModShow.h"
#include "support/Prompter.h"
#include "support/Trace.h"
#include "support/WinInfo.h"
#include "support/Text.h"

namespace dorvex {
namespace {

constexpr int kTypeMismatch = 13;

std::string FormatCode(long code) { return std::to_string(code); }

// A text as it may stand in a field of a report line: line breaks become spaces and the field
// separator a full-width comma, so that no text, whoever wrote it, can start a line or a field.
std::string ReportField(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r' || c == '\n') out += ' ';
        else if (c == ',') out += "，";
        else out += c;
    }
    return out;
}

// At most the first 512 bytes of a server's text, cut at a character boundary, for messages.
std::string Excerpt(const std::string& text) {
    constexpr std::size_t kMax = 512;
    if (text.size() <= kMax) return text;
    std::size_t end = kMax;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end) + "…";
}

}  // namespace

FrmUpload::FrmUpload(IPrompter& prompter) : mPrompter(prompter) {}
FrmUpload::~FrmUpload() = default;

void FrmUpload::Clear() { mEntries.clear(); }

void FrmUpload::AddFile(const std::string& file, const std::string& inno, std::int16_t pages,
                        const std::string& refName, std::int16_t pageIndex, const std::string& parentName) {
    if (file.empty() || !FileExists(file)) return;
    mEntries.push_back({file, inno, pages, refName, pageIndex, parentName});
}

void FrmUpload::AddFileByCInno(const std::shared_ptr<CInno>& doc) {
    if (!doc || !doc->FilesExists()) return;
    std::shared_ptr<CInno> parent = doc->Parent();
    std::string parentName = parent ? parent->Inno() : std::string();
    auto pages = static_cast<std::int16_t>(doc->ActPage());
    if (!doc->EnableMultiTIFF) {
        for (std::int32_t i = 1; i <= doc->ActPage(); ++i) {
            AddFile(doc->FilePaths(i), doc->Inno(), pages, doc->OldInno, static_cast<std::int16_t>(i), parentName);
        }
    } else {
        AddFile(doc->FilePath(), doc->Inno(), pages, doc->OldInno, 0, parentName);
    }
    AddWordsByCInno(doc);
}

void FrmUpload::AddWordsByCInno(const std::shared_ptr<CInno>& doc) {
    if (!doc || !doc->IsParsed()) return;
    CDocWordsReq request;
    request.Inno = doc->Inno();
    request.Document = doc;
    mWords.push_back(std::move(request));
}

void FrmUpload::AddFolder(const std::string& folder) {
    std::set<std::string> visited;
    ScanFolder(folder, visited);
}

void FrmUpload::ScanFolder(const std::string& folder, std::set<std::string>& visited) {
    // A link back up the tree must not make the scan endless.
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr) return;
    bool fresh = visited.insert(real).second;
    std::free(real);
    if (!fresh) return;

    std::string trimmed = folder;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    std::string lastPiece = GetFileName(trimmed, "");
    std::vector<std::string> entries = ListFiles(trimmed, "*", true);
    // The folder's JPEG pages are its document's pages: other entries (a note, a sub-folder,
    // a file that is no image) are not counted.
    std::vector<std::pair<std::string, std::optional<ImageInfo>>> items;  // no info: a folder
    std::size_t jpegPages = 0;
    for (const std::string& entry : entries) {
        if (FolderExists(entry)) {
            items.emplace_back(entry, std::nullopt);
            continue;
        }
        std::optional<ImageInfo> info = ProbeImageHeader(entry);
        if (!info) continue;
        std::string ext = ToUpperAscii(GetFileExtension(entry));
        if (ext == "JPG" || ext == "JPEG") ++jpegPages;
        items.emplace_back(entry, info);
    }
    for (const auto& [entry, info] : items) {
        if (!info) {
            ScanFolder(entry, visited);
            continue;
        }
        std::string ext = ToUpperAscii(GetFileExtension(entry));
        if (ext == "TIF" || ext == "TIFF") {
            AddFile(entry, GetFileName(entry, ".*"), static_cast<std::int16_t>(std::min(info->pages, 32767)), "", 0, "");
        } else if (ext == "JPG" || ext == "JPEG") {
            double index = RoundHalfEven(Val(GetFileName(entry, ".*")));
            AddFile(entry, lastPiece, static_cast<std::int16_t>(std::min<std::size_t>(jpegPages, 32767)), "",
                    static_cast<std::int16_t>(std::clamp(index, -32768.0, 32767.0)), "");
        }
    }
}

void FrmUpload::SetStatus(const std::string& text) {
    LabMsg = text;
    Show();
}

void FrmUpload::Show() {
    StateChanged.Raise();
    mPrompter.Yield();
}

void FrmUpload::Form_Activate() {
    TraceScope trace("Private Sub Form_Activate()");
    CmdOKEnabled = false;
    StateChanged.Raise();
    if (UploadType == 0) {
        Clear();
        SetStatus("請選擇上傳目錄");
        std::string folder;
        {
            NotTopMostScope frame(TopMostWindow);
            folder = mPrompter.BrowseForFolder();
        }
        if (!folder.empty()) AddFolder(folder);
    }
    StartUploadFiles();
    CmdOKEnabled = true;
    if (AutoClose) Closed = true;
    StateChanged.Raise();
}

bool FrmUpload::RemoteExists(const std::string& inno) {
    CImgInfoReq query;
    query.Operator = Operator;
    query.Inno = inno;
    CImgReq request(&mPrompter);
    std::string reply = request.RequestByObject(ServerURL, query, Proxy);
    auto doc = XmlDocument::Parse(reply);
    if (!doc) return false;
    XmlNode total = doc->SelectOne("//TotalPart");
    if (!total || !IsNumeric(total.Text())) return false;
    return RoundHalfEven(Val(total.Text())) >= 1;
}

void FrmUpload::AddReportLine(const std::string& inno, long code, const std::string& message, const std::string& path) {
    // One line per document, with its first outcome; numbers are compared whole (A1 is not A12).
    if (!mReported.insert(inno).second) return;
    mReport += ReportField(inno) + "," + FormatCode(code) + "," + ReportField(message) + "," + ReportField(path) + "\r\n";
}

bool FrmUpload::StartUploadFiles() {
    TraceScope trace("StartUploadFiles");
    DebugTrace("Upload files: " + std::to_string(mEntries.size()));
    mAllowedThisRun.clear();
    try {
        CImgReq request(&mPrompter);
        for (const UploadEntry& entry : mEntries) {
            if (entry.file.empty()) continue;
            DebugTrace("sFile=" + entry.file);
            UploadEntryFile(request, entry);
        }
        SendWords(request);
        WriteReportLog();
        return true;
    } catch (const std::exception& e) {
        mPrompter.MessageBox(e.what(), "", MsgButtons::OK, MsgIcon::None);
        return false;
    }
}

void FrmUpload::UploadEntryFile(CImgReq& request, const UploadEntry& entry) {
    const std::string& inno = entry.inno;
    bool isLastFile = entry.pageIndex == entry.pages || entry.pageIndex == 0;
    SetStatus("處理" + inno);
    // A document is checked once per run: after its first page file has gone, the server
    // holds it, and its later page files must not be taken for a duplicate.
    bool allowed = EnableOverWrite || mAllowedThisRun.count(inno) > 0 || !RemoteExists(inno);
    if (allowed) mAllowedThisRun.insert(inno);

    if (!ProbeImageHeader(entry.file)) {
        SetStatus(inno + "不是影像檔");
        AddReportLine(inno, 0, "非影像檔格式", entry.file);
        AfterUpload.Raise(inno, 0, "非影像檔格式");
        return;
    }
    if (!allowed) {
        std::shared_ptr<CLanguage> language = GetLanguage();
        std::string message = language ? language->GetMessage("msg.20", "重複建置") : std::string("重複建置");
        SetStatus(inno + message);
        AddReportLine(inno, 0, message, entry.file);
        AfterUpload.Raise(inno, 0, message);
        throw DorvexError(err::InvalidArgument, inno + message);
    }

    std::int64_t size = GetFileLength(entry.file);
    std::int32_t parts = Ceiling(static_cast<double>(size) / static_cast<double>(kChunkSize));
    UploadProMin = 0;
    UploadProMax = parts;
    UploadProValue = 0;
    StateChanged.Raise();
    std::ifstream in(entry.file, std::ios::binary);
    if (!in) throw DorvexError(err::FileNotFound, "cannot open " + entry.file);

    // The next part is read and encoded while the server takes the last one: one part ahead,
    // read in order, so at most two parts are held.
    auto render = [&](std::int32_t part) {
        std::string chunk(static_cast<std::size_t>(std::min<std::int64_t>(kChunkSize, size - (part - 1) * kChunkSize)), '\0');
        if (!in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
            throw DorvexError(err::DeviceIo, "cannot read " + entry.file);
        }
        CUploadReq upload;
        upload.Operator = Operator;
        upload.Name = inno;
        upload.RefName = entry.refName;
        upload.FilePath = entry.file;
        upload.Pages = entry.pages;
        upload.PageIndex = entry.pageIndex;
        upload.DVDPrefix = DVDPrefix;
        upload.TotalParts = parts;
        upload.CurrentPart = part;
        upload.SetBuff(std::move(chunk));
        upload.ParentName = entry.parentName;
        upload.EnableOverWrite = entry.pageIndex == 0 ? EnableOverWrite : true;
        std::string text;
        upload.RenderTo(text);
        return text;
    };
    std::future<std::string> next;
    if (parts >= 1) next = std::async(std::launch::async, render, 1);

    std::string reply;
    ReplyStatus status;
    bool transportFailed = false;
    for (std::int32_t part = 1; part <= parts; ++part) {
        std::string text = next.get();
        if (part < parts) next = std::async(std::launch::async, render, part + 1);
        reply = request.RequestByText(ServerURL, text, Proxy);
        text = std::string();
        UploadProValue = part;
        Show();
        long httpStatus = 200;
        if (reply.empty() && !request.LastError().empty()) {
            if (request.LastStatus() == 0) {
                transportFailed = true;
                break;
            }
            reply = request.LastReply();  // an error status: its reply is judged with it
            httpStatus = request.LastStatus();
        }
        // Every chunk's reply counts: the server cannot assemble a file whose chunk it did not
        // take, so the file stops at the first reply that is not a success, and is judged by it.
        status = ReadReplyStatus(reply, httpStatus);
        if (status.kind != ReplyStatus::Success) break;
    }
    // A part read ahead for a file that stopped is not sent; its reading ends before the file closes.
    if (next.valid()) next.wait();
    in.close();

    if (transportFailed) status = ReplyStatus{};
    switch (status.kind) {
        case ReplyStatus::Success:
            SetStatus(inno + "上傳成功");
            if (isLastFile) AddReportLine(inno, 1, "上傳成功", "");
            AfterUpload.Raise(inno, 1, "");
            break;
        case ReplyStatus::ServerError: {
            if (!IsNumeric(status.errCode)) {
                throw DorvexError(kTypeMismatch, "Type mismatch: the server's ErrCode \"" + status.errCode + "\"");
            }
            long code = static_cast<long>(RoundHalfEven(Val(status.errCode)));
            SetStatus(status.errDescription);
            // A refusal never reads as a success in the report, whose code 1 means accepted.
            AddReportLine(inno, code == 1 ? 0 : code, status.errDescription, entry.file);
            AfterUpload.Raise(inno, 0, status.errDescription);
            break;
        }
        case ReplyStatus::Malformed: {
            std::string message = "Server無法處理(回應格式錯誤)ErrCode=" + Excerpt(status.errCode);
            SetStatus(message);
            AddReportLine(inno, 0, message, entry.file);
            AfterUpload.Raise(inno, 0, message);
            break;
        }
        case ReplyStatus::NoErrCode:
            SetStatus("Server無法處理影像檔(無回應處理結果)");
            AddReportLine(inno, 0, "Server無法處理(無回應處理結果)", entry.file);
            AfterUpload.Raise(inno, 0, "Server無法處理(無回應處理結果)" + Excerpt(reply));
            break;
        case ReplyStatus::HttpFailure:
        case ReplyStatus::NotXml: {
            std::string why = transportFailed ? request.LastError()
                              : status.kind == ReplyStatus::HttpFailure ? status.errDescription + " " + Excerpt(reply)
                                                                        : Excerpt(reply);
            std::string message = "Server無法處理(程式異常)" + why;
            SetStatus("Server無法處理影像檔(程式異常)");
            AddReportLine(inno, 0, message, entry.file);
            AfterUpload.Raise(inno, 0, message);
            break;
        }
    }
}

void FrmUpload::SendWords(CImgReq& request) {
    if (mWords.empty()) return;
    UploadProMin = 0;
    UploadProMax = static_cast<int>(mWords.size());
    UploadProValue = 0;
    SetStatus("上傳OCR資料...");
    for (const CDocWordsReq& words : mWords) {
        request.RequestByObject(ServerURL, words, Proxy);
        ++UploadProValue;
        Show();
    }
    mWords.clear();
    SetStatus("完成...");
}

void FrmUpload::WriteReportLog() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    // Year of the Republic era (2026 is 115), then month, day, hour, minute, second.
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%03d%02d%02d%02d%02d%02d", local.tm_year + 1900 - 1911, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string base = CWinInfo().getTmpPath() + "/Upload" + stamp;
    std::string path = base + ".log";
    // Two runs within one second keep both reports.
    for (int n = 2; FileExists(path); ++n) path = base + "_" + std::to_string(n) + ".log";
    WriteFileAtomic(path, ToAnsiLenient(mReport));
    mLogFile = path;
}

// ---- The scan window's side ----

namespace {
bool IsChanged(const CInno& doc) { return doc.state() == state::Changed || doc.state() == state::ChangedOther; }
}  // namespace

void QueueScanListUpload(FrmUpload& upload, const ScanUploadContext& context, const std::shared_ptr<CInno>& doc) {
    if (doc) {
        if (IsChanged(*doc) && doc->FilesExists()) upload.AddFileByCInno(doc);
        return;
    }
    if (context.scanList == nullptr) return;
    for (const auto& each : context.scanList->AllInnos()) {
        if (!IsChanged(*each)) {
            upload.AddWordsByCInno(each);
            continue;
        }
        bool listed = context.serverList != nullptr && context.serverList->IsInnoExists(each->Inno());
        bool exists = each->FilesExists();
        if (exists && (context.mode == "2" || listed || !context.onlyScanList)) {
            upload.AddFileByCInno(each);
        } else if (!FileExists(each->FilePath())) {
            each->ErrorMsg = "檔案不存在";
        } else if (!listed) {
            each->ErrorMsg = "非掃描清單檔案";
        }
    }
}

std::string ApplyUploadResult(CScanList& scanList, const std::string& inno, long code, const std::string& text,
                              std::set<std::string>& refusedThisRun) {
    if (std::shared_ptr<CInno> doc = scanList.GetInno2(inno)) {
        if (code != 1) {
            // One refused file keeps the whole document unsaved, even when other files of it
            // were accepted before or after: closing must not delete what the server lacks.
            refusedThisRun.insert(inno);
            doc->ErrorMsg = text;
            if (doc->state() == state::Saved || doc->state() == state::SavedOther) doc->SetChanged();
        } else if (refusedThisRun.count(inno) == 0) {
            doc->SetState(state::Saved);
        }
    }
    return UploadResultMessage(inno, code, text);
}

}  // namespace dorvex
