#include <gtest/gtest.h>

#include <tuple>

#include "platform/DateTime.h"

namespace {

TEST(DateTime, EncodesDaysFromTheBaseDate) {
    EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime({1900, 1, 1, 12, 0, 0, 0}), 2.5);
    EXPECT_DOUBLE_EQ(EncodeDateTime({2024, 5, 6, 0, 0, 0, 0}), 45418.0);
    // The value the file functions give for a missing file decodes to the first day of year 1.
    TDateTimeParts p = DecodeDateTime(-693593.99999999);
    EXPECT_EQ(p.year, 1);
    EXPECT_EQ(p.month, 1);
    EXPECT_EQ(p.day, 1);
}

TEST(DateTime, RoundTripsToTheMillisecond) {
    TDateTimeParts cases[] = {{2024, 5, 6, 7, 8, 9, 123}, {2000, 2, 29, 23, 59, 59, 999}, {1999, 12, 31, 0, 0, 0, 1}};
    for (const auto& c : cases) {
        TDateTimeParts p = DecodeDateTime(EncodeDateTime(c));
        EXPECT_EQ(std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond),
                  std::tie(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond));
    }
}

TEST(DateTime, FormatsThePatternTokens) {
    TDateTime t = EncodeDateTime({2024, 5, 6, 7, 8, 9, 23});
    struct {
        const char* pattern;
        const char* text;
    } cases[] = {
        {"[yyyy.mm.dd hh:nn:ss:zzz]", "[2024.05.06 07:08:09:023]"},
        {"yyyymmdd_hhnnss", "20240506_070809"},
        {"yyyy-mm", "2024-05"},
        {"hhnnss", "070809"},
        {"YYYY.MM.DD", "2024.05.06"},
        {"yy", "24"},
        {"'yyyy' yyyy", "yyyy 2024"},
        {"h:n", "7:8"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.pattern, t), c.text) << c.pattern;
    EXPECT_DOUBLE_EQ(DateOf(t), EncodeDateTime({2024, 5, 6, 0, 0, 0, 0}));
}

}  // namespace
