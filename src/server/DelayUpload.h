#pragma once
// The files of the delayed upload, both in the temporary folder: the list "Dorvex.dat" (one
// line per page file to send: path, prefix, document number, page count, page index or 0 for
// a multi-page file, operator; CP950 with CR LF) and the script "Dorvex.vbs" that the scheduled
// job runs. And the export that copies the scan list's page files into a folder the person
// picks, shared with "全部另存".

#include <cstdint>
#include <string>
#include <vector>

namespace dorvex {

class CScanList;
class IPrompter;
class ITopMostWindow;

inline constexpr const char* kListFileName = "Dorvex.dat";
inline constexpr const char* kScriptFileName = "Dorvex.vbs";
// A list or script larger than this is not one we wrote; reading it stops there.
inline constexpr std::int64_t kMaxListBytes = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxListLines = 100000;
inline constexpr std::int64_t kMaxScriptBytes = 64 * 1024;

struct ListEntry {
    std::string path;
    std::string dvdPrefix;
    std::string inno;
    std::int32_t pages = 0;
    std::int32_t pageIndex = 0;
    std::string operatorName;
};

// The six fields joined by "," and followed by CR LF (UTF-8).
std::string ListLine(const ListEntry& entry);

// One line of the list file, as read: its text (UTF-8, without the line break) and its fields.
struct ListFileLine {
    std::string text;
    std::vector<std::string> fields;  // split at ","; fewer than six when the line is short
};
// The lines of a list file (empty lines left out); throws DorvexError when the file is larger
// than kMaxListBytes or holds more than kMaxListLines lines, or cannot be read.
std::vector<ListFileLine> ReadListFile(const std::string& path);
// Whole numbers as the list holds them; throws DorvexError(TypeMismatch) for anything else.
std::int32_t ListNumber(const std::string& field);

std::string ListFilePath();    // the temporary folder's "Dorvex.dat"
std::string ScriptFilePath();  // the temporary folder's "Dorvex.vbs"

// Appends list text (UTF-8 lines, each ending in CR LF) to the list file, rewriting it whole in
// CP950 under the list lock. Throws DorvexError (a character CP950 lacks, a full disk).
void AppendListLines(const std::string& listPath, const std::string& lines);
// Rewrites the list with `lines` (UTF-8 texts without line breaks) after `processed` lines,
// keeping every line appended since it was read; deletes the list when nothing is left.
void RewriteListFile(const std::string& listPath, const std::vector<std::string>& keep, std::size_t processed);

// Holds the list's lock (a "Dorvex.dat.lock" beside it) while it lives, so that an append by
// the scan window and the robot's rewrite never interleave.
class ListLock {
public:
    // `suffix` names the lock file beside the list: ".lock" guards a read or a write, ".run" a
    // whole run of the robot.
    explicit ListLock(const std::string& listPath, const char* suffix = ".lock");
    ~ListLock();
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    int mFd = -1;
};

// The seven lines of the script, each ending in CR LF.
std::string ScriptText(const std::string& tmpPath, const std::string& serverUrl);
void WriteScriptFile(const std::string& scriptPath, const std::string& tmpPath, const std::string& serverUrl);

// Copies the page files of every document whose files all exist into `folder`: a document of
// single pages into folder/INNO/0001.jpg..., a multi-page document to folder/INNO.tif; a target
// that exists is replaced. Returns the list lines when `wantList`. Throws DorvexError when a
// file cannot be copied.
std::string ExportScanListTo(const CScanList& list, const std::string& folder, bool wantList,
                             const std::string& dvdPrefix, const std::string& operatorName);
// Asks for the folder first; "" when none was chosen or it is not a folder.
std::string ExportScanList(IPrompter& prompter, ITopMostWindow* window, const CScanList& list, bool wantList,
                           const std::string& dvdPrefix, const std::string& operatorName);

}  // namespace dorvex
