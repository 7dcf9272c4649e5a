// The clipboard model: what Copy keeps (a snapshot of the values and
// formulas of one or more areas) and how Paste writes it into a sheet,
// whole, transposed or area by area. A formula is pasted with its references
// moved by the distance from the copied cell (as filling does), or only its
// value travels when values alone are pasted. The snapshot keeps only the
// non-Empty cells with their offsets, so copying a
// large, mostly empty area costs what it stores; a paste clears its target
// first, which gives every target cell the copied value, Empty included.
// Pure functions of a CellMap: no Vm in sight.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "types/cell_map.h"
#include "types/result.h"
#include "workbook/areas.h"

namespace morvane::vm {

// One copied cell: its (row, column) offset from the area's first corner,
// its value and its formula, if any.
struct CopiedCell {
    CellPos at;
    Variant value;
    std::optional<std::string> formula;
};

// One copied area: its non-Empty cells. A reversed area has no rows or no
// columns and keeps nothing.
struct CopiedArea {
    CellRange area;
    uint64_t rows = 0;
    uint64_t cols = 0;
    std::vector<CopiedCell> values;
};

struct ClipboardState {
    // At least one, in the order copied.
    std::vector<CopiedArea> areas;
};

// The values of `areas` on `sheet` (none: a sheet that does not exist reads
// empty). The caller bounds the areas' size.
ClipboardState take_snapshot(const CellMap* sheet, const std::vector<CellRange>& areas);

// Pastes `clip` at the destination text `dest` (A1 areas or a defined name)
// into `sheet`, formulas moved to their new cells, or only values when
// `values_only`. Every check comes before the first write, so a failing
// paste changes nothing.
Result<void> paste(const ClipboardState& clip, std::string_view dest, bool transpose, bool values_only,
                   const NameMap& names, CellMap& sheet);

}  // namespace morvane::vm
