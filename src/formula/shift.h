// Moving a formula's cell references, the one routine behind filling a
// formula over a range, pasting it elsewhere, and following cells that rows
// or columns moved: each reference is handed to a rewriter, and one that the
// rewriter drops or that lands off the sheet becomes #REF!. The text is
// rewritten in place: everything but the references (spacing, names,
// literals) stays.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morvane::formula {

// One corner of a reference as written.
struct RefCorner {
    int64_t row = 0, col = 0;
    bool row_abs = false, col_abs = false;
};

// Called for each reference: `sheet` is the name before "!" as written (the
// quotes taken off), empty for a reference to the formula's own sheet; a
// single cell has `range` false and `last` equal to `first`. Returns false to
// make the reference #REF!.
using RefRewriter = std::function<bool(std::string_view sheet, RefCorner& first, RefCorner& last, bool range)>;

std::string rewrite_references(std::string_view formula, const RefRewriter& rewrite);

// `formula` with every reference's relative row moved by `rows` and relative
// column by `cols`.
std::string shift_references(std::string_view formula, int64_t rows, int64_t cols);

}  // namespace morvane::formula
