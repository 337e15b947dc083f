#include "platform/DateTime.h"

#include <sys/time.h>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {
constexpr double kMsPerDay = 86400000.0;

// Days from 0001-01-01 to the given date (proleptic Gregorian), as the civil calendar counts.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;  // days since 1970-01-01
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // 1899-12-30 relative to 1970-01-01
}  // namespace

TDateTime EncodeDateTime(const TDateTimeParts& p) {
    int64_t days = DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) - kEpochOffset;
    double ms = ((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond;
    // Before the base date the fraction counts away from zero, as the stored format does.
    return days >= 0 ? days + ms / kMsPerDay : days - ms / kMsPerDay;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    TDateTimeParts p;
    double dayPart = std::trunc(value);
    double frac = std::fabs(value - dayPart);
    int64_t ms = static_cast<int64_t>(std::llround(frac * kMsPerDay));
    int64_t days = static_cast<int64_t>(dayPart);
    if (ms >= static_cast<int64_t>(kMsPerDay)) {  // rounding reached the next day
        ms -= static_cast<int64_t>(kMsPerDay);
        days += value >= 0 ? 1 : -1;
    }
    CivilFromDays(days + kEpochOffset, p.year, p.month, p.day);
    p.millisecond = static_cast<int>(ms % 1000);
    int64_t s = ms / 1000;
    p.second = static_cast<int>(s % 60);
    p.minute = static_cast<int>((s / 60) % 60);
    p.hour = static_cast<int>(s / 3600);
    return p;
}

TDateTime DateOf(TDateTime value) {
    TDateTimeParts p = DecodeDateTime(value);
    p.hour = p.minute = p.second = p.millisecond = 0;
    return EncodeDateTime(p);
}

TDateTime UnixToLocalDateTime(int64_t seconds, int nanoseconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm lt{};
    localtime_r(&t, &lt);
    TDateTimeParts p;
    p.year = lt.tm_year + 1900;
    p.month = lt.tm_mon + 1;
    p.day = lt.tm_mday;
    p.hour = lt.tm_hour;
    p.minute = lt.tm_min;
    p.second = lt.tm_sec > 59 ? 59 : lt.tm_sec;
    p.millisecond = nanoseconds / 1000000;
    return EncodeDateTime(p);
}

TDateTime Now() {
    struct timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return UnixToLocalDateTime(ts.tv_sec, static_cast<int>(ts.tv_nsec));
}

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
    TDateTimeParts p = DecodeDateTime(value);
    std::string out;
    out.reserve(pattern.size() + 8);
    size_t i = 0;
    auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    auto run = [&](char c) {  // length of the run of c (any case) at i
        size_t n = 0;
        while (i + n < pattern.size() && lower(pattern[i + n]) == c) ++n;
        return n;
    };
    // Digits by hand: every log record formats a time stamp, and snprintf per field showed.
    auto num = [&](int v, int width) {
        char digits[12];
        int len = 0;
        unsigned u = v < 0 ? 0u : static_cast<unsigned>(v);
        do {
            digits[len++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u);
        for (int k = len; k < width; ++k) out += '0';
        while (len) out += digits[--len];
    };
    // "m" gives the value without a leading zero, "mm" with one; a longer run is "mm" again.
    auto twoDigitField = [&](char token, int field) {
        size_t n = run(token);
        num(field, n == 1 ? 1 : 2);
        return n > 2 ? size_t(2) : n;
    };
    while (i < pattern.size()) {
        char c = lower(pattern[i]);
        if (pattern[i] == '"' || pattern[i] == '\'') {
            char q = pattern[i++];
            while (i < pattern.size() && pattern[i] != q) out += pattern[i++];
            if (i < pattern.size()) ++i;
            continue;
        }
        size_t n = 0;
        switch (c) {
            case 'y':
                n = run('y');
                if (n <= 2) num(p.year % 100, 2); else num(p.year, 4);
                break;
            case 'm': n = twoDigitField('m', p.month); break;
            case 'd': n = twoDigitField('d', p.day); break;
            case 'h': n = twoDigitField('h', p.hour); break;
            case 'n': n = twoDigitField('n', p.minute); break;
            case 's': n = twoDigitField('s', p.second); break;
            case 'z':
                n = run('z');
                num(p.millisecond, n >= 3 ? 3 : 1);
                if (n > 3) n = 3;
                break;
            default:
                out += pattern[i];
                n = 1;
        }
        i += n;
    }
    return out;
}
