#pragma once
// A real full disk for fault tests: a small tmpfs mounted on a private folder (root only; the
// test is skipped with a message otherwise), used as the temporary folder while it lives, and
// a filler file that takes the free space on request.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace dorvex::test {

class SmallDisk {
public:
    explicit SmallDisk(const std::string& size = "4m") {
        std::string pattern = (std::filesystem::temp_directory_path() / "dorvex-disk-XXXXXX").string();
        mPath = ::mkdtemp(pattern.data());
        if (::geteuid() != 0 || ::mount("tmpfs", mPath.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) {
            mSkip = "a small disk needs root to mount a tmpfs (CI runs as root)";
            ::rmdir(mPath.c_str());
            return;
        }
        mMounted = true;
        const char* old = std::getenv("DORVEX_TMPDIR");
        mOld = old ? old : "";
        mHadOld = old != nullptr;
        ::setenv("DORVEX_TMPDIR", mPath.c_str(), 1);
    }
    ~SmallDisk() {
        if (!mMounted) return;
        if (mHadOld) ::setenv("DORVEX_TMPDIR", mOld.c_str(), 1);
        else ::unsetenv("DORVEX_TMPDIR");
        ::umount2(mPath.c_str(), MNT_DETACH);
        ::rmdir(mPath.c_str());
    }
    // Why the disk could not be had; empty when it is mounted.
    const std::string& SkipReason() const { return mSkip; }
    const std::string& Path() const { return mPath; }
    std::string File(const std::string& name) const { return mPath + "/" + name; }

    // Takes every free byte but `leave`.
    void Fill(std::size_t leave = 0) {
        int fd = ::open(File(".filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ASSERT_GE(fd, 0);
        std::vector<char> block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
        if (leave > 0) Free(leave);
    }
    // Gives back `bytes` of the filler.
    void Free(std::size_t bytes) {
        std::string filler = File(".filler");
        auto size = std::filesystem::file_size(filler);
        std::filesystem::resize_file(filler, size > bytes ? size - bytes : 0);
    }
    void Empty() { std::filesystem::remove(File(".filler")); }

private:
    std::string mPath;
    std::string mSkip;
    std::string mOld;
    bool mHadOld = false;
    bool mMounted = false;
};

#define DORVEX_NEED_SMALL_DISK(disk) \
    if (!(disk).SkipReason().empty()) GTEST_SKIP() << (disk).SkipReason()

}  // namespace dorvex::test
