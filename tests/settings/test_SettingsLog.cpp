// What the settings and the trust question write into the host log.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "log/LogRecords.h"
#include "log/U_LogFile.h"
#include "platform/Files.h"
#include "settings/U_Settings.h"
#include "support/TempDir.h"
#include "support/TestEnvironment.h"

namespace {


class SettingsLog : public ::testing::Test {
protected:
    void SetUp() override {
        ProcessAppData();
        Ini = TKXPluginLogerBase::GetIniFileName();
        ForceDirectories(ExtractFileDir(Ini));
        WriteFileAtomic(Ini, "[Log]\r\nFileName=" + Dir.File("host.log") + "\r\n");
        InitHostLog();
    }
    void TearDown() override {
        FinishHostLog();
        DeleteFile(Ini);
    }
    // The records of the run, each with its head and body.
    TLogFileParts Finish() {
        FinishHostLog();
        TLogFileParts parts = ParseLogFile(Dir.Read("host.log"));
        EXPECT_TRUE(parts.Valid) << parts.Error;
        return parts;
    }
    TTempDir Dir;
    std::string Ini;
};

TEST_F(SettingsLog, CurrentSettingsAreOneEntryWithTheSettingsAsDetail) {
    THostSettings settings(Dir.File("settings.ini"));
    settings.Load();
    settings.LogCurrentSettings();
    settings.Server().SetDomains("a.example;b.example");
    settings.SetLogFileName("%Temp%\\x.log");
    settings.LogCurrentSettings();
    TLogFileParts parts = Finish();
    ASSERT_EQ(parts.Records.size(), 3u);  // two entries and "LOG FINISH!"
    EXPECT_NE(parts.Records[0].find("[DataID: Message][ObjectInfo: Object=\"THostSettings(0x"), std::string::npos);
    const std::string defaults = " HTTP Port: 11754\r\n HTTPS Port: 11755\r\n Domains: \r\n Idle time: 300 сек.\r\n"
                                 " Proxy Monitor: True: \r\n";
    EXPECT_EQ(parts.Bodies[0], "Value: Current settings\r\nParams:#1\\" + std::to_string(defaults.size()) + "\r\n" +
                                   defaults);
    EXPECT_NE(parts.Bodies[1].find(" Domains: a.example;b.example\r\n"), std::string::npos);
    EXPECT_NE(parts.Bodies[1].find(" Proxy Monitor: True\r\n Log File Name: %Temp%\\x.log: \r\n"), std::string::npos);
}

TEST_F(SettingsLog, TheAnswerToTheTrustQuestionIsLogged) {
    TDomainListPlus list;
    bool answer = true;
    list.OnConfirmDomain = [&](const std::string&, const std::string&) { return answer; };
    EXPECT_TRUE(list.CheckDomain("https://site.example:8443", ""));
    answer = false;
    EXPECT_FALSE(list.CheckDomain("", "http://other.example/page"));
    EXPECT_TRUE(list.CheckDomain("https://site.example", ""));  // trusted now: nothing to log
    TLogFileParts parts = Finish();
    ASSERT_EQ(parts.Records.size(), 3u);
    EXPECT_NE(parts.Records[0].find("[TraceID: TDomainListPlus(0x"), std::string::npos);
    EXPECT_EQ(parts.Bodies[0], "Value: Trusted domain ADDED: site.example:8443\r\n");
    EXPECT_EQ(parts.Bodies[1], "Value: Trusted domain CANCELED: other.example\r\n");
    // A refusal is a warning, which the log writes as a message entry.
    EXPECT_NE(parts.Records[1].find("[DataID: Message]"), std::string::npos);
}

}  // namespace
