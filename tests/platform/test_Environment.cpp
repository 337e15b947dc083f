#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "platform/Environment.h"
#include "support/TestEnvironment.h"

namespace {


TEST(Environment, AppDataFallsBackToTheConfigFolders) {
    struct {
        std::optional<std::string> appData, xdg, home;
        const char* expected;
    } cases[] = {
        {"/ad", "/xdg", "/home/u", "/ad"},
        {std::nullopt, "/xdg", "/home/u", "/xdg"},
        {std::nullopt, std::nullopt, "/home/u", "/home/u/.config"},
        {"", "", "/home/u", "/home/u/.config"},
    };
    for (const auto& c : cases) {
        TEnvGuard env;
        env.Set("AppData", c.appData);
        env.Set("APPDATA", std::nullopt);
        env.Set("XDG_CONFIG_HOME", c.xdg);
        env.Set("HOME", c.home);
        EXPECT_EQ(GetEnvVar("AppData"), c.expected);
        EXPECT_EQ(GetEnvVar("APPDATA"), c.expected);
    }
}

TEST(Environment, TempFallsBackToTmpdirAndSlashTmp) {
    struct {
        std::optional<std::string> temp, tmp, tmpdir;
        const char* temp_expected;
        const char* tmp_expected;
    } cases[] = {
        {"/t1", "/t2", "/t3", "/t1", "/t2"},
        {std::nullopt, "/t2", "/t3", "/t2", "/t2"},
        {std::nullopt, std::nullopt, "/t3", "/t3", "/t3"},
        {std::nullopt, std::nullopt, std::nullopt, "/tmp", "/tmp"},
    };
    for (const auto& c : cases) {
        TEnvGuard env;
        env.Set("TEMP", c.temp);
        env.Set("TMP", c.tmp);
        env.Set("TMPDIR", c.tmpdir);
        EXPECT_EQ(GetEnvVar("Temp"), c.temp_expected);
        EXPECT_EQ(GetEnvVar("tmp"), c.tmp_expected);
    }
}

TEST(Environment, OtherNamesExactFirstThenWithoutCase) {
    TEnvGuard env;
    env.Set("KexoProbe", "mixed");
    env.Set("KEXOPROBE", "upper");
    env.Set("kexo_only_lower", "low");
    std::string v;
    EXPECT_EQ(GetEnvVar("KexoProbe"), "mixed");
    EXPECT_EQ(GetEnvVar("KEXOPROBE"), "upper");
    EXPECT_EQ(GetEnvVar("KEXO_ONLY_LOWER"), "low");
    EXPECT_FALSE(GetEnvVar("Kexo_Undefined_Name", v));
    EXPECT_FALSE(GetEnvVar("", v));
}

}  // namespace
