#include "server/DelayUpload.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/ScanList.h"
#include "support/CodePage.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModShow.h"
#include "support/Prompter.h"
#include "support/Text.h"
#include "support/WinInfo.h"

namespace dorvex {
namespace {

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// Reads at most `limit` bytes of a file; throws when it is larger or cannot be read.
// A copy that replaces the target only once it is whole.
void CopyFileAtomic(const std::string& from, const std::string& to) {
    WriteFileAtomic(to, ReadFileBytes(from));
}

void MakeFolder(const std::string& folder) {
    if (FolderExists(folder)) return;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw DorvexError(err::PathNotFound, SystemError("cannot create the folder", folder));
    }
}

}  // namespace

std::string ListLine(const ListEntry& entry) {
    // The list has no quoting: a field holding "," or a line break would not read back.
    for (const std::string* field : {&entry.path, &entry.dvdPrefix, &entry.inno, &entry.operatorName}) {
        if (field->find_first_of(",\r\n") != std::string::npos) {
            throw DorvexError(err::InvalidArgument, "\"" + *field + "\" cannot stand in the delayed-upload list (\",\")");
        }
    }
    return entry.path + "," + entry.dvdPrefix + "," + entry.inno + "," + std::to_string(entry.pages) + "," +
           std::to_string(entry.pageIndex) + "," + entry.operatorName + "\r\n";
}

std::vector<ListFileLine> ReadListFile(const std::string& path) {
    std::string text = FromAnsi(ReadFileBounded(path, kMaxListBytes));
    std::vector<ListFileLine> lines;
    for (std::string line : Split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (lines.size() == kMaxListLines) {
            throw DorvexError(err::InvalidArgument, path + " holds more than " + std::to_string(kMaxListLines) + " lines");
        }
        ListFileLine read;
        read.fields = Split(line, ',');
        read.text = std::move(line);
        lines.push_back(std::move(read));
    }
    return lines;
}

std::int32_t ListNumber(const std::string& field) {
    std::string text = Trim(field);
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        throw DorvexError(err::TypeMismatch, "Type mismatch: \"" + field + "\" is not a whole number");
    }
    return static_cast<std::int32_t>(value);
}

std::string ListFilePath() { return CWinInfo().getTmpPath() + "/" + kListFileName; }
std::string ScriptFilePath() { return CWinInfo().getTmpPath() + "/" + kScriptFileName; }

ListLock::ListLock(const std::string& listPath, const char* suffix) {
    std::string path = listPath + suffix;
    mFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (mFd < 0) throw DorvexError(err::PathNotFound, SystemError("cannot open", path));
    while (::flock(mFd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        int saved = errno;
        ::close(mFd);
        errno = saved;
        throw DorvexError(err::DeviceIo, SystemError("cannot lock", path));
    }
}

ListLock::~ListLock() { ::close(mFd); }  // closing releases the lock

void AppendListLines(const std::string& listPath, const std::string& lines) {
    ListLock lock(listPath);
    std::string old = FileExists(listPath) ? ReadFileBounded(listPath, kMaxListBytes) : std::string();
    if (!old.empty() && old.back() != '\n') old += "\r\n";  // a torn last line stays a line of its own
    WriteFileAtomic(listPath, old + ToAnsi(lines));
}

void RewriteListFile(const std::string& listPath, const std::vector<std::string>& keep, std::size_t processed) {
    ListLock lock(listPath);
    std::string text;
    for (const std::string& line : keep) text += line + "\r\n";
    // Lines appended by a scheduling while the robot worked stay for the next run.
    if (FileExists(listPath)) {
        std::vector<ListFileLine> now = ReadListFile(listPath);
        for (std::size_t i = processed; i < now.size(); ++i) text += now[i].text + "\r\n";
    }
    if (!text.empty()) {
        WriteFileAtomic(listPath, ToAnsi(text));
    } else if (::unlink(listPath.c_str()) != 0 && errno != ENOENT) {
        throw DorvexError(err::DeviceIo, SystemError("cannot delete", listPath));
    }
}

std::string ScriptText(const std::string& tmpPath, const std::string& serverUrl) {
    return "Const SRC_FILE = \"" + tmpPath + "/" + kListFileName + "\"\r\n"
           "Const SERVER_URL = \"" + serverUrl + "\"\r\n"
           "Dim Robot\r\n"
           "Set Robot = CreateObject(\"Dorvex.Robot\")\r\n"
           "Robot.ServerURL = SERVER_URL\r\n"
           "Robot.UploadByListFile SRC_FILE\r\n"
           "Set Robot = Nothing\r\n";
}

void WriteScriptFile(const std::string& scriptPath, const std::string& tmpPath, const std::string& serverUrl) {
    WriteFileAtomic(scriptPath, ToAnsi(ScriptText(tmpPath, serverUrl)));
}

std::string ExportScanListTo(const CScanList& list, const std::string& folder, bool wantList,
                             const std::string& dvdPrefix, const std::string& operatorName) {
    std::string lines;
    for (const std::shared_ptr<CInno>& doc : list.AllInnos()) {
        if (!doc->FilesExists()) continue;
        // The document number names a file or folder inside the chosen folder, never outside.
        if (doc->Inno().empty() || doc->Inno() == "." || doc->Inno() == ".." ||
            doc->Inno().find('/') != std::string::npos) {
            throw DorvexError(err::InvalidArgument, "\"" + doc->Inno() + "\" cannot name a file");
        }
        const std::int32_t pages = doc->ActPage();
        if (!doc->EnableMultiTIFF) {
            std::string docFolder = folder + "/" + doc->Inno();
            MakeFolder(docFolder);
            for (std::int32_t i = 1; i <= pages; ++i) {
                char name[32];
                std::snprintf(name, sizeof name, "/%04d.jpg", i);
                std::string target = docFolder + name;
                CopyFileAtomic(doc->FilePaths(i), target);
                if (wantList) lines += ListLine({target, dvdPrefix, doc->Inno(), pages, i, operatorName});
            }
        } else {
            std::string target = folder + "/" + doc->Inno() + ".tif";
            CopyFileAtomic(doc->FilePath(), target);
            if (wantList) lines += ListLine({target, dvdPrefix, doc->Inno(), pages, 0, operatorName});
        }
    }
    return lines;
}

std::string ExportScanList(IPrompter& prompter, ITopMostWindow* window, const CScanList& list, bool wantList,
                           const std::string& dvdPrefix, const std::string& operatorName) {
    std::string folder;
    {
        NotTopMostScope frame(window);
        folder = prompter.BrowseForFolder();
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty() || !FolderExists(folder)) return {};
    return ExportScanListTo(list, folder, wantList, dvdPrefix, operatorName);
}

}  // namespace dorvex
