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

Ymd serial_to_ymd(int64_t serial) {
    if (serial < 1) return {1900, 1, static_cast<uint32_t>(serial)};
    int64_t n = serial > 60 ? serial - 1 : serial;
    // Whole 400-year eras are set aside first, so the day count cannot
    // overflow however large the serial.
    int64_t eras = n > kDaysIn400Years * 1000 ? n / kDaysIn400Years - 1 : 0;
    n -= eras * kDaysIn400Years;
    CivilDate c = civil_from_days(kDayBeforeSerial1 + n);
    return {static_cast<int32_t>(c.year + eras * 400), c.month, c.day};
}

std::string serial_to_display(int64_t serial) {
    Ymd d = serial_to_ymd(serial);
    std::string out;
    append_padded(out, d.year, 4);
    out.push_back('-');
    append_padded(out, d.month, 2);
    out.push_back('-');
    append_padded(out, d.day, 2);
    return out;
}

}  // namespace morvane::morvane_types
