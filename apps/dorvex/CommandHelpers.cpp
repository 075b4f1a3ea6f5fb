#include <cstdio>
#include <filesystem>
#include <unistd.h>
#include <sstream>

#include "Commands.h"
#include "model/ScanProperties.h"

namespace dorvex::cli {

std::string BesideThisProgram(const std::string& name) {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (self.parent_path() / name).string();
}

void ExecProgram(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
}

std::string JsonString(const std::string& text) {
    std::ostringstream out;
    out << '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"': out << "\\\""; break;
            case '\\': out << "\\\\"; break;
            case '\n': out << "\\n"; break;
            case '\r': out << "\\r"; break;
            case '\t': out << "\\t"; break;
            default:
                if (c < 0x20) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\u%04x", c);
                    out << hex;
                } else {
                    out << c;
                }
        }
    }
    out << '"';
    return out.str();
}

std::string SettingsHelp() {
    std::ostringstream out;
    out << "Settings (NAME=default):\n";
    int column = 0;
    for (const PropertyInfo& info : PropertyTable()) {
        if (info.name.empty()) continue;
        std::string item = "  " + std::string(info.name) + "=" + std::string(info.defaultValue);
        out << item << std::string(item.size() < 26 ? 26 - item.size() : 1, ' ');
        if (++column % 3 == 0) out << "\n";
    }
    out << "\n";
    return out.str();
}

bool ApplySetting(const std::string& nameValue, ScanProperties& settings) {
    std::size_t eq = nameValue.find('=');
    int index = eq == std::string::npos ? -1 : PropertyIndexByName(nameValue.substr(0, eq));
    if (index < 0) return false;
    settings.Set(index, nameValue.substr(eq + 1));
    return true;
}

}  // namespace dorvex::cli
