// Lists in operators and in IF: an operand that may be a range or a list,
// and the pairing of such operands element by element, in reading order,
// with a single value paired with every element.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/args.h"
#include "formula/eval.h"
#include "types/result.h"
#include "types/variant.h"

namespace morvane::eval {

// A value where a list may stand. A range is read in place with its rows
// and columns, and the list of an operator over ranges has the grid they
// span; a list made by a function has only its length, and pairs with
// whatever has as many elements.
struct Operand {
    Variant own;                     // an evaluated value
    const Variant* cell = nullptr;   // a referenced cell, read in place
    std::optional<RangeView> range;  // a range's cells, read in place
    uint64_t rows = 1, cols = 1;     // the grid of a list, when `shaped`
    bool shaped = false;

    const Variant& value() const { return cell ? *cell : own; }
    bool is_list() const { return range.has_value() || value().is_array(); }
    uint64_t size() const { return range ? range->size() : value().is_array() ? value().as_array().size() : 1; }
    const Variant& at(uint64_t i) const {
        if (range) return range->at(i);
        return value().is_array() ? value().as_array()[i] : value();
    }
    // The operand as one value: a range's cells become a list.
    Variant take() &&;
};

// `expr` as an operand: a cell read in place, a range as its cells (a
// one-cell range as its value), anything else evaluated; a list gets the
// grid its expression shows (take_grid).
Result<void> load_operand(const FormulaExpr& expr, const EvalCtx& ctx, Operand& out);
// The same, where a failure that leaves the evaluation going stands as an
// error value instead (the text's error, else #VALUE!): the branches of IF
// over a list, which only some elements may take.
Result<void> load_operand_or_error(const FormulaExpr& expr, const EvalCtx& ctx, Operand& out);
// A range's cells as a list, a one-cell range as its value.
Result<Variant> range_list(const FormulaExpr& expr, const EvalCtx& ctx);
// The value of `expr` where a range may stand for its cells.
inline Result<Variant> evaluate_list(const FormulaExpr& expr, const EvalCtx& ctx) {
    // Only a range differs from evaluate: operators give their lists anyway.
    if (expr.kind() == FormulaExpr::Kind::Range) return range_list(expr, ctx);
    return evaluate(expr, ctx);
}
// The value `expr` gave, as an operand with the grid its expression shows.
Operand operand_of(const FormulaExpr& expr, Variant value);

// ---- Pairing ----------------------------------------------------------

// The grid that list operands make together. Along each side a length of 1
// repeats and a longer side wins, the shorter padded with #N/A. A grid of
// several rows and columns that no operand has alone (a row against a
// column) is refused, as is a list of unknown shape beside anything of
// another length.
struct Pairing {
    uint64_t rows = 1, cols = 1;
    uint64_t size() const { return rows * cols; }
};
Result<Pairing> pair_up(std::string_view name, std::span<const Operand* const> ops);
// Gives `op`, read from `expr`, the grid its list spans as the expression's
// form shows it: a range of several cells, or operators over such ranges
// (the grid they pair into). Other lists have only their length.
void take_grid(const FormulaExpr& expr, Operand& op);
// Element `i` (reading order) of the pairing, taken from `op`.
const Variant& element(const Operand& op, const Pairing& p, uint64_t i);

// fn(element of each operand...) -> Result<Variant> at every position of
// their pairing, as a list in reading order; a failure of one element is
// that element's error value. `name` heads the refusal of operands that do
// not pair.
template <class F, class... Ops>
Result<Variant> each_element(std::string_view name, const EvalCtx& ctx, F&& fn, const Ops&... ops) {
    const Operand* all[] = {&ops...};
    const Pairing p = TRY(pair_up(name, all));
    std::vector<Variant> values;
    values.reserve(p.size());
    for (uint64_t i = 0; i < p.size(); ++i) values.push_back(TRY(failure_as_error(fn(element(ops, p, i)...), ctx)));
    Variant list(std::move(values));
    TRY_VOID(charge_elements(ctx, list));
    return list;
}

}  // namespace morvane::eval
