#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>

#include "TestUtil.h"
#include "support/Event.h"
#include "support/ModFS.h"
#include "support/ModShow.h"
#include "support/Trace.h"
#include "support/Version.h"
#include "support/WinInfo.h"

using namespace dorvex;

TEST(Version, TheLibraryReportsTheProjectVersion) {
    EXPECT_STREQ(dorvex::LibraryVersion(), DORVEX_PROJECT_VERSION);
}

TEST(WinInfo, TemporaryFolderIsPrivateAndHasNoTrailingSlash) {
    test::TempFolder dir;
    std::string nested = dir.File("a/b/");
    ::setenv("DORVEX_TMPDIR", nested.c_str(), 1);
    CWinInfo info;
    std::string path = info.getTmpPath();
    EXPECT_EQ(path, dir.File("a/b"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    std::string file = info.getTmpFileName();
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(GetFileLength(file), 0);
    EXPECT_EQ(file.rfind(path + "/KQ", 0), 0u);
    EXPECT_NE(info.getTmpFileName(), file);
}

TEST(WinInfo, UniqueIdsUseTheAlphabetAndDoNotRepeat) {
    CWinInfo info;
    EXPECT_EQ(info.AlphabetLength(), 62);
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        std::string id = info.getUniqueID();
        ASSERT_EQ(id.size(), 10u);
        for (char c : id) ASSERT_NE(CWinInfo::kAlphabet.find(c), std::string_view::npos);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 2000u);  // back-to-back calls within one clock tick
}

namespace {
struct FakeWindow : ITopMostWindow {
    std::vector<bool> calls;
    void SetTopMostOrder(bool topMost) override { calls.push_back(topMost); }
};
}  // namespace

TEST(ModShow, FramingOnlyWhenTheSwitchIsOn) {
    FakeWindow window;
    SetTopMostEnabled(false);
    MakeTopMost(&window);
    { NotTopMostScope scope(&window); }
    EXPECT_TRUE(window.calls.empty());
    SetTopMostEnabled(true);
    { NotTopMostScope scope(&window); }
    EXPECT_EQ(window.calls, (std::vector<bool>{false, true}));
    SetTopMostEnabled(false);
}

TEST(Trace, ScopesWriteStartAndEndEvenOnException) {
    std::vector<std::string> lines;
    auto previous = SetTraceSink([&](std::string_view text) { lines.emplace_back(text); });
    try {
        TraceScope scope("StartUploadFiles");
        throw 1;
    } catch (int) {
    }
    SetTraceSink(previous);
    EXPECT_EQ(lines, (std::vector<std::string>{"StartUploadFiles Start", "StartUploadFiles End"}));
}

TEST(DebugMessage, TextsOfTheUploadEvents) {
    EXPECT_EQ(UploadAddressMessage("http://h/x.php"), "上傳網址:http://h/x.php");
    EXPECT_EQ(UploadResultMessage("A1", 0, ""), "Inno=A1\r\nErrCode=0\r\nErrDescription=");
    EXPECT_EQ(UploadResultMessage("A2", -3, "重複"), "Inno=A2\r\nErrCode=-3\r\nErrDescription=重複");

    Event<std::string> debugMessage;
    debugMessage.Raise("dropped without listeners");
    std::vector<std::string> got;
    debugMessage.Connect([&](std::string text) { got.push_back(text); });
    debugMessage.Raise(UploadAddressMessage("u"));
    EXPECT_EQ(got, (std::vector<std::string>{"上傳網址:u"}));
}

#include "support/Text.h"

TEST(Text, TrimCaseAndSplit) {
    EXPECT_EQ(Trim("  a b \r\n"), "a b");
    EXPECT_EQ(Trim("\t x \t", " "), "\t x \t");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(ToUpperAscii("tiff 主旨"), "TIFF 主旨");
    EXPECT_EQ(ToLowerAscii("True"), "true");
    EXPECT_EQ(Split("a|b||c", '|'), (std::vector<std::string>{"a", "b", "", "c"}));
    EXPECT_EQ(Split("", ','), (std::vector<std::string>{""}));
}
