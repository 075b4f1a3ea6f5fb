#pragma once
// A private folder per test, used as the temporary folder and the settings folder.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace dorvex::test {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dorvex-test-XXXXXX").string();
        mPath = ::mkdtemp(pattern.data());
        const char* old = std::getenv("DORVEX_TMPDIR");
        mOld = old ? old : "";
        mHadOld = old != nullptr;
        ::setenv("DORVEX_TMPDIR", mPath.c_str(), 1);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
        if (mHadOld) ::setenv("DORVEX_TMPDIR", mOld.c_str(), 1);
        else ::unsetenv("DORVEX_TMPDIR");
    }
    const std::string& Path() const { return mPath; }
    std::string File(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
    std::string mOld;
    bool mHadOld = false;
};

}  // namespace dorvex::test
