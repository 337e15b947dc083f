#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/ProgramInfo.h"
#include "platform/Strings.h"
#include "support/TempDir.h"
#include "support/TestEnvironment.h"
#include "system/KXSysTools_v20_2.h"

extern char** environ;

namespace {

// The library search of a fresh process: LD_LIBRARY_PATH counts only from the start of a
// process, so the test starts itself again with it set. This hook answers there, before
// any test runs, one found path per requested name, and ends the process.
const bool kSearchChild = [] {
    const char* names = std::getenv("KEXO_SEARCH_CHILD");
    if (!names) return false;
    std::string list = names;
    while (!list.empty()) std::printf("%s\n", FindInSearchPath(CutFirst(list, ":")).c_str());
    std::fflush(stdout);
    _exit(0);
}();

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}


// ---- path variables ----------------------------------------------------------------------

TEST(SysToolsPathVars, ExpandsBuiltInAndEnvironmentNames) {
    TEnvGuard env;
    env.Set("KEXO_TEST_VAR", "value");
    env.Set("Documents", std::nullopt);
    env.Set("DOCUMENTS", std::nullopt);
    env.Set("documents", std::nullopt);
    env.Set("KEXO_UNDEFINED", std::nullopt);
    const std::string exe = ExeFileName();
    const std::string folder = exe.substr(0, exe.rfind('/'));
    struct {
        const char* pattern;
        std::string expected;
    } cases[] = {
        {"", ""},
        {"plain\\text", "plain\\text"},
        {"abc%Temp", "abc%Temp"},                    // unterminated: kept as typed
        {"%", "%"},
        {"%Documents%", "%Documents%"},              // undefined: stays
        {"%Documents|x%\\a", "%Documents%\\a"},      // the option of an environment name is dropped
        {"%KEXO_TEST_VAR%", "value"},
        {"%kexo_test_var%", "value"},                // environment names without regard to case
        {"%KEXO_TEST_VAR|opt%", "value"},
        {"<%KEXO_UNDEFINED%%KEXO_TEST_VAR%>", "<%KEXO_UNDEFINED%value>"},
        {"a%%b", "a%%b"},
        {"%PID%", std::to_string(getpid())},
        {"%pid%", std::to_string(getpid())},
        {"%ExeName%", "system_test_KXSysTools"},
        {"%LibName%", "system_test_KXSysTools"},
        {"%MachineName%", HostComputerName()},
        {"%FullExeName%", exe},
        {"%FULLEXENAME|x%", exe},
        {"%FullExeName|dir%", folder},
        {"%FullExeName|Dir\\%", folder + "/"},
        {"%FullExeName|DIR/%", folder + "/"},
        {"%FullExeName|Directory%", folder},
        {"%FullExeName|Di%", exe},
        {"%FullLibName|Dir\\%trace.log", folder + "/trace.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(ExpandPathVars(c.pattern), c.expected);
    }
}

TEST(SysToolsPathVars, DateAndTimeFollowTheirPatterns) {
    // Formatting "now" on both sides of the call covers a change of second in between.
    struct {
        const char* pattern;
        const char* format;
    } cases[] = {
        {"%Date%", "yyyymmdd"},
        {"%date%", "yyyymmdd"},
        {"%Date|yyyy-mm%", "yyyy-mm"},
        {"%Time%", "hhnnss"},
        {"%DateTime%", "yyyymmdd_hhnnss"},
        {"%datetime|yyyy.mm.dd hh:nn:ss%", "yyyy.mm.dd hh:nn:ss"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        std::string before = FormatDateTime(c.format, Now());
        std::string got = ExpandPathVars(c.pattern);
        std::string after = FormatDateTime(c.format, Now());
        EXPECT_TRUE(got == before || got == after) << got;
    }
    EXPECT_TRUE(std::regex_match(ExpandPathVars("%Date|yyyy-mm%"), std::regex(R"(\d{4}-\d{2})")));
    EXPECT_TRUE(std::regex_match(ExpandPathVars("log_%DateTime%.txt"), std::regex(R"(log_\d{8}_\d{6}\.txt)")));
}

TEST(SysToolsPathVars, TempFallsBackToTheSystemFolders) {
    struct {
        std::optional<std::string> temp, tmp, tmpdir;
        const char* pattern;
        const char* expected;
    } cases[] = {
        {"/t1", "/t2", "/t3", "%Temp%\\Kexo\\", "/t1\\Kexo\\"},
        {std::nullopt, "/t2", "/t3", "%Temp%", "/t2"},
        {std::nullopt, std::nullopt, "/t3", "%TEMP%", "/t3"},
        {std::nullopt, std::nullopt, std::nullopt, "%Temp%\\Kexo\\", "/tmp\\Kexo\\"},
        {"", "", "", "%Temp%", "/tmp"},
        {"/t1", "/t2", std::nullopt, "%Tmp%", "/t2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        TEnvGuard env;
        env.Set("TEMP", c.temp);
        env.Set("TMP", c.tmp);
        env.Set("TMPDIR", c.tmpdir);
        EXPECT_EQ(ExpandPathVars(c.pattern), c.expected);
    }
}

TEST(SysToolsPathVars, ExpandEnvironmentKeepsUndefinedNames) {
    TEnvGuard env;
    env.Set("KEXO_TEST_VAR", "v");
    env.Set("KEXO_UNDEFINED", std::nullopt);
    struct {
        std::string text;
        const char* expected;
    } cases[] = {
        {"a%KEXO_TEST_VAR%b", "avb"},
        {"%KEXO_TEST_VAR%%KEXO_TEST_VAR%", "vv"},
        {"%KEXO_UNDEFINED%", "%KEXO_UNDEFINED%"},
        {"%KEXO_UNDEFINED%KEXO_TEST_VAR%", "%KEXO_UNDEFINEDv"},  // the closing % opens the next name
        {"%KEXO_TEST_VAR", "%KEXO_TEST_VAR"},
        {"100%", "100%"},
        {"%%", "%%"},
        {std::string("cut\0%KEXO_TEST_VAR%", 19), "cut"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ExpandEnvironment(c.text), c.expected);
    }
    for (int p = cvpPID; p <= cvpDownloads; ++p) {
        std::string name = ConfigVarParamName(static_cast<TConfigVarParam>(p));
        EXPECT_EQ(name.substr(0, 3), "cvp");
    }
    EXPECT_STREQ(ConfigVarParamName(cvpDownloads), "cvpDownloads");
    EXPECT_STREQ(ConfigVarParamName(cvpFullLibName), "cvpFullLibName");
}

// ---- modules and machine ------------------------------------------------------------------

TEST(SysToolsMachine, ModulesAreTheTestProgramAndItsLibraries) {
    const std::string exe = ExeFileName();
    EXPECT_EQ(exe, RealPath("/proc/self/exe"));
    EXPECT_EQ(ModuleFileName(), exe);
    EXPECT_EQ(ModulePath(MainModuleHandle()), exe);
    EXPECT_EQ(ModulePath(0), "");
    std::string libc = ModuleFileNameByName("LIBC.so.6");
    EXPECT_TRUE(FileExists(libc)) << libc;
    EXPECT_EQ(ModuleFileNameByName("no-such-module.so"), "");
    EXPECT_EQ(ComputerName(), HostComputerName());
}

TEST(SysToolsMachine, WindowsVersionNaming) {
    struct {
        int major, minor, build;
        const char* sp;
        const char* expected;
    } cases[] = {
        {5, 0, 2195, "Service Pack 4", "Windows 2000 Build 2195 (Service Pack 4)"},
        {5, 1, 2600, "", "Windows XP Build 2600"},
        {5, 2, 3790, "Service Pack 2", "Windows XP64 Build 3790 (Service Pack 2)"},
        {5, 3, 1, "", " Build 1"},  // an unknown minor of a known major has no name
        {6, 0, 6002, "", "Vista Build 6002"},
        {6, 1, 7601, "Service Pack 1", "Windows 7 Build 7601 (Service Pack 1)"},
        {6, 2, 9200, "", "Windows 8 Build 9200"},
        {6, 3, 9600, "", "Windows 8.1 Build 9600"},
        {6, 4, 9841, "", " Build 9841"},
        {10, 0, 19045, "", "Windows 10 Build 19045"},
        {10, 7, 22631, "", "Windows 10 Build 22631"},
        {4, 10, 1998, "", "4.10 Build 1998"},
        {11, 0, 1, "x", "11.0 Build 1 (x)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(WindowsVersionText(c.major, c.minor, c.build, c.sp), c.expected);
    }
}

TEST(SysToolsMachine, DescriptionGivesTheSystemsBitness) {
    utsname u{};
    ASSERT_EQ(uname(&u), 0);
    const std::string version = OSVersionText();
    EXPECT_EQ(version, GetOSInfo().distribution + " Kernel " + u.release);
    // This build is a 64-bit program, so the system under it is 64-bit as well, and it is not
    // a 32-bit program on a 64-bit system.
    static_assert(sizeof(void*) == 8, "the test expects a 64-bit build");
    EXPECT_EQ(OSDescription(), version + " 64-bit");
    EXPECT_FALSE(IsWindows64());
}

TEST(SysToolsMachine, FileVersionComesFromTheFilesRecord) {
    TTempDir dir;
    std::string exe = ExeFileName();
    struct {
        const char* what;
        std::string file;
        const char* expected;
    } cases[] = {
        {"this program", exe, "2.5.0.7"},
        {"this program, backslashes", ReplaceAll(exe, "/", "\\"), "2.5.0.7"},
        {"library without record", KEXO_SEARCH_LIB, "0.0.0.0"},
        {"record without a file version", KEXO_NO_FILE_VERSION_LIB, ""},
        {"text file", dir.Write("a.txt", "FileVersion=1.0.0.0"), "0.0.0.0"},
        {"missing file", dir.File("missing.so"), "0.0.0.0"},
        {"empty name", "", "0.0.0.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(GetFileVersion(c.file), c.expected);
    }
}

TEST(SysToolsMachine, SearchPathFindsProgramFolderThenLoaderPlaces) {
    const std::string exe = ExeFileName();
    const std::string folder = exe.substr(0, exe.rfind('/') + 1);
    // Beside the program.
    std::string found = FindInSearchPath("libsystem_fixture_searchlib.so");
    EXPECT_EQ(found, folder + "libsystem_fixture_searchlib.so");
    EXPECT_EQ(RealPath(found), RealPath(KEXO_SEARCH_LIB));
    // Where the loader found the C library for this very process.
    found = FindInSearchPath("libc.so.6");
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(RealPath(found), RealPath(ModuleFileNameByName("libc.so.6")));
    // Names with a folder are taken as written.
    EXPECT_EQ(FindInSearchPath(KEXO_SEARCH_LIB), KEXO_SEARCH_LIB);
    EXPECT_EQ(FindInSearchPath(ReplaceAll(KEXO_SEARCH_LIB, "/", "\\")), KEXO_SEARCH_LIB);
    for (const char* missing : {"", "libkexo-no-such-library.so", "/nowhere/libc.so.6", "libc.so.6/x"}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(FindInSearchPath(missing), "");
    }
}

TEST(SysToolsMachine, SearchPathHonoursLibraryPathAfterTheProgramFolder) {
    TTempDir dir;
    dir.Write("libkexo_only_in_library_path.so", "not loaded, only found");
    dir.Write("libsystem_fixture_searchlib.so", "shadowed by the program folder");
    // A library of another word size: the loader passes over it, and so does the search.
    std::string foreign;
    {
        std::ifstream in(KEXO_SEARCH_LIB, std::ios::binary);
        foreign.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(foreign.size(), 16u);
    foreign[4] = foreign[4] == 2 ? 1 : 2;  // ELF class
    dir.Write("libkexo_foreign.so", foreign);
    const std::string out = dir.File("child.out");

    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (entry.rfind("LD_LIBRARY_PATH=", 0) != 0 && entry.rfind("KEXO_SEARCH_CHILD=", 0) != 0)
            envText.push_back(entry);
    }
    envText.push_back("LD_LIBRARY_PATH=" + dir.Path());
    envText.push_back(
        "KEXO_SEARCH_CHILD=libkexo_only_in_library_path.so:libsystem_fixture_searchlib.so:libkexo_foreign.so");
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = ExeFileName();
    char* argv[] = {exe.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(rc, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const std::string folder = exe.substr(0, exe.rfind('/') + 1);
    EXPECT_EQ(dir.Read("child.out"), dir.File("libkexo_only_in_library_path.so") + "\n" + folder +
                                         "libsystem_fixture_searchlib.so\n\n");
}

// ---- files --------------------------------------------------------------------------------

TEST(SysToolsFiles, FileDateIsTheLocalLastWriteTime) {
    TTempDir dir;
    EXPECT_EQ(FileDate(dir.File("missing.txt")), MissingFileDate);
    std::string file = dir.Write("dated.txt", "x");
    std::tm local{};
    local.tm_year = 2021 - 1900, local.tm_mon = 2, local.tm_mday = 4;
    local.tm_hour = 5, local.tm_min = 6, local.tm_sec = 7, local.tm_isdst = -1;
    timespec times[2] = {{mktime(&local), 0}, {mktime(&local), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_NEAR(FileDate(file), EncodeDateTime({2021, 3, 4, 5, 6, 7, 0}), 1e-8);
}

TEST(SysToolsFiles, IsFileEmptyIgnoresOnlyAByteOrderMark) {
    TTempDir dir;
    struct {
        const char* what;
        std::optional<std::string> content;
        bool expected;
    } cases[] = {
        {"missing", std::nullopt, true},
        {"size 0", "", true},
        {"mark only", "\xEF\xBB\xBF", true},
        {"mark and one byte", "\xEF\xBB\xBF" "a", false},
        {"part of a mark", "\xEF\xBB", false},
        {"one byte", "a", false},
        {"zero byte", std::string(1, '\0'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir.File(std::string(c.what) + ".txt");
        if (c.content) dir.Write(std::string(c.what) + ".txt", *c.content);
        EXPECT_EQ(IsFileEmpty(path), c.expected);
    }
}

TEST(SysToolsFiles, ReadAndAppend) {
    TTempDir dir;
    const std::string bytes("a\0b\r\n", 5);
    std::string file = dir.Write("bytes.bin", bytes);
    EXPECT_EQ(ReadFileText(file), bytes);
    EXPECT_EQ(ReadFileText("  "), "");
    EXPECT_EQ(ReadFileText(dir.File("missing.txt")), "");

    // A missing folder is created; backslashes are path delimiters.
    std::string log = dir.Path() + "\\sub\\deeper\\log.txt";
    AppendLineToFile(log, "first");
    AppendLineToFile(log, "");
    AppendLineToFile(log, "третья");
    EXPECT_EQ(dir.Read("sub/deeper/log.txt"), "first\r\n\r\nтретья\r\n");
}

TEST(SysToolsFiles, UniqueFileNameTakesTheFirstFreeNumber) {
    TTempDir dir;
    EXPECT_EQ(UniqueFileName(dir.File("host.log")), dir.File("host.log"));
    dir.Write("host.log", "");
    EXPECT_EQ(UniqueFileName(dir.File("host.log")), dir.File("host_1.log"));
    dir.Write("host_1.log", "");
    EXPECT_EQ(UniqueFileName(dir.File("host.log")), dir.File("host_2.log"));
    // A folder of that name is taken as well.
    ASSERT_TRUE(ForceDirectories(dir.File("host_2.log")));
    EXPECT_EQ(UniqueFileName(dir.File("host.log")), dir.File("host_3.log"));
    dir.Write("plain", "");
    EXPECT_EQ(UniqueFileName(dir.File("plain")), dir.File("plain_1"));
}

TEST(SysToolsFiles, IniReadStringReadsOneValue) {
    TTempDir dir;
    std::string ini = dir.Write("host.ini", "[Server]\r\nPort=11754\r\nName=\"quoted\"\r\n[Log]\r\nFile=a.log\r\n");
    struct {
        const char *section, *key, *def, *expected;
    } cases[] = {
        {"Server", "Port", "-", "11754"},
        {"server", "PORT", "-", "11754"},
        {"Server", "Name", "-", "quoted"},
        {"Log", "File", "-", "a.log"},
        {"Log", "Port", "dflt", "dflt"},
        {"Missing", "Port", "dflt", "dflt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(IniReadString(ini, c.section, c.key, c.def), c.expected);
    }
    EXPECT_EQ(IniReadString(dir.File("missing.ini"), "Server", "Port", "dflt"), "dflt");
}

// ---- text ---------------------------------------------------------------------------------

TEST(SysToolsText, PosTextIsOneBasedAndCaseBlind) {
    EXPECT_EQ(BoolText(true), "TRUE");
    EXPECT_EQ(BoolText(false), "FALSE");
    struct {
        const char *sub, *text;
        int from, expected;
    } cases[] = {
        {"b", "abc", 1, 2},   {"B", "abc", 1, 2},     {"b", "abc", 2, 2},   {"b", "abc", 3, 0},
        {"bc", "abc", 2, 2},  {"bc", "abc", 3, 0},    {"abc", "abc", 1, 1}, {"abcd", "abc", 1, 0},
        {"", "abc", 1, 0},    {"x", "", 1, 0},        {"A", "aXa", 2, 3},   {"a", "aXa", 0, 1},
        {"a", "abc", 99, 0},  {"KEXO", "a kexo", 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.sub << " in " << c.text << " from " << c.from);
        EXPECT_EQ(PosText(c.sub, c.text, c.from), c.expected);
    }
}

TEST(SysToolsText, CutFirstTakesThePartBeforeTheSeparator) {
    struct {
        const char *text, *sep, *head, *rest;
    } cases[] = {
        {"a,b,c", ",", "a", "b,c"}, {"abc", ",", "abc", ""}, {",x", ",", "", "x"}, {"a,", ",", "a", ""},
        {"a::b", "::", "a", "b"},   {"", ",", "", ""},       {"aXb", "x", "aXb", ""}, {"abc", "", "abc", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        EXPECT_EQ(CutFirst(text, c.sep), c.head);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(SysToolsText, ExtractBetweenGivesValueAndPositions) {
    struct {
        const char *text, *start, *end;
        int from;
        const char* value;
        int startPos, endPos;
    } cases[] = {
        {"<a>one</a><a>two</a>", "<a>", "</a>", 1, "one", 4, 6},
        {"<a>one</a><a>two</a>", "<a>", "</a>", 7, "two", 14, 16},
        {"<A>x</A>", "<a>", "</a>", 1, "x", 4, 4},
        {"<a></a>", "<a>", "</a>", 1, "", 4, 3},
        {"none here", "<a>", "</a>", 1, "", 0, 0},
        {"<a>open", "<a>", "</a>", 1, "", 4, 7},  // no end mark: nothing, and the scan is over
        {"<a>x</a>", "<a>", "</a>", 2, "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.text << " from " << c.from);
        TExtractResult r = ExtractBetween(c.text, c.start, c.end, c.from);
        EXPECT_EQ(r.value, c.value);
        EXPECT_EQ(r.startPos, c.startPos);
        EXPECT_EQ(r.endPos, c.endPos);
    }
    // A caller scanning on from the end position collects every value and stops, also when
    // the last start mark has no end mark.
    const std::string text = "<v>1</v> <V>22</V><v>3";
    std::vector<std::string> values;
    int from = 1;
    for (int guard = 0; guard < 10; ++guard) {
        TExtractResult r = ExtractBetween(text, "<v>", "</v>", from);
        if (r.startPos == 0) break;
        if (!r.value.empty()) values.push_back(r.value);
        from = r.endPos + 1;
    }
    EXPECT_EQ(values, (std::vector<std::string>{"1", "22"}));
    EXPECT_EQ(ExtractBetween(text, "<v>", "</v>", from).startPos, 0) << "the scan ended";
}

TEST(SysToolsText, PrefixLinesPrefixesEveryPiece) {
    struct {
        const char *text, *prefix, *sep, *expected;
    } cases[] = {
        {"a\r\nb\r\n", "> ", "\r\n", "> a\r\n> b\r\n"},
        {"a\r\nb", "> ", "\r\n", "> a\r\n> b"},
        {"a,,b", "-", ",", "-a,-,-b"},
        {",", "-", ",", "-,"},
        {"one", "\t", "\r\n", "\tone"},
        {"", "> ", "\r\n", ""},
        {"abc", "", ",", "abc"},
        {"abc", "> ", "", "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(PrefixLines(c.text, c.prefix, c.sep), c.expected);
    }
}

TEST(SysToolsText, NumbersInTheGeneralFormat) {
    const double inf = std::numeric_limits<double>::infinity();
    struct {
        double value;
        const char* expected;
    } floats[] = {
        {0, "0"},
        {-0.0, "0"},
        {1.5, "1.5"},
        {-2.25, "-2.25"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {100, "100"},
        {123456789012345.0, "123456789012345"},
        {999999999999999.9, "1E15"},
        {1e15, "1E15"},
        {1e20, "1E20"},
        {-1.5e20, "-1.5E20"},
        {0.00001, "0.00001"},
        {0.0000123, "0.0000123"},
        {0.000001, "1E-6"},
        {1.25e-7, "1.25E-7"},
        {1e300, "1E300"},
        {std::nan(""), "NAN"},
        {inf, "INF"},
        {-inf, "-INF"},
    };
    for (const auto& c : floats) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(FloatToText(c.value), c.expected);
    }
    struct {
        int64_t scaled;
        const char* expected;
    } amounts[] = {
        {0, "0"},
        {10000, "1"},
        {15000, "1.5"},
        {12345, "1.2345"},
        {-1, "-0.0001"},
        {-15000, "-1.5"},
        {std::numeric_limits<int64_t>::max(), "922337203685477.5807"},
        {std::numeric_limits<int64_t>::min(), "-922337203685477.5808"},
    };
    for (const auto& c : amounts) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(CurrencyToText(TCurrency{c.scaled}), c.expected);
    }
    EXPECT_EQ(TCurrency::FromDouble(1.23456).scaled, 12346);
    EXPECT_EQ(TCurrency::FromDouble(-1.5).scaled, -15000);
    EXPECT_EQ(TCurrency::FromDouble(1e30).scaled, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(TCurrency::FromDouble(-1e30).scaled, std::numeric_limits<int64_t>::min());
    EXPECT_EQ(TCurrency::FromDouble(std::nan("")).scaled, 0);
}

class TSampleObject : public TObject {};

class TShyObject : public TObject {
public:
    std::string ClassName() const override { throw Exception("no name today"); }
};

TEST(SysToolsText, ValueToTextCoversEveryKind) {
    TSampleObject object;
    TShyObject shy;
    auto hex = [](const void* p) { return IntToHex(reinterpret_cast<uintptr_t>(p), 4); };
    const TObject* asObject = &object;
    struct {
        const char* what;
        TVarRec value;
        std::string expected;
    } cases[] = {
        {"integer", TVarRec(-42), "-42"},
        {"int64", TVarRec(int64_t{-9000000000}), "-9000000000"},
        {"long long", TVarRec(1234567890123LL), "1234567890123"},
        {"uint64", TVarRec(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
        {"true", TVarRec(true), "TRUE"},
        {"false", TVarRec(false), "FALSE"},
        {"char", TVarRec('x'), "x"},
        {"wide char", TVarRec::WideChar("Ж"), "Ж"},
        {"extended", TVarRec(1.5), "1.5"},
        {"currency", TVarRec(TCurrency{12345}), "1.2345"},
        {"pchar", TVarRec("pchar"), "pchar"},
        {"null pchar", TVarRec(static_cast<const char*>(nullptr)), ""},
        {"unicode string", TVarRec(std::string("юникод")), "юникод"},
        {"short string", TVarRec::Text(TVarRec::vtString, "short"), "short"},
        {"ansi string", TVarRec::Text(TVarRec::vtAnsiString, "ansi"), "ansi"},
        {"wide string", TVarRec::Text(TVarRec::vtWideString, "wide"), "wide"},
        {"pwidechar", TVarRec::Text(TVarRec::vtPWideChar, "pw"), "pw"},
        {"null pointer", TVarRec::Pointer(nullptr), "0000"},
        {"small pointer", TVarRec::Pointer(reinterpret_cast<const void*>(0xAB)), "00AB"},
        {"pointer", TVarRec::Pointer(reinterpret_cast<const void*>(0x12345)), "12345"},
        {"pointer to object", TVarRec::Pointer(asObject, asObject), "TSampleObject(" + hex(asObject) + ")"},
        {"null pointer with object", TVarRec::Pointer(nullptr, asObject), "0000"},
        {"pointer, name fails", TVarRec::Pointer(&shy, &shy), hex(static_cast<const TObject*>(&shy))},
        {"object", TVarRec(asObject), "TSampleObject(" + hex(asObject) + ")"},
        {"null object", TVarRec(static_cast<const TObject*>(nullptr)), "0000"},
        {"object, name fails", TVarRec(static_cast<const TObject*>(&shy)), hex(static_cast<const TObject*>(&shy))},
        {"class", TVarRec::Class(typeid(TSampleObject)), "TSampleObject"},
        {"interface", TVarRec::Interface(reinterpret_cast<const void*>(0x1234)), "00001234"},
        {"null interface", TVarRec::Interface(nullptr), "00000000"},
        {"variant", TVarRec(TVariant::Boolean(true)), "TRUE"},
        {"empty variant", TVarRec(TVariant()), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ValueToText(c.value), c.expected);
    }
}

TEST(SysToolsText, VariantToTextByType) {
    struct {
        const char* what;
        TVariant value;
        const char* expected;
    } cases[] = {
        {"empty", TVariant(), ""},
        {"null", TVariant::Null(), ""},
        {"smallint", TVariant::Integer(varSmallint, -5), "-5"},
        {"integer", TVariant::Integer(varInteger, 2147483647), "2147483647"},
        {"shortint", TVariant::Integer(varShortInt, -128), "-128"},
        {"byte", TVariant::Integer(varByte, 255), "255"},
        {"word", TVariant::Integer(varWord, 65535), "65535"},
        {"longword", TVariant::Integer(varLongWord, 4294967295), "4294967295"},
        {"int64", TVariant::Integer(varInt64, std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
        {"uint64", TVariant::UInt64(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
        {"single", TVariant::Float(varSingle, 0.1), "0.1"},
        {"double", TVariant::Float(varDouble, 0.1), "0.1"},
        {"large double", TVariant::Float(varDouble, 1e20), "1E20"},
        {"currency", TVariant::Currency(TCurrency{-5000}), "-0.5"},
        {"date", TVariant::Date(EncodeDateTime({2024, 2, 29, 13, 5, 9, 7})), "2024.02.29 13:05:09:007"},
        {"olestr", TVariant::String(varOleStr, "ole"), "ole"},
        {"string", TVariant::String(varString, "str"), "str"},
        {"ustring", TVariant::String(varUString, "строка"), "строка"},
        {"dispatch", TVariant::Dispatch(nullptr), "IDispatch"},
        {"true", TVariant::Boolean(true), "TRUE"},
        {"false", TVariant::Boolean(false), "FALSE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(VariantToText(c.value), c.expected);
    }
}

TEST(SysToolsText, UnsupportedVariantTypesRaiseWithTypeAndNumber) {
    struct {
        uint16_t type;
        const char* message;
    } cases[] = {
        {varError, "Unsupported variant type varError (10)"},
        {varVariant, "Unsupported variant type varVariant (12)"},
        {varUnknown, "Unsupported variant type varUnknown (13)"},
        {0x2003, "Unsupported variant type varArray of varInteger (8195)"},
        {0x0049, "Unsupported variant type unknown type (73)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TVariant v = TVariant::Other(static_cast<TVarType>(c.type));
        try {
            VariantToText(v);
            ADD_FAILURE() << "no error";
        } catch (const EVariantError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        // Through a tagged value the error reaches the caller as well.
        EXPECT_THROW(ValueToText(TVarRec(v)), EVariantError);
    }
}

}  // namespace
