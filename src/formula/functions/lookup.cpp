// Lookup functions: VLOOKUP, HLOOKUP, LOOKUP, MATCH, XLOOKUP and XMATCH.
//
// Tables and lists are read in place, never copied: an exact VLOOKUP visits
// the key column's cells one by one until it finds the value, an approximate
// one halves the column. Approximate matches order values as the comparison
// operators do (numbers before texts, texts without regard to case), so a
// sorted column of text keys finds its row; a text only ever matches a text.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formula/args.h"
#include "formula/criteria.h"
#include "formula/eval.h"
#include "formula/lists.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kBadMatchType = "MATCH: invalid match_type {}";
constexpr std::string_view kXlookupMode = "XLOOKUP: unsupported match_mode {}";
constexpr std::string_view kXmatchMode = "XMATCH: unsupported match_mode {}";

// The order of a key against the looked-up value in an approximate match;
// none when the two cannot be ordered (an error value, an array, a NaN). A
// blank key has no order either, so a range written past the end of a
// sorted table searches only its filled part.
std::optional<Ordering> key_order(const Variant& key, const Variant& value) {
    if (key.is_empty()) return std::nullopt;
    Result<Ordering> o = variant_cmp(key, value);
    // A comparison that fails only means the two have no order.
    if (!o) return std::nullopt;
    return *o;
}

// A key that cannot be ordered sends the halving towards the start.
bool past_value(const Variant& key, const Variant& value) {
    std::optional<Ordering> o = key_order(key, value);
    return !o || *o == Ordering::Greater;
}

// The kinds an approximate match keeps apart: numbers (dates, and a blank
// looked up, among them), texts and booleans; -1 for what has no kind.
int lookup_kind(const Variant& v) {
    if (is_numeric_kind(v) || v.is_empty()) return 0;
    if (v.is_str()) return 1;
    if (v.is_bool()) return 2;
    return -1;
}

// An approximate match takes a key of the value's own kind only: a text
// finds a text, a number a number, a boolean a boolean, whatever a text
// holds. Keys of other kinds still steer the search, numbers sorting before
// texts and texts before booleans.
bool same_kind(const Variant& value, const Variant& key) {
    const int k = lookup_kind(key);
    return k >= 0 && k == lookup_kind(value);
}

// Runs scan(test) with the exact-match test of a lookup value that is not
// blank: a text holding *, ? or ~ is a pattern over texts; any other value
// finds what variant_eq calls equal to it.
template <class Scan>
auto exact_search(const Variant& value, Scan&& scan) {
    if (std::optional<std::string> pattern = lookup_pattern(value))
        return scan([&](const Variant& c) { return matches_lookup_pattern(c, *pattern); });
    return scan([&](const Variant& c) { return variant_eq(c, value); });
}

// The last position i in [0, n) whose key(i) is at or before `value` and of
// its kind, found by halving: the keys are taken to be in ascending order.
// Blank keys are passed over: a probe that lands on one steps back to the
// nearest key that is not blank (or, when there is none down to the lower
// end, searches the upper half), so a blank inside the keys never sends the
// search toward the start.
template <class Key>
Result<std::optional<uint64_t>> approximate_position(uint64_t n, const Variant& value, const EvalCtx& ctx, Key&& key) {
    std::optional<uint64_t> best;
    int64_t low = 0, high = static_cast<int64_t>(n) - 1;
    while (low <= high) {
        const int64_t mid = low + (high - low) / 2;
        int64_t j = mid;
        TRY_VOID(charge_cells(ctx, 1));
        while (j >= low && key(static_cast<uint64_t>(j)).is_empty()) {
            --j;
            TRY_VOID(charge_cells(ctx, 1));
        }
        if (j < low) {
            low = mid + 1;
            continue;
        }
        const Variant& k = key(static_cast<uint64_t>(j));
        if (past_value(k, value)) {
            high = j - 1;
        } else {
            if (same_kind(value, k)) best = static_cast<uint64_t>(j);
            low = mid + 1;
        }
    }
    return best;
}

// A key line longer than the sheet's stored cells, read as its stored keys:
// a whole column costs what it holds.
Result<std::optional<uint64_t>> sparse_key_position(const FormulaExpr::Range& line, const Variant& value,
                                                    bool approximate, const EvalCtx& ctx) {
    std::vector<StoredCell> cells = TRY(stored_cells(line, ctx));
    if (!approximate) {
        return exact_search(value, [&](auto hit) -> Result<std::optional<uint64_t>> {
            for (const StoredCell& c : cells)
                if (hit(c.value())) return std::optional<uint64_t>(c.index);
            return std::optional<uint64_t>();
        });
    }
    std::erase_if(cells, [](const StoredCell& c) { return c.value().is_empty(); });
    auto found = TRY(
        approximate_position(cells.size(), value, ctx, [&](uint64_t i) -> const Variant& { return cells[i].value(); }));
    if (!found) return found;
    return std::optional<uint64_t>(cells[*found].index);
}

// VLOOKUP (vertical) and HLOOKUP: the key line is the table's first column
// (first row); the answer is read `index` columns (rows) into the table.
Result<Variant> table_lookup(Args args, const EvalCtx& ctx, std::string_view name, bool vertical) {
    TRY_VOID(check_arity(name, args.size(), 3, 4));
    Variant value = TRY(evaluate(args[0], ctx));
    if (value.is_error()) return value;
    const auto* range = args[1].get<FormulaExpr::Range>();
    if (!range) return fail(format_message(kTableNotRange, name));
    const uint32_t index = saturate_u32(TRY(arg_number(args[2], ctx)));
    if (index == 0) return Variant(ExcelError::Value);
    const bool approximate = args.size() == 3 || TRY(arg_truth(args[3], ctx));
    const Table t = Table::of(*range);
    const uint64_t keys = vertical ? t.rows : t.cols, depth = vertical ? t.cols : t.rows;
    if (index > depth) return Variant(ExcelError::Ref);
    // A blank looked up exactly finds nothing, not even a blank key.
    if (!approximate && value.is_empty()) return Variant(ExcelError::NA);

    auto key = [&](uint64_t i) -> const Variant& { return vertical ? t.at(ctx.cells, i, 0) : t.at(ctx.cells, 0, i); };
    std::optional<uint64_t> found;
    if (keys > ctx.cells.size()) {
        const CellRange n = range->range().normalised();
        const FormulaExpr::Range line{n.first.col, n.first.row, vertical ? n.first.col : n.last.col,
                                      vertical ? n.last.row : n.first.row};
        found = TRY(sparse_key_position(line, value, approximate, ctx));
    } else if (approximate) {
        found = TRY(approximate_position(keys, value, ctx, key));
    } else {
        found = TRY(exact_search(
            value, [&](auto hit) { return find_first(keys, ctx, [&](uint64_t i) { return hit(key(i)); }); }));
    }
    if (!found) return Variant(ExcelError::NA);
    return vertical ? t.at(ctx.cells, *found, index - 1) : t.at(ctx.cells, index - 1, *found);
}

// The match_type / match_mode / search_mode arguments: whole numbers
// truncated toward zero, saturated to 32 bits.
Result<int32_t> arg_mode(Args args, size_t i, int32_t fallback, const EvalCtx& ctx) {
    if (args.size() <= i) return fallback;
    return saturate_i32(TRY(arg_number(args[i], ctx)));
}

// The winning position of XLOOKUP and XMATCH in `list`: exact (mode 0) in
// the search direction, or the nearest value of its kind at or below (-1)
// or at or above (1) it, the earliest among equals.
Result<std::optional<size_t>> x_position(const ValueList& list, const Variant& value, int32_t mode, int32_t search,
                                         std::string_view mode_message) {
    if (mode == 0 && search != -1) return list.find([&](const Variant& v) { return variant_eq(v, value); });
    if (mode == 0) {
        std::optional<size_t> found;
        list.for_each_filled(
            [&](size_t i, const Variant& v) {
                if (variant_eq(v, value)) found = i;
                return !found;
            },
            true);
        if (value.is_empty()) {
            auto blank = list.blank_at_end(true);
            if (blank && (!found || *blank > *found)) found = blank;
        }
        return found;
    }
    if (mode != -1 && mode != 1) return fail(format_message(mode_message, std::to_string(mode)));
    // The nearest element of the value's own kind on the asked side (a
    // text looked up among numbers finds nothing): one `beyond` the best so
    // far is nearer, as long as it is not beyond the value.
    const Ordering beyond = mode == -1 ? Ordering::Greater : Ordering::Less;
    std::optional<size_t> best;
    const Variant* best_value = nullptr;
    auto consider = [&](size_t i, const Variant& v) {
        if (!same_kind(value, v)) return;
        const std::optional<Ordering> side = key_order(v, value);
        if (!side || *side == beyond) return;
        if (best) {
            // Among equals the earliest wins.
            const std::optional<Ordering> o = key_order(v, *best_value);
            if (!o || (*o != beyond && !(*o == Ordering::Equal && i < *best))) return;
        }
        best = i;
        best_value = &v;
    };
    list.for_each_filled([&](size_t i, const Variant& v) {
        consider(i, v);
        return true;
    });
    // Blanks read as 0; the first of them stands for them all.
    static const Variant kZero{int64_t{0}};
    if (auto blank = list.blank_at_end(false)) consider(*blank, kZero);
    return best;
}

// The answer of XLOOKUP at position i: the element of the return list, or
// the whole row (column) of a return range whose rows (columns) line up with
// the lookup list; Empty past the end of the return list.
Result<Variant> return_value(const ValueList& keys, const ValueList& results, size_t i, const EvalCtx& ctx) {
    if (const auto& view = results.range(); view && view->size() != keys.size()) {
        if (view->rows() == keys.size() && view->cols() > 1)
            return block_values(ctx, uint64_t{view->top()} + i, view->left(), 1, view->cols());
        if (view->cols() == keys.size() && view->rows() > 1)
            return block_values(ctx, view->top(), uint64_t{view->left()} + i, view->rows(), 1);
    }
    if (i >= results.size()) return Variant{};
    return results[i];
}

}  // namespace

Result<Variant> func_vlookup(Args args, const EvalCtx& ctx) { return table_lookup(args, ctx, "VLOOKUP", true); }

Result<Variant> func_hlookup(Args args, const EvalCtx& ctx) { return table_lookup(args, ctx, "HLOOKUP", false); }

// LOOKUP(value, list, [results]): one forward walk that assumes ascending
// order and stops at the first key past the value.
Result<Variant> func_lookup(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("LOOKUP", args.size(), 2, 3));
    Variant value = TRY(evaluate(args[0], ctx));
    if (value.is_error()) return value;
    ValueList keys = TRY(ValueList::open_sparse(args[1], ctx));
    std::optional<ValueList> results;
    if (args.size() == 3) results = TRY(ValueList::open_sparse(args[2], ctx));
    std::optional<size_t> answer;
    // Blank keys are passed over; the walk stops at the first key past the value.
    keys.for_each_filled([&](size_t i, const Variant& k) {
        if (past_value(k, value)) return false;
        if (same_kind(value, k)) answer = i;
        return true;
    });
    const ValueList& from = results ? *results : keys;
    if (!answer || *answer >= from.size()) return Variant(ExcelError::NA);
    return from[*answer];
}

// MATCH(value, list, [match_type]): 0 the first equal element; 1 the last
// element at or below the value, -1 the last at or above it, over the whole
// list whatever its order.
Result<Variant> func_match_fn(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("MATCH", args.size(), 2, 3));
    Variant value = TRY(evaluate(args[0], ctx));
    if (value.is_error()) return value;
    ValueList list = TRY(ValueList::open_sparse(args[1], ctx));
    const int32_t type = TRY(arg_mode(args, 2, 1, ctx));
    if (type < -1 || type > 1) return fail(format_message(kBadMatchType, std::to_string(type)));
    std::optional<size_t> found;
    if (type == 0) {
        if (!value.is_empty()) found = exact_search(value, [&](auto hit) { return list.find(hit); });
    } else {
        const Ordering beyond = type == 1 ? Ordering::Greater : Ordering::Less;
        list.for_each_filled([&](size_t i, const Variant& v) {
            // Elements that cannot be ordered against the value are passed over.
            std::optional<Ordering> o = key_order(v, value);
            if (o && *o != beyond && same_kind(value, v)) found = i;
            return true;
        });
    }
    if (!found) return Variant(ExcelError::NA);
    return Variant(static_cast<int64_t>(*found + 1));
}

Result<Variant> func_xlookup(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("XLOOKUP", args.size(), 3, 6));
    Variant value = TRY(evaluate(args[0], ctx));
    if (value.is_error()) return value;
    ValueList keys = TRY(ValueList::open_sparse(args[1], ctx));
    ValueList results = TRY(ValueList::open_sparse(args[2], ctx));
    std::optional<Variant> if_not_found;
    if (args.size() >= 4) if_not_found = TRY(evaluate(args[3], ctx));
    const int32_t mode = TRY(arg_mode(args, 4, 0, ctx));
    const int32_t search = TRY(arg_mode(args, 5, 1, ctx));
    if (search == 0) return Variant(ExcelError::Value);
    std::optional<size_t> found = TRY(x_position(keys, value, mode, search, kXlookupMode));
    if (!found) return if_not_found ? std::move(*if_not_found) : Variant(ExcelError::NA);
    return return_value(keys, results, *found, ctx);
}

Result<Variant> func_xmatch(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("XMATCH", args.size(), 2, 4));
    Variant value = TRY(evaluate(args[0], ctx));
    if (value.is_error()) return value;
    ValueList keys = TRY(ValueList::open_sparse(args[1], ctx));
    const int32_t mode = TRY(arg_mode(args, 2, 0, ctx));
    const int32_t search = TRY(arg_mode(args, 3, 1, ctx));
    // A search mode of 0 names no direction.
    if (search == 0) return Variant(ExcelError::Value);
    std::optional<size_t> found = TRY(x_position(keys, value, mode, search, kXmatchMode));
    if (!found) return Variant(ExcelError::NA);
    return Variant(static_cast<int64_t>(*found + 1));
}

namespace {
constexpr FuncEntry kTable[] = {
    {"HLOOKUP", func_hlookup}, {"LOOKUP", func_lookup},   {"MATCH", func_match_fn},
    {"VLOOKUP", func_vlookup}, {"XLOOKUP", func_xlookup}, {"XMATCH", func_xmatch},
};
}  // namespace

std::span<const FuncEntry> lookup_functions() { return kTable; }

}  // namespace morvane::eval
