// Dynamic-array functions: FILTER, SORT, SORTBY, UNIQUE, SEQUENCE and
// TRANSPOSE. Results are flat lists (row after row) under the list result
// rule: none is Empty, one is that value, more are an Array.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formula/args.h"
#include "formula/criteria.h"
#include "formula/eval.h"
#include "formula/lists.h"
#include "formula/sort.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kFilterLengths = "FILTER: data has {} rows but include has {} elements";
constexpr std::string_view kSortbyLengths = "SORTBY: data and sort-by arrays must have equal length";

// ---- Sorting ----------------------------------------------------------------

// Where a value sorts: first what converts to a number, by that number
// (TRUE is 1); then texts, by their lower-case form; then what has no order
// (error values, arrays, NaN), in input order. Descending reverses all
// three. Blanks come last either way, as spreadsheets sort them.
struct SortKey {
    enum Rank : uint8_t { Number, Text, Unordered, Blank };
    Rank rank = Unordered;
    double number = 0;
    std::string text;
};

SortKey sort_key(const Variant& v) {
    if (v.is_empty()) return {SortKey::Blank, 0, {}};
    Result<double> x = to_float(v);
    // A value that does not convert is placed by its kind instead.
    if (x && !std::isnan(*x)) return {SortKey::Number, *x, {}};
    if (v.is_str()) return {SortKey::Text, 0, text::to_lower(v.as_str())};
    return {};
}

// A strict weak order on keys: equal keys keep their input order in the
// stable sort.
bool key_before(const SortKey& a, const SortKey& b, bool descending) {
    if (a.rank == SortKey::Blank || b.rank == SortKey::Blank)
        return a.rank != SortKey::Blank && b.rank == SortKey::Blank;
    if (a.rank != b.rank) return descending ? a.rank > b.rank : a.rank < b.rank;
    switch (a.rank) {
        case SortKey::Number: return descending ? a.number > b.number : a.number < b.number;
        case SortKey::Text: return descending ? a.text > b.text : a.text < b.text;
        case SortKey::Unordered:
        case SortKey::Blank: return false;
    }
    return false;
}

// `values` as rows of `width` values, reordered by one key per row; rows
// with equal keys stay in input order.
Variant sorted_rows(std::vector<Variant> values, size_t width, const std::vector<SortKey>& keys, bool descending) {
    std::vector<size_t> order(keys.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    stable_merge_sort(order, [&](size_t a, size_t b) { return key_before(keys[a], keys[b], descending); });
    std::vector<Variant> out;
    out.reserve(values.size());
    for (size_t row : order)
        for (size_t j = 0; j < width; ++j) out.push_back(std::move(values[row * width + j]));
    return list_of_cells(std::move(out));
}

// The sort order argument at `i`: negative sorts descending, positive
// ascending; 0 is no order (#VALUE!, which leaves as a failure text).
Result<bool> arg_descending(Args args, size_t i, const EvalCtx& ctx) {
    if (args.size() <= i) return false;
    const int64_t order = saturate_i64(TRY(arg_number(args[i], ctx)));
    if (order == 0) return propagate(ExcelError::Value);
    return order < 0;
}

// Columns of a range argument (normalised), 1 for any other argument.
size_t width_of(const FormulaExpr& arg) {
    const auto* r = arg.get<FormulaExpr::Range>();
    return r ? static_cast<size_t>(Table::of(*r).cols) : 1;
}

// ---- Duplicates ---------------------------------------------------------------

// A hash under which values equal by variant_eq meet: numbers by their
// value, texts by their bytes with ASCII letters folded, booleans by their
// truth, blanks alike. None for values equal to nothing (error values,
// arrays, records, NaN).
std::optional<size_t> equality_hash(const Variant& v) {
    switch (v.kind()) {
        case Kind::Integer: return std::hash<double>{}(static_cast<double>(v.as_int()));
        case Kind::Date: return std::hash<double>{}(static_cast<double>(v.as_date().serial));
        case Kind::Float:
            if (std::isnan(v.as_float())) return std::nullopt;
            return std::hash<double>{}(v.as_float() + 0.0);  // -0 and 0 meet
        case Kind::Str: return std::hash<std::string>{}(text::ascii_lower(v.as_str()));
        case Kind::Boolean: return v.as_bool() ? 0x5bd1e995u : 0x1b873593u;
        case Kind::Empty: return 0x2545f491u;
        default: return std::nullopt;
    }
}

// ---- Filtering ----------------------------------------------------------------

// One include flag: an error value there is FILTER's result (it leaves as
// its failure text).
Result<char> include_flag(const Variant& v) {
    if (v.is_error()) return propagate(v.as_error());
    return static_cast<char>(is_truthy(v));
}

// FILTER's include argument as one flag per element: a range's cells, or a
// list (a comparison over a range gives one).
Result<std::vector<char>> include_flags(const FormulaExpr& arg, const EvalCtx& ctx) {
    std::vector<char> flags;
    if (arg.get<FormulaExpr::Range>()) {
        ValueList list = TRY(ValueList::open(arg, ctx));
        flags.reserve(list.size());
        for (size_t i = 0; i < list.size(); ++i) flags.push_back(TRY(include_flag(list[i])));
        return flags;
    }
    Variant v = TRY(evaluate(arg, ctx));
    if (!v.is_array()) return std::vector<char>{TRY(include_flag(v))};
    for (const Variant& e : v.as_array()) flags.push_back(TRY(include_flag(e)));
    return flags;
}

// The selected rows (or columns, when the flags line up with the columns
// and not the rows) of a range, row after row.
Result<std::vector<Variant>> filter_range(const FormulaExpr::Range& range, const std::vector<char>& flags,
                                          const EvalCtx& ctx) {
    const Table t = Table::of(range);
    const bool by_rows = flags.size() == t.rows || flags.size() != t.cols;
    if (by_rows && flags.size() != t.rows)
        return fail(format_message(kFilterLengths, std::to_string(t.rows), std::to_string(flags.size())));
    std::vector<uint64_t> picked;
    for (size_t i = 0; i < flags.size(); ++i)
        if (flags[i]) picked.push_back(i);
    const uint64_t rows = by_rows ? picked.size() : t.rows, cols = by_rows ? t.cols : picked.size();
    TRY_VOID(check_list_size(static_cast<unsigned __int128>(rows) * cols));
    TRY_VOID(charge_cells(ctx, static_cast<unsigned __int128>(rows) * cols));
    std::vector<Variant> out;
    if (picked.empty()) return out;
    out.reserve(static_cast<size_t>(rows * cols));
    if (by_rows) {
        for (uint64_t r : picked)
            for (uint64_t c = 0; c < t.cols; ++c) out.push_back(t.at(ctx.cells, r, c));
    } else {
        for (uint64_t r = 0; r < t.rows; ++r)
            for (uint64_t c : picked) out.push_back(t.at(ctx.cells, r, c));
    }
    return out;
}

}  // namespace

Result<Variant> func_filter(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("FILTER", args.size(), 2, kNoMax));
    std::vector<char> flags = TRY(include_flags(args[1], ctx));
    std::vector<Variant> selected;
    if (const auto* range = args[0].get<FormulaExpr::Range>()) {
        selected = TRY(filter_range(*range, flags, ctx));
    } else {
        Variant data = TRY(evaluate(args[0], ctx));
        // A list made by a function filters element by element; a lone value passes.
        if (!data.is_array() || data.as_array().size() != flags.size()) return data;
        for (size_t i = 0; i < flags.size(); ++i)
            if (flags[i]) selected.push_back(std::move(data.as_array()[i]));
    }
    if (!selected.empty()) return list_of_cells(std::move(selected));
    if (args.size() >= 3) return evaluate(args[2], ctx);
    return Variant(ExcelError::NA);
}

// SORT(array, [sort_index], [order], [by_col]): a range of several columns
// sorts its rows, kept whole, by the column sort_index; anything else is one
// list. Sorting columns would need a second dimension lists do not have.
Result<Variant> func_sort(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_at_least("SORT", args.size(), 1));
    if (args.size() >= 4 && TRY(arg_truth(args[3], ctx))) TRY_VOID(refuse_two_dimensions("SORT", "sorting by columns"));
    std::vector<Variant> values = TRY(collect_values(args[0], ctx));
    const size_t width = width_of(args[0]);
    const int64_t column = args.size() >= 2 ? saturate_i64(TRY(arg_number(args[1], ctx))) : 1;
    const bool descending = TRY(arg_descending(args, 2, ctx));
    if (column < 1 || static_cast<uint64_t>(column) > width) return Variant(ExcelError::Value);
    std::vector<SortKey> keys(values.size() / width);
    for (size_t row = 0; row < keys.size(); ++row)
        keys[row] = sort_key(values[row * width + static_cast<size_t>(column) - 1]);
    return sorted_rows(std::move(values), width, keys, descending);
}

// SORTBY(array, by_array, [order]): the values of array in the order of
// by_array's keys; a range of several columns whose rows line up with the
// keys keeps its rows whole.
Result<Variant> func_sortby(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("SORTBY", args.size(), 2, kNoMax));
    std::vector<Variant> values = TRY(collect_values(args[0], ctx));
    std::vector<Variant> by = TRY(collect_values(args[1], ctx));
    const bool descending = TRY(arg_descending(args, 2, ctx));
    size_t width = 1;
    if (by.size() != values.size()) {
        width = width_of(args[0]);
        if (by.empty() || width == 1 || values.size() / width != by.size()) return fail(std::string(kSortbyLengths));
    }
    std::vector<SortKey> keys;
    keys.reserve(by.size());
    for (const Variant& v : by) keys.push_back(sort_key(v));
    return sorted_rows(std::move(values), width, keys, descending);
}

// UNIQUE(array, [by_col], [exactly_once]): every entry that equals no
// earlier one, in input order (blanks are one value, shown as 0); with
// exactly_once, only the entries that occur once. An entry is a value of a
// list or of a one-column or one-row range, a whole row of a range of
// several rows and columns (its columns with by_col), kept whole; a column
// compared by_col is one entry, so it comes back as it is.
Result<Variant> func_unique(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_at_least("UNIQUE", args.size(), 1));
    std::vector<Variant> values = TRY(collect_values(args[0], ctx));
    const bool by_col = args.size() >= 2 && TRY(arg_truth(args[1], ctx));
    const bool exactly_once = args.size() >= 3 && TRY(arg_truth(args[2], ctx));
    const size_t width = width_of(args[0]);
    const size_t height = width == 0 ? 0 : values.size() / width;
    // Entries of `len` values each; value k of entry u is values[at(u, k)].
    size_t entries = values.size(), len = 1;
    bool columns = false;
    if (width > 1 && height > 1) {
        columns = by_col;
        entries = by_col ? width : height;
        len = by_col ? height : width;
    } else if (width == 1 && height > 1 && by_col) {
        entries = 1, len = height;
    }
    auto at = [&](size_t u, size_t k) { return columns ? k * width + u : u * len + k; };
    // An entry's hash, or none when one of its values equals nothing.
    auto entry_hash = [&](size_t u) -> std::optional<size_t> {
        size_t h = 0;
        for (size_t k = 0; k < len; ++k) {
            std::optional<size_t> one = equality_hash(values[at(u, k)]);
            if (!one) return std::nullopt;
            h = h * 1000003u ^ *one;
        }
        return h;
    };
    auto same_entry = [&](size_t u, size_t w) {
        for (size_t k = 0; k < len; ++k) {
            const Variant& a = values[at(u, k)];
            const Variant& b = values[at(w, k)];
            if (a.is_empty() ? !b.is_empty() : !variant_eq(a, b)) return false;
        }
        return true;
    };
    std::vector<size_t> kept;                      // entries kept, in order
    std::vector<size_t> counts;                    // occurrences of each kept entry
    std::unordered_multimap<size_t, size_t> seen;  // hash -> index in kept
    for (size_t u = 0; u < entries; ++u) {
        std::optional<size_t> h = entry_hash(u);
        if (h) {
            auto [first, last] = seen.equal_range(*h);
            std::optional<size_t> earlier;
            for (auto it = first; it != last && !earlier; ++it)
                if (same_entry(kept[it->second], u)) earlier = it->second;
            if (earlier) {
                ++counts[*earlier];
                continue;
            }
            seen.emplace(*h, kept.size());
        }
        kept.push_back(u);
        counts.push_back(1);
    }
    if (exactly_once) {
        std::vector<size_t> once;
        for (size_t i = 0; i < kept.size(); ++i)
            if (counts[i] == 1) once.push_back(kept[i]);
        // Nothing that occurs once: the list would be empty.
        if (once.empty()) return Variant(ExcelError::Value);
        kept = std::move(once);
    }
    std::vector<Variant> out;
    out.reserve(kept.size() * len);
    if (columns) {
        // The kept columns, read row by row as every list is.
        for (size_t k = 0; k < len; ++k)
            for (size_t u : kept) out.push_back(std::move(values[at(u, k)]));
    } else {
        for (size_t u : kept)
            for (size_t k = 0; k < len; ++k) out.push_back(std::move(values[at(u, k)]));
    }
    return list_of_cells(std::move(out));
}

// SEQUENCE(rows, [columns], [start], [step]): rows x columns numbers from
// start, step apart.
Result<Variant> func_sequence(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("SEQUENCE", args.size(), 1, kNoMax));
    const int64_t rows = saturate_i64(TRY(arg_number(args[0], ctx)));
    const int64_t cols = args.size() >= 2 ? saturate_i64(TRY(arg_number(args[1], ctx))) : 1;
    const double start = args.size() >= 3 ? TRY(arg_number(args[2], ctx)) : 1;
    const double step = args.size() >= 4 ? TRY(arg_number(args[3], ctx)) : 1;
    // No rows or no columns make an empty list, which no cell can show.
    if (rows < 1 || cols < 1) return Variant(ExcelError::Value);
    const __int128 count = static_cast<__int128>(rows) * cols;
    TRY_VOID(check_list_size(static_cast<unsigned __int128>(count)));
    std::vector<Variant> out;
    out.reserve(static_cast<size_t>(count));
    for (size_t i = 0; i < static_cast<size_t>(count); ++i)
        out.push_back(number_variant(start + static_cast<double>(i) * step));
    return list_result(std::move(out));
}

// TRANSPOSE(range): the range read column by column; any other argument's
// value is returned as it is (a flat list has no sides to swap).
Result<Variant> func_transpose(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_at_least("TRANSPOSE", args.size(), 1));
    const auto* range = args[0].get<FormulaExpr::Range>();
    if (!range) return evaluate(args[0], ctx);
    RangeView view = TRY(RangeView::open(*range, ctx));
    std::vector<Variant> out;
    out.reserve(view.size());
    for (uint32_t c = 0; c < view.cols(); ++c)
        for (uint32_t r = 0; r < view.rows(); ++r) out.push_back(view.at(r, c));
    return list_of_cells(std::move(out));
}

namespace {
constexpr FuncEntry kTable[] = {
    {"FILTER", func_filter}, {"SEQUENCE", func_sequence},   {"SORT", func_sort},
    {"SORTBY", func_sortby}, {"TRANSPOSE", func_transpose}, {"UNIQUE", func_unique},
};
}  // namespace

std::span<const FuncEntry> dynamic_functions() { return kTable; }

}  // namespace morvane::eval
