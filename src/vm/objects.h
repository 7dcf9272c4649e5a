// What object variables and object-model paths refer to: a range on a
// sheet, a sheet, the workbook. Plain data; Vm resolves and checks them
// (objects.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "types/address.h"
#include "types/variant.h"

namespace morvane {

// A possibly multi-area range on a fixed sheet; each area has its corners
// as written (B2:A1 is not reordered).
struct RangeRef {
    // Lower-case key, fixed when made; the sheet may since have been deleted.
    std::string sheet;
    // Duplicates and overlaps stay. Empty only in a Range variable whose
    // cells were all deleted, which Vm::object_var refuses to hand out.
    std::vector<CellRange> areas;
    static RangeRef single(std::string sheet, const CellRange& area) { return {std::move(sheet), {area}}; }
};

// What an object variable holds.
struct ObjectRef {
    struct Range {
        RangeRef range;
    };
    struct Worksheet {
        std::string sheet;
    };
    struct Workbook {};
    std::variant<Range, Worksheet, Workbook> node;
};

// What an object-model path resolves to: a range (seen as its cells, rows
// or columns), a sheet, the sheet collection, the workbook, the
// application, or a plain value.
struct PathObj {
    enum class Kind : uint8_t { Range, Sheet, Sheets, Workbook, Application, Value };
    enum class View : uint8_t { Cells, Rows, Columns };
    Kind kind = Kind::Value;
    View view = View::Cells;
    RangeRef range;
    std::string sheet;
    Variant value;
};

}  // namespace morvane
