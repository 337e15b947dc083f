#include <gtest/gtest.h>

#include "platform/Strings.h"

namespace {

std::vector<std::string> Parse(std::string_view text, char delimiter = ';') {
    TStringList list;
    list.SetDelimiter(delimiter);
    list.Add("stale");  // reading replaces whatever was there
    list.SetDelimitedText(text);
    return list.Items();
}

TEST(StringListDelimited, ReadingRules) {
    struct Case {
        const char* text;
        std::vector<std::string> items;
    } cases[] = {
        {"", {}},
        {"a.example;;b.example", {"a.example", "", "b.example"}},
        {"a;b;", {"a", "b", ""}},
        {"  a ; b  ", {"a", "b"}},
        {"a b;c", {"a", "b", "c"}},  // a blank ends an unquoted item
        {"\"a b\";c", {"a b", "c"}},
        {"\"say \"\"hi\"\"\";x", {"say \"hi\"", "x"}},
        {"\"\"", {""}},
        {"\"a;b\"", {"a;b"}},
        {"\t\r\nsite.example:8443\r\n", {"site.example:8443"}},
        {"\"unterminated", {"unterminated"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.text), c.items) << "text: " << c.text;
}

TEST(StringListDelimited, WritingRules) {
    struct Case {
        std::vector<std::string> items;
        const char* text;
    } cases[] = {
        {{}, ""},
        {{""}, "\"\""},
        {{"a", "b"}, "a;b"},
        {{"a", "", "b"}, "a;;b"},
        {{"a b"}, "\"a b\""},
        {{"a;b", "c"}, "\"a;b\";c"},
        {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
        {{"tab\there"}, "\"tab\there\""},
    };
    for (const auto& c : cases) {
        TStringList list;
        list.SetDelimiter(';');
        for (const auto& s : c.items) list.Add(s);
        EXPECT_EQ(list.DelimitedText(), c.text);
        // Whatever is written reads back as the same entries.
        EXPECT_EQ(Parse(list.DelimitedText()), c.items) << "text: " << c.text;
    }
}

TEST(StringList, IndexOfIgnoresCaseAndKeepsDuplicatesInOrder) {
    TStringList list;
    list.Add("Site.Example");
    list.Add("other");
    list.Add("site.example");
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.IndexOf("SITE.EXAMPLE"), 0);
    EXPECT_EQ(list.IndexOf("missing"), -1);
    list.Delete(0);
    EXPECT_EQ(list.IndexOf("SITE.EXAMPLE"), 1);
    EXPECT_THROW(list.Delete(5), Exception);
}

TEST(StringList, NameValueAccess) {
    TStringList list;
    list.Add("Port=11754");
    list.Add("plain line");
    list.Add("Key=a=b");
    EXPECT_EQ(list.Values("port"), "11754");
    EXPECT_EQ(list.Values("key"), "a=b");
    EXPECT_EQ(list.Names(2), "Key");
    EXPECT_EQ(list.Values("plain line"), "");
    list.SetValue("PORT", "1");
    EXPECT_EQ(list[0], "PORT=1");
    list.SetValue("New", "v");
    EXPECT_EQ(list.Count(), 4);
    list.SetValue("new", "");
    EXPECT_EQ(list.IndexOfName("New"), -1);
}

TEST(StringList, TextUsesCrLfAndReadsAnyLineEnd) {
    TStringList list;
    list.SetText("a\r\nb\nc\rd\r\n");
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n");
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
}

TEST(StringHelpers, CaseAndTrimAndNumbers) {
    EXPECT_TRUE(SameText("Straße", "STRAßE"));  // only A-Z fold
    EXPECT_FALSE(SameText("ab", "abc"));
    EXPECT_EQ(Trim(std::string("\x01 a b \t\r\n")), "a b");
    EXPECT_EQ(FindText("xxHTTP://a", "http://"), 2u);
    EXPECT_EQ(IntToHex(0x1F3A0, 4), "1F3A0");
    EXPECT_EQ(IntToHex(0xA, 4), "000A");
    struct {
        const char* text;
        int expected;
    } ints[] = {{"42", 42}, {"-7", -7}, {"+3", 3}, {"abc", -1}, {"", -1}, {" 5", -1},
                {"2147483647", 2147483647}, {"2147483648", -1}, {"1e3", -1}};
    for (const auto& c : ints) EXPECT_EQ(StrToIntDef(c.text, -1), c.expected) << c.text;
    EXPECT_EQ(Format("%s-%d", "a", 5), "a-5");
}

}  // namespace
