#include "support/ModFS.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "support/CodePage.h"
#include "support/Error.h"

namespace dorvex {
namespace {

char AsciiLower(char32_t c) {
    return static_cast<char>(c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c);
}

bool EqualsIgnoringCase(std::u32string_view a, std::u32string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char32_t x = a[i] < 128 ? static_cast<char32_t>(AsciiLower(a[i])) : a[i];
        char32_t y = b[i] < 128 ? static_cast<char32_t>(AsciiLower(b[i])) : b[i];
        if (x != y) return false;
    }
    return true;
}

std::string ErrnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAt(const std::string& path, std::string_view bytes, int flags) {
    if (path.empty()) return false;
    int fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern, bool withFolder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (EqualsIgnoringCase(ToU32(name), U"thumbs.db")) continue;
        if (::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    if (withFolder) {
        std::string prefix = folder;
        if (prefix.empty() || prefix.back() != '/') prefix += '/';
        for (auto& name : names) name = prefix + name;
    }
    return names;
}

std::string GetFileName(std::string_view path, std::string_view extension) {
    std::size_t cut = path.find_last_of("/\\");
    std::string_view piece = cut == std::string_view::npos ? path : path.substr(cut + 1);
    if (std::size_t question = piece.find('?'); question != std::string_view::npos) {
        piece = piece.substr(0, question);
    }
    if (extension.empty()) return std::string(piece);
    if (extension == ".*") {
        std::size_t dot = piece.rfind('.');
        if (dot != std::string_view::npos && dot > 0) return std::string(piece.substr(0, dot));
        return std::string(piece);
    }
    std::u32string wide = ToU32(piece);
    std::u32string ext = ToU32(extension);
    if (wide.size() >= ext.size() &&
        EqualsIgnoringCase(std::u32string_view(wide).substr(wide.size() - ext.size()), ext)) {
        return ToUtf8(std::u32string_view(wide).substr(0, wide.size() - ext.size()));
    }
    return std::string(piece);
}

std::string GetFileExtension(std::string_view path) {
    std::size_t dot = path.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot + 1));
}

bool WriteBytesToFile(std::string_view bytes, const std::string& path) {
    return WriteAt(path, bytes, O_TRUNC);
}

bool AppendBytesToFile(std::string_view bytes, const std::string& path) {
    return WriteAt(path, bytes, O_APPEND);
}

std::int64_t GetFileLength(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return 0;
    return static_cast<std::int64_t>(st.st_size);
}

std::string TrimAtNull(std::string& text) {
    if (std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

bool SyncFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw DorvexError(err::FileNotFound, ErrnoText("cannot open", path));
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw DorvexError(err::DeviceIo, ErrnoText("cannot read", path));
    return data;
}

std::string ReadFileBounded(const std::string& path, std::size_t limit) {
    // Non-blocking, so that a pipe put in the file's place cannot hold the reader.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw DorvexError(err::FileNotFound, ErrnoText("cannot open", path));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw DorvexError(err::InvalidArgument, path + " is not a regular file");
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            throw DorvexError(err::DeviceIo, ErrnoText("cannot read", path));
        }
        if (got == 0) break;
        if (data.size() + static_cast<std::size_t>(got) > limit) {
            ::close(fd);
            throw DorvexError(err::InvalidArgument, path + " is larger than " + std::to_string(limit) + " bytes");
        }
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return data;
}

void WriteFileAtomic(const std::string& path, std::string_view bytes) {
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) throw DorvexError(err::PathNotFound, ErrnoText("cannot create a file beside", path));
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    bool ok = true;
    while (ok && left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            ok = false;
        } else {
            data += written;
            left -= static_cast<std::size_t>(written);
        }
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = savedErrno;
        throw DorvexError(err::DeviceIo, ErrnoText("cannot write", path));
    }    // The rename itself is kept only once the folder is on the disk.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);  // some file systems refuse a folder's sync; the file itself is synced
        ::close(dir);
    }
}

}  // namespace dorvex
