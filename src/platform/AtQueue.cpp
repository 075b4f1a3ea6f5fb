#include "platform/AtQueue.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/Text.h"
#include "support/WinInfo.h"

extern char** environ;

namespace dorvex {
namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string UserName() {
    struct passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : std::to_string(::geteuid());
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, const std::string& input, std::string& output,
               std::size_t maxOutput) {
    output.clear();
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        output = Errno("cannot make a pipe");
        CloseFd(in[0]), CloseFd(in[1]), CloseFd(out[0]), CloseFd(out[1]);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) {
        output = "cannot start " + argv[0];
        CloseFd(in[0]), CloseFd(in[1]), CloseFd(out[0]), CloseFd(out[1]);
        return -1;
    }
    bool ready = ::posix_spawn_file_actions_adddup2(&actions, in[0], 0) == 0 &&
                 ::posix_spawn_file_actions_adddup2(&actions, out[1], 1) == 0 &&
                 ::posix_spawn_file_actions_adddup2(&actions, out[1], 2) == 0;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t child = -1;
    int spawned = ready ? ::posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ) : EINVAL;
    ::posix_spawn_file_actions_destroy(&actions);
    CloseFd(in[0]);
    CloseFd(out[1]);
    if (spawned != 0) {
        CloseFd(in[1]);
        CloseFd(out[0]);
        output = "cannot run " + argv[0] + ": " + std::strerror(spawned);
        return -1;
    }

    // Feed the input and drain the output together, so that neither side waits on the other.
    // A child that stops reading must not kill us.
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    bool restore = ::sigaction(SIGPIPE, &ignore, &old) == 0;
    std::size_t written = 0;
    if (input.empty()) CloseFd(in[1]);
    bool truncated = false;
    while (out[0] >= 0) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        int count = in[1] >= 0 ? 2 : 1;
        if (::poll(fds, static_cast<nfds_t>(count), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (count == 2 && fds[1].revents != 0) {
            ssize_t n = ::write(in[1], input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if ((n < 0 && errno != EINTR && errno != EAGAIN) || written == input.size()) CloseFd(in[1]);
        }
        if (fds[0].revents != 0) {
            char buffer[4096];
            ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                CloseFd(out[0]);
                break;
            }
            std::size_t room = maxOutput - std::min(maxOutput, output.size());
            truncated = truncated || static_cast<std::size_t>(n) > room;
            output.append(buffer, std::min(room, static_cast<std::size_t>(n)));
        }
    }
    CloseFd(in[1]);
    CloseFd(out[0]);
    if (restore) ::sigaction(SIGPIPE, &old, nullptr);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            output += Errno("cannot wait for " + argv[0]);
            return -1;
        }
    }
    if (truncated) output += "\n(output cut)";
    if (!WIFEXITED(status)) {
        output += "\n" + argv[0] + " did not finish";
        return -1;
    }
    return WEXITSTATUS(status);
}

AtQueue::AtQueue(std::string at, std::string atq, std::string atrm)
    : mAt(std::move(at)), mAtq(std::move(atq)), mAtrm(std::move(atrm)),
      mMarker(std::string(kMarker) + ": " + CWinInfo().getTmpPath()) {}

bool AtQueue::Add(int hour, int minute, const std::string& script) {
    mError.clear();
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        mError = "no such time of day";
        return false;
    }
    if (mMarker.find_first_of("\r\n") != std::string::npos) {
        mError = "the temporary folder's name holds a line break";
        return false;
    }
    char when[8];
    std::snprintf(when, sizeof when, "%02d:%02d", hour, minute);
    std::string output;
    int status = RunProgram({mAt, "-q", std::string(1, kQueue), when}, mMarker + "\n" + script + "\n", output);
    // at says "job N at ..." when it queued the job.
    const std::size_t job = output.find("job ");
    if (status != 0 || job == std::string::npos) {
        mError = output.empty() ? mAt + " failed" : output;
        while (!mError.empty() && mError.back() == '\n') mError.pop_back();
        return false;
    }
    mLastJobId.clear();
    for (std::size_t i = job + 4; i < output.size() && output[i] >= '0' && output[i] <= '9'; ++i) mLastJobId += output[i];
    return true;
}

std::vector<AtJob> AtQueue::OwnJobs() {
    std::vector<AtJob> jobs;
    std::string listing;
    if (RunProgram({mAtq, "-q", std::string(1, kQueue)}, "", listing) != 0) return jobs;
    const std::string user = UserName();
    for (const std::string& line : Split(listing, '\n')) {
        // "ID<TAB>Tue Dec  8 10:01:00 2026 d user": the queue letter and the owner close it.
        std::size_t tab = line.find('\t');
        std::size_t userAt = line.rfind(' ');
        if (tab == std::string::npos || userAt == std::string::npos || userAt < tab + 3) continue;
        if (line.substr(userAt + 1) != user || line[userAt - 1] != kQueue || line[userAt - 2] != ' ') continue;
        std::string id = line.substr(0, tab);
        std::string job;
        if (RunProgram({mAt, "-c", id}, "", job) != 0) continue;
        if (job.find("\n" + mMarker + "\n") == std::string::npos) continue;
        jobs.push_back({id, line.substr(tab + 1, userAt - 2 - tab - 1)});
    }
    return jobs;
}

int AtQueue::RemoveOwn(const std::string& keep) {
    int removed = 0;
    for (const AtJob& job : OwnJobs()) {
        if (!keep.empty() && job.id == keep) continue;
        std::string output;
        if (RunProgram({mAtrm, job.id}, "", output) == 0) ++removed;
    }
    return removed;
}

}  // namespace dorvex
