#pragma once
// Date and time as days since 1899-12-30 with the time as the fraction of a day (the
// date-time base of the stored values), in local time.

#include <cstdint>
#include <string>
#include <string_view>

using TDateTime = double;

struct TDateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

TDateTime Now();  // local time, millisecond resolution
TDateTime EncodeDateTime(const TDateTimeParts& parts);
TDateTimeParts DecodeDateTime(TDateTime value);
TDateTime DateOf(TDateTime value);  // the day, without the time
TDateTime UnixToLocalDateTime(int64_t seconds, int nanoseconds = 0);

// Pattern tokens: yyyy year, yy two-digit year, mm month, dd day, hh hour 00..23,
// nn minutes, ss seconds, zzz milliseconds; a "mm" right after "hh" (or an "h") stays
// the month here since minutes are "nn". Text in double or single quotes is copied
// without its quotes; every other character is copied.
std::string FormatDateTime(std::string_view pattern, TDateTime value);
