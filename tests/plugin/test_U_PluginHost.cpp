// The plugin host against real shared libraries: the fixture plugins take the paths a
// well-behaved plugin never takes, the demo plugin the normal ones. Each test installs the
// library it needs as npKexoPlugin.so in a fresh folder that the library manager searches.

#include "plugin/U_PluginHost.h"

#include <gtest/gtest.h>

#include <barrier>
#include <functional>
#include <latch>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "FixturePaths.h"
#include "FixturePlugin.h"
#include "PluginTestSupport.h"
#include "platform/DynLib.h"

namespace {

// A second opening of an installed fixture: its call record, readable after the host has
// released the library.
class TFixtureRecordReader {
public:
    explicit TFixtureRecordReader(const std::string& path) : FHandle(DynLibOpen(path)) {}
    ~TFixtureRecordReader() {
        if (FHandle) DynLibClose(FHandle);
    }
    TFixtureRecordReader(const TFixtureRecordReader&) = delete;
    TFixtureRecordReader& operator=(const TFixtureRecordReader&) = delete;

    TFixtureRecord Record() const {
        TFixtureRecord r{};
        DynLibProc<TFixture_GetRecord>(FHandle, "Fixture_GetRecord")(&r);
        return r;
    }
    void Reset() const { DynLibProc<TFixture_Reset>(FHandle, "Fixture_Reset")(); }

private:
    TDynLibHandle FHandle;
};

class PluginHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        THostLogCapture::File();
        FinalizeLibUtils();
        Host = std::make_unique<TPluginHost>(Dir.File("host.ini"));
    }
    void TearDown() override {
        // While the hosts still exist: the release clears their variables.
        FinalizeLibUtils();
    }

    // Installs `source` as the plugin and makes its folder the only search folder.
    const std::string& Install(const std::string& source) {
        Installed = std::make_unique<TInstalledPlugin>(source, PluginLibraryName);
        TPathList& folders = LibManager()->PathList();
        folders.Clear();
        folders.Add(Installed->Folder());
        return Installed->Path();
    }
    // Installs an empty folder: no plugin to be found.
    void InstallNothing() {
        LibManager()->PathList().Clear();
        LibManager()->PathList().Add(Dir.Path());
    }

    TTempDir Dir;
    std::unique_ptr<TInstalledPlugin> Installed;
    std::unique_ptr<TPluginHost> Host;
};

TEST_F(PluginHostTest, ConstructionLoadsTheSettingsFile) {
    const std::string ini = Dir.Write("custom.ini", "[Server_HTTP]\r\nPort=12001\r\n[Server_HTTPS]\r\nPort=12002\r\n");
    TPluginHost host(ini);
    EXPECT_EQ(host.Settings().Server_RPC().Port(), 12001);
    EXPECT_EQ(host.Settings().Server_SSL().Port(), 12002);
    EXPECT_EQ(host.LastConnect(), 0.0);
    EXPECT_EQ(host.WS_ExecuteEx(), nullptr);
}

TEST_F(PluginHostTest, ProcessCommandFollowsTheCallingPattern) {
    const std::string commandWithZero("a\0b", 3);
    struct TCase {
        const char* title;
        const char* source;
        std::string command;
        bool result;
        std::string reply;
        std::vector<std::string> entries;  // values of the host log entries; "E " for errors
        int fetchCalls;
    } cases[] = {
        {"a reply", KEXO_FIXTURE_ECHO_PATH, "abc", true, "echo:abc",
         {"Processing command...", "Command processed."}, 1},
        {"an empty command", KEXO_FIXTURE_ECHO_PATH, "", true, "echo:",
         {"Processing command...", "Command processed."}, 1},
        {"bytes passed as received", KEXO_FIXTURE_ECHO_PATH, commandWithZero, true, "echo:" + commandWithZero,
         {"Processing command...", "Command processed."}, 1},
        {"a reply of size 0", KEXO_FIXTURE_REPLY_ZERO_PATH, "x", true, "",
         {"Processing command...", "Command processed."}, 0},
        {"a negative reply size", KEXO_FIXTURE_SIZE_NEGATIVE_PATH, "x", true, "",
         {"Processing command...", "Command processed."}, 0},
        {"a reply counting its zero", KEXO_FIXTURE_COUNTS_ZERO_PATH, "x", true, std::string("counted\0", 8),
         {"Processing command...", "Command processed."}, 1},
        // The size stored during the fetch is not used: the reply keeps the announced length.
        {"a fetch storing a smaller size", KEXO_FIXTURE_FETCH_SHRINKS_PATH, "x", true,
         std::string("short\0\0\0\0\0", 10), {"Processing command...", "Command processed."}, 1},
        {"a failed size query", KEXO_FIXTURE_QUERY_FAILS_PATH, "x", false, "",
         {"Processing command...", "E ProcessCommand: Error preparing reply!"}, 0},
        {"a failed fetch", KEXO_FIXTURE_FETCH_FAILS_PATH, "x", false, std::string(5, '\0'),
         {"Processing command...", "E ProcessCommand: Error receiving reply!"}, 1},
        {"a plugin that raises", KEXO_FIXTURE_EXECUTE_THROWS_PATH, "x", false, "",
         {"Processing command...", "E Processing error: Exception runtime_error: fixture: execution failed"}, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.title);
        TFixtureRecordReader fixture(Install(c.source));
        ASSERT_TRUE(Host->LoadPlugin());
        fixture.Reset();
        THostLogCapture log;

        std::string reply = "stale";
        EXPECT_EQ(Host->ProcessCommand(c.command, reply), c.result);
        EXPECT_EQ(reply, c.reply);

        std::vector<std::string> entries;
        for (const TLogEntry& e : log.Entries()) {
            EXPECT_EQ(e.SenderClass(), "TPluginHost");
            entries.push_back((e.IsError() ? "E " : "") + e.Value());
        }
        EXPECT_EQ(entries, c.entries);

        TFixtureRecord r = fixture.Record();
        EXPECT_EQ(r.queryCalls, 1);
        EXPECT_EQ(r.fetchCalls, c.fetchCalls);
        EXPECT_EQ(r.otherModeCalls, 0);
        EXPECT_EQ(r.executeCalls, 0);  // bound, never called
        // Both calls: the command's bytes and its length counting the terminating zero.
        EXPECT_EQ(r.lastCommandSize, static_cast<int32_t>(c.command.size() + 1));
        EXPECT_EQ(r.lastCommandWasNull, 0);
        EXPECT_EQ(std::string(r.lastCommand, c.command.size() + 1), c.command + '\0');
        // The size query: no buffer, a size preset to 0; the fetch: the size it stored.
        EXPECT_EQ(r.lastQueryBufferWasNull, 1);
        EXPECT_EQ(r.lastQueryReplySizeIn, 0);
        if (c.fetchCalls) { EXPECT_EQ(r.lastFetchReplySizeIn, static_cast<int32_t>(c.reply.size())); }

        ASSERT_TRUE(Host->UnloadPlugin());
    }
}

TEST_F(PluginHostTest, ProcessCommandWithoutALibrary) {
    THostLogCapture log;
    std::string reply = "stale";
    EXPECT_FALSE(Host->ProcessCommand("x", reply));
    EXPECT_EQ(reply, "");
    auto entries = log.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Value(), "Processing command...");
    EXPECT_TRUE(entries[1].IsError());
    EXPECT_EQ(entries[1].Value(), "No executor! Library not loaded?");
}

TEST_F(PluginHostTest, LoadingTheDemoPlugin) {
    const std::string path = Install(KEXO_SAMPLE_PLUGIN_PATH);
    THostLogCapture log;
    ASSERT_TRUE(Host->LoadPlugin());
    EXPECT_TRUE(Host->IsPluginLoaded());
    EXPECT_EQ(Host->PluginPath(), path);
    EXPECT_EQ(Host->PluginVersion(), KEXO_SAMPLE_PLUGIN_VERSION);

    auto entries = log.Entries();
    const TLogEntry* loaded = log.Find(entries, "Library loaded: npKexoPlugin.so");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->SenderClass(), "TKXLibManager");
    EXPECT_FALSE(loaded->IsError());
    EXPECT_NE(loaded->Body.find(" " + path + ": "), std::string::npos) << loaded->Body;  // the detail
    const TLogEntry* version = log.Find(entries, std::string("Library version: ") + KEXO_SAMPLE_PLUGIN_VERSION);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->SenderClass(), "TPluginHost");

    std::string reply;
    ASSERT_TRUE(Host->ProcessCommand(R"({"ID" : "1", "Method" : "GetVersion"})", reply));
    EXPECT_EQ(nlohmann::json::parse(reply).at("Result"), KEXO_SAMPLE_PLUGIN_VERSION);
}

TEST_F(PluginHostTest, LoadPluginOutcomes) {
    struct TCase {
        const char* title;
        const char* source;  // none: no plugin to be found
        bool result;
        bool loaded;
        int initCalls;
        std::string errorEntry;  // the first error entry, "" for none
    } cases[] = {
        {"no library", nullptr, false, false, 0, "Failed to load library npKexoPlugin.so"},
        {"a missing export", KEXO_FIXTURE_MISSING_EXPORT_PATH, false, true, 0,
         "Failed to load procedures from npKexoPlugin.so"},
        {"initialisation raises", KEXO_FIXTURE_INIT_THROWS_PATH, true, true, 1,
         "Library initialization: Exception runtime_error: fixture: initialisation failed"},
        {"every export", KEXO_FIXTURE_ECHO_PATH, true, true, 1, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.title);
        std::unique_ptr<TFixtureRecordReader> fixture;
        if (c.source) {
            fixture = std::make_unique<TFixtureRecordReader>(Install(c.source));
            fixture->Reset();
        } else {
            InstallNothing();
        }
        THostLogCapture log;
        EXPECT_EQ(Host->LoadPlugin(), c.result);
        EXPECT_EQ(Host->IsPluginLoaded(), c.loaded);
        EXPECT_EQ(Host->PluginPath(), c.loaded ? Installed->Path() : "");
        EXPECT_EQ(Host->PluginVersion(), c.loaded ? "0.0.0.0" : "");  // the fixtures have no version record
        if (fixture) { EXPECT_EQ(fixture->Record().initCalls, c.initCalls); }

        auto entries = log.Entries();
        std::string firstError;
        bool versionEntry = false;
        for (const TLogEntry& e : entries) {
            if (e.IsError() && firstError.empty()) firstError = e.Value();
            if (e.Value().rfind("Library version: ", 0) == 0) versionEntry = true;
        }
        EXPECT_EQ(firstError, c.errorEntry);
        EXPECT_EQ(versionEntry, c.result);
        if (c.loaded) { EXPECT_TRUE(Host->UnloadPlugin()); }
    }
}

TEST_F(PluginHostTest, AMissingExportLeavesTheFoundOnesUsable) {
    TFixtureRecordReader fixture(Install(KEXO_FIXTURE_MISSING_EXPORT_PATH));
    EXPECT_FALSE(Host->LoadPlugin());
    EXPECT_NE(Host->WS_ExecuteEx(), nullptr);
    EXPECT_EQ(Host->WS_Shutdown(), nullptr);
    std::string reply;
    EXPECT_TRUE(Host->ProcessCommand("x", reply));
    EXPECT_EQ(reply, "echo:x");
    EXPECT_TRUE(Host->UnloadPlugin());
    EXPECT_EQ(Host->WS_ExecuteEx(), nullptr);
    EXPECT_EQ(fixture.Record().shutdownCalls, 0);
}

TEST_F(PluginHostTest, UnloadPluginShutsDownAndUnbinds) {
    TFixtureRecordReader fixture(Install(KEXO_FIXTURE_ECHO_PATH));
    ASSERT_TRUE(Host->LoadPlugin());
    fixture.Reset();
    THostLogCapture log;
    ASSERT_TRUE(Host->UnloadPlugin());
    EXPECT_EQ(fixture.Record().shutdownCalls, 1);
    EXPECT_FALSE(Host->IsPluginLoaded());
    EXPECT_EQ(Host->PluginPath(), "");
    EXPECT_EQ(Host->WS_Initialize(), nullptr);
    EXPECT_EQ(Host->WS_Execute(), nullptr);
    EXPECT_EQ(Host->WS_ExecuteEx(), nullptr);
    EXPECT_EQ(Host->WS_Shutdown(), nullptr);
    EXPECT_EQ(log.Values(), std::vector<std::string>{"Unloaded library npKexoPlugin.so"});

    // The manager's reports no longer reach the host log.
    THostLogCapture later;
    void* target = nullptr;
    EXPECT_FALSE(LoadDynLibrary("/nonexistent-kexo/none_such.so", {&target}, {"x"}));
    EXPECT_TRUE(later.Entries().empty());

    EXPECT_FALSE(Host->UnloadPlugin());
    EXPECT_EQ(fixture.Record().shutdownCalls, 1);
    std::string reply;
    EXPECT_FALSE(Host->ProcessCommand("x", reply));
}

TEST_F(PluginHostTest, AShutdownThatRaisesReachesTheCaller) {
    Install(KEXO_FIXTURE_SHUTDOWN_THROWS_PATH);
    ASSERT_TRUE(Host->LoadPlugin());
    EXPECT_THROW(Host->UnloadPlugin(), std::runtime_error);
    EXPECT_TRUE(Host->IsPluginLoaded());
}

TEST_F(PluginHostTest, ReleasingTheLibraryUnbindsEveryHost) {
    Install(KEXO_FIXTURE_ECHO_PATH);
    TPluginHost other(Dir.File("host.ini"));
    ASSERT_TRUE(Host->LoadPlugin());
    ASSERT_TRUE(other.LoadPlugin());
    ASSERT_TRUE(Host->UnloadPlugin());
    // Still counted for the other host, which keeps working.
    std::string reply;
    EXPECT_TRUE(other.ProcessCommand("y", reply));
    EXPECT_EQ(reply, "echo:y");
    ASSERT_TRUE(other.UnloadPlugin());
    EXPECT_EQ(other.WS_ExecuteEx(), nullptr);

    // The final release at the end of the program unbinds a host that never unloaded.
    ASSERT_TRUE(Host->LoadPlugin());
    FinalizeLibUtils();
    EXPECT_EQ(Host->WS_ExecuteEx(), nullptr);
    EXPECT_FALSE(Host->ProcessCommand("z", reply));
}

TEST_F(PluginHostTest, AHostFreedBeforeTheReleaseIsLeftAlone) {
    Install(KEXO_FIXTURE_ECHO_PATH);
    auto early = std::make_unique<TPluginHost>(Dir.File("host.ini"));
    ASSERT_TRUE(early->LoadPlugin());
    ASSERT_TRUE(early->LoadPlugin());
    early.reset();
    TKXDynLibrary* library = LibManager()->FindLibrary(PluginLibraryName);
    ASSERT_NE(library, nullptr);
    // Its variables are gone from the bookkeeping, so the release writes into no freed memory.
    EXPECT_TRUE(library->Points().empty());
    EXPECT_TRUE(UnloadDynLibrary(PluginLibraryName));
    EXPECT_TRUE(UnloadDynLibrary(PluginLibraryName));
}

TEST_F(PluginHostTest, MarkActivityRecordsTheTime) {
    const TDateTime before = Now();
    Host->MarkActivity();
    const TDateTime after = Now();
    EXPECT_GE(Host->LastConnect(), before);
    EXPECT_LE(Host->LastConnect(), after);
}

TEST_F(PluginHostTest, AgentNameIsProgramAndVersion) {
    std::string text;
    Host->AgentName(text);
    // The test program carries no version record.
    EXPECT_EQ(text, "plugin_test_U_PluginHost/0.0.0.0");
}

// Many connection threads at once: every reply belongs to its own command. The demo plugin
// keeps each thread's measured reply for its fetch, so a host that mixed up threads, or
// fetched with another command, would get a refusal or another thread's bytes.
using PluginHostConcurrency = PluginHostTest;

TEST_F(PluginHostConcurrency, EveryReplyMatchesItsCommand) {
    Install(KEXO_SAMPLE_PLUGIN_PATH);
    ASSERT_TRUE(Host->LoadPlugin());
    constexpr int Threads = 16;
    constexpr int Commands = 30;
    auto command = [](int t, int i) {
        return R"({"ID" : ")" + std::to_string(t) + "-" + std::to_string(i) +
               R"(", "Plugin" : "VOVidez", "Method" : "Hash", "Params" : [{"Data" : "payload )" +
               std::to_string(t * 1000 + i) + R"("}]})";
    };
    // The expected replies, one thread at a time.
    std::vector<std::vector<std::string>> expected(Threads, std::vector<std::string>(Commands));
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < Commands; ++i) ASSERT_TRUE(Host->ProcessCommand(command(t, i), expected[t][i]));

    THostLogCapture log;
    std::barrier start(Threads);
    std::vector<std::vector<std::string>> replies(Threads, std::vector<std::string>(Commands));
    std::vector<std::vector<char>> results(Threads, std::vector<char>(Commands, 0));
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < Commands; ++i) results[t][i] = Host->ProcessCommand(command(t, i), replies[t][i]);
        });
    }
    for (auto& th : threads) th.join();

    for (int t = 0; t < Threads; ++t) {
        for (int i = 0; i < Commands; ++i) {
            SCOPED_TRACE("thread " + std::to_string(t) + " command " + std::to_string(i));
            EXPECT_TRUE(results[t][i]);
            EXPECT_EQ(replies[t][i], expected[t][i]);
            EXPECT_EQ(nlohmann::json::parse(replies[t][i]).at("ID"), std::to_string(t) + "-" + std::to_string(i));
        }
    }
    int processed = 0;
    for (const std::string& v : log.Values()) processed += v == "Command processed.";
    EXPECT_EQ(processed, Threads * Commands);
}

// At exit the library is released while connection threads may still be inside a command:
// each command either completes whole or finds no executor, and none runs in a released
// library. The echo fixture is really unmapped by the release; the demo plugin takes no
// lock of its own, so nothing else orders its commands before the release.
TEST_F(PluginHostConcurrency, ReleaseWhileCommandsRun) {
    const std::string data(4096, 'd');
    struct TCase {
        const char* what;
        const char* plugin;
        std::function<std::string(const std::string& id)> command;
        std::function<bool(const std::string& id, const std::string& reply)> good;
    } cases[] = {
        {"echo fixture", KEXO_FIXTURE_ECHO_PATH, [](const std::string& id) { return id; },
         [](const std::string& id, const std::string& reply) { return reply == "echo:" + id; }},
        {"demo plugin", KEXO_SAMPLE_PLUGIN_PATH,
         [&](const std::string& id) {
             return R"({"ID" : ")" + id + R"(", "Method" : "Hash", "Params" : [{"Data" : ")" + data + R"("}]})";
         },
         [](const std::string& id, const std::string& reply) {
             nlohmann::json parsed = nlohmann::json::parse(reply, nullptr, false);
             return parsed.is_object() && parsed.value("ID", "") == id && parsed.value("Result", "").size() == 64;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Install(c.plugin);
        ASSERT_TRUE(Host->LoadPlugin());
        constexpr int Threads = 8;
        std::latch allBusy(Threads);
        std::vector<std::string> problems(Threads);
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t) {
            threads.emplace_back([&, t] {
                bool counted = false;
                for (int i = 0;; ++i) {
                    const std::string id = std::to_string(t) + "/" + std::to_string(i);
                    std::string reply;
                    const bool done = Host->ProcessCommand(c.command(id), reply);
                    if (!counted) {
                        allBusy.count_down();
                        counted = true;
                    }
                    if (!done) break;
                    if (!c.good(id, reply)) {
                        problems[t] = id + " gave " + reply;
                        break;
                    }
                }
            });
        }
        allBusy.wait();
        EXPECT_TRUE(Host->UnloadPlugin());
        for (auto& th : threads) th.join();
        for (int t = 0; t < Threads; ++t) EXPECT_EQ(problems[t], "") << "thread " << t;
    }
}

TEST_F(PluginHostConcurrency, LastConnectIsWrittenAndReadWhole) {
    constexpr int Writers = 4;
    std::barrier start(Writers + 1);
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&] {
            start.arrive_and_wait();
            while (!stop.load()) Host->MarkActivity();
        });
    }
    start.arrive_and_wait();
    const TDateTime first = Now();
    for (int i = 0; i < 2000; ++i) {
        const TDateTime seen = Host->LastConnect();
        // A torn value would be far outside the span of this test.
        if (seen != 0) { ASSERT_GE(seen, first - 1.0 / 86400); }
        ASSERT_LE(seen, Now());
    }
    stop = true;
    for (auto& w : writers) w.join();
}

}  // namespace
