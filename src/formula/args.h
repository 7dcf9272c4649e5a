// Argument handling shared by the worksheet functions: the arity messages,
// range walking with its 1,000,000-cell limit (RangeView, for_each_value),
// the collectors that turn arguments into value lists, the numeric filters,
// the scalar argument readers that let an error value propagate out of a
// function, and the one-line numeric handlers (unary, binary).
//
// Error values travel out of a handler as failures carrying the error's own
// text ("#N/A"); the dispatcher turns such a failure back into the value
// (is_error_signal). Where a handler drops a failed conversion on purpose,
// a comment says which failures it means to skip.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "formula/ast.h"
#include "formula/eval.h"
#include "types/result.h"
#include "types/variant.h"

namespace morvane::eval {

inline constexpr uint64_t kMaxRangeCells = 1'000'000;

// Argument messages more than one function family gives.
inline constexpr std::string_view kRequiresTwo = "{} requires 2 arguments";
inline constexpr std::string_view kUnequalArrays = "{}: arrays must have equal length";
inline constexpr std::string_view kTableNotRange = "{}: table argument must be a range";
inline constexpr size_t kNoMax = SIZE_MAX;

using Args = std::span<const FormulaExpr>;

// "{name} requires 2 arguments", "... requires 1 to 3 arguments",
// "... requires at least 2 arguments", "... takes no arguments".
Result<void> check_arity(std::string_view name, size_t count, size_t min, size_t max);

// Number of cells of a range between two corners, normalised; exact even
// for the full 2^32 x 2^32 sheet (2^64 does not fit in uint64_t).
unsigned __int128 range_cell_count(const FormulaExpr::Range& r);
// Fails with "Range too large ({} cells); maximum is 1,000,000" above the limit.
Result<void> check_range_size(unsigned __int128 cells);

// Rows/columns walked as written (no swap): 0 when the second is smaller.
inline uint64_t span_len(uint32_t first, uint32_t last) { return last < first ? 0 : uint64_t{last} - first + 1; }

// A range argument: its cells row by row after normalising the corners;
// any other argument: its value, an array value opened one level.
Result<std::vector<Variant>> collect_values(const FormulaExpr& arg, const EvalCtx& ctx);
// collect_values of every argument, concatenated.
Result<std::vector<Variant>> collect_all(std::span<const FormulaExpr> args, const EvalCtx& ctx);
// Two arguments to two equal, non-empty number lists (CORREL, COVAR...).
Result<std::pair<std::vector<double>, std::vector<double>>> collect_paired(std::span<const FormulaExpr> args,
                                                                           const EvalCtx& ctx, std::string_view name);

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
// True when a failure text is an error value travelling out of a handler
// (the literal of one of the seven errors) rather than a message.
bool is_error_signal(std::string_view message);

// ---- Walking ranges ------------------------------------------------------

// A rectangle of the sheet with its corners normalised (B2:A1 is A1:B2),
// read in place: no cell is copied. Opening one checks the 1,000,000-cell
// limit and charges the cells to the evaluation's bound.
class RangeView {
public:
    static Result<RangeView> open(const FormulaExpr::Range& range, const EvalCtx& ctx);

    uint32_t rows() const { return rows_; }
    uint32_t cols() const { return cols_; }
    uint64_t size() const { return uint64_t{rows_} * cols_; }
    // Sheet row and column of the first cell.
    uint32_t top() const { return top_; }
    uint32_t left() const { return left_; }

    // The value at 0-based (r, c) of the view; Empty when the cell is absent.
    const Variant& at(uint32_t r, uint32_t c) const { return cell_ref(*cells_, top_ + r, left_ + c); }
    // The value at row-major index i.
    const Variant& at(uint64_t i) const {
        return at(static_cast<uint32_t>(i / cols_), static_cast<uint32_t>(i % cols_));
    }
    // fn(const Variant&) for every cell, row by row.
    template <class F>
    void for_each(F&& fn) const {
        for (uint32_t r = 0; r < rows_; ++r)
            for (uint32_t c = 0; c < cols_; ++c) fn(at(r, c));
    }

private:
    RangeView(const CellMap& cells, uint32_t top, uint32_t left, uint32_t rows, uint32_t cols)
        : cells_(&cells), top_(top), left_(left), rows_(rows), cols_(cols) {}
    const CellMap* cells_;
    uint32_t top_, left_, rows_, cols_;
};

// ---- Walking what a range stores ------------------------------------------

// A stored cell inside a range: its 0-based row-major index in the range
// (an index fits 64 bits for any range of the sheet) and its content.
struct StoredCell {
    uint64_t index;
    const CellContent* cell;
    const Variant& value() const { return cell->value; }
};

// The stored cells inside `range` (corners normalised) in row-major order,
// blank or not. Costs what the sheet stores, never the range's area: the
// range's cells are looked up one by one when it is smaller than the sheet,
// the sheet's cells are filtered and ordered otherwise; the cost is charged
// to the evaluation's bound. No size limit: whole columns and rows read this
// way cost their stored cells.
Result<std::vector<StoredCell>> stored_cells(const FormulaExpr::Range& range, const EvalCtx& ctx);

// The same walk without gathering when the range is no larger than the
// sheet: fn(const CellContent&) -> Result<void> for every stored cell of the
// range in row-major order, at the same cost.
template <class F>
Result<void> for_each_stored(const FormulaExpr::Range& r, const EvalCtx& ctx, F&& fn) {
    const CellRange n = r.range().normalised();
    const unsigned __int128 area = static_cast<unsigned __int128>(n.rows()) * n.cols();
    if (area > ctx.cells.size()) {
        for (const StoredCell& c : TRY(stored_cells(r, ctx))) TRY_VOID(fn(*c.cell));
        return {};
    }
    TRY_VOID(charge_cells(ctx, area));
    for (uint64_t row = n.first.row; row <= n.last.row; ++row)
        for (uint64_t col = n.first.col; col <= n.last.col; ++col) {
            auto it = ctx.cells.find(CellPos{static_cast<uint32_t>(row), static_cast<uint32_t>(col)});
            if (it != ctx.cells.end()) TRY_VOID(fn(it->second));
        }
    return {};
}

// One argument's values by position with the blanks left out: a range's
// stored cells (at the cost of stored_cells, whatever the range's size), the
// elements of an array value, or the one value. size() counts the blanks
// too (saturated at 2^64 - 1 for the whole sheet).
class SparseValues {
public:
    struct Entry {
        uint64_t index;
        const Variant* value;
        const CellContent* cell;  // null for a value that is no cell
    };
    static Result<SparseValues> open(const FormulaExpr& arg, const EvalCtx& ctx);

    uint64_t size() const { return size_; }
    // The non-blank values in order of position.
    const std::vector<Entry>& entries() const { return entries_; }
    // The value at `index`: the entry there, else Empty. `from` is where the
    // search starts and is moved forward, so that a walk in ascending order
    // costs one pass.
    const Variant& at(uint64_t index, size_t& from) const;
    const Variant& at(uint64_t index) const {
        size_t from = 0;
        return at(index, from);
    }

private:
    uint64_t size_ = 0;
    std::vector<Entry> entries_;
    std::unique_ptr<Variant> owned_;  // the evaluated value the entries point into
};

// Where a value met by for_each_value comes from: a cell of a range
// argument, an element of an array value, or any other argument's value.
enum class ValueSource { Scalar, Range, Array };

// The number one value gives SUM, PRODUCT, AVERAGE, MAX, MIN and COUNT.
// Numbers and dates count wherever they stand. A value typed as an argument
// itself (Scalar) counts as the spreadsheet reads it: TRUE is 1, a blank 0,
// a text its number, and a text that reads as none is #VALUE!. Texts and
// booleans in a reference or a list are passed over (none). An error value
// fails with its own text. WorksheetFunction's aggregates take values by
// the same rule, so a macro and a formula agree.
Result<std::optional<double>> aggregate_number(const Variant& v, ValueSource src);

// A cell reference is a reference, not a value typed as an argument, and
// so are the functions that give one (INDEX, OFFSET, INDIRECT).
ValueSource source_of(const FormulaExpr& arg);

// Calls fn(const Variant&, ValueSource) -> Result<void> for every value of
// the arguments in order, range cells row by row and read in place, so an
// aggregate streams without collecting a list. A failure of fn, of an
// argument's evaluation or of a range's size check ends the walk.
template <class F>
Result<void> for_each_value(Args args, const EvalCtx& ctx, F&& fn) {
    for (const FormulaExpr& arg : args) {
        if (const auto* r = arg.get<FormulaExpr::Range>()) {
            RangeView view = TRY(RangeView::open(*r, ctx));
            for (uint32_t row = 0; row < view.rows(); ++row)
                for (uint32_t col = 0; col < view.cols(); ++col) TRY_VOID(fn(view.at(row, col), ValueSource::Range));
            continue;
        }
        Variant v = TRY(evaluate(arg, ctx));
        if (v.is_array()) {
            for (const Variant& e : v.as_array()) TRY_VOID(fn(e, ValueSource::Array));
        } else {
            TRY_VOID(fn(v, source_of(arg)));
        }
    }
    return {};
}

// Range cells a walk leaves out (SUBTOTAL leaves out other subtotals); null
// leaves out none.
using CellFilter = bool (*)(const CellContent&);

// for_each_value for functions that pass blanks over (the aggregates and
// statistics): the same values in the same order except the blanks, and a
// range costs its stored cells (stored_cells), whatever its size. Range
// cells for which `skip` holds are left out too.
template <class F>
Result<void> for_each_nonblank(Args args, const EvalCtx& ctx, F&& fn, CellFilter skip = nullptr) {
    for (const FormulaExpr& arg : args) {
        if (const auto* r = arg.get<FormulaExpr::Range>()) {
            TRY_VOID(for_each_stored(*r, ctx, [&](const CellContent& c) -> Result<void> {
                if (c.value.is_empty() || (skip && skip(c))) return {};
                return fn(c.value, ValueSource::Range);
            }));
            continue;
        }
        Variant v = TRY(evaluate(arg, ctx));
        if (v.is_array()) {
            for (const Variant& e : v.as_array())
                if (!e.is_empty()) TRY_VOID(fn(e, ValueSource::Array));
        } else if (!v.is_empty()) {
            TRY_VOID(fn(v, source_of(arg)));
        }
    }
    return {};
}

// ---- One-line numeric handlers --------------------------------------------

namespace detail {
// A computed number as a result: NaN and the infinities are #NUM!.
inline Variant finite_or_num(double x) { return std::isfinite(x) ? number_variant(x) : Variant(ExcelError::Num); }
template <class R>
Result<Variant> numeric_result(R r) {
    if constexpr (std::is_same_v<R, double>) {
        return finite_or_num(r);
    } else {
        return r;
    }
}
}  // namespace detail

// A one-argument numeric function: checks that exactly one argument came,
// reads it as a number (an error value propagates) and applies fn, which
// gives a double (NaN or infinite becomes #NUM!) or a Result<Variant>.
template <class F>
Result<Variant> unary(Args args, const EvalCtx& ctx, std::string_view name, F&& fn) {
    TRY_VOID(check_arity(name, args.size(), 1, 1));
    double x = TRY(arg_number(args[0], ctx));
    return detail::numeric_result(fn(x));
}

// The same for two number arguments, read left to right.
template <class F>
Result<Variant> binary(Args args, const EvalCtx& ctx, std::string_view name, F&& fn) {
    TRY_VOID(check_arity(name, args.size(), 2, 2));
    double x = TRY(arg_number(args[0], ctx));
    double y = TRY(arg_number(args[1], ctx));
    return detail::numeric_result(fn(x, y));
}

}  // namespace morvane::eval
