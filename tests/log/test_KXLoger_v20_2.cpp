#include "log/KXLoger_v20_2.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "support/TempDir.h"

namespace {

const std::string BOM = "\xEF\xBB\xBF";

// Hands one batch to the logger the way an owner does.
void Put(TKXLoger& log, const std::string& bytes) {
    TKXLockGuard hold(log);
    log.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void PutAndFlush(TKXLoger& log, const std::string& bytes) {
    TKXLockGuard hold(log);
    log.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    log.Writer()->Flush();
}

// A synchronous logger in a fresh folder with short pauses between attempts.
class KXLogerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Log.SetSynchronous(true);
        Log.SetRetryDelay(1);
    }
    void Activate(const std::string& name) {
        Log.SetFileName(Dir.File(name));
        Log.SetActive(true);
    }
    // A path whose folder cannot be created: its parent is a regular file.
    std::string Unreachable(const std::string& name = "x.log") {
        Dir.Write("blocker", "file");
        return Dir.File("blocker/sub/" + name);
    }

    TTempDir Dir;
    TKXLoger Log;
};

TEST(KXLogerPeriod, TemplateNamesItsFinestDateOrTimeUnit) {
    struct Case {
        const char* Template;
        int Period;
    } cases[] = {
        {"plain.log", 0},
        {"%Date%.log", 3},
        {"%date%.log", 3},
        {"%DATETIME%.log", 6},
        {"%Time%.log", 6},
        {"%Date|yyyy%.log", 1},
        {"%Date|yyyy-mm%.log", 2},
        {"%Date|yyyymmdd_hh%.log", 4},
        {"%Date|hhnn%.log", 5},
        {"%Date|zzz%.log", 0},
        {"%PID%_%Temp%.log", 0},
        {"%Date|yyyy%_%Time|hh%.log", 4},
        {"abc%Temp", 0},
        {"%Date%_x%Time", 3},  // an unmatched % ends the scan, keeping what came before
        {"a%%b.log", 0},
    };
    for (const auto& c : cases) {
        TKXLoger log;
        log.SetFileName(c.Template);
        EXPECT_EQ(log.FileNamePeriod(), c.Period) << c.Template;
    }
}

TEST_F(KXLogerTest, TemplateEqualIgnoringCaseChangesNothing) {
    Activate("a.log");
    PutAndFlush(Log, "one");
    const std::string current = Log.CurrentFileName();
    ASSERT_EQ(current, Dir.File("a.log"));
    ASSERT_FALSE(Log.Writer()->NewFile());

    Log.SetFileName(UpperCase(Log.FileName()));
    EXPECT_FALSE(Log.Writer()->NewFile());
    EXPECT_EQ(Log.CurrentFileName(), current);

    Log.SetFileName(Dir.File("b.log"));
    EXPECT_TRUE(Log.Writer()->NewFile());
    EXPECT_EQ(Log.CurrentFileName(), "");
    PutAndFlush(Log, "two");
    EXPECT_EQ(Dir.Read("b.log"), BOM + "two");
    EXPECT_EQ(Dir.Read("a.log"), BOM + "one");
}

TEST_F(KXLogerTest, FirstBatchNeverAppendsToAFileHoldingData) {
    struct Case {
        const char* Label;
        const char* Existing;  // content of host.log before the run, nullptr: absent
        bool WithFirstNumber;  // host_1.log exists as well
        const char* Chosen;
    } cases[] = {
        {"absent", nullptr, false, "host.log"},
        {"empty", "", false, "host.log"},
        {"byte order mark only", "\xEF\xBB\xBF", false, "host.log"},
        {"one byte", "x", false, "host_1.log"},
        {"two bytes of a mark", "\xEF\xBB", false, "host_1.log"},
        {"mark and text", "\xEF\xBB\xBFold", false, "host_1.log"},
        {"next number taken", "old", true, "host_2.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        TTempDir dir;
        if (c.Existing) dir.Write("host.log", c.Existing);
        if (c.WithFirstNumber) dir.Write("host_1.log", "older");
        TKXLoger log;
        log.SetSynchronous(true);
        log.SetOnNewFile([](TKXLoger*, TFileStream& s) { s.Write("<new>"); });
        log.SetFileName(dir.File("host.log"));
        log.SetActive(true);
        PutAndFlush(log, "batch1");
        PutAndFlush(log, "batch2");

        EXPECT_EQ(log.CurrentFileName(), dir.File(c.Chosen));
        EXPECT_EQ(dir.Read(c.Chosen), BOM + "<new>batch1batch2");
        if (std::string(c.Chosen) != "host.log") {
            EXPECT_EQ(dir.Read("host.log"), c.Existing);
        }
        if (c.WithFirstNumber) {
            EXPECT_EQ(dir.Read("host_1.log"), "older");
        }
    }
}

TEST_F(KXLogerTest, SizeLimitSendsTheNextBatchToANewNumberedFile) {
    Log.SetMaxFileSize(100);
    Activate("host.log");
    const std::string batch(60, 'x');
    PutAndFlush(Log, batch);
    EXPECT_EQ(FileSize(Dir.File("host.log")), 63);
    PutAndFlush(Log, batch);
    EXPECT_EQ(FileSize(Dir.File("host.log")), 123);
    PutAndFlush(Log, batch);
    EXPECT_EQ(FileSize(Dir.File("host.log")), 123);
    EXPECT_EQ(Dir.Read("host_1.log"), BOM + batch);
}

TEST_F(KXLogerTest, FoldersOfANewFileAreCreated) {
    Activate("a/b/c/host.log");
    PutAndFlush(Log, "deep");
    EXPECT_EQ(Dir.Read("a/b/c/host.log"), BOM + "deep");
}

TEST_F(KXLogerTest, WriteBOMOffStartsTheFileWithTheBatch) {
    Log.SetWriteBOM(false);
    Activate("host.log");
    PutAndFlush(Log, "text");
    EXPECT_EQ(Dir.Read("host.log"), "text");
}

TEST_F(KXLogerTest, FinalFailureAfterEveryAttemptStoresTheMessageAndSwitchesOff) {
    const std::string name = Unreachable();
    int decisions = 0;
    // Every attempt after a failure decides its file anew, so the expansion counts attempts.
    Log.SetOnExpandFileName([&](const std::string& Template, std::string& Result) {
        ++decisions;
        Result = Template;
    });
    Log.SetFileName(name);
    Log.SetActive(true);
    PutAndFlush(Log, "lost");

    EXPECT_EQ(decisions, 5);
    const std::string prefix = "Error create directory \"" + Dir.File("blocker/sub") + "\" : ";
    EXPECT_EQ(Log.LastError().substr(0, prefix.size()), prefix);
    EXPECT_GT(Log.LastError().size(), prefix.size());
    EXPECT_FALSE(Log.Active());
}

TEST_F(KXLogerTest, AFileThatCannotBeCreatedGivesTheWriteMessage) {
    ForceDirectories(Dir.File("taken.log"));  // a folder where the file should be
    Activate("taken.log");
    PutAndFlush(Log, "lost");
    const std::string prefix = "Error write to file \"" + Dir.File("taken.log") + "\": ";
    EXPECT_EQ(Log.LastError().substr(0, prefix.size()), prefix) << Log.LastError();
    EXPECT_FALSE(Log.Active());
}

TEST_F(KXLogerTest, RetryCountBoundsTheAttempts) {
    for (int count : {1, 3}) {
        SCOPED_TRACE(count);
        TKXLoger log;
        log.SetSynchronous(true);
        log.SetRetryDelay(1);
        log.SetRetryCount(count);
        int attempts = 0, errors = 0;
        log.SetOnGetFileName([&](TKXLoger*, const std::string&, std::string& Result) {
            ++attempts;
            Result = Unreachable();
        });
        log.SetOnError([&](TKXLoger*, const std::exception&) { ++errors; });
        log.SetActive(true);
        PutAndFlush(log, "lost");
        EXPECT_EQ(attempts, count);
        EXPECT_EQ(errors, 1);
        EXPECT_FALSE(log.Active());
    }
}

TEST_F(KXLogerTest, NoAttemptsLeaveTheBatchToBeReplacedByTheNext) {
    Log.SetRetryCount(0);
    Activate("host.log");
    PutAndFlush(Log, "dropped");
    EXPECT_FALSE(FileExists(Dir.File("host.log")));
    EXPECT_TRUE(Log.Active());
    Log.SetRetryCount(5);
    PutAndFlush(Log, "kept");
    EXPECT_EQ(Dir.Read("host.log"), BOM + "kept");
}

TEST_F(KXLogerTest, ALaterAttemptDecidesItsFileAnewAndSucceeds) {
    const std::string bad = Unreachable();
    const std::string good = Dir.File("good.log");
    std::vector<std::string> asked;
    Log.SetOnGetFileName([&](TKXLoger*, const std::string& Current, std::string& Result) {
        asked.push_back(Current);
        Result = asked.size() == 1 ? bad : good;
    });
    Log.SetFileName(Dir.File("configured.log"));
    Log.SetActive(true);
    PutAndFlush(Log, "saved");

    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], Dir.File("configured.log"));  // the template stands in for a missing name
    EXPECT_EQ(asked[1], bad);
    EXPECT_EQ(Dir.Read("good.log"), BOM + "saved");
    EXPECT_EQ(Log.LastError(), "");
    EXPECT_TRUE(Log.Active());
}

TEST_F(KXLogerTest, DayPeriodDecidesAnewOnlyWhenTheDateChanged) {
    int decisions = 0;
    Log.SetOnExpandFileName([&](const std::string&, std::string& Result) {
        Result = Dir.File("day" + std::to_string(++decisions) + ".log");
    });
    Log.SetFileName("%Date%.log");
    ASSERT_EQ(Log.FileNamePeriod(), 3);
    Log.SetActive(true);
    PutAndFlush(Log, "a");
    PutAndFlush(Log, "b");
    EXPECT_EQ(decisions, 1);
    // The next batch after midnight.
    Log.Writer()->SetLastDate(DateOf(Now()) - 1);
    PutAndFlush(Log, "c");
    EXPECT_EQ(decisions, 2);
    EXPECT_EQ(Dir.Read("day1.log"), BOM + "ab");
    EXPECT_EQ(Dir.Read("day2.log"), BOM + "c");
}

TEST_F(KXLogerTest, SecondPeriodDecidesEveryBatchAndNumbersAFileHoldingData) {
    int decisions = 0;
    Log.SetOnExpandFileName([&](const std::string&, std::string& Result) {
        ++decisions;
        Result = Dir.File("t.log");  // the same second every time
    });
    Log.SetFileName("%Time%.log");
    Log.SetActive(true);
    for (const char* b : {"1", "2", "3"}) PutAndFlush(Log, b);
    EXPECT_EQ(decisions, 3);
    EXPECT_EQ(Dir.Read("t.log"), BOM + "1");
    EXPECT_EQ(Dir.Read("t_1.log"), BOM + "2");
    EXPECT_EQ(Dir.Read("t_2.log"), BOM + "3");
}

TEST(KXLogerErrors, HandleErrorFollowsTheHandlerOrTheErrorAction) {
    struct Case {
        const char* Label;
        bool Handler;
        int Action;
        bool Deactivate;
        const char* LastError;
        bool DialogShown;
    } cases[] = {
        {"handler", true, 1, true, "", false},
        {"message box", false, 0, true, "", true},
        {"stored text", false, 1, true, "boom", false},
        {"nothing", false, 2, true, "", false},
        {"stays on", false, 1, false, "boom", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        std::string caption, message;
        TMsgDlgType type = mtCustom;
        bool shown = false;
        SetMessageDlgFunc([&](const std::string& Caption, const std::string& Message, TMsgDlgType Type,
                              TMsgDlgButtons, int) {
            shown = true;
            caption = Caption;
            message = Message;
            type = Type;
            return int(mrOk);
        });
        std::string handled;
        TKXLoger log;
        log.SetSynchronous(true);
        if (c.Handler) log.SetOnError([&](TKXLoger*, const std::exception& E) { handled = E.what(); });
        log.SetErrorAction(static_cast<uint8_t>(c.Action));
        log.SetDeactivateOnError(c.Deactivate);
        log.SetActive(true);
        log.HandleError(EKXLoger("boom"));
        SetMessageDlgFunc(nullptr);

        EXPECT_EQ(handled, c.Handler ? "boom" : "");
        EXPECT_EQ(log.LastError(), c.LastError);
        EXPECT_EQ(shown, c.DialogShown);
        if (c.DialogShown) {
            EXPECT_EQ(caption, "Object: TKXLoger");
            EXPECT_EQ(message, "Error write log to file \"C:\\Log.log\":\r\nboom");
            EXPECT_EQ(type, mtError);
        }
        EXPECT_EQ(log.Active(), !c.Deactivate);
    }
}

TEST(KXLogerErrors, AThrowingHandlerDoesNotReachTheWriter) {
    TKXLoger log;
    log.SetSynchronous(true);
    log.SetOnError([](TKXLoger*, const std::exception&) { throw std::runtime_error("handler failed"); });
    log.SetActive(true);
    EXPECT_NO_THROW(log.HandleError(EKXLoger("boom")));
    EXPECT_FALSE(log.Active());
}

TEST(KXLogerThreaded, DestroyingAnActiveLoggerWritesEverythingBuffered) {
    TTempDir dir;
    std::string expected = BOM;
    {
        TKXLoger log;
        log.SetFileName(dir.File("threaded.log"));
        log.SetActive(true);
        ASSERT_NE(log.WriterThread(), nullptr);
        for (int i = 0; i < 2000; ++i) {
            std::string line = "line " + std::to_string(i) + "\r\n";
            expected += line;
            Put(log, line);
        }
    }
    EXPECT_EQ(dir.Read("threaded.log"), expected);
}

TEST(KXLogerThreaded, SwitchingOffDrainsAndEndsTheWriterThread) {
    TTempDir dir;
    TKXLoger log;
    log.SetFileName(dir.File("off.log"));
    log.SetActive(true);
    Put(log, "pending");
    log.SetActive(false);
    EXPECT_EQ(log.WriterThread(), nullptr);
    EXPECT_EQ(dir.Read("off.log"), BOM + "pending");
    // And on again: a new writer thread.
    log.SetActive(true);
    EXPECT_NE(log.WriterThread(), nullptr);
    Put(log, "+more");
    log.SetActive(false);
    EXPECT_EQ(dir.Read("off.log"), BOM + "pending+more");
}

TEST(KXLogerThreaded, SwitchingToSynchronousLeavesOneWriter) {
    TTempDir dir;
    TKXLoger log;
    log.SetFileName(dir.File("mode.log"));
    log.SetActive(true);
    Put(log, "threaded;");
    log.SetSynchronous(true);
    EXPECT_EQ(log.WriterThread(), nullptr);
    PutAndFlush(log, "synchronous");
    EXPECT_EQ(dir.Read("mode.log"), BOM + "threaded;synchronous");
    log.SetSynchronous(false);
    EXPECT_NE(log.WriterThread(), nullptr);
}

TEST(KXLogerThreaded, FinalFailureOnTheWriterThreadSwitchesItselfOff) {
    TTempDir dir;
    dir.Write("blocker", "file");
    std::promise<std::string> failed;
    TKXLoger log;
    log.SetRetryDelay(1);
    log.SetFileName(dir.File("blocker/sub/x.log"));
    log.SetOnError([&](TKXLoger*, const std::exception& E) { failed.set_value(E.what()); });
    log.SetActive(true);
    Put(log, "lost");
    std::string message = failed.get_future().get();
    EXPECT_EQ(message.rfind("Error create directory", 0), 0u) << message;
    log.StopThread();  // returns once the thread has ended on its own
    EXPECT_EQ(log.WriterThread(), nullptr);
    EXPECT_FALSE(log.Active());
}

// Producers in several threads hand in records in pieces under the logger's lock while
// the writer thread drains: every record must arrive whole and in its thread's order.
TEST(KXLogerConcurrency, RecordsHandedInUnderTheLockArriveWhole) {
    constexpr int Threads = 8, PerThread = 1500;
    TTempDir dir;
    {
        TKXLoger log;
        log.SetFileName(dir.File("many.log"));
        log.SetActive(true);
        std::vector<std::thread> producers;
        for (int t = 0; t < Threads; ++t) {
            producers.emplace_back([&log, t] {
                for (int i = 0; i < PerThread; ++i) {
                    std::string a = "T" + std::to_string(t), b = ":" + std::to_string(i) + ":",
                                c = std::string(static_cast<size_t>(i % 50), 'x') + "\r\n";
                    TKXLockGuard hold(log);
                    log.WriteBuffer(a.data(), static_cast<int64_t>(a.size()));
                    log.WriteBuffer(b.data(), static_cast<int64_t>(b.size()));
                    log.WriteBuffer(c.data(), static_cast<int64_t>(c.size()));
                }
            });
        }
        for (auto& p : producers) p.join();
    }
    std::string text = dir.Read("many.log");
    ASSERT_EQ(text.substr(0, 3), BOM);
    std::vector<int> next(Threads, 0);
    int lines = 0;
    for (const std::string& line : SplitLines(text.substr(3))) {
        int t = -1, i = -1;
        size_t xs = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "T%d:%d:", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < Threads) << line;
        xs = line.size() - line.find(':', line.find(':') + 1) - 1;
        ASSERT_EQ(i, next[t]) << line;
        ASSERT_EQ(xs, static_cast<size_t>(i % 50)) << line;
        ++next[t];
        ++lines;
    }
    EXPECT_EQ(lines, Threads * PerThread);
}

}  // namespace
