// The host's own command and result records: the exact text of a command, reading a
// result, the two property hooks, the traces through the host log, and the queries through
// a real plugin.

#include "plugin/U_PluginJSON.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FixturePaths.h"
#include "PluginTestSupport.h"
#include "plugin/U_PluginHost.h"
#include "system/KXSysTools_v20_2.h"

namespace {

TEST(PluginJSON, CommandText) {
    struct TCase {
        const char* title;
        std::string plugin, method;
        std::vector<std::string> params;
        std::string id;
        std::string json;
    } cases[] = {
        {"the antifraud query", "VOVidez", "AntifrodInfo", {}, "",
         R"({ "ID" : "", "Plugin" : "VOVidez", "Method" : "AntifrodInfo", "Params" : [] })"},
        {"lines with and without names", "P", "M", {"a=1", "b", "=c", "d="}, "7",
         R"({ "ID" : "7", "Plugin" : "P", "Method" : "M", "Params" : [{ "a" : "1" }, { "b" : "" }, )"
         R"({ "c" : "" }, { "d" : "" }] })"},
        {"a repeated name and a value holding '='", "P", "M", {"k=1", "k=2=3"}, "",
         R"({ "ID" : "", "Plugin" : "P", "Method" : "M", "Params" : [{ "k" : "1" }, { "k" : "2=3" }] })"},
        {"an empty line", "P", "M", {""}, "",
         R"({ "ID" : "", "Plugin" : "P", "Method" : "M", "Params" : [{ "" : "" }] })"},
        {"escaping", "q\"uote\\back/slash", "tab\tnl\ncr\r", {"ctl=\x01\x1f\b\f", "utf8=пароль"}, "\x7f",
         "{ \"ID\" : \"\x7f\", \"Plugin\" : \"q\\\"uote\\\\back/slash\", \"Method\" : \"tab\\tnl\\ncr\\r\", "
         "\"Params\" : [{ \"ctl\" : \"\\u0001\\u001f\\b\\f\" }, { \"utf8\" : \"пароль\" }] }"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.title);
        TPluginCommand command(c.plugin, c.method, c.params, c.id);
        const std::string text = command.AsJSONString();
        EXPECT_EQ(text, c.json);
        // Whatever the layout, the text is JSON that a standard reader takes back whole.
        auto parsed = nlohmann::json::parse(text);
        EXPECT_EQ(parsed.at("Plugin"), c.plugin);
        EXPECT_EQ(parsed.at("Method"), c.method);
        EXPECT_EQ(parsed.at("ID"), c.id);
        EXPECT_EQ(parsed.at("Params").size(), c.params.size());
    }
}

TEST(PluginJSON, ResultText) {
    TPluginResult result;
    result.SetResult("r");
    EXPECT_EQ(result.AsJSONString(), R"({ "ID" : "", "Plugin" : "", "Method" : "", "Result" : "r" })");
}

TEST(PluginJSON, ReadingAResult) {
    struct TCase {
        const char* title;
        std::string json;
        std::string id, plugin, method, result;
    } cases[] = {
        {"only ID and Result", R"({"ID" : "7", "Result" : "text"})", "7", "", "", "text"},
        {"any order, other members ignored", R"({"Result":"r","Extra":1,"Method":"m","Plugin":"p","ID":"i"})",
         "i", "p", "m", "r"},
        {"names in another case are other members", R"({"result" : "lost", "id" : "x"})", "", "", "", ""},
        {"escapes and UTF-8", R"({"Result" : "a\"b\\c\nd\u0041\u00e9 пароль"})", "", "", "", "a\"b\\c\ndAé пароль"},
        // A value of another type keeps its JSON text instead of being lost.
        {"a number and an object", R"({"ID" : 42, "Result" : {"k" : [1, true]}})", "42", "", "", R"({ "k" : [1, true] })"},
        {"null leaves the value", R"({"Result" : null})", "", "", "", ""},
        {"an empty object", "{}", "", "", "", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.title);
        TPluginResult result;
        ASSERT_TRUE(result.LoadFromJSON(c.json));
        EXPECT_EQ(result.ID(), c.id);
        EXPECT_EQ(result.Plugin(), c.plugin);
        EXPECT_EQ(result.Method(), c.method);
        EXPECT_EQ(result.Result(), c.result);
    }
    // A missing member leaves what was there.
    TPluginResult kept;
    kept.SetID("before");
    ASSERT_TRUE(kept.LoadFromJSON(R"({"Result" : "after"})"));
    EXPECT_EQ(kept.ID(), "before");
    EXPECT_EQ(kept.Result(), "after");
}

TEST(PluginJSON, TextThatIsNotAJSONObjectRaises) {
    for (const std::string json : {"", "plain text", "[1, 2]", "\"text\"", "42", "{\"ID\" : ", "{} trailing"}) {
        SCOPED_TRACE(json);
        TPluginResult result;
        result.SetID("kept");
        EXPECT_THROW(result.LoadFromJSON(json), EjsonError);
        EXPECT_EQ(result.ID(), "kept");
    }
}

TEST(PluginJSON, JsonStringListTextHasNoFinalLineBreak) {
    TjsonStringList list;
    EXPECT_EQ(list.Text(), "");
    list.Add("a=1");
    list.Add("b");
    EXPECT_EQ(list.Text(), "a=1\r\nb");
    EXPECT_EQ(static_cast<const TStringList&>(list).Text(), "a=1\r\nb\r\n");
}

// A record of its own, to see the streamers without the command's hook: a string list
// goes out as an array of its lines, and comes back line by line.
class TListRecord : public TjsonPersistent {
public:
    TListRecord() : FLines(std::make_unique<TjsonStringList>()) {}
    const std::string& Name() const { return FName; }
    void SetName(const std::string& v) { FName = v; }
    TStringList* Lines() const { return FLines.get(); }

    const TjsonProperties& Properties() const override {
        static const TjsonProperties properties = jsonExtendProperties(
            TjsonPersistent::ClassProperties(),
            {jsonStringProperty<TListRecord>("Name", &TListRecord::Name, &TListRecord::SetName),
             jsonStringListProperty<TListRecord>("Lines", &TListRecord::Lines)});
        return properties;
    }

private:
    std::string FName;
    std::unique_ptr<TjsonStringList> FLines;
};

// Implements both hooks: writes Name in upper case and reads Name itself.
class THookedRecord : public TListRecord, public IjsonStreamProperty, public IjsonRestoreProperty {
public:
    void StreamProperty(const TObject* Sender, const TjsonPersistent& AObject, const TjsonProperty& Info,
                        TjsonValue& Res) override {
        ++Streamed;
        if (Info.Name == "Name") Res = "NAME:" + Res.get<std::string>();
    }
    void RestoreProperty(const TObject* Sender, TjsonPersistent& AObject, const TjsonProperty& Info,
                         const TjsonValue& Value, bool& Handled) override {
        ++Restored;
        if (Info.Name == "Name") {
            SetName("hooked " + Value.get<std::string>());
            Handled = true;
        }
    }
    int Streamed = 0;
    int Restored = 0;
};

TEST(PluginJSON, StringListsWithoutAHook) {
    TListRecord record;
    record.SetName("n");
    record.Lines()->Add("x=1");
    record.Lines()->Add("y");
    EXPECT_EQ(record.AsJSONString(), R"({ "Name" : "n", "Lines" : ["x=1", "y"] })");
    record.Streamer().SetOptions(0);
    EXPECT_EQ(record.AsJSONString(), R"({ "Name" : "n", "Lines" : "x=1\r\ny" })");

    TListRecord back;
    ASSERT_TRUE(back.LoadFromJSON(R"({ "Name" : "m", "Lines" : ["p", {"q" : "2"}, {"r" : ""}] })"));
    EXPECT_EQ(back.Name(), "m");
    EXPECT_EQ(back.Lines()->Items(), (std::vector<std::string>{"p", "q=2", "r"}));
}

TEST(PluginJSON, PropertyHooksAreUsedWhenImplemented) {
    THookedRecord record;
    record.SetName("n");
    EXPECT_EQ(record.AsJSONString(), R"({ "Name" : "NAME:n", "Lines" : [] })");
    EXPECT_EQ(record.Streamed, 2);  // once per property

    ASSERT_TRUE(record.LoadFromJSON(R"({ "Name" : "m", "Lines" : ["a"] })"));
    EXPECT_EQ(record.Name(), "hooked m");
    EXPECT_EQ(record.Lines()->Items(), std::vector<std::string>{"a"});  // not handled: read as usual
    EXPECT_EQ(record.Restored, 2);
}

TEST(PluginJSON, StreamingAndReadingAreTracedInTheHostLog) {
    TPluginResult result;
    result.SetID("5");
    {
        THostLogCapture log;
        const std::string text = result.AsJSONString();
        auto entries = log.Entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_TRUE(entries[0].Has("[DataID: StartExecFunction AsJSONString]"));
        EXPECT_EQ(entries[0].SenderClass(), "TPluginResult");
        EXPECT_TRUE(entries[1].Has("[DataID: EndExecFunction AsJSONString]"));
        EXPECT_EQ(entries[1].Body, "Result: " + text + "\r\n");
    }
    {
        THostLogCapture log;
        ASSERT_TRUE(result.LoadFromJSON(R"({"ID" : "6"})"));
        auto entries = log.Entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_TRUE(entries[0].Has("[DataID: StartExecFunction LoadFromJSON]"));
        EXPECT_TRUE(entries[1].Has("[DataID: EndExecFunction LoadFromJSON]"));
        EXPECT_EQ(entries[1].Body, "Result: " + ValueToText(TVarRec(true)) + "\r\n");
    }
    {
        // The end is traced also when reading fails.
        THostLogCapture log;
        EXPECT_THROW(result.LoadFromJSON("not json"), EjsonError);
        auto entries = log.Entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_TRUE(entries[1].Has("[DataID: EndExecFunction LoadFromJSON]"));
        EXPECT_EQ(entries[1].Body, "Result: " + ValueToText(TVarRec(false)) + "\r\n");
    }
}

// The queries through PluginHost, with the demo plugin or a fixture installed as the plugin.
class PluginQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        THostLogCapture::File();
        FinalizeLibUtils();
        Host = std::make_unique<TPluginHost>(Dir.File("host.ini"));
        PluginHost = Host.get();
    }
    void TearDown() override {
        PluginHost = nullptr;
        FinalizeLibUtils();
    }
    void Load(const std::string& source) {
        Installed = std::make_unique<TInstalledPlugin>(source, PluginLibraryName);
        LibManager()->PathList().Clear();
        LibManager()->PathList().Add(Installed->Folder());
        ASSERT_TRUE(Host->LoadPlugin());
    }

    TTempDir Dir;
    std::unique_ptr<TInstalledPlugin> Installed;
    std::unique_ptr<TPluginHost> Host;
};

TEST_F(PluginQueryTest, CallPluginThroughTheDemoPlugin) {
    Load(KEXO_SAMPLE_PLUGIN_PATH);
    std::string id = "42", result;
    ASSERT_TRUE(CallPlugin("VOVidez", "Hash", {"Data=abc"}, id, result));
    EXPECT_EQ(id, "42");
    EXPECT_EQ(result, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // A reply without a Result member still counts as an answer: Result becomes empty.
    result = "stale";
    ASSERT_TRUE(CallPlugin("VOVidez", "NoSuchMethod", {}, id, result));
    EXPECT_EQ(id, "42");
    EXPECT_EQ(result, "");
}

TEST_F(PluginQueryTest, AntifraudInformation) {
    Load(KEXO_SAMPLE_PLUGIN_PATH);
    const std::string info = GetAntifrodInfo();
    auto parsed = nlohmann::json::parse(info);
    EXPECT_EQ(parsed.at("Plugin"), "npKexoPlugin");
    EXPECT_EQ(parsed.at("Version"), KEXO_SAMPLE_PLUGIN_VERSION);
}

TEST_F(PluginQueryTest, WhenThePluginCannotBeAsked) {
    std::string id = "kept", result = "kept";
    // Loaded by no one.
    EXPECT_FALSE(CallPlugin("VOVidez", "GetVersion", {}, id, result));
    EXPECT_EQ(GetAntifrodInfo(), "");
    // A failing plugin.
    Load(KEXO_FIXTURE_QUERY_FAILS_PATH);
    EXPECT_FALSE(CallPlugin("VOVidez", "GetVersion", {}, id, result));
    EXPECT_EQ(GetAntifrodInfo(), "");
    // No plugin host at all.
    PluginHost = nullptr;
    EXPECT_FALSE(CallPlugin("VOVidez", "GetVersion", {}, id, result));
    EXPECT_EQ(id, "kept");
    EXPECT_EQ(result, "kept");
}

TEST_F(PluginQueryTest, AReplyThatIsNotJSONReachesTheCaller) {
    Load(KEXO_FIXTURE_ECHO_PATH);  // answers "echo:" + the command
    std::string id = "kept", result = "kept";
    EXPECT_THROW(CallPlugin("VOVidez", "GetVersion", {}, id, result), EjsonError);
    EXPECT_EQ(id, "kept");
    EXPECT_EQ(result, "kept");
    EXPECT_THROW(GetAntifrodInfo(), EjsonError);
}

TEST_F(PluginQueryTest, ThePluginReceivesTheCommandText) {
    Load(KEXO_FIXTURE_ECHO_PATH);
    std::string reply;
    ASSERT_TRUE(Host->ProcessCommand(TPluginCommand("VOVidez", "AntifrodInfo", {}, "").AsJSONString(), reply));
    EXPECT_EQ(reply, R"(echo:{ "ID" : "", "Plugin" : "VOVidez", "Method" : "AntifrodInfo", "Params" : [] })");
}

}  // namespace
