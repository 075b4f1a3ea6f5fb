#include "support/WinInfo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/Error.h"
#include "support/ModMath.h"
#include "support/Random.h"

namespace dorvex {
namespace {

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// mkdir -p with mode 0700 for every folder it creates.
void MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            throw DorvexError(err::PathNotFound,
                              "cannot create the temporary folder " + part + ": " + std::strerror(errno));
        }
        if (slash == std::string::npos) break;
    }
}

}  // namespace

std::string CWinInfo::getTmpPath() const {
    std::string folder = EnvOrEmpty("DORVEX_TMPDIR");
    if (folder.empty()) {
        std::string cache = EnvOrEmpty("XDG_CACHE_HOME");
        if (cache.empty()) {
            std::string home = EnvOrEmpty("HOME");
            cache = (home.empty() ? std::string("/tmp") : home) + "/.cache";
        }
        folder = cache + "/dorvex";
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    MakeFolders(folder);
    return folder;
}

std::string CWinInfo::getTmpFileName() const {
    std::string path = getTmpPath() + "/KQXXXXXX.tmp";
    int fd = ::mkstemps(path.data(), 4);
    if (fd < 0) {
        throw DorvexError(err::PathNotFound, "cannot create a temporary file in " + getTmpPath() + ": " +
                                                 std::strerror(errno));
    }
    ::close(fd);
    return path;
}

std::string CWinInfo::getUniqueID() const {
    std::string id;
    for (int i = 0; i < 10; ++i) {
        // Same mapping as ever (r = round(u * 62), clamped into 1..62), fed from a source that
        // cannot repeat when two documents get numbers within one clock tick.
        int r = static_cast<int>(RoundHalfEven(SystemRandomUnit() * mAlphabetLength));
        if (r < 1) r = 1;
        if (r > mAlphabetLength) r = mAlphabetLength;
        id.push_back(kAlphabet[static_cast<std::size_t>(r - 1)]);
    }
    return id;
}

}  // namespace dorvex
