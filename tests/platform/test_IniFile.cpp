#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Files.h"
#include "platform/IniFile.h"
#include "support/TempDir.h"

namespace {

class IniFile : public ::testing::Test {
protected:
    TTempDir dir;
};

TEST_F(IniFile, ReadsValuesByTheFileRules) {
    std::string path = dir.Write("host.ini",
                                 "[Server]\r\n"
                                 "DevMode=true\r\n"
                                 "ProxyMonitor=\r\n"
                                 "IdleTime=abc\r\n"
                                 "Domains=\"quoted value\"\r\n"
                                 "Single='x'\r\n"
                                 "Odd=\"x'\r\n"
                                 "\r\n"
                                 "[server_http]\n"
                                 "port=\n"
                                 "[Log]\n"
                                 "FileName = %Temp%\\host.log\n");
    TMemIniFile ini(path);
    EXPECT_FALSE(ini.ReadBool("Server", "DevMode", false));  // only a leading '1' is true
    EXPECT_TRUE(ini.ReadBool("Server", "ProxyMonitor", true));  // empty: the default
    EXPECT_EQ(ini.ReadInteger("Server", "IdleTime", 300), 300);
    EXPECT_EQ(ini.ReadInteger("SERVER_HTTP", "Port", 11754), 11754);
    EXPECT_EQ(ini.ReadString("server", "domains", ""), "quoted value");
    EXPECT_EQ(ini.ReadString("Server", "Single", ""), "x");
    EXPECT_EQ(ini.ReadString("Server", "Odd", ""), "\"x'");
    EXPECT_EQ(ini.ReadString("Log", "FileName", ""), "%Temp%\\host.log");
    EXPECT_EQ(ini.ReadString("Missing", "Key", "def"), "def");
}

TEST_F(IniFile, BooleansAndIntegers) {
    struct {
        const char* value;
        bool asBool;  // default false
        int asInt;    // default -1
    } cases[] = {{"1", true, 1}, {"0", false, 0}, {"10", true, 10}, {"yes", false, -1},
                 {"-5", false, -5}, {"99999999999", false, -1}};
    for (const auto& c : cases) {
        TMemIniFile ini(dir.File("none.ini"));
        ini.WriteString("S", "K", c.value);
        EXPECT_EQ(ini.ReadBool("S", "K", false), c.asBool) << c.value;
        EXPECT_EQ(ini.ReadInteger("S", "K", -1), c.asInt) << c.value;
    }
}

TEST_F(IniFile, KeepsUnknownContentAndPlacesNewKeysAtTheEndOfTheirSection) {
    std::string path = dir.Write("host.ini",
                                 "[Other]\r\nKeep=me\r\n; a comment\r\n\r\n"
                                 "[Server]\r\nIdleTime=10\r\nUnknown=1\r\n");
    TMemIniFile ini(path);
    ini.WriteInteger("server", "IDLETIME", 20);
    ini.WriteString("Server", "Domains", "a;b");
    ini.WriteBool("Log2", "On", true);
    ini.UpdateFile();
    EXPECT_EQ(dir.Read("host.ini"),
              "[Other]\r\nKeep=me\r\n; a comment\r\n\r\n"
              "[Server]\r\nIdleTime=20\r\nUnknown=1\r\nDomains=a;b\r\n\r\n"
              "[Log2]\r\nOn=1\r\n");
}

TEST_F(IniFile, StringsReadBackAsWrittenInMemoryAndThroughTheFile) {
    // A value enclosed in quotes or with blanks at its ends would otherwise lose its quotes
    // or blanks on reading: a domain list with one quoted entry came back as two entries.
    const char* values[] = {"\"a b\"", "\"a b\";\"c d\"", "'x'", "\"x'", "\"", " lead", "trail\t", "a;b", ""};
    std::string path = dir.File("round.ini");
    {
        TMemIniFile ini(path);
        for (size_t i = 0; i < std::size(values); ++i) {
            ini.WriteString("S", "K" + std::to_string(i), values[i]);
            EXPECT_EQ(ini.ReadString("S", "K" + std::to_string(i), "?"), values[i]);
        }
        ini.UpdateFile();
    }
    TMemIniFile reread(path);
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(reread.ReadString("S", "K" + std::to_string(i), "?"), values[i]) << values[i];
}

TEST_F(IniFile, LineBreaksCannotSmuggleLinesIntoTheFile) {
    std::string path = dir.Write("host.ini", "[Server]\r\nDomains=a\r\n");
    TMemIniFile ini(path);
    struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {{"Server", "Domains", "x\r[Log]\rFileName=/tmp/evil"},
                 {"Server", "Domains", "x\nDevMode=1"},
                 {"Server", "Domains\r\nDevMode", "1"},
                 {"Log]\n[Server", "K", "v"}};
    for (const auto& c : cases) EXPECT_THROW(ini.WriteString(c.section, c.key, c.value), EIniFileError) << c.value;
    EXPECT_EQ(ini.ReadString("Server", "Domains", ""), "a");
    ini.UpdateFile();
    EXPECT_EQ(dir.Read("host.ini"), "[Server]\r\nDomains=a\r\n");
}

TEST_F(IniFile, LinesWithoutAKeyAreKeptAsTheyStand) {
    // "=[Log]" has no key; written back without its "=" it would open a section.
    std::string path = dir.Write("host.ini", "[Server]\r\n=[Log]\r\n=x\r\nK=1\r\n");
    TMemIniFile ini(path);
    ini.WriteString("Server", "K", "2");
    ini.UpdateFile();
    EXPECT_EQ(dir.Read("host.ini"), "[Server]\r\n=[Log]\r\n=x\r\nK=2\r\n");
    EXPECT_FALSE(TMemIniFile(path).SectionExists("Log"));
}

TEST_F(IniFile, SectionLineWithACommentAfterItOpensTheSection) {
    // Otherwise the keys under it were taken as keys of the section before it.
    std::string path = dir.Write("host.ini",
                                 "[Server]\r\nIdleTime=10\r\n"
                                 "[Log] ; where the log goes\r\nFileName=host.log\r\n"
                                 "[Server_HTTP]\t# listener\r\nPort=8080\r\n");
    TMemIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Log", "FileName", ""), "host.log");
    EXPECT_EQ(ini.ReadString("Server", "FileName", "none"), "none");
    EXPECT_EQ(ini.ReadInteger("Server_HTTP", "Port", 0), 8080);
    ini.WriteInteger("Server", "IdleTime", 20);
    ini.UpdateFile();
    EXPECT_EQ(dir.Read("host.ini"),
              "[Server]\r\nIdleTime=20\r\n\r\n"
              "[Log] ; where the log goes\r\nFileName=host.log\r\n\r\n"
              "[Server_HTTP]\t# listener\r\nPort=8080\r\n");
}

TEST_F(IniFile, ContentIsLoadedOnceAndLaterWritesBySomeoneElseAreNotSeen) {
    std::string path = dir.Write("host.ini", "[S]\r\nK=1\r\n");
    TMemIniFile ini(path);
    dir.Write("host.ini", "[S]\r\nK=2\r\n");
    EXPECT_EQ(ini.ReadInteger("S", "K", 0), 1);
}

TEST_F(IniFile, UpdateCreatesTheFolderAndReplacesTheFileWhole) {
    std::string path = dir.File("a/b/host.ini");
    TMemIniFile ini(path);
    ini.WriteString("Server", "Domains", "x");
    ini.UpdateFile();
    EXPECT_EQ(dir.Read("a/b/host.ini"), "[Server]\r\nDomains=x\r\n");
    // No temporary file stays behind.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("a/b"))) (void)e, ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(IniFile, FailedWriteRaisesAndKeepsTheOldFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
    std::string path = dir.Write("ro/host.ini", "[S]\r\nK=old\r\n");
    chmod(dir.File("ro").c_str(), 0500);
    TMemIniFile ini(path);
    ini.WriteString("S", "K", "new");
    EXPECT_THROW(ini.UpdateFile(), EIniFileError);
    EXPECT_EQ(dir.Read("ro/host.ini"), "[S]\r\nK=old\r\n");
    EXPECT_EQ(ini.ReadString("S", "K", ""), "new");
}

TEST_F(IniFile, FolderThatCannotBeCreatedRaises) {
    dir.Write("file", "x");
    TMemIniFile ini(dir.File("file/sub/host.ini"));  // a file stands where a folder should be
    ini.WriteString("S", "K", "v");
    EXPECT_THROW(ini.UpdateFile(), EIniFileError);
}

}  // namespace
