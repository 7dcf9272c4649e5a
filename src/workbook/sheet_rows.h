// Edits of one sheet's cells by area and by whole rows: filling and
// clearing an area, deleting and inserting rows, and the row sort of
// Range.Sort. Clearing, deleting, inserting and sorting walk the cells the
// sheet stores (clearing walks the rectangle instead when it is smaller), so
// an edit over a million empty rows costs what the sheet holds. Formulas
// move with their cells and are never rewritten. Pure functions of a
// CellMap: no Vm in sight.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "types/address.h"
#include "types/cell_map.h"
#include "workbook/areas.h"

namespace morvane::vm {

// A macro's write of `value` to the cell at `at`, the one road of every
// value a macro writes: the cell holds what vm::entered_value enters (a
// text is stored as typing it stores it), no formula; a
// write that enters Empty (the empty text too) removes the cell.
void enter_value(CellMap& cells, CellPos at, Variant value);

// A text that starts with "=" (and has more after it): written to a cell,
// it is entered as a formula, as typing it is.
inline bool is_formula_text(const Variant& v) { return v.is_str() && v.as_str().size() > 1 && v.as_str()[0] == '='; }

// enter_value of `value` in every cell of the area; an Array fills the cells
// in reading order, one element each, and cells past its end get #N/A. No
// cell ever holds an Array (one cell gets the first element), and a Record
// is stored as its text form. The caller bounds the area's size.
void fill_rect(CellMap& cells, const CellRange& area, const Variant& value);

// Removes every cell of the area (positions become absent).
void clear_rect(CellMap& cells, const CellRange& area);

// Removes the rows from `first` to `last` (either order) and moves every
// row below them up to close the gap.
void delete_rows(CellMap& cells, uint32_t first, uint32_t last);

// Moves every cell at or below row min(first, last) down by the number of
// rows from `first` to `last`, leaving those rows empty. False, with nothing
// changed, when a cell would land beyond the last row a position can hold.
bool insert_rows(CellMap& cells, uint32_t first, uint32_t last);

// A block of cells inserted or deleted: `count` rows from row `at` (or
// columns from column `at` when `columns`), within the band of columns (or
// rows) from `band_lo` to `band_hi`. Whole rows and columns have the full
// band; a range that is neither moves only the cells in its own band.
struct CellShift {
    bool columns = false;
    bool insert = false;
    uint32_t at = 1;
    uint32_t count = 1;
    uint32_t band_lo = 1;
    uint32_t band_hi = kMaxCol;
};

// Inserts or deletes the block: the band's cells from `at` on move by
// `count` (deleted cells go first). No other cell changes. False, with
// nothing changed, when a cell would be pushed past the sheet's last row
// (1,048,576) or column (16,384).
bool shift_cells(CellMap& cells, const CellShift& shift);

// `formula` with its references to the moved sheet following their cells:
// `on_moved_sheet` says whether the formula's own sheet is the one moved,
// `moved_key` is that sheet's key (lower case). A reference into deleted
// cells becomes #REF!; a range keeps what is left of it. A range that only
// partly covers the band stays as written, and so does one from the first
// to the last row (or column): the whole line. A range reaching the sheet's
// last row (or column) keeps reaching it through an insert.
std::string follow_shift(std::string_view formula, bool on_moved_sheet, std::string_view moved_key,
                         const CellShift& shift);

// An area of the moved sheet after the shift, by the same rules; none when
// all its cells were deleted or pushed off the sheet.
std::optional<CellRange> follow_shift(const CellRange& area, const CellShift& shift);

// One key of a row sort: the column `index` places right of the area's
// first column (a key beyond the area reads Empty), and its order.
struct SortKey {
    uint64_t index = 0;
    bool descending = false;
};

// Sorts the area's rows stably by the keys, the first deciding first; in
// each key an Empty value comes last whatever the order. Every cell of the
// area ends up a value cell: formulas are dropped, Empty cells are left
// absent. The order of the Sort statement is no strict weak ordering
// (9 < 10 < "9" = 9), so it goes through the merge sort that stays in
// bounds whatever the comparator. An area with a reversed row or column
// pair is left alone.
void sort_rows(CellMap& cells, const CellRange& area, std::span<const SortKey> keys);

// Sort's Header:=xlGuess: whether the area's first row is a header, read
// from the values as the application reads them (a row of texts over a row
// that holds a number, a date or a Boolean beneath one of them is a header;
// a row that holds a number is data); none when the values cannot tell.
std::optional<bool> guess_header(const CellMap& cells, const CellRange& area);

}  // namespace morvane::vm
