// The demo plugin npKexoPlugin.so, driven through the dynamic-library layer exactly the way
// the host drives it: size query with a null buffer and a zeroed size, then a fetch into a
// buffer of exactly that size, the command's size counting its terminating zero.

#include <gtest/gtest.h>

#include <barrier>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "FixturePaths.h"
#include "npKexoPlugin.h"
#include "platform/DynLib.h"
#include "platform/FileVersion.h"

namespace {

using json = nlohmann::json;

const std::string kAbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

struct TOutcome {
    int32_t queryStatus = 0;
    int32_t fetchStatus = 0;
    int32_t size = 0;
    std::string reply;
};

class SamplePlugin : public ::testing::Test {
protected:
    void SetUp() override {
        FHandle = DynLibOpen(KEXO_SAMPLE_PLUGIN_PATH);
        ASSERT_NE(FHandle, nullptr) << DynLibLastErrorMessage();
        Initialize = DynLibProc<TWS_Initialize>(FHandle, "WS_Initialize");
        Execute = DynLibProc<TWS_Execute>(FHandle, "WS_Execute");
        ExecuteEx = DynLibProc<TWS_ExecuteEx>(FHandle, "WS_ExecuteEx");
        Shutdown = DynLibProc<TWS_Shutdown>(FHandle, "WS_Shutdown");
        ASSERT_TRUE(Initialize && Execute && ExecuteEx && Shutdown);
        ASSERT_EQ(Initialize(), 0);
    }
    void TearDown() override {
        if (Shutdown) Shutdown();
        if (FHandle) DynLibClose(FHandle);
    }

    // The host's two calls; the fetch only when the query gave a positive size.
    TOutcome Run(const std::string& command) const {
        TOutcome out;
        const int32_t commandSize = static_cast<int32_t>(command.size()) + 1;  // c_str() adds the zero
        out.queryStatus = ExecuteEx(command.c_str(), commandSize, nullptr, &out.size, WS_MODE_QUERY_SIZE);
        if (out.queryStatus < 0 || out.size <= 0) return out;
        out.reply.assign(static_cast<size_t>(out.size), '\xAA');
        out.fetchStatus = ExecuteEx(command.c_str(), commandSize, out.reply.data(), &out.size, WS_MODE_FETCH);
        return out;
    }

    // Runs a command that must succeed and gives its reply as JSON.
    json Reply(const std::string& command) const {
        TOutcome out = Run(command);
        EXPECT_GE(out.queryStatus, 0);
        EXPECT_GE(out.fetchStatus, 0);
        EXPECT_GT(out.reply.size(), 0u);
        // The reply carries no terminating zero: its last byte closes the JSON object.
        if (!out.reply.empty()) {
            EXPECT_EQ(out.reply.back(), '}');
        }
        return json::parse(out.reply, nullptr, false);
    }

    static std::string Command(const std::string& method, const json& params, const std::string& id = "1") {
        return json{{"ID", id}, {"Plugin", "VOVidez"}, {"Method", method}, {"Params", params}}.dump();
    }

    TDynLibHandle FHandle = nullptr;
    TWS_Initialize Initialize = nullptr;
    TWS_Execute Execute = nullptr;
    TWS_ExecuteEx ExecuteEx = nullptr;
    TWS_Shutdown Shutdown = nullptr;
};

}  // namespace

TEST_F(SamplePlugin, MethodsAnswerWithTheirResult) {
    const json none = json::array();
    struct TCase {
        const char* what;
        std::string command;
        std::string result;
    } cases[] = {
        {"version", Command("GetVersion", none), KEXO_SAMPLE_PLUGIN_VERSION},
        {"hash of text", Command("Hash", {{{"Data", "abc"}}}), kAbcSha256},
        {"hash of hex", Command("Hash", {{{"Data", "616263"}}, {{"DataFormat", "hex"}}}), kAbcSha256},
        {"hash of base64", Command("Hash", {{{"Data", "YWJj"}}, {{"DataFormat", "base64"}}}), kAbcSha256},
        {"hash as base64", Command("Hash", {{{"Data", "abc"}}, {{"Format", "base64"}}}),
         "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0="},
        {"hash of nothing", Command("Hash", {{{"Data", ""}}}),
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"hash of one padded base64 byte", Command("Hash", {{{"Data", "YQ=="}}, {{"DataFormat", "base64"}}}),
         "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"},
        {"params as a plain object", Command("Hash", {{"Data", "abc"}}), kAbcSha256},
        {"first of two same names counts", Command("Hash", {{{"Data", "abc"}}, {{"Data", "zzz"}}}), kAbcSha256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        json reply = Reply(c.command);
        ASSERT_TRUE(reply.is_object()) << c.command;
        EXPECT_EQ(reply.value("Result", "<none>"), c.result);
        EXPECT_FALSE(reply.contains("Error")) << reply.dump();
    }
}

TEST_F(SamplePlugin, ReplyEchoesTheCommandInTheOrderTheHostReads) {
    std::string reply;
    {
        TOutcome out = Run(R"({"ID":"42","Plugin":"VOVidez","Method":"GetVersion","Params":[]})");
        ASSERT_EQ(out.fetchStatus, 0);
        reply = out.reply;
    }
    EXPECT_EQ(reply, std::string(R"({"ID":"42","Plugin":"VOVidez","Method":"GetVersion","Result":")") +
                         KEXO_SAMPLE_PLUGIN_VERSION + "\"}");
}

TEST_F(SamplePlugin, VersionMatchesTheFileVersionRecord) {
    std::map<std::string, std::string> record;
    ASSERT_TRUE(ReadVersionRecord(KEXO_SAMPLE_PLUGIN_PATH, record));
    EXPECT_EQ(record["FileVersion"], Reply(Command("GetVersion", json::array()))["Result"]);
}

TEST_F(SamplePlugin, RandomGivesTheAskedNumberOfFreshBytes) {
    struct TCase {
        json params;
        size_t length;
    } cases[] = {
        {{{{"Count", "16"}}}, 32},
        {{{{"Count", 16}}}, 32},
        {{{{"Count", "3"}}, {{"Format", "base64"}}}, 4},
        {json::array(), 64},  // 32 bytes by default
        {{{{"Count", "1024"}}}, 2048},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.params.dump());
        std::string first = Reply(Command("Random", c.params)).value("Result", "");
        std::string second = Reply(Command("Random", c.params)).value("Result", "");
        EXPECT_EQ(first.size(), c.length);
        EXPECT_EQ(second.size(), c.length);
        EXPECT_NE(first, second);
    }
}

TEST_F(SamplePlugin, AntifrodInfoAnswersTheHostsOwnQuery) {
    // The text the host writes for this query, blanks and all.
    json reply = Reply(R"({ "ID" : "", "Plugin" : "VOVidez", "Method" : "AntifrodInfo", "Params" : [] })");
    ASSERT_TRUE(reply.is_object());
    EXPECT_EQ(reply.value("ID", "<none>"), "");
    // The host reads Result as a string, so the information is JSON text inside it.
    ASSERT_TRUE(reply["Result"].is_string()) << reply.dump();
    json info = json::parse(reply["Result"].get<std::string>(), nullptr, false);
    ASSERT_TRUE(info.is_object()) << reply.dump();
    EXPECT_EQ(info.value("Plugin", ""), "npKexoPlugin");
    EXPECT_EQ(info.value("Version", ""), KEXO_SAMPLE_PLUGIN_VERSION);
    EXPECT_EQ(info.value("System", ""), "Linux");
    std::string device = info.value("DeviceID", "?");
    EXPECT_TRUE(device.empty() || device.size() == 64) << device;
}

TEST_F(SamplePlugin, BadCommandsGetAnErrorReply) {
    struct TCase {
        const char* what;
        std::string command;
        std::string code;
    } cases[] = {
        {"empty", "", "BadCommand"},
        {"not JSON", "{\"ID\":", "BadCommand"},
        {"plain text", "hello", "BadCommand"},
        {"array", "[1,2]", "BadCommand"},
        {"no method", R"({"ID":"1","Params":[]})", "BadCommand"},
        {"method not a string", R"({"Method":7})", "BadCommand"},
        {"ID an object", R"({"ID":{},"Method":"GetVersion"})", "BadCommand"},
        {"unknown method", Command("Sign", json::array()), "UnknownMethod"},
        {"method in other case", Command("getversion", json::array()), "UnknownMethod"},
        {"params a string", R"({"Method":"Hash","Params":"abc"})", "BadParams"},
        {"params element not an object", R"({"Method":"Hash","Params":["abc"]})", "BadParams"},
        {"param value an object", R"({"Method":"Hash","Params":[{"Data":{}}]})", "BadParams"},
        {"hash without data", Command("Hash", json::array()), "BadParams"},
        {"hash odd hex", Command("Hash", {{{"Data", "abc"}}, {{"DataFormat", "hex"}}}), "BadParams"},
        {"hash not hex", Command("Hash", {{{"Data", "zz"}}, {{"DataFormat", "hex"}}}), "BadParams"},
        {"hash bad base64", Command("Hash", {{{"Data", "YW*j"}}, {{"DataFormat", "base64"}}}), "BadParams"},
        {"hash base64 cut", Command("Hash", {{{"Data", "YWJ"}}, {{"DataFormat", "base64"}}}), "BadParams"},
        {"hash unknown input", Command("Hash", {{{"Data", "abc"}}, {{"DataFormat", "rot13"}}}), "BadParams"},
        {"hash unknown output", Command("Hash", {{{"Data", "abc"}}, {{"Format", "octal"}}}), "BadParams"},
        {"random zero", Command("Random", {{{"Count", "0"}}}), "BadParams"},
        {"random too many", Command("Random", {{{"Count", "1025"}}}), "BadParams"},
        {"random negative", Command("Random", {{{"Count", -5}}}), "BadParams"},
        {"random not a number", Command("Random", {{{"Count", "12abc"}}}), "BadParams"},
        {"random huge", Command("Random", {{{"Count", "99999999999999999999"}}}), "BadParams"},
        {"nested too deeply", R"({"Method":"GetVersion","Params":)" + std::string(100000, '[') + "]}",
         "BadCommand"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        json reply = Reply(c.command);
        ASSERT_TRUE(reply.is_object());
        EXPECT_FALSE(reply.contains("Result")) << reply.dump();
        ASSERT_TRUE(reply["Error"].is_object()) << reply.dump();
        EXPECT_EQ(reply["Error"].value("Code", ""), c.code) << reply.dump();
        EXPECT_FALSE(reply["Error"].value("Message", "").empty());
    }
}

// Brackets inside strings are data, not nesting.
TEST_F(SamplePlugin, BracketsInsideStringsDoNotCountAsNesting) {
    std::string data = "\"" + std::string(1000, '[') + "\\\"{";
    json reply = Reply(Command("Hash", {{{"Data", data}}}));
    EXPECT_TRUE(reply.contains("Result")) << reply.dump();
}

// A page may send a command with a great many members, well within the size limit. Looking
// each name up among all the earlier ones turns such a command into hours of work for one
// connection; it must be answered like any other.
TEST_F(SamplePlugin, CommandsWithManyMembersAreAnswered) {
    constexpr int kMembers = 200000;
    std::string paramsArray = "[", paramsObject = "{", topLevel = "{";
    for (int i = 0; i < kMembers; ++i) {
        const std::string name = "\"p" + std::to_string(i) + "\"";
        paramsArray += "{" + name + ":\"x\"},";
        paramsObject += name + ":\"x\",";
        topLevel += name + ":1,";
    }
    struct TCase {
        const char* what;
        std::string command;
    } cases[] = {
        {"params as an array", R"({"Method":"Hash","Params":)" + paramsArray + R"({"Data":"abc"},{"Data":"z"}]})"},
        {"params as an object", R"({"Method":"Hash","Params":)" + paramsObject + R"("Data":"abc"}})"},
        {"many other members", topLevel + R"("Method":"Hash","Params":[{"Data":"abc"}]})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        json reply = Reply(c.command);
        ASSERT_TRUE(reply.is_object());
        EXPECT_EQ(reply.value("Result", "<none>"), kAbcSha256) << reply.dump();
    }
}

TEST_F(SamplePlugin, EmptyCommandIsOneZeroByte) {
    const char zero = '\0';
    int32_t size = 0;
    ASSERT_EQ(ExecuteEx(&zero, 1, nullptr, &size, WS_MODE_QUERY_SIZE), 0);
    ASSERT_GT(size, 0);
    std::string reply(static_cast<size_t>(size), '\0');
    ASSERT_EQ(ExecuteEx(&zero, 1, reply.data(), &size, WS_MODE_FETCH), 0);
    EXPECT_EQ(json::parse(reply)["Error"]["Code"], "BadCommand");
}

TEST_F(SamplePlugin, CommandSizeWithoutTheZeroStillReadsOnlyTheNamedBytes) {
    // The size names the JSON only, without a zero, out of a longer text: the plugin must
    // neither need the zero nor read beyond the named bytes.
    const std::string text = R"({"Method":"GetVersion"}garbage)";
    const int32_t named = static_cast<int32_t>(text.find("garbage"));
    int32_t size = 0;
    ASSERT_EQ(ExecuteEx(text.data(), named, nullptr, &size, WS_MODE_QUERY_SIZE), 0);
    std::string reply(static_cast<size_t>(size), '\0');
    ASSERT_EQ(ExecuteEx(text.data(), named, reply.data(), &size, WS_MODE_FETCH), 0);
    EXPECT_EQ(json::parse(reply).value("Result", ""), KEXO_SAMPLE_PLUGIN_VERSION);
}

TEST_F(SamplePlugin, FetchHandsOverOnlyTheReplyMeasuredForThatCommand) {
    const std::string a = Command("Random", {{{"Count", "8"}}}, "a");
    const std::string b = Command("Random", {{{"Count", "8"}}}, "b");
    const int32_t aSize = static_cast<int32_t>(a.size()) + 1;
    char buffer[4096];

    // A fetch with nothing measured is refused.
    int32_t size = sizeof buffer;
    EXPECT_EQ(ExecuteEx(a.c_str(), aSize, buffer, &size, WS_MODE_FETCH), WS_ERR_NO_REPLY);

    // A fetch for another command than the one measured is refused.
    size = 0;
    ASSERT_EQ(ExecuteEx(a.c_str(), aSize, nullptr, &size, WS_MODE_QUERY_SIZE), 0);
    const int32_t measured = size;
    EXPECT_EQ(ExecuteEx(b.c_str(), static_cast<int32_t>(b.size()) + 1, buffer, &size, WS_MODE_FETCH),
              WS_ERR_NO_REPLY);

    // A buffer too small is refused without writing past it, and the reply stays ready.
    size = measured - 1;
    buffer[measured - 1] = 'X';
    EXPECT_EQ(ExecuteEx(a.c_str(), aSize, buffer, &size, WS_MODE_FETCH), WS_ERR_BUFFER);
    EXPECT_EQ(buffer[measured - 1], 'X');
    EXPECT_EQ(ExecuteEx(a.c_str(), aSize, nullptr, &size, WS_MODE_FETCH), WS_ERR_ARGUMENTS);

    size = measured;
    ASSERT_EQ(ExecuteEx(a.c_str(), aSize, buffer, &size, WS_MODE_FETCH), 0);
    EXPECT_EQ(size, measured);
    json reply = json::parse(std::string(buffer, static_cast<size_t>(measured)));
    EXPECT_EQ(reply["ID"], "a");

    // Handed over once: a second fetch finds nothing.
    EXPECT_EQ(ExecuteEx(a.c_str(), aSize, buffer, &size, WS_MODE_FETCH), WS_ERR_NO_REPLY);
}

TEST_F(SamplePlugin, BadArgumentsAreRefused) {
    const char command[] = R"({"Method":"GetVersion"})";
    int32_t size = 0;
    char buffer[16];
    struct TCase {
        const char* what;
        const char* command;
        int32_t commandSize;
        int32_t* replySize;
        int32_t mode;
    } cases[] = {
        {"null command", nullptr, 1, &size, WS_MODE_QUERY_SIZE},
        {"command size 0", command, 0, &size, WS_MODE_QUERY_SIZE},
        {"negative command size", command, -1, &size, WS_MODE_QUERY_SIZE},
        {"null reply size", command, sizeof command, nullptr, WS_MODE_QUERY_SIZE},
        {"mode 0", command, sizeof command, &size, 0},
        {"mode 3", command, sizeof command, &size, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ExecuteEx(c.command, c.commandSize, buffer, c.replySize, c.mode), WS_ERR_ARGUMENTS);
    }
}

TEST_F(SamplePlugin, OneShotExecuteCopiesWhatFits) {
    const std::string command = R"({"ID":"9","Method":"GetVersion"})";
    const int32_t commandSize = static_cast<int32_t>(command.size()) + 1;
    const int32_t full = Execute(command.c_str(), commandSize, nullptr, 0);
    ASSERT_GT(full, 0);
    std::string small(10, '#');
    small.push_back('!');  // one guard byte past the 10 offered
    EXPECT_EQ(Execute(command.c_str(), commandSize, small.data(), 10), full);
    EXPECT_EQ(small.substr(0, 10), std::string(R"({"ID":"9",)"));
    EXPECT_EQ(small.back(), '!');
    std::string whole(static_cast<size_t>(full), '\0');
    EXPECT_EQ(Execute(command.c_str(), commandSize, whole.data(), full), full);
    EXPECT_EQ(json::parse(whole).value("Result", ""), KEXO_SAMPLE_PLUGIN_VERSION);
    EXPECT_EQ(Execute(command.c_str(), commandSize, nullptr, 5), WS_ERR_ARGUMENTS);
}

class SamplePluginConcurrency : public SamplePlugin {};

// Many threads query at once and all hold a measured reply before any fetches: each must get
// back its own reply, whole.
TEST_F(SamplePluginConcurrency, EachThreadGetsItsOwnReply) {
    constexpr int kThreads = 12;
    constexpr int kRounds = 20;
    std::barrier allMeasured(kThreads);
    std::vector<std::vector<std::string>> problems(kThreads);
    std::vector<std::set<std::string>> randoms(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                const std::string id = std::to_string(t) + "/" + std::to_string(r);
                const bool random = (t + r) % 2 == 0;
                const std::string command =
                    random ? Command("Random", {{{"Count", std::to_string(1 + t)}}}, id)
                           : Command("Hash", {{{"Data", "abc"}}}, id);
                const int32_t commandSize = static_cast<int32_t>(command.size()) + 1;
                int32_t size = 0;
                int32_t query = ExecuteEx(command.c_str(), commandSize, nullptr, &size, WS_MODE_QUERY_SIZE);
                allMeasured.arrive_and_wait();
                std::string reply(size > 0 ? static_cast<size_t>(size) : 0u, '\0');
                int32_t fetch = size > 0 ? ExecuteEx(command.c_str(), commandSize, reply.data(), &size, WS_MODE_FETCH) : -100;
                json parsed = json::parse(reply, nullptr, false);
                if (query != 0 || fetch != 0 || !parsed.is_object() || parsed.value("ID", "") != id) {
                    problems[t].push_back(id + ": " + std::to_string(query) + "/" + std::to_string(fetch) + " " + reply);
                    continue;
                }
                std::string result = parsed.value("Result", "");
                if (random && result.size() != static_cast<size_t>(2 * (1 + t)))
                    problems[t].push_back(id + ": random of wrong length " + result);
                if (!random && result != kAbcSha256) problems[t].push_back(id + ": wrong hash " + result);
                if (random) randoms[t].insert(result);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE(t);
        EXPECT_TRUE(problems[t].empty()) << problems[t].front();
    }
    // Random bytes from different rounds differ (the longer draws cannot collide by chance).
    EXPECT_EQ(randoms[kThreads - 1].size(), static_cast<size_t>(kRounds / 2));
}
