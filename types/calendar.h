// The proleptic Gregorian calendar and the 1900-system day serials: leap
// years, month lengths, civil dates to day counts and back in constant time
// (whole 400-year eras, no loop over years), and serials to dates and text.
//
// Serial 1 is 1900-01-01. Serials count the 29 February 1900 that never
// was, so from 61 (1900-03-01) on a serial is one more than the plain day
// count. Reading a serial back, 60 shows as 1900-03-01 like 61, since no
// calendar date is 1900-02-29; serial 0 reads as 1900-01-00.
#pragma once

#include <cstdint>
#include <string>

namespace morvane::morvane_types {

struct Ymd {
    int32_t year;
    uint32_t month;
    uint32_t day;
    friend bool operator==(const Ymd&, const Ymd&) = default;
};

struct CivilDate {
    int64_t year;
    uint32_t month;
    uint32_t day;
    friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

constexpr bool is_leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days of month `m` (1..12) of year `y`.
constexpr uint32_t month_length(int64_t y, uint32_t m) {
    constexpr uint32_t kLen[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && is_leap(y) ? 29 : kLen[m - 1];
}

// Days from 1970-01-01 to y-m-d (m in 1..12, d in 1..31); negative before.
// Exact for any year whose day count fits in 64 bits with room to spare
// (|y| below about 2.5e16).
constexpr int64_t days_from_civil(int64_t y, uint32_t m, uint32_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const uint32_t yoe = static_cast<uint32_t>(y - era * 400);
    const uint32_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const uint32_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The inverse of days_from_civil.
constexpr CivilDate civil_from_days(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const uint32_t doe = static_cast<uint32_t>(z - era * 146097);
    const uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const uint32_t mp = (5 * doy + 2) / 153;
    const uint32_t d = doy - (153 * mp + 2) / 5 + 1;
    const uint32_t m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

// Days from 1970-01-01 to 1899-12-30, the day before serial 1 counting the
// phantom 29 February.
inline constexpr int64_t kSerialEpochDays = days_from_civil(1899, 12, 30);

// The serial of a real calendar date (1900-01-01 is 1, 1900-03-01 is 61).
constexpr int64_t serial_from_civil(int64_t y, uint32_t m, uint32_t d) {
    int64_t n = days_from_civil(y, m, d) - kSerialEpochDays;
    return n <= 60 ? n - 1 : n;
}

// The serial of 9999-12-31, the last day a sheet shows as a date.
inline constexpr int64_t kLastDateSerial = serial_from_civil(9999, 12, 31);
static_assert(kLastDateSerial == 2958465);

// The date of a serial: 60 and 61 are both 1900-03-01, 0 is 1900-01-00, and
// a negative serial keeps its count as the day (1900-01-(n), 32 bits). The
// year of a serial too large for 32 bits wraps.
Ymd serial_to_ymd(int64_t serial);
// "YYYY-MM-DD" of the serial's date (the year at least four digits, a sign
// before a negative one, and no year too large to show); 0 is 1900-01-00
// and a negative serial shows the real day it counts back to (-1 is
// 1899-12-30).
std::string serial_to_display(int64_t serial);

}  // namespace morvane::morvane_types
