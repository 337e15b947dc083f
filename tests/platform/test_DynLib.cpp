#include "platform/DynLib.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <barrier>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FixturePaths.h"
#include "FixturePlugin.h"
#include "npKexoPlugin.h"
#include "platform/ProgramInfo.h"
#include "support/TempDir.h"

namespace {

// Closes what a test opened even when an assertion leaves early.
class TOpened {
public:
    explicit TOpened(std::string_view name) : FHandle(DynLibOpen(name)) {}
    ~TOpened() {
        if (FHandle) DynLibClose(FHandle);
    }
    TOpened(const TOpened&) = delete;
    TOpened& operator=(const TOpened&) = delete;
    TDynLibHandle Get() const { return FHandle; }
    TDynLibHandle Release() { return std::exchange(FHandle, nullptr); }

private:
    TDynLibHandle FHandle;
};

std::string ProgramFolder() {
    std::string program = ProgramFileName();
    return program.substr(0, program.rfind('/'));
}

std::string KindOf(TDynLibHandle handle) {
    auto kind = static_cast<const char*>(DynLibSymbol(handle, "Fixture_Kind"));
    return kind ? kind : "";
}

// Whether the system loader still has the file mapped, without taking a reference.
bool StillLoaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

std::string CopyFile(const std::string& from, const std::string& to) {
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    return to;
}

}  // namespace

TEST(DynLibOpen, FullPathGivesItsExportsByExactName) {
    TOpened lib(KEXO_FIXTURE_ECHO_PATH);
    ASSERT_NE(lib.Get(), nullptr) << DynLibLastErrorMessage();
    EXPECT_EQ(DynLibPath(lib.Get()), KEXO_FIXTURE_ECHO_PATH);
    EXPECT_EQ(KindOf(lib.Get()), "echo");

    auto execute = DynLibProc<TWS_ExecuteEx>(lib.Get(), "WS_ExecuteEx");
    ASSERT_NE(execute, nullptr);
    char command[] = "hi";
    int32_t size = 0;
    ASSERT_EQ(execute(command, 3, nullptr, &size, WS_MODE_QUERY_SIZE), 0);
    EXPECT_EQ(size, 7);  // "echo:hi"

    // Look-up is exact: neither another case nor a prefix finds the export.
    for (const char* name : {"ws_executeex", "WS_Execute_", "WS_ExecuteE", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(DynLibSymbol(lib.Get(), name), nullptr);
    }
    EXPECT_NE(DynLibLastErrorMessage().find("undefined symbol"), std::string::npos) << DynLibLastErrorMessage();
}

TEST(DynLibOpen, MissingExportLeavesTheOthersFindable) {
    TOpened lib(KEXO_FIXTURE_MISSING_EXPORT_PATH);
    ASSERT_NE(lib.Get(), nullptr) << DynLibLastErrorMessage();
    for (const char* name : {"WS_Initialize", "WS_Execute", "WS_ExecuteEx"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(DynLibSymbol(lib.Get(), name), nullptr);
    }
    EXPECT_EQ(DynLibSymbol(lib.Get(), "WS_Shutdown"), nullptr);
    EXPECT_NE(DynLibLastErrorMessage().find("WS_Shutdown"), std::string::npos) << DynLibLastErrorMessage();
}

TEST(DynLibOpen, FailuresSetTheLastErrorOfTheLoader) {
    TTempDir dir;
    const std::string textFile = dir.Write("notalib.so", "this is not a shared library\n");
    const std::string missing = dir.File("missing.so");
    struct TCase {
        const char* what;
        std::string name;
        int code;              // expected DynLibLastErrorCode, -1 for any
        std::string mentions;  // the message names this
    } cases[] = {
        {"empty name", "", EINVAL, ""},
        {"missing file by path", missing, ENOENT, missing},
        {"file that is no library", textFile, -1, textFile},
        {"unresolved reference", KEXO_FIXTURE_UNRESOLVED_PATH, -1, "kexo_fixture_symbol_defined_nowhere"},
        {"bare name found nowhere", "kexo_fixture_nowhere.so", -1, "kexo_fixture_nowhere.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TOpened lib(c.name);
        EXPECT_EQ(lib.Get(), nullptr);
        if (c.code >= 0) {
            EXPECT_EQ(DynLibLastErrorCode(), c.code);
        }
        EXPECT_FALSE(DynLibLastErrorMessage().empty());
        EXPECT_NE(DynLibLastErrorMessage().find(c.mentions), std::string::npos) << DynLibLastErrorMessage();
        // Code 0 stands for exactly this failure.
        EXPECT_EQ(DynLibErrorMessage(0), DynLibLastErrorMessage());
    }
}

TEST(DynLibOpen, BareNameIsFoundBesideTheProgramFirst) {
    // The build puts a copy of the echo fixture beside this test program under this name;
    // no other place the loader searches has it.
    const std::string beside = ProgramFolder() + "/kexo_fixture_beside.so";
    ASSERT_TRUE(std::filesystem::exists(beside));
    EXPECT_EQ(DynLibProgramFolderCandidate("kexo_fixture_beside.so"), beside);

    TOpened lib("kexo_fixture_beside.so");
    ASSERT_NE(lib.Get(), nullptr) << DynLibLastErrorMessage();
    EXPECT_EQ(DynLibPath(lib.Get()), beside);
    EXPECT_EQ(KindOf(lib.Get()), "echo");
}

TEST(DynLibOpen, BareNameFallsBackToTheSystemSearch) {
    ASSERT_FALSE(std::filesystem::exists(ProgramFolder() + "/libcrypto.so.3"));
    TOpened lib("libcrypto.so.3");
    ASSERT_NE(lib.Get(), nullptr) << DynLibLastErrorMessage();
    std::string path = DynLibPath(lib.Get());
    EXPECT_EQ(path.front(), '/') << path;
    EXPECT_EQ(std::filesystem::path(path).filename(), "libcrypto.so.3") << path;
    EXPECT_NE(DynLibSymbol(lib.Get(), "EVP_sha256"), nullptr);
}

TEST(DynLibOpen, BackslashCountsAsFolderDelimiter) {
    TTempDir dir;
    const std::string copy = CopyFile(KEXO_FIXTURE_ECHO_PATH, dir.File("sub/echo_copy.so"));
    std::string windowsStyle = copy;
    std::replace(windowsStyle.begin(), windowsStyle.end(), '/', '\\');
    TOpened lib(windowsStyle);
    ASSERT_NE(lib.Get(), nullptr) << DynLibLastErrorMessage();
    EXPECT_EQ(DynLibPath(lib.Get()), copy);
}

TEST(DynLibOpen, RelativePathIsReportedInFull) {
    TTempDir dir;
    const std::string copy = CopyFile(KEXO_FIXTURE_ECHO_PATH, dir.File("rel/echo_rel.so"));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    TOpened lib("rel/echo_rel.so");
    std::string path = lib.Get() ? DynLibPath(lib.Get()) : DynLibLastErrorMessage();
    std::filesystem::current_path(previous);
    ASSERT_NE(lib.Get(), nullptr) << path;
    EXPECT_EQ(std::filesystem::weakly_canonical(path), std::filesystem::weakly_canonical(copy)) << path;
    EXPECT_EQ(path.front(), '/') << path;
}

TEST(DynLibClose, LastCloseReleasesTheModule) {
    TTempDir dir;
    // A private copy: no other test or fixture user holds this file open.
    const std::string copy = CopyFile(KEXO_FIXTURE_ECHO_PATH, dir.File("echo_close.so"));
    TDynLibHandle first = DynLibOpen(copy);
    TDynLibHandle second = DynLibOpen(copy);
    ASSERT_NE(first, nullptr) << DynLibLastErrorMessage();
    ASSERT_NE(second, nullptr) << DynLibLastErrorMessage();

    EXPECT_TRUE(DynLibClose(first));
    EXPECT_TRUE(StillLoaded(copy));
    EXPECT_EQ(KindOf(second), "echo");
    EXPECT_TRUE(DynLibClose(second));
    EXPECT_FALSE(StillLoaded(copy));
}

TEST(DynLibClose, NoneHandleIsRefused) {
    EXPECT_FALSE(DynLibClose(nullptr));
    EXPECT_EQ(DynLibLastErrorCode(), EINVAL);
    EXPECT_EQ(DynLibSymbol(nullptr, "WS_Initialize"), nullptr);
    EXPECT_EQ(DynLibPath(nullptr), "");
}

TEST(DynLibPath, ModuleOfAnAddress) {
    TOpened lib(KEXO_FIXTURE_ECHO_PATH);
    ASSERT_NE(lib.Get(), nullptr) << DynLibLastErrorMessage();
    static const int inProgram = 0;
    struct TCase {
        const char* what;
        const void* address;
        std::string expected;
    } cases[] = {
        {"program data", &inProgram, ProgramFileName()},
        {"program code", reinterpret_cast<const void*>(&ProgramFolder), ProgramFileName()},
        {"library data", DynLibSymbol(lib.Get(), "Fixture_Kind"), KEXO_FIXTURE_ECHO_PATH},
        {"library code", DynLibSymbol(lib.Get(), "WS_Initialize"), KEXO_FIXTURE_ECHO_PATH},
        {"no address", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DynLibPathOfAddress(c.address), c.expected);
    }
}

TEST(DynLibError, NonZeroCodeGivesTheSystemText) {
    EXPECT_EQ(DynLibErrorMessage(ENOENT), std::strerror(ENOENT));
    EXPECT_EQ(DynLibErrorMessage(EACCES), std::strerror(EACCES));
}

// Each thread keeps its own last error, like the system's last error: a failure in one
// thread does not change what another reports for its own failure.
TEST(DynLibConcurrency, LastErrorBelongsToEachThread) {
    constexpr int kThreads = 8;
    std::barrier afterFailure(kThreads);
    std::vector<std::string> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            std::string name = "/nonexistent/kexo_thread_" + std::to_string(i) + ".so";
            TDynLibHandle h = DynLibOpen(name);
            afterFailure.arrive_and_wait();  // every thread has failed before any reads
            seen[i] = h ? "opened?" : DynLibLastErrorMessage();
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(seen[i].find("kexo_thread_" + std::to_string(i) + ".so"), std::string::npos) << seen[i];
    }
}

TEST(DynLibConcurrency, ManyThreadsOpenLookUpAndClose) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 50;
    std::barrier start(kThreads);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            for (int r = 0; r < kRounds; ++r) {
                TDynLibHandle h = DynLibOpen(KEXO_FIXTURE_ECHO_PATH);
                if (!h || !DynLibSymbol(h, "WS_ExecuteEx") || DynLibPath(h) != KEXO_FIXTURE_ECHO_PATH) ++failures[i];
                if (h && !DynLibClose(h)) ++failures[i];
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(failures[i], 0) << "thread " << i;
}
