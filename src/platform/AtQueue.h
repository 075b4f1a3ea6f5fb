#pragma once
// The system's one-time job scheduler, `at` (atd runs the jobs). Jobs go into their own queue
// letter and carry a marker line naming the temporary folder they work on, so that only jobs
// this library scheduled, for this user and this folder, are ever listed or removed.

#include <string>
#include <vector>

namespace dorvex {

struct AtJob {
    std::string id;
    std::string when;  // as atq prints it: "Tue Dec  8 10:01:00 2026"
};

class AtQueue {
public:
    static constexpr char kQueue = 'd';
    static constexpr const char* kMarker = "# Dorvex delayed upload";

    // The programs to run; a test points them at a missing file to see a failure. The jobs
    // are those of the temporary folder at construction.
    explicit AtQueue(std::string at = "at", std::string atq = "atq", std::string atrm = "atrm");
    // The marker line of our jobs.
    const std::string& Marker() const { return mMarker; }

    // Queues `script` (shell commands) to run once, the next time the local clock reaches
    // hour:minute. False, with Error() saying why, when `at` refuses or cannot run.
    bool Add(int hour, int minute, const std::string& script);
    // The number `at` gave the job last added.
    const std::string& LastJobId() const { return mLastJobId; }
    // This user's jobs in our queue that carry the marker.
    std::vector<AtJob> OwnJobs();
    // Removes them, all but the job `keep`; returns how many were removed.
    int RemoveOwn(const std::string& keep = "");
    const std::string& Error() const { return mError; }

private:
    std::string mAt, mAtq, mAtrm;
    std::string mMarker;
    std::string mError;
    std::string mLastJobId;
};

// Runs a program (no shell) with `input` on its standard input; its standard output and error
// together, up to `maxOutput` bytes, go to `output`. Returns the exit status, or -1 when it
// could not be started or did not exit normally (then `output` says why).
int RunProgram(const std::vector<std::string>& argv, const std::string& input, std::string& output,
               std::size_t maxOutput = 1 << 20);

}  // namespace dorvex
