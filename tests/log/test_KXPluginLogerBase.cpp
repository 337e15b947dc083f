#include "log/KXPluginLogerBase.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "LogRecords.h"
#include "platform/Files.h"
#include "platform/ProgramInfo.h"
#include "platform/Strings.h"
#include "support/TempDir.h"
#include "support/TestEnvironment.h"
#include "system/KXSysTools_v20_2.h"

namespace {

class TSender : public TObject {};


// Writes the host ini file for one test and removes it afterwards.
class TIniFile {
public:
    explicit TIniFile(const std::string& content) : FName(TKXPluginLogerBase::GetIniFileName()) {
        ForceDirectories(ExtractFileDir(FName));
        WriteFileAtomic(FName, content);
    }
    ~TIniFile() { DeleteFile(FName); }
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

private:
    std::string FName;
};

class KXPluginLogerBaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProcessAppData();
        setenv("TEMP", Temp.Path().c_str(), 1);
    }
    void TearDown() override { unsetenv("TEMP"); }
    // Switches the logger on with an explicit file, as an owner without an ini file would.
    void Activate(TKXPluginLogerBase& log, const std::string& name = "trace.log") {
        log.SetTracerFileName(Dir.File(name));
        log.Tracer()->SetRetryDelay(1);
        log.Tracer()->SetActive(true);
    }
    TLogFileParts Read(const std::string& name = "trace.log") { return ParseLogFile(Dir.Read(name)); }

    TTempDir Dir, Temp;
};

// The record a trace call must give, with time, thread and address normalised.
std::string Record(const std::string& head, const std::string& body) {
    if (body.empty()) return head + "\r\n";
    return head + std::to_string(body.size()) + "\r\n" + body + "\r\n";
}

TEST_F(KXPluginLogerBaseTest, TraceBuildsOneRecordPerCall) {
    const std::string noSender = "[TIME][ThreadID: 0xTHREAD]";
    const std::string withSender = "[TIME][TraceID: TSender(0xADDR)][ThreadID: 0xTHREAD]";
    const std::string noInfo = "[ObjectInfo: ]";
    const std::string info = "[ObjectInfo: Object=\"TSender(0xADDR)\"]";
    struct Case {
        const char* Label;
        bool Sender;
        TKXLogerTraceType Type;
        std::string Text;
        TKXNames Names;
        TKXValues Values;
        std::string Expected;
    } cases[] = {
        {"start without parameters", false, ttStartExecFunction, "LoadFromJSON", {}, {},
         Record(noSender + "[DataID: StartExecFunction LoadFromJSON]" + noInfo, "")},
        {"start with parameters", true, ttStartExecFunction, "Run", {"a"}, {TVarRec(1)},
         Record(withSender + "[DataID: StartExecFunction Run]" + info, "Params:#1\\7\r\n a: 1\r\n")},
        {"result without value", false, ttEndExecFunction, "f", {}, {},
         Record(noSender + "[DataID: EndExecFunction f]" + noInfo, "")},
        {"result with value", false, ttEndExecFunction, "f", {"ignored"}, {TVarRec(42)},
         Record(noSender + "[DataID: EndExecFunction f]" + noInfo, "Result: 42\r\n")},
        {"more values than names", false, ttMessage, "msg", {"n1", "n2"}, {TVarRec(1), TVarRec(true), TVarRec("s")},
         Record(noSender + "[DataID: Message]" + noInfo,
                "Value: msg\r\nParams:#1\\31\r\n n1: 1\r\n n2: TRUE\r\n Param3: s\r\n")},
        {"more names than values", false, ttMessage, "", {"n1", "n2"}, {TVarRec(5)},
         Record(noSender + "[DataID: Message]" + noInfo, "Params:#1\\15\r\n n1: 5\r\n n2: \r\n")},
        {"only a parameter block", false, ttMessage, "", {"abc"}, {},
         Record(noSender + "[DataID: Message]" + noInfo, "Params:#1\\8\r\n abc: \r\n")},
        {"empty message", false, ttMessage, "", {}, {}, Record(noSender + "[DataID: Message]" + noInfo, "")},
        {"error", true, ttError, "boom", {}, {},
         Record(withSender + "[DataID: Error]" + info, "Value: boom\r\n")},
        {"text of several lines", false, ttMessage, "a\r\nb", {}, {},
         Record(noSender + "[DataID: Message]" + noInfo, "Value:#0\\4\r\na\r\nb\r\n")},
        {"parameter value of several lines", false, ttError, "", {"p"}, {TVarRec("a\r\nb")},
         Record(noSender + "[DataID: Error]" + noInfo, "Params:#1\\19\r\n p:#1\\6\r\n  a\r\n  b\r\n")},
        {"set property", false, ttSetProperty, "Port", {"x"}, {TVarRec(11754)},
         Record(noSender + "[DataID: SetProperty Port]" + noInfo, "Value: 11754\r\n")},
        {"get property", false, ttGetProperty, "Name", {}, {TVarRec("kexo")},
         Record(noSender + "[DataID: GetProperty Name]" + noInfo, "Result: kexo\r\n")},
        {"create", true, ttCreate, "ignored", {}, {}, Record(withSender + "[DataID: Create TSender]" + info, "")},
        {"create with parameters", true, ttCreate, "", {"k"}, {TVarRec("v")},
         Record(withSender + "[DataID: Create TSender]" + info, "Params:#1\\7\r\n k: v\r\n")},
        {"destroy takes no parameters", true, ttDestroy, "", {"k"}, {TVarRec("v")},
         Record(withSender + "[DataID: Destroy TSender]" + info, "")},
        {"create without sender", false, ttCreate, "", {}, {}, Record(noSender + "[DataID: Create]" + noInfo, "")},
        {"small raw address", false, ttMessage, "", {}, {TVarRec::Pointer(reinterpret_cast<const void*>(0x1F))},
         Record(noSender + "[DataID: Message]" + noInfo, "Params:#1\\28\r\n Param1: Pointer(0000001F)\r\n")},
        {"type outside the enumeration", false, static_cast<TKXLogerTraceType>(8), "text", {"n"}, {TVarRec(1)},
         Record(noSender + "[DataID: ]" + noInfo, "")},
    };
    TSender sender;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        TTempDir dir;
        TKXPluginLogerBase log;
        log.SetTracerFileName(dir.File("t.log"));
        log.Tracer()->SetActive(true);
        log.Trace(c.Sender ? &sender : nullptr, c.Type, c.Text, c.Names, c.Values);
        TLogFileParts parts = ParseLogFile(dir.Read("t.log"));
        ASSERT_TRUE(parts.Valid) << parts.Error;
        ASSERT_EQ(parts.Records.size(), 1u);
        EXPECT_EQ(NormalizeLogText(parts.Records[0]), c.Expected);
    }
}

TEST_F(KXPluginLogerBaseTest, ObjectsInValuesAreNamedWithTheirAddress) {
    TSender sender, other;
    TKXPluginLogerBase log;
    Activate(log);
    const std::string object = log.GetObjectParam(&other);
    log.TraceMessage(&sender, "", {"obj", "ptr"}, {TVarRec(static_cast<const TObject*>(&other)),
                                                   TVarRec::Pointer(&other, &other)});
    TLogFileParts parts = Read();
    ASSERT_TRUE(parts.Valid) << parts.Error;
    ASSERT_EQ(parts.Records.size(), 1u);
    const std::string list = " obj: " + object + "\r\n ptr: " + object + "\r\n";
    EXPECT_EQ(parts.Bodies[0], "Params:#1\\" + std::to_string(list.size()) + "\r\n" + list);
}

TEST(KXPluginLogerText, ObjectTextIsClassAndUpperCaseAddress) {
    TKXPluginLogerBase log;
    TSender sender;
    const std::string text = log.GetObjectText(&sender);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, std::regex(R"(^TSender\(0x([0-9A-F]{4,})\)$)"))) << text;
    EXPECT_EQ(std::stoull(m[1].str(), nullptr, 16), reinterpret_cast<uintptr_t>(&sender));
    EXPECT_EQ(log.GetObjectParam(&sender), "Object=\"" + text + "\"");
    EXPECT_EQ(log.GetObjectText(nullptr), "");
    EXPECT_EQ(log.GetObjectParam(nullptr), "");
}

TEST(KXPluginLogerText, TraceTypeToStringDropsThePrefix) {
    const char* names[] = {"StartExecFunction", "EndExecFunction", "Message", "Error",
                           "SetProperty",       "GetProperty",     "Create",  "Destroy"};
    for (int t = 0; t < 8; ++t) EXPECT_EQ(TraceTypeToString(static_cast<TKXLogerTraceType>(t)), names[t]);
    for (int t : {8, 255}) {
        try {
            TraceTypeToString(static_cast<TKXLogerTraceType>(t));
            ADD_FAILURE() << "no exception for " << t;
        } catch (const EKXPluginLoger& e) {
            EXPECT_EQ(e.Message(), "Wrong TraceType " + std::to_string(t) + " on TraceTypeToString");
        }
    }
}

TEST_F(KXPluginLogerBaseTest, ConstructionMakesAnInactiveSynchronousPluginTracer) {
    TKXPluginLogerBase log;
    auto* tracer = dynamic_cast<TPluginICTracer*>(log.Tracer());
    ASSERT_NE(tracer, nullptr);
    EXPECT_EQ(tracer->LogType(), "KexoPluginTracer");
    EXPECT_EQ(tracer->HeaderID(), std::to_string(ProgramModuleHandle()));
    EXPECT_EQ(tracer->ErrorAction(), 1);
    EXPECT_TRUE(tracer->Synchronous());
    EXPECT_TRUE(tracer->DeactivateOnError());
    EXPECT_FALSE(tracer->Active());
    EXPECT_FALSE(log.Opened());
}

TEST_F(KXPluginLogerBaseTest, ThePluginHeaderAddsHostNameAndOperatingSystem) {
    TKXPluginLogerBase log;
    Activate(log);
    log.TraceMessage(nullptr, "x");
    TLogFileParts parts = Read();
    ASSERT_TRUE(parts.Valid) << parts.Error;
    std::vector<std::string> lines = SplitLines(parts.HeaderText);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "KexoPluginTracer:");
    EXPECT_EQ(lines[1], "  LogType:      KexoPluginTracer");
    EXPECT_EQ(lines[6], "  Host Name:    " + ComputerName());
    EXPECT_EQ(lines[7], "  OS Version:   " + OSDescription());
}

TEST_F(KXPluginLogerBaseTest, WithoutAnIniFileTheLogStaysOff) {
    TKXPluginLogerBase log;
    EXPECT_FALSE(log.IsActive());
    EXPECT_TRUE(log.Opened());
    log.TraceMessage(nullptr, "nothing");
    EXPECT_FALSE(log.Tracer()->Active());
    EXPECT_EQ(log.Tracer()->BufferSize(), 0);
}

TEST_F(KXPluginLogerBaseTest, LogFileNameComesFromTheLogSectionOfTheIniFile) {
    struct Case {
        const char* Label;
        const char* Ini;  // nullptr: no ini file
        const char* Expected;
    } cases[] = {
        {"no ini file", nullptr, ""},
        {"no section", "[Server]\r\nFileName=x.log\r\n", ""},
        {"no key", "[Log]\r\nOther=x.log\r\n", ""},
        {"empty value", "[Log]\r\nFileName=\r\n", ""},
        {"a name", "[Server]\r\nIdleTime=5\r\n\r\n[Log]\r\nFileName=%Temp%\\host.log\r\n", "%Temp%\\host.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        std::unique_ptr<TIniFile> ini;
        if (c.Ini) ini = std::make_unique<TIniFile>(c.Ini);
        EXPECT_EQ(TKXPluginLogerBase::GetLogFileName(), c.Expected);
    }
    // An ini path that cannot be read as a file gives no name either.
    ForceDirectories(TKXPluginLogerBase::GetIniFileName());
    EXPECT_EQ(TKXPluginLogerBase::GetLogFileName(), "");
    rmdir(NormalizePath(TKXPluginLogerBase::GetIniFileName()).c_str());
}

TEST_F(KXPluginLogerBaseTest, OpeningExpandsTheConfiguredNameOnce) {
    TIniFile ini("[Log]\r\nFileName=%Temp%\\logs\\%Date|yyyy%.log\r\n");
    TKXPluginLogerBase log;
    ASSERT_TRUE(log.IsActive());
    const std::string expected = Temp.File("logs/" + FormatDateTime("yyyy", Now()) + ".log");
    EXPECT_EQ(log.TracerFileName(), expected);
    EXPECT_EQ(log.Tracer()->FileNamePeriod(), 0);  // decided once per run, not by date
    log.TraceStart(nullptr, "Open");
    TLogFileParts parts = ParseLogFile(ReadFileText(expected));
    ASSERT_TRUE(parts.Valid) << parts.Error;
    ASSERT_EQ(parts.Records.size(), 1u);
    // Once active, another name is not taken.
    log.SetTracerFileName(Dir.File("other.log"));
    EXPECT_EQ(log.TracerFileName(), expected);
}

TEST_F(KXPluginLogerBaseTest, AfterAFinalFailureEveryTraceReturnsAtOnce) {
    Dir.Write("blocker", "file");
    TKXPluginLogerBase log;
    Activate(log, "blocker/sub/trace.log");
    ASSERT_TRUE(log.IsActive());
    log.TraceMessage(nullptr, "lost");
    EXPECT_FALSE(log.IsActive());
    log.TraceError(nullptr, "also lost");
    log.TraceResult(nullptr, "f", TVarRec(1));
    const std::string errors = Temp.Read("Kexo/TPluginICTracer/Error.log");
    EXPECT_EQ(SplitLines(errors).size(), 1u) << errors;
    EXPECT_FALSE(log.IsActive());
}

TEST_F(KXPluginLogerBaseTest, ShorthandsWriteTheirTypes) {
    TSender sender;
    TKXPluginLogerBase log;
    Activate(log);
    log.TraceMessage(&sender, "m");
    log.TraceError(&sender, "e", {"n"}, {TVarRec(1)});
    log.TraceStart(&sender, "Func");
    log.TraceStart(&sender, "Func", {"a"}, {TVarRec("b")});
    log.TraceResult(&sender, "Func", TVarRec("r"));
    TLogFileParts parts = Read();
    ASSERT_TRUE(parts.Valid) << parts.Error;
    ASSERT_EQ(parts.Records.size(), 5u);
    const char* types[] = {"[DataID: Message]", "[DataID: Error]", "[DataID: StartExecFunction Func]",
                           "[DataID: StartExecFunction Func]", "[DataID: EndExecFunction Func]"};
    const char* bodies[] = {"Value: m\r\n", "Value: e\r\nParams:#1\\7\r\n n: 1\r\n", "",
                            "Params:#1\\7\r\n a: b\r\n", "Result: r\r\n"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_NE(parts.Records[i].find(types[i]), std::string::npos) << parts.Records[i];
        EXPECT_EQ(parts.Bodies[i], bodies[i]);
    }
}

TEST(KXPluginLogerIni, IniFileLiesBesideTheProgramOrInThePerUserFolder) {
    TTempDir dir, appData;
    setenv("AppData", appData.Path().c_str(), 1);
    dir.Write("with/KexoPluginHost.ini", "");
    struct Case {
        std::string Program;
        std::string Expected;
    } cases[] = {
        {dir.File("with/KexoPluginHost"), dir.File("with/KexoPluginHost.ini")},
        {"\\\\?\\" + dir.File("with/KexoPluginHost"), dir.File("with/KexoPluginHost.ini")},
        {dir.File("without/KexoPluginHost"), appData.File("Kexo/KexoPlugin/KexoPluginHost.ini")},
        {dir.File("without/host.exe"), appData.File("Kexo/KexoPlugin/host.ini")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TKXPluginLogerBase::IniFileNameFor(c.Program), c.Expected) << c.Program;
    }
    ProcessAppData();  // back to this process's own folder
}

}  // namespace
