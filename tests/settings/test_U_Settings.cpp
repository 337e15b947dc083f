#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/Sync.h"
#include "settings/U_Settings.h"
#include "support/TempDir.h"

namespace {

TEST(NormalizeDomain, ReducesOriginsToHostNames) {
    struct {
        const char* text;
        const char* withoutPort;
        const char* withPort;
    } cases[] = {
        {"https://Site.Example:8443/page", "site.example", "site.example:8443"},
        {"  HTTP://site.example:8080/a/b?c  ", "site.example", "site.example:8080"},
        {"site.example", "site.example", "site.example"},
        {"null", "null", "null"},
        {"", "", ""},
        {"http://https://x.example/", "x.example", "x.example"},
        {"ftp://x.example", "ftp", "ftp:"},  // only the two web schemes are known
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NormalizeDomain(c.text, false), c.withoutPort) << c.text;
        EXPECT_EQ(NormalizeDomain(c.text, true), c.withPort) << c.text;
    }
}

std::vector<std::string> OriginsOf(const TDomainList& list) { return list.Origins().Items(); }

TEST(DomainList, OriginsFollowTheEntries) {
    TDomainList list;
    EXPECT_EQ(OriginsOf(list), std::vector<std::string>{PluginHostName});
    list.SetDelimitedText("a.example;;b.example");
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"a.example", "b.example"}));
    EXPECT_EQ(OriginsOf(list), (std::vector<std::string>{PluginHostName, "a.example", "b.example"}));
    list.SetDelimitedText("\"Site.Example:8443\"; https://Other.Example/x ;site.example");
    EXPECT_EQ(OriginsOf(list),
              (std::vector<std::string>{PluginHostName, "site.example", "other.example", "site.example"}));
    EXPECT_EQ(list.DelimitedText(), "Site.Example:8443;https://Other.Example/x;site.example");
}

TEST(DomainList, MatchingIsOnTheWholeHostName) {
    TDomainList list;
    list.SetDelimitedText("site.example");
    struct {
        const char* origin;
        const char* referer;
        bool passes;
    } cases[] = {
        {"https://Site.Example", "", true},
        {"", "http://site.example:8080/path/page.html", true},
        {"https://site.example", "http://site.example:1/x", true},
        {"https://a.site.example", "", false},  // a sub-domain is another domain
        {"https://site.example.evil", "", false},
        {"https://site.example", "https://other.example/", false},
        {"http://kexo-plugin.localhost:11754", "", true},
        {"", "", true},  // the plain list puts no condition on absent values
    };
    for (const auto& c : cases) EXPECT_EQ(list.CheckDomain(c.origin, c.referer), c.passes) << c.origin << " " << c.referer;
}

TEST(DomainList, AllowOriginValue) {
    TDomainList list;
    list.SetDelimitedText("site.example");
    EXPECT_EQ(list.AllowOriginValue(""), "*");
    EXPECT_EQ(list.AllowOriginValue("https://other.example"), "null");
    EXPECT_EQ(list.AllowOriginValue("https://Site.Example:8443"), "https://Site.Example:8443");
}

// The trust question, answered by a script of answers; records what was asked.
class DomainListPlus : public ::testing::Test {
protected:
    void SetUp() override {
        list.OnConfirmDomain = [this](const std::string& page, const std::string& domain) {
            std::lock_guard<std::mutex> guard(lock);
            asked.push_back(page + "|" + domain);
            if (throwOnAsk) throw std::runtime_error("dialog failed");
            return answer;
        };
        list.OnNewDomain = [this] { ++newDomains; };
    }
    TDomainListPlus list;
    std::mutex lock;
    std::vector<std::string> asked;
    bool answer = true;
    bool throwOnAsk = false;
    std::atomic<int> newDomains{0};
};

TEST_F(DomainListPlus, NoOriginAndNoRefererNeverPass) {
    EXPECT_FALSE(list.CheckDomain("", ""));
    EXPECT_TRUE(asked.empty());
}

TEST_F(DomainListPlus, OwnHostNamePassesWithoutAQuestion) {
    EXPECT_TRUE(list.CheckDomain("https://kexo-plugin.localhost:11755", ""));
    EXPECT_TRUE(list.CheckDomain("", "http://KEXO-PLUGIN.localhost/page"));
    EXPECT_TRUE(asked.empty());
}

TEST_F(DomainListPlus, YesAddsTheDomainWithItsPortAndTheHostToOrigins) {
    EXPECT_TRUE(list.CheckDomain("https://site.example:8443", "https://site.example:8443/page"));
    EXPECT_EQ(asked, std::vector<std::string>{"https://site.example:8443/page|site.example:8443"});
    EXPECT_EQ(list.Entries(), std::vector<std::string>{"site.example:8443"});
    EXPECT_EQ(OriginsOf(list), (std::vector<std::string>{PluginHostName, "site.example"}));
    EXPECT_EQ(newDomains, 1);
    // Trusted now on every port, without another question.
    EXPECT_TRUE(list.CheckDomain("http://site.example", ""));
    EXPECT_EQ(asked.size(), 1u);
}

TEST_F(DomainListPlus, TheQuestionIsAboutTheRefererWhenThereIsOne) {
    list.SetDelimitedText("trusted.example");
    answer = false;
    EXPECT_FALSE(list.CheckDomain("https://trusted.example", "https://other.example/p"));
    EXPECT_FALSE(list.CheckDomain("null", ""));
    EXPECT_EQ(asked, (std::vector<std::string>{"https://other.example/p|other.example", "null|null"}));
    EXPECT_EQ(list.Entries(), std::vector<std::string>{"trusted.example"});
    EXPECT_EQ(newDomains, 0);
}

TEST_F(DomainListPlus, ARefusedDomainIsAskedAgainLater) {
    answer = false;
    EXPECT_FALSE(list.CheckDomain("https://site.example", ""));
    answer = true;
    EXPECT_TRUE(list.CheckDomain("https://site.example", ""));
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(DomainListPlus, UnboundQuestionRefusesUntrustedDomains) {
    list.OnConfirmDomain = nullptr;
    EXPECT_FALSE(list.CheckDomain("https://site.example", ""));
    EXPECT_TRUE(list.CheckDomain("https://kexo-plugin.localhost", ""));
}

TEST_F(DomainListPlus, AnErrorOfTheHandlerReachesTheCallerAfterCleanup) {
    throwOnAsk = true;
    EXPECT_THROW(list.CheckDomain("https://site.example", ""), std::runtime_error);
    // Nothing stays pending: the next request asks (and does not wait forever).
    throwOnAsk = false;
    EXPECT_TRUE(list.WaitUntilNotPending("site.example"));
    EXPECT_TRUE(list.CheckDomain("https://site.example", ""));
    EXPECT_EQ(asked.size(), 2u);

    list.OnNewDomain = [] { throw std::runtime_error("save failed"); };
    EXPECT_THROW(list.CheckDomain("https://b.example", ""), std::runtime_error);
    EXPECT_TRUE(list.WaitUntilNotPending("b.example"));
}

// Many workers asking about the same new domain at once: one question, one answer for all.
class DomainListConcurrency : public ::testing::TestWithParam<bool> {};

TEST_P(DomainListConcurrency, SameNewDomainIsAskedOnce) {
    const bool answer = GetParam();
    constexpr int kWorkers = 16;
    TDomainListPlus list;
    list.SetPendingPollMs(5);
    std::atomic<int> questions{0};
    list.OnConfirmDomain = [&](const std::string&, const std::string&) {
        ++questions;
        // Answer only once every other worker waits for this question.
        while (list.WaitingCount() < kWorkers - 1) std::this_thread::yield();
        return answer;
    };
    TEvent go;
    std::atomic<int> passed{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < kWorkers; ++i) {
        workers.emplace_back([&] {
            go.WaitFor();
            if (list.CheckDomain("https://new.example", "")) ++passed;
        });
    }
    go.SetEvent();
    for (auto& t : workers) t.join();
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(passed, answer ? kWorkers : 0);
    EXPECT_EQ(list.Count(), answer ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, DomainListConcurrency, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Yes" : "No"; });

TEST(DomainListReplaceConcurrency, ReadersNeverSeeATornList) {
    TDomainListPlus list;
    list.SetDelimitedText("a.example;x0.example");
    std::atomic<bool> stop{false};
    std::atomic<int> wrongAnswers{0}, questions{0}, checks{0};
    list.OnConfirmDomain = [&](const std::string&, const std::string&) {
        ++questions;
        return false;
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&] {
            while (!stop) {
                if (!list.CheckDomain("https://a.example", "https://a.example/page")) ++wrongAnswers;
                if (list.AllowOriginValue("https://a.example") != "https://a.example") ++wrongAnswers;
                ++checks;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        list.SetDelimitedText(i % 2 ? "a.example;x1.example" : "x2.example; A.Example ;x3.example");
    }
    while (checks < 100) std::this_thread::yield();
    stop = true;
    for (auto& t : workers) t.join();
    EXPECT_EQ(wrongAnswers, 0);
    EXPECT_EQ(questions, 0);
}

// ---- THostSettings ----

class HostSettings : public ::testing::Test {
protected:
    std::string Ini() const { return dir.File("cfg/KexoPluginHost.ini"); }
    std::string FileText() const { return dir.Read("cfg/KexoPluginHost.ini"); }
    TTempDir dir;
};

TEST_F(HostSettings, FirstStartWithoutAFileHasDefaultsAndWritesNothing) {
    THostSettings s(Ini());
    s.Load();
    EXPECT_EQ(s.Server_RPC().Port(), 11754);
    EXPECT_EQ(s.Server_SSL().Port(), 11755);
    EXPECT_EQ(s.IdleTime(), 300);
    EXPECT_TRUE(s.ProxyMonitor());
    EXPECT_FALSE(s.DevMode());
    EXPECT_EQ(s.LogFileName(), "");
    EXPECT_FALSE(s.DiffersFromFile());
    s.Save(sgAll);
    EXPECT_FALSE(DirectoryExists(dir.File("cfg")));
}

TEST_F(HostSettings, TrustingTheFirstDomainCreatesAFileWithOnlyTheDomains) {
    THostSettings s(Ini());
    s.Load();
    s.Server().SetDomains("site.example:8443");
    s.Save(sgCommon);
    EXPECT_EQ(FileText(), "[Server]\r\nDomains=site.example:8443\r\n");
}

TEST_F(HostSettings, ValuesThatDoNotParseTakeTheirDefaults) {
    dir.Write("cfg/KexoPluginHost.ini",
              "[Server]\r\nDevMode=true\r\nProxyMonitor=\r\nIdleTime=abc\r\n\r\n[Server_HTTP]\r\nPort=\r\n"
              "\r\n[Server_HTTPS]\r\nPort=8443\r\n\r\n[Log]\r\nFileName=%Temp%\\host.log\r\n");
    THostSettings s(Ini());
    s.Load();
    EXPECT_FALSE(s.DevMode());
    EXPECT_TRUE(s.ProxyMonitor());
    EXPECT_EQ(s.IdleTime(), 300);
    EXPECT_EQ(s.Server_RPC().Port(), 11754);
    EXPECT_EQ(s.Server_SSL().Port(), 8443);
    EXPECT_EQ(s.LogFileName(), "%Temp%\\host.log");
    EXPECT_TRUE(s.DiffersFromDefault());

    dir.Write("cfg/KexoPluginHost.ini", "[server]\r\ndevmode=1\r\n");
    THostSettings t(Ini());
    t.Load();
    EXPECT_TRUE(t.DevMode());
    EXPECT_FALSE(t.DiffersFromFile());  // developer mode is only read, never written
}

TEST_F(HostSettings, FullSaveWritesEveryGroupInItsPlace) {
    dir.Write("cfg/KexoPluginHost.ini", "[Mine]\r\nKeep=1\r\n\r\n[Server]\r\nDevMode=1\r\n");
    THostSettings s(Ini());
    s.Load();
    s.SetIdleTime(60);
    s.Server().SetDomains("a.example;\"b c\"");
    s.Save(sgAll);
    EXPECT_EQ(FileText(),
              "[Mine]\r\nKeep=1\r\n\r\n"
              "[Server]\r\nDevMode=1\r\nIdleTime=60\r\nProxyMonitor=1\r\nDomains=a.example;\"b c\"\r\n\r\n"
              "[Log]\r\nFileName=\r\n\r\n"
              "[Server_HTTP]\r\nPort=11754\r\n\r\n"
              "[Server_HTTPS]\r\nPort=11755\r\n");
    THostSettings again(Ini());
    again.Load();
    EXPECT_EQ(again.Server().DomainList().Entries(), (std::vector<std::string>{"a.example", "b c"}));
    EXPECT_FALSE(again.DiffersFromFile());
}

TEST_F(HostSettings, SaveWritesOnlyTheSelectedGroups) {
    THostSettings s(Ini());
    s.Load();
    s.Server().SetDomains("site.example");
    s.Save(sgHost);  // only the domains differ, yet the host values are what gets written
    EXPECT_EQ(FileText(), "[Server]\r\nIdleTime=300\r\nProxyMonitor=1\r\n\r\n[Log]\r\nFileName=\r\n");
    EXPECT_TRUE(s.DiffersFromFile());
    s.Save(sgHTTP | sgCommon);
    EXPECT_EQ(FileText(),
              "[Server]\r\nIdleTime=300\r\nProxyMonitor=1\r\nDomains=site.example\r\n\r\n"
              "[Log]\r\nFileName=\r\n\r\n[Server_HTTP]\r\nPort=11754\r\n");
    EXPECT_FALSE(s.DiffersFromFile());
}

TEST_F(HostSettings, DiffersFromFileSeesEveryValue) {
    struct {
        const char* name;
        std::function<void(THostSettings&)> change;
    } cases[] = {
        {"IdleTime", [](THostSettings& s) { s.SetIdleTime(1); }},
        {"LogFileName", [](THostSettings& s) { s.SetLogFileName("x.log"); }},
        {"ProxyMonitor", [](THostSettings& s) { s.SetProxyMonitor(false); }},
        {"HTTP port", [](THostSettings& s) { s.Server_RPC().SetPort(1); }},
        {"HTTPS port", [](THostSettings& s) { s.Server_SSL().SetPort(1); }},
        {"Domains", [](THostSettings& s) { s.Server().SetDomains("x"); }},
    };
    for (const auto& c : cases) {
        THostSettings s(Ini());
        s.Load();
        c.change(s);
        EXPECT_TRUE(s.DiffersFromFile()) << c.name;
    }
}

TEST_F(HostSettings, DefaultsIgnoreTrustedDomains) {
    THostSettings s(Ini());
    s.Load();
    s.Server().SetDomains("site.example");
    s.SetIdleTime(10);
    s.Server_SSL().SetPort(1);
    EXPECT_TRUE(s.DiffersFromDefault());
    s.SetDefaults();
    EXPECT_FALSE(s.DiffersFromDefault());
    EXPECT_EQ(s.Server().Domains(), "site.example");
    s.SetProxyMonitor(false);
    EXPECT_TRUE(s.DiffersFromDefault());
}

TEST_F(HostSettings, AFailedWriteRaisesAndIsRetriedLater) {
    dir.Write("cfg", "a file where the folder should be");
    THostSettings s(Ini());
    s.Load();
    s.SetIdleTime(5);
    EXPECT_THROW(s.Save(sgAll), EIniFileError);
    EXPECT_EQ(s.IdleTime(), 5);
    EXPECT_TRUE(s.DiffersFromFile());
}

}  // namespace
