#pragma once
// The unattended uploader that the delayed upload's script creates as "Dorvex.Robot": it
// schedules the job that runs the script, and it works through the list file, sending each
// listed page file through an upload window of its own that no one watches.

#include <cstdint>
#include <ctime>
#include <functional>
#include <set>
#include <string>

namespace dorvex {

class AtQueue;
class IPrompter;

class Robot {
public:
    static constexpr const char* kProgId = "Dorvex.Robot";

    // `prompter` hears the upload windows' messages (nobody answers in a scheduled run).
    Robot(IPrompter& prompter, AtQueue& queue);

    std::string ServerURL;
    // The proxy the job's uploads go through ("" keeps the environment's).
    std::string JobProxy;
    // The clock SetLater reads (seconds since the epoch).
    std::function<std::time_t()> Clock = [] { return std::time(nullptr); };

    // The computer's name, at most 15 characters. Returns 0.
    std::int32_t NameOfPC(std::string& name) const;
    // Replaces the delayed-upload jobs this library scheduled by one that runs `command` once
    // at `time` ("hh:mm", the next time the clock reaches it). `command` is "CSCRIPT " and the
    // script's path. False, with LastError() saying why, when no job was scheduled.
    bool SetTimeout(const std::string& time, const std::string& command);
    // SetTimeout for 86.4 seconds from now, cut to the minute.
    bool SetLater(const std::string& command);
    // Removes the delayed-upload jobs this library scheduled.
    void Test();
    // Sends every file the list names and deletes each one the server accepted; the lines of
    // the files not accepted stay in the list for the next run, which is deleted when empty.
    // A line with fewer than six fields ends the call with DorvexError(InvalidArgument), the
    // lines from it on kept.
    void UploadByListFile(const std::string& listPath);
    // Sends one file through an upload window that closes itself; true when the server
    // accepted it.
    bool UploadFile(const std::string& path, const std::string& dvdPrefix, const std::string& inno,
                    std::int32_t pages, std::int32_t pageIndex, const std::string& operatorName);

    const std::string& LastError() const { return mLastError; }

    // The shell text of the job that runs "CSCRIPT path": `dorvex cscript path` with the
    // temporary folder, settings and proxy of this session; "" when no dorvex program is found.
    std::string JobScript(const std::string& scriptPath) const;

private:
    bool Upload(const std::string& path, const std::string& dvdPrefix, const std::string& inno, std::int32_t pages,
                std::int32_t pageIndex, const std::string& operatorName, bool continuation);

    IPrompter& mPrompter;
    AtQueue& mQueue;
    std::string mLastError;
};

// The dorvex program the job runs: $DORVEX_CLI, else "dorvex" beside this program, else the
// first "dorvex" on PATH; "" when there is none.
std::string DorvexProgram();

// Carries out a delayed-upload script, the seven lines that WriteScriptFile writes (CR LF or
// LF), step by step with `robot`. Throws DorvexError naming the line for any other text.
void RunRobotScript(const std::string& scriptPath, Robot& robot);

}  // namespace dorvex
