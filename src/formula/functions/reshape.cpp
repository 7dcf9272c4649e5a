// Array reshaping functions: TAKE, DROP, TOCOL, TOROW, HSTACK, VSTACK,
// WRAPROWS, WRAPCOLS, CHOOSECOLS and CHOOSEROWS. Values carry no shape, so
// each works on its input as one flat list (a range row by row, an array
// value opened one level): TOCOL and TOROW, HSTACK and VSTACK behave alike.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/lists.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kWrapCount = "{}: wrap_count must be > 0";

Result<int64_t> arg_count(const FormulaExpr& arg, const EvalCtx& ctx) {
    return saturate_i64(TRY(arg_number(arg, ctx)));
}

// The magnitude of a signed count.
uint64_t magnitude(int64_t k) { return k < 0 ? 0 - static_cast<uint64_t>(k) : static_cast<uint64_t>(k); }

// Copies of the list's values from `begin` up to `end`: only the values
// kept are copied, whatever the size of the range behind the list.
Variant slice(const ValueList& list, size_t begin, size_t end) {
    std::vector<Variant> out;
    out.reserve(end - begin);
    for (size_t i = begin; i < end; ++i) out.push_back(list[i]);
    return list_of_cells(std::move(out));
}

// TAKE, DROP and CHOOSEROWS count rows, CHOOSECOLS columns: a list's
// elements are rows only when a range is one column wide (columns only when
// it is one row high), so any other range would need a second dimension.
Result<void> refuse_columns(const FormulaExpr& arg, std::string_view name) {
    const auto* r = arg.get<FormulaExpr::Range>();
    if (r && Table::of(*r).cols > 1) return refuse_two_dimensions(name, "a range of more than one column");
    return {};
}
Result<void> refuse_rows(const FormulaExpr& arg, std::string_view name) {
    const auto* r = arg.get<FormulaExpr::Range>();
    if (r && Table::of(*r).rows > 1) return refuse_two_dimensions(name, "a range of more than one row");
    return {};
}

// TOCOL and TOROW: ignore 1 leaves out blanks, 2 error values, 3 both.
Result<Variant> to_line(Args args, const EvalCtx& ctx, std::string_view name) {
    TRY_VOID(check_at_least(name, args.size(), 1));
    // The ignore code comes first: its failure wins over the array's.
    const uint64_t ignore = args.size() >= 2 ? saturate_u64(TRY(arg_number(args[1], ctx))) : 0;
    const bool skip_blank = ignore == 1 || ignore == 3, skip_error = ignore == 2 || ignore == 3;
    if (args.size() >= 3 && TRY(arg_truth(args[2], ctx)) && is_two_dimensional(args[0]))
        TRY_VOID(refuse_two_dimensions(name, "scanning by column"));
    std::vector<Variant> values = TRY(collect_values(args[0], ctx));
    // clang-format off
    std::erase_if(values, [&](const Variant& v) { return (skip_blank && v.is_empty()) || (skip_error && v.is_error()); });
    // clang-format on
    return list_of_cells(std::move(values));
}

// HSTACK and VSTACK: every argument's values, end to end. Side by side,
// ranges of several rows would need a second dimension.
Result<Variant> stack(Args args, const EvalCtx& ctx, std::string_view name) {
    TRY_VOID(check_arity(name, args.size(), 1, kNoMax));
    std::vector<Variant> out;
    for (const FormulaExpr& arg : args) {
        const auto* r = arg.get<FormulaExpr::Range>();
        if (name == "HSTACK" && r && Table::of(*r).rows > 1)
            TRY_VOID(refuse_two_dimensions(name, "a range of more than one row"));
        std::vector<Variant> part = TRY(collect_values(arg, ctx));
        TRY_VOID(check_list_size(static_cast<unsigned __int128>(out.size()) + part.size()));
        out.insert(out.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
    }
    return list_of_cells(std::move(out));
}

// WRAPROWS (by_rows) and WRAPCOLS: the list laid out in lines of
// wrap_count, the last one padded with pad_with (#N/A when it is not
// given), read back row by row. The input is one row or one column.
Result<Variant> wrap(Args args, const EvalCtx& ctx, std::string_view name, bool by_rows) {
    TRY_VOID(check_at_least(name, args.size(), 2));
    if (is_two_dimensional(args[0])) TRY_VOID(refuse_two_dimensions(name, "a range of more than one row and column"));
    std::vector<Variant> values = TRY(collect_values(args[0], ctx));
    blanks_as_zero(values);
    const uint64_t w = saturate_u64(TRY(arg_number(args[1], ctx)));
    if (w == 0) return fail(format_message(kWrapCount, name));
    const Variant pad = args.size() >= 3 ? TRY(evaluate(args[2], ctx)) : Variant(ExcelError::NA);
    const uint64_t n = values.size(), groups = n / w + (n % w != 0);
    TRY_VOID(check_list_size(static_cast<unsigned __int128>(w) * groups));
    std::vector<Variant> out;
    out.reserve(static_cast<size_t>(w * groups));
    if (by_rows) {
        out = std::move(values);
        out.resize(static_cast<size_t>(w * groups), pad);
    } else {
        // w rows of `groups` columns filled column by column.
        for (uint64_t r = 0; r < w; ++r)
            for (uint64_t c = 0; c < groups; ++c) {
                const uint64_t i = r + c * w;
                out.push_back(i < n ? std::move(values[i]) : pad);
            }
    }
    return list_result(std::move(out));
}

}  // namespace

// TAKE(array, count): the first count values, or the last -count.
Result<Variant> func_take(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("TAKE", args.size(), 2, kNoMax));
    TRY_VOID(refuse_columns(args[0], "TAKE"));
    ValueList list = TRY(ValueList::open(args[0], ctx));
    const int64_t k = TRY(arg_count(args[1], ctx));
    // Taking nothing makes an empty list, which no cell can show.
    if (k == 0) return Variant(ExcelError::Value);
    const size_t n = list.size(), kept = static_cast<size_t>(std::min<uint64_t>(magnitude(k), n));
    return k >= 0 ? slice(list, 0, kept) : slice(list, n - kept, n);
}

// DROP(array, count): all but the first count values, or the last -count.
Result<Variant> func_drop(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("DROP", args.size(), 2, kNoMax));
    TRY_VOID(refuse_columns(args[0], "DROP"));
    ValueList list = TRY(ValueList::open(args[0], ctx));
    const int64_t k = TRY(arg_count(args[1], ctx));
    const size_t n = list.size(), dropped = static_cast<size_t>(std::min<uint64_t>(magnitude(k), n));
    return k >= 0 ? slice(list, dropped, n) : slice(list, 0, n - dropped);
}

Result<Variant> func_tocol(Args args, const EvalCtx& ctx) { return to_line(args, ctx, "TOCOL"); }

Result<Variant> func_torow(Args args, const EvalCtx& ctx) { return to_line(args, ctx, "TOROW"); }

Result<Variant> func_hstack(Args args, const EvalCtx& ctx) { return stack(args, ctx, "HSTACK"); }

Result<Variant> func_vstack(Args args, const EvalCtx& ctx) { return stack(args, ctx, "VSTACK"); }

Result<Variant> func_wraprows(Args args, const EvalCtx& ctx) { return wrap(args, ctx, "WRAPROWS", true); }

Result<Variant> func_wrapcols(Args args, const EvalCtx& ctx) { return wrap(args, ctx, "WRAPCOLS", false); }

// CHOOSECOLS and CHOOSEROWS: the values at the given 1-based positions,
// negative ones counted from the end; a position outside gives #VALUE!.
Result<Variant> choose_elements(Args args, const EvalCtx& ctx, std::string_view name) {
    TRY_VOID(check_arity(name, args.size(), 2, kNoMax));
    TRY_VOID(name == "CHOOSECOLS" ? refuse_rows(args[0], name) : refuse_columns(args[0], name));
    ValueList list = TRY(ValueList::open(args[0], ctx));
    const auto n = static_cast<int64_t>(list.size());
    std::vector<Variant> out;
    out.reserve(args.size() - 1);
    for (const FormulaExpr& arg : args.subspan(1)) {
        const int64_t k = TRY(arg_count(arg, ctx));
        const int64_t pos = k > 0 ? k - 1 : n + k;
        const bool inside = k != 0 && pos >= 0 && pos < n;
        out.push_back(inside ? list[static_cast<size_t>(pos)] : Variant(ExcelError::Value));
    }
    return list_of_cells(std::move(out));
}

Result<Variant> func_choosecols(Args args, const EvalCtx& ctx) { return choose_elements(args, ctx, "CHOOSECOLS"); }

Result<Variant> func_chooserows(Args args, const EvalCtx& ctx) { return choose_elements(args, ctx, "CHOOSEROWS"); }

namespace {
constexpr FuncEntry kTable[] = {
    // clang-format off
    {"CHOOSECOLS", func_choosecols}, {"CHOOSEROWS", func_chooserows}, {"DROP", func_drop},
    {"HSTACK", func_hstack},         {"TAKE", func_take},             {"TOCOL", func_tocol},
    {"TOROW", func_torow},           {"VSTACK", func_vstack},         {"WRAPCOLS", func_wrapcols},
    // clang-format on
    {"WRAPROWS", func_wraprows},
};
}  // namespace

std::span<const FuncEntry> reshape_functions() { return kTable; }

}  // namespace morvane::eval
