#pragma once
// The subcommands of the dorvex command line. Each takes its arguments (without the command
// name) and returns the exit status.

#include <string>
#include <vector>

namespace dorvex {
class ScanProperties;
}

namespace dorvex::cli {

using Args = std::vector<std::string>;

int Encrypt(const Args& args);
int Decrypt(const Args& args);
int Upload(const Args& args);
int Server(const Args& args);
int Clean(const Args& args);
int Ocr(const Args& args);

int Scan(const Args& args);
int Window(const Args& args);
int Recover(const Args& args);
int Devices(const Args& args);
int Demo(const Args& args);
int Cscript(const Args& args);
int Jobs(const Args& args);
int Host(const Args& args);

// Prints "dorvex: problem" and the hint to standard error; returns the usage exit status 64.
int UsageError(const std::string& problem);

// Shared by the commands.
// The path of a program installed beside this one.
std::string BesideThisProgram(const std::string& name);
// Replaces this process with the program (args[0] is its path); returns only on failure.
void ExecProgram(std::vector<std::string> args);
std::string JsonString(const std::string& text);
// "Settings (NAME=default):" and every setting's name and default.
std::string SettingsHelp();
// "NAME=VALUE" into the session settings; false for an unknown name or no "=".
bool ApplySetting(const std::string& nameValue, ScanProperties& settings);

}  // namespace dorvex::cli
