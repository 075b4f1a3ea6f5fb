#include "server/Robot.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/AtQueue.h"
#include "server/DelayUpload.h"
#include "server/Upload.h"
#include "support/CodePage.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Text.h"
#include "support/Trace.h"

namespace dorvex {
namespace {

constexpr const char* kCscript = "CSCRIPT ";

// A text in single quotes for /bin/sh.
std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

bool IsExecutable(const std::string& path) { return FileExists(path) && ::access(path.c_str(), X_OK) == 0; }

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::string DorvexProgram() {
    if (const char* cli = std::getenv("DORVEX_CLI"); cli != nullptr && *cli != '\0') return cli;
    char self[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = '\0';
        std::string beside = FolderOf(self) + "/dorvex";
        if (IsExecutable(beside)) return beside;
    }
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && IsExecutable(folder + "/dorvex")) return folder + "/dorvex";
        start = end + 1;
    }
    return {};
}

Robot::Robot(IPrompter& prompter, AtQueue& queue) : mPrompter(prompter), mQueue(queue) {}

std::int32_t Robot::NameOfPC(std::string& name) const {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    name = std::string(host).substr(0, 15);
    return 0;
}

std::string Robot::JobScript(const std::string& scriptPath) const {
    std::string program = DorvexProgram();
    if (program.empty()) return {};
    const std::string folder = FolderOf(scriptPath);
    std::string text;
    auto set = [&text](const std::string& name, const std::string& value) {
        text += name + "=" + ShellQuote(value) + "; export " + name + "\n";
    };
    // at keeps the submitting environment too; these are the ones the upload cannot do without.
    set("DORVEX_TMPDIR", folder);
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "http_proxy", "https_proxy", "no_proxy"}) {
        if (const char* value = std::getenv(name); value != nullptr) set(name, value);
    }
    if (!JobProxy.empty()) {
        set("http_proxy", JobProxy);
        set("https_proxy", JobProxy);
    }
    text += "exec " + ShellQuote(program) + " cscript " + ShellQuote(scriptPath) + " >>" +
            ShellQuote(folder + "/Dorvex.log") + " 2>&1\n";
    return text;
}

bool Robot::SetTimeout(const std::string& time, const std::string& command) {
    mLastError.clear();
    int hour = -1, minute = -1;
    auto digit = [&time](std::size_t i) { return time[i] >= '0' && time[i] <= '9'; };
    if (time.size() == 5 && time[2] == ':' && digit(0) && digit(1) && digit(3) && digit(4)) {
        hour = std::atoi(time.substr(0, 2).c_str());
        minute = std::atoi(time.substr(3, 2).c_str());
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        mLastError = "「" + time + "」不是時間 (hh:mm)";
        return false;
    }
    if (ToUpperAscii(command.substr(0, 8)) != kCscript || command.size() <= 8) {
        mLastError = "只能排定 CSCRIPT 指令: " + command;
        return false;
    }
    std::string script = JobScript(command.substr(8));
    if (script.empty()) {
        mLastError = "找不到 dorvex 程式 (DORVEX_CLI, PATH)";
        return false;
    }
    // The new job first: when `at` refuses it, the one scheduled before still stands.
    if (!mQueue.Add(hour, minute, script)) {
        mLastError = mQueue.Error();
        return false;
    }
    // Without the new job's number nothing can be told apart: the old jobs stay.
    if (!mQueue.LastJobId().empty()) mQueue.RemoveOwn(mQueue.LastJobId());
    return true;
}

bool Robot::SetLater(const std::string& command) {
    std::time_t now = Clock();
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) {
        mLastError = "cannot read the local time";
        return false;
    }
    // 0.001 day = 86.4 seconds, counted in tenths so that nothing is lost to rounding.
    long tenths = ((local.tm_hour * 3600L + local.tm_min * 60L + local.tm_sec) * 10 + 864) % (86400L * 10);
    char time[8];
    std::snprintf(time, sizeof time, "%02ld:%02ld", tenths / 36000, tenths / 600 % 60);
    return SetTimeout(time, command);
}

void Robot::Test() { mQueue.RemoveOwn(); }

bool Robot::UploadFile(const std::string& path, const std::string& dvdPrefix, const std::string& inno,
                       std::int32_t pages, std::int32_t pageIndex, const std::string& operatorName) {
    return Upload(path, dvdPrefix, inno, pages, pageIndex, operatorName, false);
}

bool Robot::Upload(const std::string& path, const std::string& dvdPrefix, const std::string& inno, std::int32_t pages,
                   std::int32_t pageIndex, const std::string& operatorName, bool continuation) {
    FrmUpload upload(mPrompter);
    upload.AutoClose = true;
    upload.UploadType = 1;
    upload.ServerURL = ServerURL;
    upload.DVDPrefix = dvdPrefix;
    upload.Operator = operatorName;
    // A later page of a document whose earlier pages went up before must not be taken for a
    // duplicate of that same document.
    upload.EnableOverWrite = continuation;
    auto small = [](std::int32_t value) { return static_cast<std::int16_t>(std::clamp(value, -32768, 32767)); };
    upload.AddFile(path, inno, small(pages), "", small(pageIndex), "");
    bool accepted = false;
    upload.AfterUpload.Connect([&accepted](const std::string&, long code, const std::string&) { accepted = code == 1; });
    upload.Form_Activate();
    return accepted;
}

void Robot::UploadByListFile(const std::string& listPath) {
    TraceScope trace("UploadByListFile");
    if (!FileExists(listPath)) return;
    // One run at a time: a second job waits for the first and then sends what is left, so that
    // no page goes twice and no line is lost between two rewrites.
    ListLock run(listPath, ".run");
    if (!FileExists(listPath)) return;
    std::vector<ListFileLine> lines;
    {
        ListLock lock(listPath);
        lines = ReadListFile(listPath);
    }
    std::vector<std::string> keep;
    std::set<std::string> failedDocuments;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ListFileLine& line = lines[i];
        if (line.fields.size() < 2) continue;  // no "," in it: not a list line
        if (line.fields.size() < 6) {
            for (std::size_t rest = i; rest < lines.size(); ++rest) keep.push_back(lines[rest].text);
            RewriteListFile(listPath, keep, lines.size());
            throw DorvexError(err::InvalidArgument, listPath + " line " + std::to_string(i + 1) +
                                                        " has fewer than six fields: " + line.text);
        }
        const std::vector<std::string>& f = line.fields;
        if (!FileExists(f[0])) {
            DebugTrace("no such file, line dropped: " + f[0]);
            continue;
        }
        // Once a file of a document failed, its later files wait, so that the document goes
        // up in order on the next run.
        if (failedDocuments.count(f[2]) > 0) {
            keep.push_back(line.text);
            continue;
        }
        // The file as it was sent: one put in its place meanwhile (a new export) is not deleted.
        struct stat sent {};
        const bool known = ::stat(f[0].c_str(), &sent) == 0;
        bool accepted = false;
        try {
            std::int32_t pageIndex = ListNumber(f[4]);
            accepted = Upload(f[0], f[1], f[2], ListNumber(f[3]), pageIndex, f[5], pageIndex > 1);
        } catch (const std::exception& e) {
            // A line that cannot be sent stays for the next run; the lines after it go on.
            DebugTrace(listPath + " line " + std::to_string(i + 1) + ": " + e.what());
        }
        if (accepted) {
            struct stat now {};
            const bool same = known && ::stat(f[0].c_str(), &now) == 0 && now.st_dev == sent.st_dev &&
                              now.st_ino == sent.st_ino && now.st_size == sent.st_size &&
                              now.st_mtim.tv_sec == sent.st_mtim.tv_sec && now.st_mtim.tv_nsec == sent.st_mtim.tv_nsec;
            if (!same) DebugTrace(f[0] + " was replaced while it was sent: kept for its own line");
            else if (::unlink(f[0].c_str()) != 0) DebugTrace("cannot delete " + f[0]);
        } else {
            failedDocuments.insert(f[2]);
            keep.push_back(line.text);
        }
    }
    RewriteListFile(listPath, keep, lines.size());
}

// ---- The script runner ----

namespace {

// The value of `Const NAME = "value"`, or nullopt when the line is not that.
std::optional<std::string> ConstValue(const std::string& line, const std::string& name) {
    const std::string head = "Const " + name + " = \"";
    if (line.size() < head.size() + 1 || line.compare(0, head.size(), head) != 0 || line.back() != '"') {
        return std::nullopt;
    }
    std::string value = line.substr(head.size(), line.size() - head.size() - 1);
    if (value.find('"') != std::string::npos) return std::nullopt;
    return value;
}

}  // namespace

void RunRobotScript(const std::string& scriptPath, Robot& robot) {
    std::string text = FromAnsi(ReadFileBounded(scriptPath, kMaxScriptBytes));
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    static const char* const kForm[7] = {"Const SRC_FILE = \"...\"", "Const SERVER_URL = \"...\"", "Dim Robot",
                                          "Set Robot = CreateObject(\"Dorvex.Robot\")", "Robot.ServerURL = SERVER_URL",
                                          "Robot.UploadByListFile SRC_FILE", "Set Robot = Nothing"};
    auto refuse = [&](std::size_t index) {
        std::string found = index < lines.size() ? "\"" + lines[index] + "\"" : std::string("the end of the file");
        throw DorvexError(err::InvalidArgument, scriptPath + " line " + std::to_string(index + 1) + ": expected " +
                                                    kForm[std::min<std::size_t>(index, 6)] + ", found " + found);
    };
    std::optional<std::string> source = lines.size() > 0 ? ConstValue(lines[0], "SRC_FILE") : std::nullopt;
    if (!source) refuse(0);
    std::optional<std::string> server = lines.size() > 1 ? ConstValue(lines[1], "SERVER_URL") : std::nullopt;
    if (!server) refuse(1);
    for (std::size_t i = 2; i < 7; ++i) {
        if (i >= lines.size() || lines[i] != kForm[i]) refuse(i);
    }
    for (std::size_t i = 7; i < lines.size(); ++i) {
        if (!Trim(lines[i]).empty()) {
            throw DorvexError(err::InvalidArgument, scriptPath + " line " + std::to_string(i + 1) +
                                                        ": nothing may follow \"Set Robot = Nothing\"");
        }
    }
    // The steps, in their order: a new robot, its server, the list.
    robot.ServerURL.clear();
    robot.ServerURL = *server;
    robot.UploadByListFile(*source);
}

}  // namespace dorvex
