#include "support/ModFS.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "TestUtil.h"
#include "support/Error.h"

using namespace dorvex;

TEST(ModFS, GetFileNameStripsFoldersQueriesAndExtensions) {
    EXPECT_EQ(GetFileName("C:/scan/a.TIF", ".tif"), "a");
    EXPECT_EQ(GetFileName("C:\\in\\page.jpg?x=1", ".*"), "page");
    EXPECT_EQ(GetFileName(".profile", ".*"), ".profile");
    EXPECT_EQ(GetFileName("/srv/scan/文件.tif", ".TIF"), "文件");
    EXPECT_EQ(GetFileName("/srv/scan/a.tif", ".jpg"), "a.tif");
    EXPECT_EQ(GetFileName("/srv/scan/a.b.tif", ""), "a.b.tif");
    EXPECT_EQ(GetFileName("/srv/scan/a.b.tif", ".*"), "a.b");
    EXPECT_EQ(GetFileName("/srv/scan/", ".*"), "");
    EXPECT_EQ(GetFileExtension("/x/a.b.tif"), "tif");
    EXPECT_EQ(GetFileExtension("/x/noext"), "");
}

TEST(ModFS, ListFilesSkipsThumbsDbAndMatchesWithoutCase) {
    test::TempFolder dir;
    EXPECT_TRUE(ListFiles(dir.Path(), "*", false).empty());
    WriteBytesToFile("x", dir.File("THUMBS.DB"));
    EXPECT_TRUE(ListFiles(dir.Path(), "*", false).empty());
    WriteBytesToFile("x", dir.File("b.TIF"));
    WriteBytesToFile("x", dir.File("a.tif"));
    WriteBytesToFile("x", dir.File("c.jpg"));
    EXPECT_EQ(ListFiles(dir.Path(), "*.tif", false), (std::vector<std::string>{"a.tif", "b.TIF"}));
    EXPECT_EQ(ListFiles(dir.Path() + "/", "*.jpg", true), (std::vector<std::string>{dir.File("c.jpg")}));
    EXPECT_TRUE(ListFiles(dir.File("missing"), "*", false).empty());
}

TEST(ModFS, FileQueriesAndWrites) {
    test::TempFolder dir;
    std::string path = dir.File("data.bin");
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(WriteBytesToFile("abc", ""));
    EXPECT_FALSE(AppendBytesToFile("abc", ""));
    EXPECT_TRUE(WriteBytesToFile(std::string("a\0b", 3), path));
    EXPECT_TRUE(AppendBytesToFile("cd", path));
    EXPECT_EQ(ReadFileBytes(path), std::string("a\0bcd", 5));
    EXPECT_EQ(GetFileLength(path), 5);
    EXPECT_EQ(GetFileLength(""), 0);
    EXPECT_EQ(GetFileLength(dir.File("none")), 0);
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_TRUE(FolderExists(dir.Path()));
    EXPECT_FALSE(FolderExists(path));
    std::string text("ab\0cd", 5);
    EXPECT_EQ(TrimAtNull(text), "ab");
    EXPECT_EQ(text, "ab");
}

TEST(ModFS, AtomicWriteReplacesWholeOrKeepsOld) {
    test::TempFolder dir;
    std::string path = dir.File("settings.ini");
    WriteFileAtomic(path, "old");
    WriteFileAtomic(path, "new content");
    EXPECT_EQ(ReadFileBytes(path), "new content");
    // A folder that does not exist: an error, and no stray files anywhere.
    EXPECT_THROW(WriteFileAtomic(dir.File("missing/x.ini"), "data"), DorvexError);
    std::size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) { (void)e; ++entries; }
    EXPECT_EQ(entries, 1u);
    EXPECT_THROW(ReadFileBytes(dir.File("none")), DorvexError);
}

TEST(ModFS, WritesReportAFullDisk) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP();
    // Writing through a full device must fail loudly rather than report success.
    EXPECT_FALSE(WriteBytesToFile("abc", "/dev/full"));
}

TEST(ModFS, ABoundedReadTakesOnlyARegularFileWithinItsLimit) {
    test::TempFolder tmp;
    const std::string file = tmp.File("list.dat");
    WriteFileAtomic(file, std::string(100, 'x'));
    EXPECT_EQ(ReadFileBounded(file, 100).size(), 100u);
    EXPECT_THROW(ReadFileBounded(file, 99), DorvexError);
    EXPECT_THROW(ReadFileBounded(tmp.File("missing"), 100), DorvexError);
    EXPECT_THROW(ReadFileBounded(tmp.Path(), 100), DorvexError);
    // A pipe in the file's place is refused at once instead of holding the reader.
    const std::string pipe = tmp.File("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_THROW(ReadFileBounded(pipe, 100), DorvexError);
    // So is a device that never ends.
    EXPECT_THROW(ReadFileBounded("/dev/zero", 100), DorvexError);
}
