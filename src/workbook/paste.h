// The clipboard model: what Copy keeps (a snapshot of the values of one or
// more areas) and how Paste writes it into a sheet, whole, transposed or
// area by area. Only values travel: pasted cells hold no formula. The
// snapshot keeps only the non-Empty values with their offsets, so copying a
// large, mostly empty area costs what it stores; a paste clears its target
// first, which gives every target cell the copied value, Empty included.
// Pure functions of a CellMap: no Vm in sight.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "types/cell_map.h"
#include "types/result.h"
#include "workbook/areas.h"

namespace morvane::vm {

// One copied area: its non-Empty values at (row, column) offsets from its
// first corner. A reversed area has no rows or no columns and keeps nothing.
struct CopiedArea {
    CellRange area;
    uint64_t rows = 0;
    uint64_t cols = 0;
    std::vector<std::pair<CellPos, Variant>> values;
};

struct ClipboardState {
    // At least one, in the order copied.
    std::vector<CopiedArea> areas;
};

// The values of `areas` on `sheet` (none: a sheet that does not exist reads
// empty). The caller bounds the areas' size.
ClipboardState take_snapshot(const CellMap* sheet, const std::vector<CellRange>& areas);

// Pastes `clip` at the destination text `dest` (A1 areas or a defined name)
// into `sheet`. Every check comes before the first write, so a failing paste
// changes nothing.
Result<void> paste(const ClipboardState& clip, std::string_view dest, bool transpose, const NameMap& names,
                   CellMap& sheet);

}  // namespace morvane::vm
