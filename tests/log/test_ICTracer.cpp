#include "log/ICTracer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "LogRecords.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "support/TempDir.h"
#include "system/KXSysTools_v20_2.h"

namespace {

const std::string BOM = "\xEF\xBB\xBF";
const std::regex TimeStamp(R"(^\[\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d:\d{3}\])");

// A synchronous tracer writing into a fresh folder; the error log goes to its own %Temp%.
class ICTracerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TEMP", Temp.Path().c_str(), 1);
        Tracer.SetSynchronous(true);
        Tracer.SetRetryDelay(1);
    }
    void TearDown() override { unsetenv("TEMP"); }
    void Activate(const std::string& name) {
        Tracer.SetFileName(name);
        Tracer.SetActive(true);
    }
    void Entry(const std::string& head, const std::string& body = {}) {
        Tracer.WriteEntry(head, body.data(), static_cast<int64_t>(body.size()));
    }
    std::string ErrorLog() const { return Temp.Read("Kexo/TICTracer/Error.log"); }

    TTempDir Dir, Temp;
    TICTracer Tracer{"UnitTracer", "4242"};
};

TEST(ICTracerFormat, FormatValueCountsValuesOfSeveralLines) {
    struct Case {
        const char* Name;
        const char* Value;
        const char* Indent;
        const char* Expected;
    } cases[] = {
        {"Value", "abc", "", "Value: abc"},
        {"Value", "", " ", "Value: "},
        {"N", "a\nb", " ", "N: a\nb"},  // a bare LF is no line end of the log
        {"N", "a\r\nb", " ", "N:#1\\6\r\n a\r\n b"},  // space, a, CR, LF, space, b
        {"N", "a\r\n", " ", "N:#1\\4\r\n a\r\n"},  // nothing after the final CR LF
        {"N", "a\r\nb", "", "N:#0\\4\r\na\r\nb"},
        {"Params", "x: \r\ny: 1\r\n", "  ", "Params:#2\\15\r\n  x: \r\n  y: 1\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TICTracer::FormatValue(c.Name, c.Value, c.Indent), c.Expected) << c.Value;
    }
}

TEST(ICTracerFormat, FormatTimeGivesTheBracketedStamp) {
    TDateTimeParts p;
    p.year = 2024, p.month = 5, p.day = 6, p.hour = 7, p.minute = 8, p.second = 9, p.millisecond = 123;
    EXPECT_EQ(TICTracer::FormatTime(EncodeDateTime(p)), "[2024.05.06 07:08:09:123]");
    p.hour = 23, p.millisecond = 1;
    EXPECT_EQ(TICTracer::FormatTime(EncodeDateTime(p)), "[2024.05.06 23:08:09:001]");
}

TEST(ICTracerFormat, FormatEntryHeadBuildsTheGenericHead) {
    struct Case {
        const char* TraceIDText;
        const char* DataIDText;
        int Size;
        bool Event;
        const char* Expected;  // after the time stamp
    } cases[] = {
        {"Obj", "Data", 12, false, "[TraceID: Obj][DataID: Data]12\r\n"},
        {"Obj", "Data", 0, false, "[TraceID: Obj]Data\r\n"},
        {"", "Data", -1, false, "Data\r\n"},
        {"", "", 7, false, "7\r\n"},
        {"", "", 0, false, "\r\n"},
        {"", "", 0, true, "[TraceID: fromEvent]\r\n"},
        {"Given", "", 0, true, "[TraceID: Given]\r\n"},
    };
    for (const auto& c : cases) {
        TICTracer tracer("T", "1");
        if (c.Event) tracer.SetOnGetTraceID([](TICTracer*, std::string& Text) { Text = "fromEvent"; });
        std::string head = tracer.FormatEntryHead(c.TraceIDText, c.DataIDText, c.Size);
        ASSERT_TRUE(std::regex_search(head, TimeStamp)) << head;
        EXPECT_EQ(head.substr(25), c.Expected);
    }
}

TEST_F(ICTracerTest, ANewFileStartsWithTheHeaderRecord) {
    Activate(Dir.File("trace.log"));
    Entry("head\r\n");
    TLogFileParts parts = ParseLogFile(Dir.Read("trace.log"), false);
    ASSERT_TRUE(parts.Valid) << parts.Error;

    const std::string exe = ExeFileName();
    const std::string expected = "UnitTracer:\r\n"
                                 "  LogType:      UnitTracer\r\n"
                                 "  Full name:    " + exe + "\r\n"
                                 "  Version:      " + GetFileVersion(exe) + "\r\n"
                                 "  Build time:   " + FormatDateTime("yyyy.mm.dd hh:nn:ss", FileDate(exe)) + "\r\n"
                                 "  ID:           4242\r\n";
    EXPECT_EQ(parts.HeaderText, expected);
    EXPECT_EQ(parts.HeaderLine.substr(25), "VersionInfo\\" + std::to_string(expected.size()));
    EXPECT_TRUE(std::regex_search(Tracer.BuildTime(), std::regex(R"(^\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d$)")));
    EXPECT_EQ(parts.Rest, "head\r\n");
}

TEST_F(ICTracerTest, OnGetHeaderReplacesTheHeaderText) {
    Tracer.SetOnGetHeader([](TICTracer*, std::string& Text) { Text = "Own header\r\n"; });
    Activate(Dir.File("trace.log"));
    Entry("x\r\n");
    TLogFileParts parts = ParseLogFile(Dir.Read("trace.log"), false);
    ASSERT_TRUE(parts.Valid) << parts.Error;
    EXPECT_EQ(parts.HeaderText, "Own header\r\n");
    EXPECT_EQ(parts.HeaderLine.substr(25), "VersionInfo\\12");
}

TEST_F(ICTracerTest, WriteEntryAppendsHeadThenExactlyLengthBytesAndALineEnd) {
    Activate(Dir.File("trace.log"));
    const std::string data = "0123456789";
    Tracer.WriteEntry("H1 4\r\n", data.data(), 4);
    Tracer.WriteEntry("", data.data(), 0);  // nothing at all
    Tracer.WriteEntry("H2\r\n", nullptr, 0);
    TLogFileParts parts = ParseLogFile(Dir.Read("trace.log"), false);
    ASSERT_TRUE(parts.Valid) << parts.Error;
    EXPECT_EQ(parts.Rest, "H1 4\r\n0123\r\nH2\r\n");
}

TEST_F(ICTracerTest, AnInactiveTracerBuffersNothing) {
    Tracer.SetFileName(Dir.File("trace.log"));
    Entry("before\r\n", "body");
    EXPECT_EQ(Tracer.BufferSize(), 0);
    Tracer.SetActive(true);
    Entry("after\r\n");
    TLogFileParts parts = ParseLogFile(Dir.Read("trace.log"), false);
    ASSERT_TRUE(parts.Valid) << parts.Error;
    EXPECT_EQ(parts.Rest, "after\r\n");
}

TEST_F(ICTracerTest, EveryFileOfARunGetsItsOwnHeader) {
    Tracer.SetMaxFileSize(1);  // every batch fills its file
    Activate(Dir.File("trace.log"));
    Entry("first\r\n");
    Entry("second\r\n");
    for (const char* name : {"trace.log", "trace_1.log"}) {
        TLogFileParts parts = ParseLogFile(Dir.Read(name), false);
        ASSERT_TRUE(parts.Valid) << name << ": " << parts.Error;
        EXPECT_EQ(parts.HeaderText, Tracer.GetHeader());
        EXPECT_EQ(parts.Rest, std::string(name) == "trace.log" ? "first\r\n" : "second\r\n");
    }
}

TEST_F(ICTracerTest, AFinalFailureIsOneLineInTheErrorLogAndSwitchesOff) {
    Dir.Write("blocker", "file");
    const std::string name = Dir.File("blocker/sub/trace.log");
    Activate(name);
    Entry("lost\r\n", "body");
    EXPECT_FALSE(Tracer.Active());
    Entry("dropped\r\n");
    EXPECT_EQ(Tracer.BufferSize(), 0);

    EXPECT_EQ(NormalizePath(Tracer.ErrorLogFileName()), Temp.File("Kexo/TICTracer/Error.log"));
    std::string log = ErrorLog();
    const std::regex line("^\\[\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}\\]->Error write to file \"" +
                          std::regex_replace(name, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                          "\" : Error create directory \"[^\"]+\" : [^\r\n]+\r\n$");
    EXPECT_TRUE(std::regex_match(log, line)) << log;

    // A second failure of another run appends its own line.
    TICTracer again("UnitTracer", "1");
    again.SetSynchronous(true);
    again.SetRetryDelay(1);
    again.SetFileName(name);
    again.SetActive(true);
    again.WriteEntry("lost\r\n", nullptr, 0);
    EXPECT_EQ(SplitLines(ErrorLog()).size(), 2u);
    EXPECT_EQ(ErrorLog().substr(0, log.size()), log);
}

TEST_F(ICTracerTest, AHeaderThatCannotBeWrittenFailsTheAttempt) {
    int headers = 0;
    Tracer.SetOnGetHeader([&](TICTracer*, std::string& Text) {
        if (++headers == 1) throw std::runtime_error("no header");
        Text = "H\r\n";
    });
    Activate(Dir.File("trace.log"));
    Entry("kept\r\n");
    EXPECT_EQ(headers, 2);
    EXPECT_TRUE(Tracer.Active());
    TLogFileParts parts = ParseLogFile(Dir.Read("trace.log"), false);
    ASSERT_TRUE(parts.Valid) << parts.Error;
    EXPECT_EQ(parts.HeaderText, "H\r\n");
    EXPECT_EQ(parts.Rest, "kept\r\n");
}

TEST_F(ICTracerTest, AnErrorLogFolderThatCannotBeCreatedLeavesNoTrace) {
    std::string blockedTemp = Temp.Write("notafolder", "file");
    setenv("TEMP", blockedTemp.c_str(), 1);
    Dir.Write("blocker", "file");
    Activate(Dir.File("blocker/sub/trace.log"));
    EXPECT_NO_THROW(Entry("lost\r\n"));
    EXPECT_FALSE(Tracer.Active());
    EXPECT_EQ(Temp.Read("notafolder"), "file");
}

}  // namespace
