// The fixture plugins behave as their table in FixturePlugin.h says, so that host tests built
// on them fail for the host's faults only; and an exception thrown by a fixture export can
// be caught by its caller.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "FixturePaths.h"
#include "FixturePlugin.h"
#include "npKexoPlugin.h"
#include "platform/DynLib.h"

namespace {

class TFixtureLib {
public:
    explicit TFixtureLib(const char* path) : FHandle(DynLibOpen(path)) {}
    ~TFixtureLib() {
        if (FHandle) DynLibClose(FHandle);
    }
    TFixtureLib(const TFixtureLib&) = delete;
    TFixtureLib& operator=(const TFixtureLib&) = delete;

    TDynLibHandle Handle() const { return FHandle; }
    template <class T>
    T Proc(const char* name) const {
        return DynLibProc<T>(FHandle, name);
    }
    TFixtureRecord Record() const {
        TFixtureRecord r{};
        Proc<TFixture_GetRecord>("Fixture_GetRecord")(&r);
        return r;
    }

private:
    TDynLibHandle FHandle;
};

}  // namespace

TEST(FixturePlugin, ExecuteExAnswersAsDocumented) {
    struct TCase {
        const char* path;
        int32_t queryStatus;
        int32_t size;            // stored by the size query
        int32_t fetchStatus;     // only when size > 0
        std::string reply;       // only when the fetch succeeds
    } cases[] = {
        {KEXO_FIXTURE_ECHO_PATH, 0, 7, 0, "echo:ab"},
        {KEXO_FIXTURE_REPLY_ZERO_PATH, 0, 0, 0, ""},
        {KEXO_FIXTURE_SIZE_NEGATIVE_PATH, 0, -1, 0, ""},
        {KEXO_FIXTURE_QUERY_FAILS_PATH, -5, 0, 0, ""},
        {KEXO_FIXTURE_FETCH_FAILS_PATH, 0, 5, -7, ""},
        {KEXO_FIXTURE_COUNTS_ZERO_PATH, 0, 8, 0, std::string("counted\0", 8)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        TFixtureLib lib(c.path);
        ASSERT_NE(lib.Handle(), nullptr) << DynLibLastErrorMessage();
        auto execute = lib.Proc<TWS_ExecuteEx>("WS_ExecuteEx");
        ASSERT_NE(execute, nullptr);
        int32_t size = 0;
        EXPECT_EQ(execute("ab", 3, nullptr, &size, 1), c.queryStatus);
        EXPECT_EQ(size, c.size);
        if (size > 0) {
            std::string reply(static_cast<size_t>(size), '\0');
            EXPECT_EQ(execute("ab", 3, reply.data(), &size, 2), c.fetchStatus);
            if (c.fetchStatus == 0) {
                EXPECT_EQ(reply, c.reply);
            }
        }
        TFixtureRecord r = lib.Record();
        EXPECT_EQ(r.queryCalls, 1);
        EXPECT_EQ(r.fetchCalls, size > 0 ? 1 : 0);
        EXPECT_EQ(r.lastCommandSize, 3);
        EXPECT_EQ(std::string(r.lastCommand, 3), std::string("ab", 3));
        EXPECT_EQ(r.lastQueryBufferWasNull, 1);
        EXPECT_EQ(r.lastQueryReplySizeIn, 0);
        lib.Proc<TFixture_Reset>("Fixture_Reset")();
        EXPECT_EQ(lib.Record().queryCalls, 0);
    }
}

TEST(FixturePlugin, MissingExportHasNoShutdown) {
    TFixtureLib lib(KEXO_FIXTURE_MISSING_EXPORT_PATH);
    ASSERT_NE(lib.Handle(), nullptr) << DynLibLastErrorMessage();
    EXPECT_NE(lib.Proc<TWS_Initialize>("WS_Initialize"), nullptr);
    EXPECT_EQ(lib.Proc<TWS_Shutdown>("WS_Shutdown"), nullptr);
}

// A host guards its calls with try/catch; the fixtures that throw must be survivable that way.
TEST(FixturePlugin, ThrowingExportsCanBeCaughtByTheCaller) {
    struct TCase {
        const char* path;
        const char* exportName;
        std::string message;
    } cases[] = {
        {KEXO_FIXTURE_INIT_THROWS_PATH, "WS_Initialize", "fixture: initialisation failed"},
        {KEXO_FIXTURE_EXECUTE_THROWS_PATH, "WS_ExecuteEx", "fixture: execution failed"},
        {KEXO_FIXTURE_SHUTDOWN_THROWS_PATH, "WS_Shutdown", "fixture: shutdown failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exportName);
        TFixtureLib lib(c.path);
        ASSERT_NE(lib.Handle(), nullptr) << DynLibLastErrorMessage();
        std::string caught;
        try {
            if (std::string(c.exportName) == "WS_ExecuteEx") {
                int32_t size = 0;
                lib.Proc<TWS_ExecuteEx>(c.exportName)("", 1, nullptr, &size, 1);
            } else {
                lib.Proc<TWS_Initialize>(c.exportName)();  // WS_Shutdown has the same type
            }
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        EXPECT_EQ(caught, c.message);
    }
}
