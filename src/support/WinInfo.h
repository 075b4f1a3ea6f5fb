#pragma once
// The private temporary folder, temporary page files and random document identifiers.

#include <string>

namespace dorvex {

class CWinInfo {
public:
    // The per-user temporary folder, created with mode 0700 when missing and never ending with
    // "/": $DORVEX_TMPDIR, else $XDG_CACHE_HOME/dorvex, else $HOME/.cache/dorvex. It survives a
    // reboot, so the recovery file and the page files it lists are still there after a crash.
    std::string getTmpPath() const;
    // Creates a new empty file "KQ??????.tmp" in the temporary folder and returns its path.
    std::string getTmpFileName() const;
    // Ten characters from "0-9a-zA-Z", drawn from the operating system's random source.
    std::string getUniqueID() const;

    static constexpr std::string_view kAlphabet =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    int AlphabetLength() const { return mAlphabetLength; }

private:
    int mAlphabetLength = static_cast<int>(kAlphabet.size());
};

}  // namespace dorvex
