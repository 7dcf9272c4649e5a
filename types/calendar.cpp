#include "types/calendar.h"

#include <cstddef>

namespace morvane::morvane_types {

namespace {

constexpr int64_t kDaysIn400Years = 146097;
constexpr int64_t kDayBeforeSerial1 = days_from_civil(1899, 12, 31);

void append_padded(std::string& out, int64_t v, size_t width) {
    std::string digits = std::to_string(v < 0 ? -v : v);
    if (v < 0) out.push_back('-');
    if (digits.size() < width) out.append(width - digits.size(), '0');
    out += digits;
}

}  // namespace

namespace {

// The real calendar date of a serial (0 is 1899-12-31, -1 is 1899-12-30).
// Whole 400-year eras are set aside first, so the day count cannot
// overflow however far the serial lies.
CivilDate serial_to_civil(int64_t serial) {
    int64_t n = serial > 60 ? serial - 1 : serial;
    int64_t eras = n / kDaysIn400Years;
    eras += eras > 0 ? -1 : eras < 0 ? 1 : 0;
    n -= eras * kDaysIn400Years;
    CivilDate c = civil_from_days(kDayBeforeSerial1 + n);
    c.year += eras * 400;
    return c;
}

}  // namespace

Ymd serial_to_ymd(int64_t serial) {
    if (serial < 1) return {1900, 1, static_cast<uint32_t>(serial)};
    CivilDate c = serial_to_civil(serial);
    return {static_cast<int32_t>(c.year), c.month, c.day};
}

std::string serial_to_display(int64_t serial) {
    // Serial 0 is the day before 1900-01-01 under its spreadsheet name;
    // earlier serials show the real calendar day they count back to.
    CivilDate c = serial == 0 ? CivilDate{1900, 1, 0} : serial_to_civil(serial);
    std::string out;
    append_padded(out, c.year, 4);
    out.push_back('-');
    append_padded(out, c.month, 2);
    out.push_back('-');
    append_padded(out, c.day, 2);
    return out;
}

}  // namespace morvane::morvane_types
