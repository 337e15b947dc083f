#include "log/U_LogFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LogRecords.h"
#include "platform/Files.h"
#include "platform/ProgramInfo.h"
#include "platform/Strings.h"
#include "support/TempDir.h"
#include "support/TestEnvironment.h"
#include "system/KXSysTools_v20_2.h"

namespace {

class TPluginHost : public TObject {};
class ThttpThread : public TObject {};

// Counts how often its name is asked for: a log that is off must not build any text.
class TSpySender : public TObject {
public:
    std::string ClassName() const override {
        ++Asked;
        return "TSpySender";
    }
    mutable std::atomic<int> Asked{0};
};

class EOwnError : public Exception {
public:
    using Exception::Exception;
};


// Each test is one run of the host: configure, start the log, report, finish.
class HostLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProcessAppData();
        setenv("TEMP", Temp.Path().c_str(), 1);
        Ini = TKXPluginLogerBase::GetIniFileName();
    }
    void TearDown() override {
        FinishHostLog();
        DeleteFile(Ini);
        unsetenv("TEMP");
    }
    void Configure(const std::string& logFileName) {
        ForceDirectories(ExtractFileDir(Ini));
        WriteFileAtomic(Ini, "[Log]\r\nFileName=" + logFileName + "\r\n");
    }
    // A new run: the log object of process start, with short pauses between attempts.
    void StartRun() {
        InitHostLog();
        ASSERT_NE(GetHostLog(), nullptr);
        GetHostLog()->Tracer()->SetRetryDelay(1);
    }
    TLogFileParts Read(const std::string& name = "host.log") { return ParseLogFile(Dir.Read(name)); }
    std::string ErrorLog() { return Temp.Read("Kexo/TPluginICTracer/Error.log"); }

    TTempDir Dir, Temp;
    std::string Ini;
};

TEST_F(HostLogTest, RecordsMatchTheDocumentedExamples) {
    Configure(Dir.File("host.log"));
    StartRun();
    TPluginHost host;
    ThttpThread http;
    HostLog(&host, "Processing command...");
    HostLog(&http, "Data:", lkInfo, "abc");
    FinishHostLog();

    const std::string documented =
        "[2024.05.06 07:08:09:123][TraceID: TPluginHost(0x1F3A0)][ThreadID: 0x1A2C][DataID: Message]"
        "[ObjectInfo: Object=\"TPluginHost(0x1F3A0)\"]30\r\n"
        "Value: Processing command...\r\n"
        "\r\n"
        "[2024.05.06 07:08:09:200][TraceID: ThttpThread(0x2B410)][ThreadID: 0x0F54][DataID: Message]"
        "[ObjectInfo: Object=\"ThttpThread(0x2B410)\"]35\r\n"
        "Value: Data:\r\n"
        "Params:#1\\8\r\n"
        " abc: \r\n"
        "\r\n"
        "[2024.05.06 09:00:00:001][ThreadID: 0x1A2C][DataID: Message][ObjectInfo: ]20\r\n"
        "Value: LOG FINISH!\r\n"
        "\r\n";
    const std::string file = Dir.Read("host.log");
    EXPECT_EQ(NormalizeLogText(RecordsText(file)), NormalizeLogText(documented));
    // Only the records follow the byte order mark and the header record.
    TLogFileParts parts = ParseLogFile(file);
    ASSERT_TRUE(parts.Valid) << parts.Error;
    EXPECT_EQ(file, "\xEF\xBB\xBF" + parts.HeaderLine + "\r\n" + parts.HeaderText + RecordsText(file));
}

TEST_F(HostLogTest, TheHeaderRecordDescribesProgramAndMachine) {
    Configure(Dir.File("host.log"));
    StartRun();
    HostLog(nullptr, "first");
    TLogFileParts parts = Read();
    ASSERT_TRUE(parts.Valid) << parts.Error;

    const std::string exe = ExeFileName();
    const std::string expected = "KexoPluginTracer:\r\n"
                                 "  LogType:      KexoPluginTracer\r\n"
                                 "  Full name:    " + exe + "\r\n"
                                 "  Version:      " + GetFileVersion(exe) + "\r\n"
                                 "  Build time:   " + FormatDateTime("yyyy.mm.dd hh:nn:ss", FileDate(exe)) + "\r\n"
                                 "  ID:           " + std::to_string(ProgramModuleHandle()) + "\r\n"
                                 "  Host Name:    " + ComputerName() + "\r\n"
                                 "  OS Version:   " + OSDescription() + "\r\n";
    EXPECT_EQ(parts.HeaderText, expected);
    EXPECT_EQ(parts.HeaderLine.substr(25), "VersionInfo\\" + std::to_string(expected.size()));
    ASSERT_EQ(parts.Records.size(), 1u);
}

TEST_F(HostLogTest, KindSelectsErrorMessageOrNothing) {
    Configure(Dir.File("host.log"));
    StartRun();
    struct Case {
        int Kind;
        const char* DataID;  // nullptr: no entry
    } cases[] = {{lkError, "Error"}, {lkWarning, "Message"}, {lkInfo, "Message"}, {lkDetail, "Message"},
                 {lkNone, nullptr},  {lkCleanup, "Message"}, {6, "Message"},     {255, "Message"}};
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        const std::string text = "kind " + std::to_string(c.Kind);
        HostLog(nullptr, text, static_cast<TLogKind>(c.Kind));
        if (c.DataID) {
            expected.push_back(NormalizeLogText(TICTracer::FormatTime(Now())) + "[ThreadID: 0xTHREAD][DataID: " +
                               c.DataID + "][ObjectInfo: ]" + std::to_string(text.size() + 9) + "\r\nValue: " +
                               text + "\r\n\r\n");
        }
    }
    TLogFileParts parts = Read();
    ASSERT_TRUE(parts.Valid) << parts.Error;
    ASSERT_EQ(parts.Records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(NormalizeLogText(parts.Records[i]), expected[i]);
}

TEST_F(HostLogTest, TextAndDetailEdgeCases) {
    Configure(Dir.File("host.log"));
    StartRun();
    struct Case {
        const char* Label;
        const char* Text;
        const char* Detail;
        const char* Body;
    } cases[] = {
        {"empty text and detail", "", "", ""},
        {"text of several lines", "line1\r\nline2", "", "Value:#0\\12\r\nline1\r\nline2\r\n"},
        {"detail only", "", "d", "Params:#1\\6\r\n d: \r\n"},
        {"detail of several lines", "t", "d1\r\nd2", "Value: t\r\nParams:#1\\12\r\n d1\r\n d2: \r\n"},
    };
    for (const auto& c : cases) HostLog(nullptr, c.Text, lkInfo, c.Detail);
    TLogFileParts parts = Read();
    ASSERT_TRUE(parts.Valid) << parts.Error;
    ASSERT_EQ(parts.Records.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].Label);
        EXPECT_EQ(parts.Bodies[i], cases[i].Body);
    }
    // A record without a body is the head line alone: no size, no empty line.
    EXPECT_EQ(NormalizeLogText(parts.Records[0]), "[TIME][ThreadID: 0xTHREAD][DataID: Message][ObjectInfo: ]\r\n");
}

TEST_F(HostLogTest, ExceptionsBecomeErrorEntries) {
    Configure(Dir.File("host.log"));
    StartRun();
    TPluginHost host;
    HostLogException(&host, "Start", EOwnError("port in use"));
    HostLogException(nullptr, "", std::runtime_error("bad"));
    TLogFileParts parts = Read();
    ASSERT_TRUE(parts.Valid) << parts.Error;
    ASSERT_EQ(parts.Records.size(), 2u);
    EXPECT_NE(parts.Records[0].find("[DataID: Error]"), std::string::npos);
    EXPECT_EQ(parts.Bodies[0], "Value: Start: Exception EOwnError: port in use\r\n");
    EXPECT_EQ(parts.Bodies[1], "Value: Exception runtime_error: bad\r\n");
}

TEST_F(HostLogTest, WithoutAConfiguredFileNothingIsBuiltOrWritten) {
    struct Case {
        const char* Label;
        const char* Ini;  // nullptr: no ini file
    } cases[] = {{"no ini file", nullptr}, {"empty name", "[Log]\r\nFileName=\r\n"}, {"no key", "[Log]\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        DeleteFile(Ini);
        if (c.Ini) {
            ForceDirectories(ExtractFileDir(Ini));
            WriteFileAtomic(Ini, c.Ini);
        }
        StartRun();
        TSpySender spy;
        HostLog(&spy, "text", lkError, "detail");
        HostLogException(&spy, "ctx", std::runtime_error("e"));
        EXPECT_EQ(spy.Asked.load(), 0);
        EXPECT_FALSE(GetHostLog()->IsActive());
        FinishHostLog();
    }
}

TEST_F(HostLogTest, ARunNeverAppendsToTheFileOfAnEarlierRun) {
    struct Case {
        const char* Label;
        const char* Existing;  // nullptr: absent
        const char* Written;
    } cases[] = {
        {"absent", nullptr, "host.log"},
        {"byte order mark only", "\xEF\xBB\xBF", "host.log"},
        {"one byte", "x", "host_1.log"},
        {"two bytes", "\xEF\xBB", "host_1.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        TTempDir dir;
        if (c.Existing) dir.Write("host.log", c.Existing);
        Configure(dir.File("host.log"));
        StartRun();
        HostLog(nullptr, "run");
        EXPECT_EQ(GetHostLog()->TracerFileName(), dir.File("host.log"));  // the configured name
        FinishHostLog();
        TLogFileParts parts = ParseLogFile(dir.Read(c.Written));
        ASSERT_TRUE(parts.Valid) << parts.Error;
        EXPECT_EQ(parts.Records.size(), 2u);
        if (c.Existing && std::string(c.Written) != "host.log") {
            EXPECT_EQ(dir.Read("host.log"), c.Existing);
        }
    }
    // Three runs on one configured name give three files.
    TTempDir dir;
    Configure(dir.File("host.log"));
    for (int run = 0; run < 3; ++run) {
        StartRun();
        HostLog(nullptr, "run " + std::to_string(run));
        FinishHostLog();
    }
    for (const char* name : {"host.log", "host_1.log", "host_2.log"}) {
        TLogFileParts parts = ParseLogFile(dir.Read(name));
        ASSERT_TRUE(parts.Valid) << name << ": " << parts.Error;
        EXPECT_EQ(parts.Records.size(), 2u) << name;
    }
}

TEST_F(HostLogTest, APathVariableInTheConfiguredNameIsExpanded) {
    Configure("%Temp%\\logs\\host.log");
    StartRun();
    HostLog(nullptr, "x");
    EXPECT_EQ(GetHostLog()->TracerFileName(), Temp.File("logs/host.log"));
    EXPECT_TRUE(ParseLogFile(Temp.Read("logs/host.log")).Valid);
}

TEST_F(HostLogTest, AFileThatCannotBeWrittenSwitchesTheLogOffQuietly) {
    Dir.Write("blocker", "file");
    Configure(Dir.File("blocker/sub/host.log"));
    StartRun();
    EXPECT_NO_THROW(HostLog(nullptr, "lost"));
    EXPECT_FALSE(GetHostLog()->IsActive());
    HostLog(nullptr, "dropped");
    HostLog(nullptr, "dropped", lkError);
    FinishHostLog();
    const std::string errors = ErrorLog();
    std::vector<std::string> lines = SplitLines(errors);
    ASSERT_EQ(lines.size(), 1u) << errors;
    EXPECT_NE(lines[0].find("]->Error write to file \"" + Dir.File("blocker/sub/host.log") + "\" : Error create directory"),
              std::string::npos)
        << lines[0];
}

TEST_F(HostLogTest, FinishWritesTheClosingEntryOnceAndEndsTheLog) {
    Configure(Dir.File("host.log"));
    StartRun();
    FinishHostLog();  // nothing written before: the finish opens the log itself
    EXPECT_TRUE(LogFinished());
    EXPECT_EQ(GetHostLog(), nullptr);
    const std::string file = Dir.Read("host.log");

    HostLog(nullptr, "late");
    HostLogException(nullptr, "late", std::runtime_error("e"));
    FinishHostLog();
    EXPECT_EQ(GetHostLog(), nullptr);
    EXPECT_EQ(Dir.Read("host.log"), file);

    TLogFileParts parts = ParseLogFile(file);
    ASSERT_TRUE(parts.Valid) << parts.Error;
    ASSERT_EQ(parts.Records.size(), 1u);
    EXPECT_EQ(parts.Bodies[0], "Value: LOG FINISH!\r\n");
}

TEST_F(HostLogTest, WithoutAnIniBesideTheProgramThePerUserFileIsUsed) {
    if (FileExists(ChangeFileExt(ExeFileName(), ".ini"))) GTEST_SKIP() << "an ini file lies beside the test program";
    EXPECT_EQ(TKXPluginLogerBase::GetIniFileName(),
              ProcessAppData().File("Kexo/KexoPlugin/" + ExtractFileBaseName(ExeFileName()) + ".ini"));
    // Not there either: the log is off.
    StartRun();
    EXPECT_FALSE(GetHostLog()->IsActive());
}

// Several threads report at once: the file must hold whole records only, every one of
// them, each thread's in its own order.
class HostLogConcurrency : public HostLogTest {};

TEST_F(HostLogConcurrency, ThreadsWriteWholeRecordsOnly) {
    constexpr int Threads = 8, PerThread = 500;
    Configure(Dir.File("host.log"));
    StartRun();
    std::vector<TPluginHost> senders(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t, &senders] {
            for (int i = 0; i < PerThread; ++i) {
                const std::string text = "T" + std::to_string(t) + " #" + std::to_string(i);
                if (i % 3 == 0) HostLog(&senders[static_cast<size_t>(t)], text, lkDetail, "line a\r\nline b");
                else HostLog(&senders[static_cast<size_t>(t)], text, i % 7 == 0 ? lkError : lkInfo);
            }
        });
    }
    for (auto& th : threads) th.join();
    FinishHostLog();

    TLogFileParts parts = Read();
    ASSERT_TRUE(parts.Valid) << parts.Error;
    ASSERT_EQ(parts.Records.size(), static_cast<size_t>(Threads * PerThread + 1));
    std::vector<int> next(Threads, 0);
    const std::regex body(R"(^Value: T(\d+) #(\d+)\r\n(Params:#1\\20\r\n line a\r\n line b: \r\n)?$)");
    for (size_t r = 0; r + 1 < parts.Records.size(); ++r) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(parts.Bodies[r], m, body)) << parts.Records[r];
        int t = std::stoi(m[1].str()), i = std::stoi(m[2].str());
        ASSERT_LT(t, Threads);
        ASSERT_EQ(i, next[static_cast<size_t>(t)]) << parts.Records[r];
        EXPECT_EQ(m[3].matched, i % 3 == 0);
        const std::string object =
            "TPluginHost(0x" + IntToHex(reinterpret_cast<uintptr_t>(&senders[static_cast<size_t>(t)]), 4) + ")";
        ASSERT_NE(parts.Records[r].find("[TraceID: " + object + "]"), std::string::npos) << parts.Records[r];
        ++next[static_cast<size_t>(t)];
    }
    EXPECT_EQ(parts.Bodies.back(), "Value: LOG FINISH!\r\n");
}

}  // namespace
