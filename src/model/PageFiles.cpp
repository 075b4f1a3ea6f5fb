#include "model/PageFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <vector>

#include <sys/stat.h>

#include "platform/Raster.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Trace.h"
#include "support/WinInfo.h"
#include "support/Text.h"

namespace dorvex {
namespace {

constexpr std::string_view kHeader = "#Dorvex recovery 2";

// Percent-escapes the characters that separate fields and items.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '%': out += "%25"; break;
            case ',': out += "%2C"; break;
            case '|': out += "%7C"; break;
            case '=': out += "%3D"; break;
            case '\r': out += "%0D"; break;
            case '\n': out += "%0A"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

struct Line {
    std::string batch, inno, path, page, parent;
    std::vector<std::pair<std::string, std::string>> words;
    std::string plainWords;  // the words field of a plain-format line
    bool plain = false;
    int listedPages = -1;  // the page count written beside a multi-page file; -1 when none
};

// Whether `path` is a page file that this folder's recovery file may name: a regular file (not
// a link) right in `folder`, where every page file is made. Anything else listed there (a
// damaged line, a planted one) would become a page that is sent to the server and deleted
// with its document.
bool IsPageFileOf(const std::string& path, const std::string& folder) {
    namespace fs = std::filesystem;
    if (fs::path(path).lexically_normal().parent_path() != fs::path(folder).lexically_normal()) return false;
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string FolderOf(const std::string& recoveryPath) { return std::filesystem::path(recoveryPath).parent_path().string(); }

constexpr const char* kForeignFile = "not a page file of the temporary folder";

void Restore(CScanList& list, const Line& line, const std::string& folder, std::set<std::string>& taken,
             RecoveryResult& result) {
    if (FileExists(line.path) && !IsPageFileOf(line.path, folder)) {
        DebugTrace("recovery: " + line.path + " skipped: " + kForeignFile);
        ++result.skippedLines;
        return;
    }
    // A file listed again (a damaged file's repeated line) is one page already brought back.
    if (taken.count(std::filesystem::path(line.path).lexically_normal().string()) != 0) {
        DebugTrace("recovery: " + line.path + " skipped: listed twice");
        ++result.skippedLines;
        return;
    }
    // An empty file is a page that was listed just before it was to be written: it never
    // reached the disk, so there is nothing to bring back.
    if (!FileExists(line.path) || GetFileLength(line.path) == 0) {
        ++result.skippedLines;
        return;
    }
    // The document of the line's own batch: one number may be in use in two batches.
    std::shared_ptr<CInno> doc = list.Add(line.batch, line.inno, 0);
    int pages = 1;
    try {
        ImageInfo info = ReadImageInfo(line.path);
        doc->Format = info.format;
        doc->BitmapBits = static_cast<std::int16_t>(info.bitsPerPixel);
        pages = info.pages;
    } catch (const DorvexError& e) {
        // The page stays in the document: the clerk sees it cannot be shown rather than lose it.
        DebugTrace(std::string("recovery: ") + e.what());
    }
    if (line.page != "0") {
        doc->EnableMultiTIFF = false;
        doc->NewPage(line.path);
    } else {
        doc->SetActPage(pages);
        doc->SetFilePath(line.path);
        doc->SetState(state::Changed);
        doc->EnableMultiTIFF = true;
    }
    if (!line.parent.empty()) {
        std::shared_ptr<CInno> parent = list.GetInno(line.batch, line.parent);
        if (!parent) parent = list.GetInno2(line.parent);
        if (parent) doc->SetParent(parent);
    }
    try {
        if (line.plain) {
            doc->PutWordSerial(line.plainWords);
        } else {
            for (const auto& [key, value] : line.words) doc->PutWord(key, value);
        }
    } catch (const DorvexError& e) {
        DebugTrace(std::string("recovery: words of ") + line.inno + ": " + e.what());
    }
    taken.insert(std::filesystem::path(line.path).lexically_normal().string());
    result.restoredPages++;
}

}  // namespace

PageStorage ChooseStorage(const std::string& imgFormat, const std::string& pixelType, const std::string& enableMultiTiff,
                          int pageBits) {
    PageStorage storage;
    storage.multiTiff = enableMultiTiff == "1";
    if (ToUpperAscii(imgFormat) == "JPG") {
        storage.format = 21;
        storage.bitmapBits = static_cast<std::int16_t>(pageBits >= 8 ? pageBits : (pageBits == 0 ? 24 : 8));
        storage.multiTiff = false;
    } else if (pixelType == "0") {
        storage.format = 29;
        storage.bitmapBits = 1;
    } else {
        storage.format = 17;
        storage.bitmapBits = static_cast<std::int16_t>(pageBits > 0 ? pageBits : (pixelType == "1" ? 8 : 24));
    }
    return storage;
}

void ApplyStorage(CInno& doc, const PageStorage& storage) {
    doc.Format = storage.format;
    doc.BitmapBits = storage.bitmapBits;
    doc.EnableMultiTIFF = storage.multiTiff;
}

std::string RecoveryFilePath() { return CWinInfo().getTmpPath() + "/Dorvex.bak"; }

std::string RecoveryText(const CScanList& list) {
    std::string text;
    for (const auto& doc : list.AllInnos()) {
        if (!doc->FilesExists()) continue;
        if (doc->state() != state::Changed && doc->state() != state::ChangedOther) continue;
        std::shared_ptr<CInno> parent = doc->Parent();
        std::shared_ptr<CBatchNo> batch = doc->BatchNo();
        std::string words;
        for (const CPhase& phase : doc->Words()) {
            if (!words.empty()) words += '|';
            words += Escape(phase.Key) + "=" + Escape(phase.Value);
        }
        std::string tail = "," + Escape(parent ? parent->Inno() : std::string()) + "," + words + "\r\n";
        std::string head = Escape(batch ? batch->BatchNo : std::string()) + "," + Escape(doc->Inno()) + ",";
        if (doc->EnableMultiTIFF) {
            // The count is for inspection: a restore trusts the file's own page count, which
            // is ahead of the list when the process stopped between a page and this record.
            std::string withCount = tail;
            withCount.insert(withCount.size() - 2, "," + std::to_string(doc->ActPage()));
            text += head + Escape(doc->FilePath()) + ",0" + withCount;
        } else {
            for (std::int32_t page = 1; page <= doc->ActPage(); ++page) {
                text += head + Escape(doc->FilePaths(page)) + "," + std::to_string(page) + tail;
            }
        }
    }
    return text.empty() ? text : std::string(kHeader) + "\r\n" + text;
}

void WriteRecoveryFile(const CScanList& list, const std::string& path) {
    std::string text = RecoveryText(list);
    if (text.empty()) {
        std::remove(path.c_str());
        return;
    }
    WriteFileAtomic(path, text);
}

bool RecoveryFileFollower::ScanListChanged(const CScanList& list, unsigned) {
    try {
        std::string text = RecoveryText(list);
        if (mWritten && *mWritten == text) return true;
        if (text.empty()) {
            if (std::remove(mPath.c_str()) != 0 && errno != ENOENT) {
                throw DorvexError(err::DeviceIo, "cannot delete " + mPath + ": " + std::strerror(errno));
            }
        } else {
            WriteFileAtomic(mPath, text);
        }
        ++mWrites;
        mWritten = std::move(text);
        return true;
    } catch (const std::exception& e) {
        mWritten.reset();
        if (OnError) OnError(e);
        return false;
    }
}

bool RecoveryFileFollower::Rewrite(const CScanList& list) {
    mWritten.reset();
    return ScanListChanged(list, 0);
}

namespace {

// The lines of a recovery file; `malformed` counts the lines that are not one.
std::vector<Line> ParseRecoveryFile(const std::string& path, int& malformed) {
    std::vector<Line> lines;
    malformed = 0;
    if (!FileExists(path)) return lines;
    // Far more than the lines of every page a scan list can hold: anything larger is damage,
    // and is not read into memory.
    constexpr std::int64_t kMaxRecoveryBytes = std::int64_t{256} << 20;
    if (GetFileLength(path) > kMaxRecoveryBytes) {
        throw DorvexError(err::InvalidArgument, path + " is not a recovery file: it holds " + std::to_string(GetFileLength(path)) +
                                                    " bytes");
    }
    std::istringstream in(ReadFileBytes(path));
    std::string raw;
    bool lossless = false;
    bool first = true;
    while (std::getline(in, raw)) {
        std::string text = Trim(raw);
        if (first) {
            first = false;
            if (text == kHeader) {
                lossless = true;
                continue;
            }
        }
        if (text.empty()) continue;
        std::vector<std::string> fields = Split(text, ',');
        if (fields.size() < 6) {
            ++malformed;
            continue;
        }
        Line line;
        if (lossless) {
            line.batch = Unescape(fields[0]);
            line.inno = Unescape(fields[1]);
            line.path = Unescape(fields[2]);
            line.page = fields[3];
            line.parent = Unescape(fields[4]);
            if (!fields[5].empty()) {
                for (const std::string& item : Split(fields[5], '|')) {
                    std::size_t eq = item.find('=');
                    if (eq == std::string::npos) continue;
                    line.words.emplace_back(Unescape(item.substr(0, eq)), Unescape(item.substr(eq + 1)));
                }
            }
            if (fields.size() > 6) line.listedPages = std::atoi(fields[6].c_str());
        } else {
            line.plain = true;
            line.batch = fields[0];
            line.inno = fields[1];
            line.path = fields[2];
            line.page = fields[3];
            line.parent = fields[4];
            line.plainWords = fields[5];
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace

RecoveryResult ReadRecoveryFile(CScanList& list, const std::string& path) {
    RecoveryResult result;
    const std::string folder = FolderOf(path);
    std::set<std::string> taken;
    for (const Line& line : ParseRecoveryFile(path, result.skippedLines)) Restore(list, line, folder, taken, result);
    return result;
}

std::vector<RecoveryEntry> InspectRecoveryFile(const std::string& path, int* malformedLines) {
    int malformed = 0;
    std::vector<RecoveryEntry> entries;
    const std::string folder = FolderOf(path);
    std::set<std::string> taken;
    for (const Line& line : ParseRecoveryFile(path, malformed)) {
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const RecoveryEntry& e) { return e.inno == line.inno && e.batch == line.batch; });
        if (it == entries.end()) {
            entries.push_back({line.batch, line.inno, 0, {}, {}});
            it = entries.end() - 1;
        }
        it->files.push_back(line.path);
        if (!FileExists(line.path)) {
            it->problems.push_back(line.path + ": the file is missing");
            continue;
        }
        if (!IsPageFileOf(line.path, folder)) {
            it->problems.push_back(line.path + ": " + kForeignFile + " (left out)");
            continue;
        }
        if (!taken.insert(std::filesystem::path(line.path).lexically_normal().string()).second) {
            it->problems.push_back(line.path + ": listed before (left out)");
            continue;
        }
        if (GetFileLength(line.path) == 0) {
            it->problems.push_back(line.path + ": empty (the page never reached it)");
            continue;
        }
        try {
            ImageInfo info = ReadImageInfo(line.path);
            if (!info.damage.empty()) it->problems.push_back(line.path + ": " + info.damage);
            if (line.page != "0") {
                it->pages += 1;
                continue;
            }
            it->pages += info.pages;
            if (line.listedPages >= 0 && info.pages > line.listedPages) {
                it->problems.push_back(line.path + ": holds " + std::to_string(info.pages) + " pages, the list says " +
                                       std::to_string(line.listedPages));
            }
        } catch (const DorvexError& e) {
            it->problems.push_back(line.path + ": " + e.what());
        }
    }
    if (malformedLines) *malformedLines = malformed;
    return entries;
}

void KillTmpFiles(const CScanList& list, bool deleteFiles, bool autoKeepTmpFiles) {
    // The record goes first: a process stopped half-way leaves page files that nothing lists,
    // never a recovery file that brings back what is left of a document as the whole of it.
    if (deleteFiles || autoKeepTmpFiles) std::remove(RecoveryFilePath().c_str());
    if (deleteFiles) {
        for (const auto& doc : list.AllInnos()) doc->KillFiles();
    }
}

}  // namespace dorvex
