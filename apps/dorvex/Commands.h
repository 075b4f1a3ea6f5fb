#pragma once
// The subcommands of the dorvex command line. Each takes its arguments (without the command
// name) and returns the exit status.

#include <string>
#include <vector>

namespace dorvex::cli {

using Args = std::vector<std::string>;

int Encrypt(const Args& args);
int Decrypt(const Args& args);
int Upload(const Args& args);
int Server(const Args& args);
int Clean(const Args& args);

// Prints "dorvex: problem" and the hint to standard error; returns the usage exit status 64.
int UsageError(const std::string& problem);

}  // namespace dorvex::cli
