// dorvex cscript and dorvex jobs: the runner of the delayed upload's script, and what is
// scheduled and still waiting.

#include <iostream>

#include "Commands.h"
#include "platform/AtQueue.h"
#include "server/DelayUpload.h"
#include "server/Robot.h"
#include "support/ModFS.h"
#include "support/Prompter.h"

namespace dorvex::cli {

int Cscript(const Args& args) {
    if (args.size() != 1) return UsageError("cscript needs exactly one script file");
    StderrPrompter prompter;
    AtQueue queue;
    Robot robot(prompter, queue);
    try {
        RunRobotScript(args[0], robot);
    } catch (const std::exception& e) {
        std::cerr << "dorvex cscript: " << e.what() << "\n";
        return 1;
    }
    // Files the server did not take stay listed for the next run.
    return FileExists(ListFilePath()) && GetFileLength(ListFilePath()) > 0 ? 1 : 0;
}

int Jobs(const Args& args) {
    if (!args.empty()) return UsageError("jobs takes no arguments");
    AtQueue queue;
    std::vector<AtJob> jobs = queue.OwnJobs();
    std::cout << "Scheduled delayed uploads: " << jobs.size() << "\n";
    for (const AtJob& job : jobs) std::cout << "  job " << job.id << " at " << job.when << "\n";
    const std::string list = ListFilePath();
    if (!FileExists(list)) {
        std::cout << "Files waiting: 0\n";
        return 0;
    }
    try {
        std::vector<ListFileLine> lines = ReadListFile(list);
        std::cout << "Files waiting: " << lines.size() << " (" << list << ")\n";
        for (const ListFileLine& line : lines) {
            const bool missing = !FileExists(line.fields[0]);
            if (line.fields.size() < 6) {
                std::cout << "  " << line.text << "  (not a list line)\n";
            } else {
                std::cout << "  " << line.fields[2] << " page " << line.fields[4] << " of " << line.fields[3] << ": "
                          << line.fields[0] << (missing ? "  (missing)" : "") << "\n";
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "dorvex jobs: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace dorvex::cli
