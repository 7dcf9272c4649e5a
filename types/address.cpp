#include "types/address.h"

#include <cstddef>

#include "types/text.h"

namespace morvane::morvane_types {

namespace {

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

constexpr int64_t kDaysIn400Years = 146097;

bool is_leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

uint32_t month_length(int64_t year, uint32_t month) {
    static constexpr uint32_t lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : lengths[month - 1];
}

void append_padded(std::string& out, int64_t v, size_t width) {
    std::string digits = std::to_string(v < 0 ? -v : v);
    if (v < 0) out.push_back('-');
    if (digits.size() < width) out.append(width - digits.size(), '0');
    out += digits;
}

}  // namespace

std::optional<CellPos> parse_cell_addr(std::string_view text) {
    std::string_view s = text::trim(text);
    size_t i = 0;
    // "$" markers before the column and before the row are accepted and ignored.
    if (i < s.size() && s[i] == '$') ++i;
    uint64_t col = 0;
    size_t letters = 0;
    for (; i < s.size() && is_ascii_letter(s[i]); ++i, ++letters) {
        col = col * 26 + static_cast<uint64_t>((s[i] & ~0x20) - 'A' + 1);
        if (col > 0xFFFFFFFFu) return std::nullopt;
    }
    if (letters == 0) return std::nullopt;
    if (i < s.size() && s[i] == '$') ++i;
    if (i == s.size()) return std::nullopt;
    uint64_t row = 0;
    for (; i < s.size(); ++i) {
        if (!is_ascii_digit(s[i])) return std::nullopt;
        row = row * 10 + static_cast<uint64_t>(s[i] - '0');
        if (row > 0xFFFFFFFFu) return std::nullopt;
    }
    return CellPos{static_cast<uint32_t>(row), static_cast<uint32_t>(col)};
}

std::optional<CellRange> parse_range_addr(std::string_view text) {
    std::string_view s = text::trim(text);
    size_t colon = s.find(':');
    if (colon == std::string_view::npos) {
        auto cell = parse_cell_addr(s);
        if (!cell) return std::nullopt;
        return CellRange::single(*cell);
    }
    auto first = parse_cell_addr(s.substr(0, colon));
    auto second = parse_cell_addr(s.substr(colon + 1));
    if (!first || !second) return std::nullopt;
    return CellRange{*first, *second};
}

Ymd serial_to_ymd(int64_t serial) {
    int64_t n = serial > 60 ? serial - 1 : serial;
    if (n < 1) return {1900, 1, static_cast<uint32_t>(n)};
    int64_t year = 1900;
    // Whole 400-year cycles first, so huge serials take no time.
    if (n > kDaysIn400Years) {
        int64_t cycles = (n - 1) / kDaysIn400Years;
        n -= cycles * kDaysIn400Years;
        year += cycles * 400;
    }
    while (n > (is_leap(year) ? 366 : 365)) {
        n -= is_leap(year) ? 366 : 365;
        ++year;
    }
    uint32_t month = 1;
    while (month < 12 && n > month_length(year, month)) {
        n -= month_length(year, month);
        ++month;
    }
    return {static_cast<int32_t>(year), month, static_cast<uint32_t>(n)};
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

std::string column_letters(uint32_t col) {
    std::string out;
    uint64_t c = col;
    while (c > 0) {
        uint64_t rem = (c - 1) % 26;
        out.insert(out.begin(), static_cast<char>('A' + rem));
        c = (c - 1) / 26;
    }
    return out;
}

}  // namespace morvane::morvane_types
