// The library manager: binding exports into the callers' variables, sharing a library by
// use count, the search order, the reports of every step, and clearing every bound
// variable when a library goes — the property that keeps the host from calling into
// unmapped code.

#include "plugin/KXLibUtils_v20_2.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <barrier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FixturePaths.h"
#include "PluginTestSupport.h"
#include "platform/ProgramInfo.h"

namespace {

const TProcNames PluginNames = {"WS_Initialize", "WS_Execute", "WS_ExecuteEx", "WS_Shutdown"};

// One user's four procedure variables.
struct TUser {
    void* Init = nullptr;
    void* Execute = nullptr;
    void* ExecuteEx = nullptr;
    void* Shutdown = nullptr;
    TProcPoints Points() { return {&Init, &Execute, &ExecuteEx, &Shutdown}; }
    bool AllSet() const { return Init && Execute && ExecuteEx && Shutdown; }
    bool NoneSet() const { return !Init && !Execute && !ExecuteEx && !Shutdown; }
};

struct TReport {
    bool Error;
    std::string Sender;
    std::string Text;
    std::string Details;
};

// Collects the reports of a manager's two events.
class TReports {
public:
    void Attach(TKXLibManager& manager) {
        manager.SetOnError([this](const TObject* s, const std::string& t, const std::string& d) { Add(true, s, t, d); });
        manager.SetOnLog([this](const TObject* s, const std::string& t, const std::string& d) { Add(false, s, t, d); });
    }
    std::vector<TReport> Take() {
        std::lock_guard<std::mutex> hold(FLock);
        return std::move(FItems);
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> out;
        for (const TReport& r : Take()) out.push_back((r.Error ? "E " : "L ") + r.Text);
        return out;
    }

private:
    void Add(bool error, const TObject* sender, const std::string& text, const std::string& details) {
        std::lock_guard<std::mutex> hold(FLock);
        FItems.push_back({error, sender ? sender->ClassName() : "", text, details});
    }
    std::mutex FLock;
    std::vector<TReport> FItems;
};

// Every test starts with a fresh global manager and ends by finalising it, which also
// proves that finalisation copes with whatever a test left behind. The variables bound in
// a test belong to the fixture, so that they outlive that final release.
class LibUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        FinalizeLibUtils();
        Global.Attach(*LibManager());
    }
    void TearDown() override { FinalizeLibUtils(); }

    TUser& NewUser() { return Users.emplace_back(); }
    void*& NewSlot(void* value = nullptr) { return Slots.emplace_back(value); }

    std::deque<TUser> Users;
    std::deque<void*> Slots;
    TReports Global;
};

TEST_F(LibUtilsTest, LoadBindsEveryExportAndReleaseClearsThem) {
    TUser& user = NewUser();
    ASSERT_TRUE(LoadDynLibrary(KEXO_FIXTURE_ECHO_PATH, user.Points(), PluginNames));
    EXPECT_TRUE(user.AllSet());
    // The variables hold the real entry points: the fixture answers through them.
    char reply[16] = {};
    int32_t size = 0;
    auto executeEx = reinterpret_cast<int32_t (*)(const char*, int32_t, char*, int32_t*, int32_t)>(user.ExecuteEx);
    ASSERT_EQ(executeEx("x", 2, nullptr, &size, 1), 0);
    ASSERT_EQ(executeEx("x", 2, reply, &size, 2), 0);
    EXPECT_EQ(std::string(reply, static_cast<size_t>(size)), "echo:x");

    TKXDynLibrary* library = LibManager()->FindLibrary("kexo_fixture_echo.so");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->Path(), KEXO_FIXTURE_ECHO_PATH);
    EXPECT_EQ(library->Name(), KEXO_FIXTURE_ECHO_PATH);
    EXPECT_EQ(library->RefCount(), 1);
    auto reports = Global.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].Error);
    EXPECT_EQ(reports[0].Text, "Library loaded: kexo_fixture_echo.so");
    EXPECT_EQ(reports[0].Details, KEXO_FIXTURE_ECHO_PATH);
    EXPECT_EQ(reports[0].Sender, "TKXLibManager");

    ASSERT_TRUE(UnloadDynLibrary(KEXO_FIXTURE_ECHO_PATH));
    EXPECT_TRUE(user.NoneSet());
    EXPECT_EQ(LibManager()->FindLibrary("kexo_fixture_echo.so"), nullptr);
    reports = Global.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].Error);
    EXPECT_EQ(reports[0].Text, "Unloaded library kexo_fixture_echo.so");
    EXPECT_EQ(reports[0].Details, "");
}

TEST_F(LibUtilsTest, SharedLibraryIsCountedAndItsReleaseClearsEveryUser) {
    TUser& first = NewUser();
    TUser& second = NewUser();
    ASSERT_TRUE(LoadDynLibrary(KEXO_FIXTURE_ECHO_PATH, first.Points(), PluginNames));
    // The second user names the file alone: the same library by its file name.
    ASSERT_TRUE(LoadDynLibrary("kexo_fixture_echo.so", second.Points(), PluginNames));
    EXPECT_EQ(LibManager()->Libraries().Count(), 1);
    TKXDynLibrary* library = LibManager()->FindLibrary("kexo_fixture_echo.so");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->RefCount(), 2);
    EXPECT_EQ(Global.Texts(), std::vector<std::string>{"L Library loaded: kexo_fixture_echo.so"});

    ASSERT_TRUE(UnloadDynLibrary("kexo_fixture_echo.so"));
    EXPECT_TRUE(first.AllSet());
    EXPECT_TRUE(second.AllSet());
    EXPECT_EQ(library->RefCount(), 1);
    EXPECT_TRUE(Global.Texts().empty());

    ASSERT_TRUE(UnloadDynLibrary("kexo_fixture_echo.so"));
    EXPECT_TRUE(first.NoneSet());
    EXPECT_TRUE(second.NoneSet());
    EXPECT_EQ(Global.Texts(), std::vector<std::string>{"L Unloaded library kexo_fixture_echo.so"});
    EXPECT_FALSE(UnloadDynLibrary("kexo_fixture_echo.so"));
    EXPECT_TRUE(Global.Texts().empty());
}

TEST_F(LibUtilsTest, MissingExportKeepsTheFoundOnesAndTheLibrary) {
    TUser& user = NewUser();
    user.Shutdown = &user;  // stale value: binding must clear it
    EXPECT_FALSE(LoadDynLibrary(KEXO_FIXTURE_MISSING_EXPORT_PATH, user.Points(), PluginNames));
    EXPECT_TRUE(user.Init && user.Execute && user.ExecuteEx);
    EXPECT_EQ(user.Shutdown, nullptr);
    auto reports = Global.Take();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].Text, "Library loaded: kexo_fixture_missing_export.so");
    EXPECT_TRUE(reports[1].Error);
    EXPECT_EQ(reports[1].Text, "Failed to load procedures from kexo_fixture_missing_export.so");
    EXPECT_EQ(reports[1].Details, "");

    TKXDynLibrary* library = LibManager()->FindLibrary(KEXO_FIXTURE_MISSING_EXPORT_PATH);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->RefCount(), 1);
    EXPECT_EQ(library->Points().size(), 1u);
    // Registered although incomplete, so the release still clears what was found.
    ASSERT_TRUE(UnloadDynLibrary(KEXO_FIXTURE_MISSING_EXPORT_PATH));
    EXPECT_TRUE(user.NoneSet());
}

TEST_F(LibUtilsTest, ArraysOfDifferentShapes) {
    struct TCase {
        const char* title;
        size_t points;
        size_t names;
        bool result;
        std::vector<std::string> reports;  // after "Library loaded: "
    } cases[] = {
        {"more names than points", 2, 3, false,
         {"E kexo_fixture_echo.so: Names and procedures count do not match!",
          "E Failed to load procedures from kexo_fixture_echo.so"}},
        {"more points than names", 4, 1, false,
         {"E kexo_fixture_echo.so: Names and procedures count do not match!",
          "E Failed to load procedures from kexo_fixture_echo.so"}},
        {"both empty", 0, 0, true, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.title);
        void* const sentinel = &Slots;
        std::vector<void**> targets;
        for (size_t i = 0; i < c.points; ++i) targets.push_back(&NewSlot(sentinel));
        TProcPoints points = targets;
        TProcNames names(PluginNames.begin(), PluginNames.begin() + static_cast<long>(c.names));

        EXPECT_EQ(LoadDynLibrary(KEXO_FIXTURE_ECHO_PATH, points, names), c.result);
        std::vector<std::string> expected = {"L Library loaded: kexo_fixture_echo.so"};
        expected.insert(expected.end(), c.reports.begin(), c.reports.end());
        EXPECT_EQ(Global.Texts(), expected);
        // Nothing is bound and nothing registered; the library is kept and counted.
        for (void** t : targets) EXPECT_EQ(*t, sentinel);
        TKXDynLibrary* library = LibManager()->FindLibrary("kexo_fixture_echo.so");
        ASSERT_NE(library, nullptr);
        EXPECT_EQ(library->RefCount(), 1);
        EXPECT_TRUE(library->Points().empty());
        ASSERT_TRUE(UnloadDynLibrary("kexo_fixture_echo.so"));
        for (void** t : targets) EXPECT_EQ(*t, sentinel);
        Global.Take();
    }
}

TEST_F(LibUtilsTest, FailedLoadsAreReportedAndNotKept) {
    struct TCase {
        std::string name;
        std::vector<std::string> errors;
        std::string detailsMention;  // part of the last report's details
    } cases[] = {
        {"", {"Empty library name!", "Failed to load library "}, ""},
        {"/nonexistent-kexo/none_such.so", {"Failed to load library /nonexistent-kexo/none_such.so"}, "none_such.so"},
        {KEXO_FIXTURE_UNRESOLVED_PATH, {std::string("Failed to load library ") + KEXO_FIXTURE_UNRESOLVED_PATH},
         "kexo_fixture_unresolved.so"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TUser& user = NewUser();
        user.Init = &user;
        EXPECT_FALSE(LoadDynLibrary(c.name, user.Points(), PluginNames));
        EXPECT_EQ(user.Init, &user);  // untouched: nothing was bound
        auto reports = Global.Take();
        ASSERT_EQ(reports.size(), c.errors.size());
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_TRUE(reports[i].Error);
            EXPECT_EQ(reports[i].Text, c.errors[i]);
        }
        // "(code) text" of the loader's last failure.
        const std::string& details = reports.back().Details;
        EXPECT_EQ(details.rfind('(', 0), 0u) << details;
        EXPECT_NE(details.find(") "), std::string::npos) << details;
        EXPECT_NE(details.find(c.detailsMention), std::string::npos) << details;
        EXPECT_EQ(LibManager()->Libraries().Count(), 0);
    }
    // The empty name is reported by the library being built, then by the manager.
    TUser& user = NewUser();
    LoadDynLibrary("", user.Points(), PluginNames);
    auto reports = Global.Take();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].Sender, "TKXDynLibrary");
    EXPECT_EQ(reports[1].Sender, "TKXLibManager");
}

TEST_F(LibUtilsTest, AFailedLoadIsTriedAgainFromScratch) {
    TTempDir dir;
    const std::string path = dir.File("late.so");
    TUser& user = NewUser();
    EXPECT_FALSE(LoadDynLibrary(path, user.Points(), PluginNames));
    std::filesystem::copy_file(KEXO_FIXTURE_ECHO_PATH, path);
    EXPECT_TRUE(LoadDynLibrary(path, user.Points(), PluginNames));
    EXPECT_TRUE(user.AllSet());
    EXPECT_EQ(LibManager()->FindLibrary("late.so")->RefCount(), 1);
}

TEST_F(LibUtilsTest, SearchOrder) {
    const std::string fixtureDir = KEXO_FIXTURE_DIR;
    const std::string echoFile = fixtureDir + "/kexo_fixture_echo.so";
    struct TCase {
        const char* title;
        std::string name;
        std::vector<std::string> folders;  // search folders; none when empty
        std::string path;                  // expected Path; "/..." only checked as absolute
    } cases[] = {
        {"a full path is taken as written", echoFile, {}, echoFile},
        {"a missing folder falls through to the search folders", "/nonexistent-kexo/kexo_fixture_echo.so",
         {"/nonexistent-kexo-too", "", fixtureDir}, echoFile},
        {"a folder with its own delimiter", "kexo_fixture_echo.so", {fixtureDir + "/"}, echoFile},
        {"a folder written with backslashes", "kexo_fixture_echo.so", {fixtureDir + "\\"}, echoFile},
        {"a bare name goes to the system search", "libm.so.6", {}, "/"},
        {"a missing folder falls through to the system search", "/nonexistent-kexo/libm.so.6", {}, "/"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.title);
        TPathList folders;
        for (const std::string& f : c.folders) folders.Add(f);
        void*& export0 = NewSlot();
        TProcNames names = {c.path == "/" ? "cos" : "WS_Initialize"};
        ASSERT_TRUE(LoadDynLibrary(c.name, {&export0}, names, c.folders.empty() ? nullptr : &folders));
        EXPECT_NE(export0, nullptr);
        TKXDynLibrary* library = LibManager()->FindLibrary(c.name);
        ASSERT_NE(library, nullptr);
        if (c.path == "/") {
            EXPECT_EQ(library->Path().rfind('/', 0), 0u) << library->Path();
            EXPECT_EQ(ExtractFileName(library->Path()), "libm.so.6");
        } else {
            EXPECT_EQ(NormalizePath(library->Path()), c.path);
        }
        auto reports = Global.Take();
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back().Text, "Library loaded: " + library->FileName());
        EXPECT_EQ(reports.back().Details, library->Path());
        ASSERT_TRUE(UnloadDynLibrary(c.name));
        Global.Take();
    }
}

TEST_F(LibUtilsTest, TheManagersFoldersServeWhenNoneAreGiven) {
    LibManager()->PathList().Add(KEXO_FIXTURE_DIR);
    TUser& user = NewUser();
    ASSERT_TRUE(LoadDynLibrary("kexo_fixture_echo.so", user.Points(), PluginNames));
    EXPECT_EQ(LibManager()->FindLibrary("kexo_fixture_echo.so")->Path(),
              std::string(KEXO_FIXTURE_DIR) + "/kexo_fixture_echo.so");
}

TEST_F(LibUtilsTest, ABareNameIsFoundBesideTheProgramFirst) {
    // A uniquely named copy, so that parallel runs of this program do not meet.
    const std::string fileName = "kexo_libutils_" + std::to_string(getpid()) + ".so";
    const std::string beside = ExtractFilePath(ProgramFileName()) + fileName;
    std::filesystem::copy_file(KEXO_FIXTURE_ECHO_PATH, beside, std::filesystem::copy_options::overwrite_existing);
    struct TRemove {
        std::string Path;
        ~TRemove() { std::filesystem::remove(Path); }
    } remove{beside};

    TUser& user = NewUser();
    ASSERT_TRUE(LoadDynLibrary(fileName, user.Points(), PluginNames));
    EXPECT_TRUE(user.AllSet());
    auto reports = Global.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Text, "Library loaded: " + fileName);
    EXPECT_EQ(reports[0].Details, beside);
}

TEST_F(LibUtilsTest, EnvironmentReferencesInTheName) {
    setenv("KEXO_LIBUTILS_DIR", KEXO_FIXTURE_DIR, 1);
    setenv("KEXO_LIBUTILS_FILE", "kexo_fixture_echo.so", 1);
    unsetenv("KEXO_LIBUTILS_UNDEFINED");
    TPathList fixtureFolder;
    fixtureFolder.Add(KEXO_FIXTURE_DIR);

    TUser& user = NewUser();
    ASSERT_TRUE(LoadDynLibrary("%KEXO_LIBUTILS_DIR%/kexo_fixture_echo.so", user.Points(), PluginNames));
    TKXDynLibrary* library = LibManager()->FindLibrary("kexo_fixture_echo.so");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->Name(), KEXO_FIXTURE_ECHO_PATH);
    EXPECT_EQ(library->Path(), KEXO_FIXTURE_ECHO_PATH);
    ASSERT_TRUE(UnloadDynLibrary("%KEXO_LIBUTILS_DIR%/kexo_fixture_echo.so"));

    // A reference in the file name itself: the library is found again by the same name.
    ASSERT_TRUE(LoadDynLibrary("%KEXO_LIBUTILS_FILE%", user.Points(), PluginNames, &fixtureFolder));
    ASSERT_TRUE(LoadDynLibrary("%KEXO_LIBUTILS_FILE%", user.Points(), PluginNames, &fixtureFolder));
    EXPECT_EQ(LibManager()->Libraries().Count(), 1);
    EXPECT_TRUE(UnloadDynLibrary("%KEXO_LIBUTILS_FILE%"));
    EXPECT_TRUE(UnloadDynLibrary("%KEXO_LIBUTILS_FILE%"));
    EXPECT_TRUE(user.NoneSet());
    Global.Take();

    // An undefined variable stays as written, and so the file is not found.
    EXPECT_FALSE(LoadDynLibrary("%KEXO_LIBUTILS_UNDEFINED%/kexo_fixture_echo.so", user.Points(), PluginNames));
    EXPECT_EQ(Global.Texts(),
              std::vector<std::string>{"E Failed to load library %KEXO_LIBUTILS_UNDEFINED%/kexo_fixture_echo.so"});
}

TEST_F(LibUtilsTest, FileNamesAreComparedWithExactCase) {
    TUser& user = NewUser();
    ASSERT_TRUE(LoadDynLibrary(KEXO_FIXTURE_ECHO_PATH, user.Points(), PluginNames));
    EXPECT_EQ(LibManager()->FindLibrary("KEXO_FIXTURE_ECHO.so"), nullptr);
    EXPECT_FALSE(UnloadDynLibrary("KEXO_FIXTURE_ECHO.so"));
    EXPECT_TRUE(user.AllSet());
}

TEST_F(LibUtilsTest, RaiseErrorsTurnsReportsIntoExceptions) {
    TKXLibManager manager(TKXLibManager::Owning);
    TReports own;
    own.Attach(manager);
    manager.SetRaiseErrors(true);
    TUser& user = NewUser();
    try {
        manager.Load("/nonexistent-kexo/none_such.so", user.Points(), PluginNames);
        FAIL() << "no exception";
    } catch (const ELibException& e) {
        std::string message = e.Message();
        EXPECT_EQ(message.rfind("TKXLibManager: Failed to load library /nonexistent-kexo/none_such.so (", 0), 0u)
            << message;
        EXPECT_EQ(message.back(), ')');
    }
    // The event still ran first, and the failed library was not kept.
    EXPECT_EQ(own.Texts(), std::vector<std::string>{"E Failed to load library /nonexistent-kexo/none_such.so"});
    EXPECT_EQ(manager.Libraries().Count(), 0);
    // Successful steps raise nothing.
    EXPECT_TRUE(manager.Load(KEXO_FIXTURE_ECHO_PATH, user.Points(), PluginNames));
    EXPECT_TRUE(manager.Unload(KEXO_FIXTURE_ECHO_PATH));
}

TEST_F(LibUtilsTest, AnOwningManagerKeepsItsLibrariesApartAndReleasesThemWhenFreed) {
    TUser& user = NewUser();
    {
        TKXLibManager manager(TKXLibManager::Owning);
        TReports own;
        own.Attach(manager);
        ASSERT_TRUE(manager.Load(KEXO_FIXTURE_ECHO_PATH, user.Points(), PluginNames));
        EXPECT_EQ(manager.Libraries().Count(), 1);
        EXPECT_EQ(LibManager()->Libraries().Count(), 0);
        EXPECT_EQ(own.Texts(), std::vector<std::string>{"L Library loaded: kexo_fixture_echo.so"});
        EXPECT_TRUE(Global.Texts().empty());
        EXPECT_TRUE(user.AllSet());
    }
    EXPECT_TRUE(user.NoneSet());
}

TEST_F(LibUtilsTest, APlainManagerWorksOnTheGlobalListAndForgetsItsVariablesWhenFreed) {
    TUser& plainUser = NewUser();
    TUser& globalUser = NewUser();
    {
        TKXLibManager plain;
        EXPECT_FALSE(plain.OwnsList());
        ASSERT_TRUE(plain.Load(KEXO_FIXTURE_ECHO_PATH, plainUser.Points(), PluginNames));
        EXPECT_EQ(&plain.Libraries(), &LibManager()->Libraries());
        ASSERT_NE(LibManager()->FindLibrary("kexo_fixture_echo.so"), nullptr);
        // Without events of its own, its reports reach the global manager's.
        EXPECT_FALSE(plain.Load("/nonexistent-kexo/none_such.so", plainUser.Points(), PluginNames));
        EXPECT_EQ(Global.Texts(), (std::vector<std::string>{"L Library loaded: kexo_fixture_echo.so",
                                                            "E Failed to load library /nonexistent-kexo/none_such.so"}));
        ASSERT_TRUE(LoadDynLibrary(KEXO_FIXTURE_ECHO_PATH, globalUser.Points(), PluginNames));
    }
    // The plain manager's variables were forgotten with it: the release leaves them alone.
    EXPECT_EQ(LibManager()->FindLibrary("kexo_fixture_echo.so")->RefCount(), 2);
    ASSERT_TRUE(UnloadDynLibrary(KEXO_FIXTURE_ECHO_PATH));
    ASSERT_TRUE(UnloadDynLibrary(KEXO_FIXTURE_ECHO_PATH));
    EXPECT_TRUE(plainUser.AllSet());
    EXPECT_TRUE(globalUser.NoneSet());
}

TEST_F(LibUtilsTest, FinalisationReleasesEverythingStillLoaded) {
    TUser& echo = NewUser();
    TUser& sample = NewUser();
    ASSERT_TRUE(LoadDynLibrary(KEXO_FIXTURE_ECHO_PATH, echo.Points(), PluginNames));
    ASSERT_TRUE(LoadDynLibrary(KEXO_FIXTURE_ECHO_PATH, echo.Points(), PluginNames));
    ASSERT_TRUE(LoadDynLibrary(KEXO_SAMPLE_PLUGIN_PATH, sample.Points(), PluginNames));
    FinalizeLibUtils();
    EXPECT_TRUE(echo.NoneSet());
    EXPECT_TRUE(sample.NoneSet());
    FinalizeLibUtils();  // again: nothing left to do

    // A later use starts over with an empty manager.
    EXPECT_EQ(LibManager()->Libraries().Count(), 0);
    EXPECT_TRUE(LoadDynLibrary(KEXO_FIXTURE_ECHO_PATH, echo.Points(), PluginNames));
    EXPECT_TRUE(echo.AllSet());
}

TEST(LibUtilsFunctions, PointsHelpers) {
    void* a = nullptr;
    void* b = &a;
    EXPECT_TRUE(AllAssigned({}));
    EXPECT_FALSE(AllAssigned({&a, &b}));
    EXPECT_FALSE(AllAssigned({&b, nullptr}));  // an empty slot is not an assigned variable
    a = &b;
    EXPECT_TRUE(AllAssigned({&a, &b}));
    ClearPoints({&a, nullptr, &b});
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(b, nullptr);
}

TEST(LibUtilsFunctions, LastErrorText) {
    EXPECT_EQ(LastErrorText(ENOENT), "(" + std::to_string(ENOENT) + ") " + std::strerror(ENOENT));
    ASSERT_EQ(DynLibOpen("/nonexistent-kexo/last_error.so"), nullptr);
    std::string text = LastErrorText(0);
    EXPECT_EQ(text.rfind("(" + std::to_string(DynLibLastErrorCode()) + ") ", 0), 0u) << text;
    EXPECT_NE(text.find("/nonexistent-kexo/last_error.so"), std::string::npos) << text;
}

// Loads and releases from many threads at once: while a thread holds the library its
// variables stay bound, and the count comes back to zero with the library gone.
using LibManagerConcurrency = LibUtilsTest;

TEST_F(LibManagerConcurrency, LoadAndUnloadFromManyThreads) {
    constexpr int Threads = 16;
    constexpr int Rounds = 40;
    std::barrier start(Threads);
    std::vector<std::thread> threads;
    std::vector<int> failures(Threads, 0);
    std::vector<TUser*> users;
    for (int t = 0; t < Threads; ++t) users.push_back(&NewUser());
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            TUser& user = *users[t];
            start.arrive_and_wait();
            for (int r = 0; r < Rounds; ++r) {
                if (!LoadDynLibrary(KEXO_FIXTURE_ECHO_PATH, user.Points(), PluginNames) || !user.AllSet()) ++failures[t];
                if (!UnloadDynLibrary(KEXO_FIXTURE_ECHO_PATH)) ++failures[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < Threads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(LibManager()->FindLibrary("kexo_fixture_echo.so"), nullptr);
    auto reports = Global.Take();
    int loaded = 0, unloaded = 0;
    for (const TReport& r : reports) {
        EXPECT_FALSE(r.Error) << r.Text;
        if (r.Text == "Library loaded: kexo_fixture_echo.so") ++loaded;
        if (r.Text == "Unloaded library kexo_fixture_echo.so") ++unloaded;
    }
    EXPECT_GE(loaded, 1);
    EXPECT_EQ(loaded, unloaded);
}

}  // namespace
