// Lookup functions: VLOOKUP, HLOOKUP, LOOKUP, MATCH, XLOOKUP and XMATCH.
//
// Tables and lists are read in place, never copied: an exact VLOOKUP visits
// the key column's cells one by one until it finds the value, an approximate
// one halves the column. Approximate matches order values as the comparison
// operators do (numbers before texts, texts without regard to case), so a
// sorted column of text keys finds its row; a text only ever matches a text.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/lists.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kTableNotRange = "{}: table argument must be a range";
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

bool is_word(const Variant& v) { return v.is_str() && !text_to_number(v.as_str()); }

// An approximate match takes a key of the value's own kind only: a text
// finds a text, a number a number. Keys of the other kind still steer the
// search, numbers sorting before texts.
bool same_kind(const Variant& value, const Variant& key) { return is_word(value) == is_word(key); }

// The last position i in [0, n) whose key(i) is at or before `value` and of
// its kind, found by halving: the keys are taken to be in ascending order.
template <class Key>
Result<std::optional<uint64_t>> approximate_position(uint64_t n, const Variant& value, const EvalCtx& ctx, Key&& key) {
    std::optional<uint64_t> best;
    int64_t low = 0, high = static_cast<int64_t>(n) - 1;
    while (low <= high) {
        const int64_t mid = low + (high - low) / 2;
        TRY_VOID(charge_cells(ctx, 1));
        const Variant& k = key(static_cast<uint64_t>(mid));
        if (past_value(k, value)) {
            high = mid - 1;
        } else {
            if (same_kind(value, k)) best = static_cast<uint64_t>(mid);
            low = mid + 1;
        }
    }
    return best;
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

    auto key = [&](uint64_t i) -> const Variant& { return vertical ? t.at(ctx.cells, i, 0) : t.at(ctx.cells, 0, i); };
    std::optional<uint64_t> found;
    if (approximate) {
        found = TRY(approximate_position(keys, value, ctx, key));
    } else {
        found = TRY(find_first(keys, ctx, [&](uint64_t i) { return variant_eq(key(i), value); }));
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

// A number of a list element for the approximate modes of XLOOKUP and
// XMATCH; none when it does not convert or is NaN.
std::optional<double> ordered_number(const Variant& v) {
    Result<double> x = to_float(v);
    // Elements that are no number are passed over, whatever the reason.
    if (!x || std::isnan(*x)) return std::nullopt;
    return *x;
}

// The winning position of XLOOKUP and XMATCH in `list`: exact (mode 0) in
// the search direction, or the nearest number at or below (-1) or at or
// above (1) the value, the earliest among equals.
Result<std::optional<size_t>> x_position(const ValueList& list, const Variant& value, int32_t mode,
                                         int32_t search, std::string_view mode_message) {
    const size_t n = list.size();
    if (mode == 0 && search != -1) return list.find([&](const Variant& v) { return variant_eq(v, value); });
    if (mode == 0) {
        for (size_t i = n; i-- > 0;)
            if (variant_eq(list[i], value)) return std::optional<size_t>(i);
        return std::optional<size_t>();
    }
    if (mode != -1 && mode != 1) return fail(format_message(mode_message, std::to_string(mode)));
    const double target = TRY(to_float(value));
    std::optional<size_t> best;
    if (std::isnan(target)) return best;
    double best_x = 0;
    for (size_t i = 0; i < n; ++i) {
        std::optional<double> x = ordered_number(list[i]);
        if (!x) continue;
        const bool side = mode == -1 ? *x <= target : *x >= target;
        const bool closer = !best || (mode == -1 ? *x > best_x : *x < best_x);
        if (side && closer) {
            best = i;
            best_x = *x;
        }
    }
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
    ValueList keys = TRY(ValueList::open(args[1], ctx));
    std::optional<ValueList> results;
    if (args.size() == 3) results = TRY(ValueList::open(args[2], ctx));
    std::optional<size_t> answer;
    for (size_t i = 0; i < keys.size() && !past_value(keys[i], value); ++i)
        if (same_kind(value, keys[i])) answer = i;
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
    ValueList list = TRY(ValueList::open(args[1], ctx));
    const int32_t type = TRY(arg_mode(args, 2, 1, ctx));
    if (type < -1 || type > 1) return fail(format_message(kBadMatchType, std::to_string(type)));
    std::optional<size_t> found;
    if (type == 0) {
        found = list.find([&](const Variant& v) { return variant_eq(v, value); });
    } else {
        const Ordering beyond = type == 1 ? Ordering::Greater : Ordering::Less;
        for (size_t i = 0; i < list.size(); ++i) {
            // Elements that cannot be ordered against the value are passed over.
            std::optional<Ordering> o = key_order(list[i], value);
            if (o && *o != beyond && same_kind(value, list[i])) found = i;
        }
    }
    if (!found) return Variant(ExcelError::NA);
    return Variant(static_cast<int64_t>(*found + 1));
}

Result<Variant> func_xlookup(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("XLOOKUP", args.size(), 3, 6));
    Variant value = TRY(evaluate(args[0], ctx));
    if (value.is_error()) return value;
    ValueList keys = TRY(ValueList::open(args[1], ctx));
    ValueList results = TRY(ValueList::open(args[2], ctx));
    std::optional<Variant> if_not_found;
    if (args.size() >= 4) if_not_found = TRY(evaluate(args[3], ctx));
    const int32_t mode = TRY(arg_mode(args, 4, 0, ctx));
    const int32_t search = TRY(arg_mode(args, 5, 1, ctx));
    std::optional<size_t> found = TRY(x_position(keys, value, mode, search, kXlookupMode));
    if (!found) return if_not_found ? std::move(*if_not_found) : Variant(ExcelError::NA);
    return return_value(keys, results, *found, ctx);
}

Result<Variant> func_xmatch(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("XMATCH", args.size(), 2, 4));
    Variant value = TRY(evaluate(args[0], ctx));
    if (value.is_error()) return value;
    ValueList keys = TRY(ValueList::open(args[1], ctx));
    const int32_t mode = TRY(arg_mode(args, 2, 0, ctx));
    const int32_t search = TRY(arg_mode(args, 3, 1, ctx));
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
