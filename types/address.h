// Cell positions and rectangles, the sheet limits, and A1 cell and range
// addresses to positions (the day serials live in types/calendar.h,
// included here for the callers of both).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "types/calendar.h"

namespace morvane {

// The last row and column of a worksheet.
inline constexpr uint32_t kMaxRow = 1048576;
inline constexpr uint32_t kMaxCol = 16384;

// Cell position: (row, column), both counted from 1.
struct CellPos {
    uint32_t row = 0;
    uint32_t col = 0;
    friend bool operator==(CellPos, CellPos) = default;
};

struct CellPosHash {
    // Identity-like: the standard map reduces it modulo a prime, which keeps
    // neighbouring cells of a column together (cell loops touch neighbours).
    size_t operator()(CellPos p) const noexcept { return (uint64_t{p.col} << 32) | p.row; }
};

// Inside the worksheet's limits.
inline bool on_sheet(CellPos p) { return p.row >= 1 && p.col >= 1 && p.row <= kMaxRow && p.col <= kMaxCol; }

// A rectangle of cells by its corners as written: B2:A1 keeps B2 first. As
// written, a rectangle whose first row or column is past its last holds no
// cell; normalised() orders the corners.
struct CellRange {
    CellPos first;
    CellPos last;
    friend bool operator==(const CellRange&, const CellRange&) = default;

    static CellRange single(CellPos p) { return {p, p}; }
    CellRange normalised() const {
        return {{first.row < last.row ? first.row : last.row, first.col < last.col ? first.col : last.col},
                {first.row < last.row ? last.row : first.row, first.col < last.col ? last.col : first.col}};
    }
    bool is_single() const { return first == last; }
    uint64_t rows() const { return first.row > last.row ? 0 : uint64_t{last.row} - first.row + 1; }
    uint64_t cols() const { return first.col > last.col ? 0 : uint64_t{last.col} - first.col + 1; }
    // Saturates at UINT64_MAX (the whole 2^32 x 2^32 grid is one more).
    uint64_t cell_count() const {
        uint64_t n;
        return __builtin_mul_overflow(rows(), cols(), &n) ? UINT64_MAX : n;
    }
    bool contains(CellPos p) const {
        return p.row >= first.row && p.row <= last.row && p.col >= first.col && p.col <= last.col;
    }
    // Calls fn(CellPos) row by row. When fn returns a Result, the first
    // failure stops the walk and is returned.
    template <class Fn>
    auto for_each_cell(Fn&& fn) const {
        using R = std::invoke_result_t<Fn&, CellPos>;
        for (uint64_t r = first.row; r <= last.row; ++r)
            for (uint64_t c = first.col; c <= last.col; ++c) {
                const CellPos p{static_cast<uint32_t>(r), static_cast<uint32_t>(c)};
                if constexpr (std::is_void_v<R>) {
                    fn(p);
                } else if (auto res = fn(p); !res) {
                    return res;
                }
            }
        if constexpr (!std::is_void_v<R>) return R{};
    }
};

}  // namespace morvane

namespace morvane::morvane_types {

// "$" markers are accepted and ignored; surrounding white space too.
std::optional<CellPos> parse_cell_addr(std::string_view text);
// Two corners as written ("B2:A1" is not reordered); one cell gives it twice.
std::optional<CellRange> parse_range_addr(std::string_view text);

// Letters of a 1-based column number (1 -> "A", 27 -> "AA").
std::string column_letters(uint32_t col);
void append_column_letters(std::string& out, uint32_t col);
// Column letters then the row number ("AB12"); appended, for the writer's hot loop.
void append_cell_address(std::string& out, CellPos p);

}  // namespace morvane::morvane_types
