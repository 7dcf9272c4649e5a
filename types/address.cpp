#include "types/address.h"

#include <cstddef>

#include "types/text.h"

namespace morvane::morvane_types {

namespace {

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

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

std::string column_letters(uint32_t col) {
    std::string out;
    append_column_letters(out, col);
    return out;
}

void append_column_letters(std::string& out, uint32_t col) {
    char letters[8];
    size_t n = 0;
    for (uint64_t c = col; c > 0; c = (c - 1) / 26) letters[n++] = static_cast<char>('A' + (c - 1) % 26);
    while (n > 0) out.push_back(letters[--n]);
}

void append_cell_address(std::string& out, CellPos p) {
    append_column_letters(out, p.col);
    char digits[10];
    size_t n = 0;
    for (uint32_t r = p.row; n == 0 || r > 0; r /= 10) digits[n++] = static_cast<char>('0' + r % 10);
    while (n > 0) out.push_back(digits[--n]);
}

}  // namespace morvane::morvane_types
