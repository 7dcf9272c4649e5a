// Argument handling shared by the worksheet functions: the arity messages,
// range walking with its 1,000,000-cell limit, the collectors that turn
// arguments into value lists, the numeric filters, and the scalar argument
// readers that let an error value propagate out of a function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/ast.h"
#include "formula/eval.h"
#include "types/result.h"
#include "types/variant.h"

namespace morvane::eval {

inline constexpr uint64_t kMaxRangeCells = 1'000'000;
inline constexpr size_t kNoMax = SIZE_MAX;

// "{name} requires 2 arguments", "... requires 1 to 3 arguments",
// "... requires at least 2 arguments", "... takes no arguments".
Result<void> check_arity(std::string_view name, size_t count, size_t min, size_t max);

// Number of cells of a range between two corners, normalised; exact even
// for the full 2^32 x 2^32 sheet (2^64 does not fit in uint64_t).
unsigned __int128 range_cell_count(const FormulaExpr::Range& r);
// Fails with "Range too large ({} cells); maximum is 1,000,000" above the limit.
Result<void> check_range_size(unsigned __int128 cells);

// Rows/columns walked as written (no swap): 0 when the second is smaller.
inline uint64_t span_len(uint32_t first, uint32_t last) {
    return last < first ? 0 : uint64_t{last} - first + 1;
}

// A range argument: its cells row by row after normalising the corners;
// any other argument: its value, an array value opened one level.
Result<std::vector<Variant>> collect_values(const FormulaExpr& arg, const EvalCtx& ctx);
// collect_values of every argument, concatenated.
Result<std::vector<Variant>> collect_all(std::span<const FormulaExpr> args, const EvalCtx& ctx);
// Two arguments to two equal, non-empty number lists (CORREL, COVAR...).
Result<std::pair<std::vector<double>, std::vector<double>>> collect_paired(
    std::span<const FormulaExpr> args, const EvalCtx& ctx, std::string_view name);

// Integer, Float and Date as a number; nothing for any other kind.
std::optional<double> as_f64(const Variant& v);
std::vector<double> collect_nums(std::vector<Variant> values);
// Replaces each Array element by its elements, one level deep.
std::vector<Variant> flatten_array_vals(std::vector<Variant> values);

// A computed list as one value: none gives Empty, one that value, more an Array.
Variant list_result(std::vector<Variant> values);

// Scalar argument readers. An error value fails with its own text, which the
// dispatcher returns as that error value: the function yields the error.
Result<double> arg_number(const FormulaExpr& arg, const EvalCtx& ctx);
Result<std::string> arg_text(const FormulaExpr& arg, const EvalCtx& ctx);
Result<bool> arg_truth(const FormulaExpr& arg, const EvalCtx& ctx);
// The failure that carries an error value out of a handler.
inline std::unexpected<std::string> propagate(ExcelError e) { return fail(std::string(error_text(e))); }

}  // namespace morvane::eval
