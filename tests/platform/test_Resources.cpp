#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/Resources.h"

namespace {

std::string FixtureBytes(const char* name) {
    std::ifstream in(std::string(KEXO_FIXTURE_DATA_DIR) + "/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The generated table holds the files byte for byte, and names match without regard to case.
TEST(Resources, CompiledFilesAreFoundByNameInAnyCase) {
    struct {
        const char* name;
        const char* file;
    } cases[] = {
        {"Fixture_Text", "resource_text.txt"},
        {"FIXTURE_TEXT", "resource_text.txt"},
        {"fixture_bytes", "resource_bytes.bin"},
        {"Fixture_Bytes", "resource_bytes.bin"},
        {"FIXTURE_EMPTY", "resource_empty.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string expected = FixtureBytes(c.file);
        std::string_view bytes = "untouched";
        ASSERT_TRUE(FindResource(c.name, bytes));
        EXPECT_EQ(std::string(bytes), expected);
    }
    // Binary content with zero bytes keeps its full length.
    std::string_view bytes;
    ASSERT_TRUE(FindResource("fixture_bytes", bytes));
    EXPECT_EQ(bytes.size(), 10u);
    EXPECT_EQ(bytes[0], '\0');
}

TEST(Resources, UnknownNamesAreNotFound) {
    for (const char* name : {"", "Fixture", "Fixture_Tex", "Fixture_Text_", "MAIN_ICO"}) {
        SCOPED_TRACE(name);
        std::string_view bytes = "untouched";
        EXPECT_FALSE(FindResource(name, bytes));
        EXPECT_EQ(bytes, "untouched");
    }
}

TEST(Resources, LaterRegistrationOfANameWins) {
    static const unsigned char first[] = {'o', 'l', 'd'};
    static const unsigned char second[] = {'n', 'e', 'w', '!'};
    static const TResourceEntry a[] = {{"Override_Probe", first, sizeof first}};
    static const TResourceEntry b[] = {{"OVERRIDE_probe", second, sizeof second}};
    ASSERT_TRUE(RegisterResources(a, 1));
    std::string_view bytes;
    ASSERT_TRUE(FindResource("override_probe", bytes));
    EXPECT_EQ(bytes, "old");
    ASSERT_TRUE(RegisterResources(b, 1));
    ASSERT_TRUE(FindResource("Override_Probe", bytes));
    EXPECT_EQ(bytes, "new!");
    // The compiled resources are untouched by it.
    ASSERT_TRUE(FindResource("Fixture_Text", bytes));
    EXPECT_EQ(std::string(bytes), FixtureBytes("resource_text.txt"));
}

}  // namespace
