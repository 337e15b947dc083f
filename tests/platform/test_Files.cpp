#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/Files.h"
#include "support/TempDir.h"

namespace {

TEST(PathNames, SplitWithEitherDelimiter) {
    struct Case {
        const char* name;
        const char* path;
        const char* dir;
        const char* file;
        const char* ext;
        const char* base;
    } cases[] = {
        {"/a/b/host.log", "/a/b/", "/a/b", "host.log", ".log", "host"},
        {"C:\\Temp\\Kexo\\Error.log", "C:\\Temp\\Kexo\\", "C:\\Temp\\Kexo", "Error.log", ".log", "Error"},
        {"a\\b/c.tar.gz", "a\\b/", "a\\b", "c.tar.gz", ".gz", "c.tar"},
        {"noext", "", "", "noext", "", "noext"},
        {"/dir.d/noext", "/dir.d/", "/dir.d", "noext", "", "noext"},
        {"/top", "/", "/", "top", "", "top"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractFilePath(c.name), c.path) << c.name;
        EXPECT_EQ(ExtractFileDir(c.name), c.dir) << c.name;
        EXPECT_EQ(ExtractFileName(c.name), c.file) << c.name;
        EXPECT_EQ(ExtractFileExt(c.name), c.ext) << c.name;
        EXPECT_EQ(ExtractFileBaseName(c.name), c.base) << c.name;
    }
    EXPECT_EQ(ChangeFileExt("/opt/kexo/KexoPluginHost", ".ini"), "/opt/kexo/KexoPluginHost.ini");
    EXPECT_EQ(ChangeFileExt("/opt/k.d/host.exe", ".ini"), "/opt/k.d/host.ini");
    EXPECT_EQ(NormalizePath("%Temp%\\Kexo\\\\TPluginICTracer\\Error.log"), "%Temp%/Kexo/TPluginICTracer/Error.log");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/a//"), "/a");
    EXPECT_EQ(ExpandFileName("/a/./b/../c\\d"), "/a/c/d");
}

class Files : public ::testing::Test {
protected:
    TTempDir dir;
};

TEST_F(Files, ExistsSizeReadAppend) {
    std::string f = dir.File("x.txt");
    EXPECT_FALSE(FileExists(f));
    EXPECT_EQ(FileSize(f), -1);
    EXPECT_THROW(ReadWholeFile(f), EFileError);
    AppendToFile(f, "ab");
    AppendToFile(f, std::string("c\0d", 3));
    EXPECT_TRUE(FileExists(f));
    EXPECT_FALSE(FileExists(dir.Path()));  // a folder is not a file
    EXPECT_TRUE(DirectoryExists(dir.Path()));
    EXPECT_EQ(FileSize(f), 5);
    EXPECT_EQ(ReadWholeFile(f), std::string("abc\0d", 5));
}

TEST_F(Files, BackslashNamesReachTheSameFile) {
    std::string f = dir.Path() + "\\sub\\y.txt";
    ASSERT_TRUE(ForceDirectories(dir.Path() + "\\sub\\"));
    AppendToFile(f, "z");
    EXPECT_EQ(dir.Read("sub/y.txt"), "z");
}

TEST_F(Files, ForceDirectoriesCreatesParentsAndFailsOnAFileInTheWay) {
    EXPECT_TRUE(ForceDirectories(dir.File("a/b/c")));
    EXPECT_TRUE(DirectoryExists(dir.File("a/b/c")));
    EXPECT_TRUE(ForceDirectories(dir.File("a/b/c")));  // already there
    dir.Write("file", "x");
    EXPECT_FALSE(ForceDirectories(dir.File("file/sub")));
}

TEST_F(Files, AtomicWriteReplacesWholeAndLeavesNoTemporaryFile) {
    std::string f = dir.Write("s.ini", "old content that is longer");
    WriteFileAtomic(f, "new");
    EXPECT_EQ(dir.Read("s.ini"), "new");
    int count = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) (void)e, ++count;
    EXPECT_EQ(count, 1);
    EXPECT_THROW(WriteFileAtomic(dir.File("missing/s.ini"), "x"), EFileError);
}

TEST_F(Files, LastWriteTimeIsLocalTime) {
    std::string f = dir.Write("t", "x");
    TDateTime age = 0;
    ASSERT_TRUE(FileAgeLocal(f, age));
    EXPECT_LT(std::abs(age - Now()) * 86400.0, 60.0);  // written just now, in the same clock
    EXPECT_FALSE(FileAgeLocal(dir.File("missing"), age));
}

TEST_F(Files, StreamCreateTruncatesOpenNeedsAFile) {
    std::string f = dir.Write("s.bin", "0123456789");
    {
        TFileStream s(f, TFileStream::Mode::OpenWrite);
        s.Seek(0, SEEK_END);
        s.Write("ab");
        EXPECT_EQ(s.Size(), 12);
    }
    {
        TFileStream s(f, TFileStream::Mode::Create);
        EXPECT_EQ(s.Size(), 0);
        s.Write("x");
    }
    EXPECT_EQ(dir.Read("s.bin"), "x");
    EXPECT_THROW(TFileStream(dir.File("none"), TFileStream::Mode::OpenRead), EFileError);
    EXPECT_THROW(TFileStream(dir.Path(), TFileStream::Mode::OpenRead), EFileError);
}

}  // namespace
