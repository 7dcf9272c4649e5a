// The workbook reader: the sheet names and cell values of .xlsx, .xlsm and
// .ods files. It reads values only (no formulas, styles or macros) and
// bounds what a file may make it hold, so a hostile file fails with a
// message instead of exhausting memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "types/result.h"
#include "types/variant.h"

namespace morvane::reader {

// One cell value read from a file; alternatives in the order of Variant's first four.
struct SheetCell {
    enum class Kind : uint8_t { Int, Float, Text, Bool };
    std::variant<int64_t, double, std::string, bool> value;

    Kind kind() const { return static_cast<Kind>(value.index()); }
    friend bool operator==(const SheetCell&, const SheetCell&) = default;
};

// A sheet's cells by position. Entries live in fixed-size chunks (growing
// never copies or doubles what is stored). While positions arrive in row-major
// order, as writers put them, no position can repeat and no index is kept;
// the first one out of order builds an open-addressing index.
class SheetCells {
public:
    struct Entry {
        CellPos pos;
        SheetCell cell;
    };

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const SheetCell* find(CellPos pos) const;
    // Stores `cell` at `pos`, replacing an earlier value; true when `pos` is new.
    bool set(CellPos pos, SheetCell cell);
    const Entry& operator[](size_t i) const { return chunks_[i >> kChunkBits][i & (kChunk - 1)]; }
    Entry& operator[](size_t i) { return chunks_[i >> kChunkBits][i & (kChunk - 1)]; }

    // Hands every entry, moved out, to fn in order, freeing storage as it
    // goes, so that a copy of the cells built meanwhile does not double the peak.
    template <class Fn>
    void drain(Fn&& fn) {
        for (auto& chunk : chunks_) {
            for (Entry& e : chunk) fn(std::move(e));
            std::vector<Entry>().swap(chunk);
        }
        *this = SheetCells();
    }

    class const_iterator {
    public:
        const_iterator(const SheetCells* cells, size_t i) : cells_(cells), i_(i) {}
        const Entry& operator*() const { return (*cells_)[i_]; }
        const Entry* operator->() const { return &(*cells_)[i_]; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

    private:
        const SheetCells* cells_;
        size_t i_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }

private:
    static constexpr size_t kChunkBits = 14;
    static constexpr size_t kChunk = size_t{1} << kChunkBits;
    static constexpr uint32_t kFree = 0xFFFFFFFFu;

    // Both coordinates mixed, so that wide rows do not form long probe runs.
    static bool before(CellPos a, CellPos b) { return a.row != b.row ? a.row < b.row : a.col < b.col; }
    static uint64_t hash(CellPos p) {
        uint64_t x = ((uint64_t{p.row} << 32) | p.col) * 0x9E3779B97F4A7C15ULL;
        return x ^ (x >> 32);
    }
    size_t slot_of(CellPos pos) const;
    void grow();
    void append(CellPos pos, SheetCell&& cell);

    std::vector<std::vector<Entry>> chunks_;
    std::vector<uint32_t> slots_;  // entry index or kFree; at most half full
    size_t size_ = 0;
    bool ordered_ = true;  // every entry after the one before it: no index yet
};

// One sheet as read: its name as the file writes it, and its cells.
struct WorkbookSheet {
    std::string name;
    SheetCells cells;
};

// What one file may make the reader hold; each limit past which it fails.
inline constexpr uint64_t kMaxPartBytes = uint64_t{64} << 20;    // one decompressed part
inline constexpr uint64_t kMaxTotalBytes = uint64_t{256} << 20;  // all parts together
inline constexpr uint64_t kMaxCells = 3'000'000;                 // values across all sheets
inline constexpr uint64_t kMaxTextBytes = uint64_t{128} << 20;   // text held by those values
inline constexpr uint64_t kMaxSheets = 10'000;
inline constexpr uint32_t kMaxRow = 1'048'576;                    // sheet limits for repeats
inline constexpr uint32_t kMaxCol = 16'384;

// The sheets of an .xlsx, .xlsm or .ods file, in file order.
Result<std::vector<WorkbookSheet>> read_workbook(std::string_view path);

// (row, column) of a reference such as "B12"; row 0 is returned as such.
std::optional<std::pair<uint32_t, uint32_t>> parse_cell_ref(std::string_view text);

}  // namespace morvane::reader
