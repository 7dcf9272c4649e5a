// Aggregates: SUM, PRODUCT, SUMPRODUCT, AVERAGE, MAX, MIN, COUNT, COUNTA,
// and SUBTOTAL and AGGREGATE, which pick one of them by a function number.
// Every one streams over its arguments: range cells are read in place and
// never gathered into a list, except by the order statistics of AGGREGATE.
// The first error value in the data (arguments in order, cells row by row)
// is the result, as in every spreadsheet; COUNT passes errors over and
// COUNTA counts them.
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/numbers.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kSubtotalUnsupported = "SUBTOTAL: unsupported function_num {}";
constexpr std::string_view kAggregateUnsupported = "AGGREGATE: unsupported function_num {}";
// AGGREGATE 14, 15 and 16 without k, in the words of LARGE, SMALL and PERCENTILE.

// What one walk over the data gathers for AVERAGE, MAX, MIN, PRODUCT,
// COUNT and COUNTA alike.
struct Tally {
    double sum = 0;
    double product = 1;
    double max = 0;
    double min = 0;
    int64_t numbers = 0;
    int64_t non_blank = 0;

    void add(double x) {
        sum += x;
        product *= x;
        // fmax and fmin pass over a NaN.
        max = numbers ? std::fmax(max, x) : x;
        min = numbers ? std::fmin(min, x) : x;
        ++numbers;
    }
    Variant average() const {
        if (numbers == 0) return Variant(ExcelError::DivZero);
        return Variant(sum / static_cast<double>(numbers));
    }
};

// How a tally meets an error value: as the result, passed over, or as one
// more non-blank value (COUNT and COUNTA).
enum class ErrorValues { Propagate, Skip, Count };

// Ranges are read sparsely (whole columns cost their stored cells); range
// cells for which `skip` holds are left out.
Result<Tally> tally(Args args, const EvalCtx& ctx, ErrorValues errors, CellFilter skip = nullptr) {
    Tally t;
    // clang-format off
    TRY_VOID(for_each_nonblank(args, ctx, [&](const Variant& v, ValueSource src) -> Result<void> {
        if (v.is_error() && errors == ErrorValues::Skip) return {};
        ++t.non_blank;
        if (v.is_number()) {
            t.add(v.is_int() ? static_cast<double>(v.as_int()) : v.as_float());
            return {};
        }
        Result<std::optional<double>> x = aggregate_number(v, src);
        if (!x) {
            // COUNT and COUNTA count what they can and never fail on a value.
            if (errors == ErrorValues::Propagate) return fail(std::move(x).error());
        } else if (*x) {
            t.add(**x);
        }
        return {};
    }, skip));
    // clang-format on
    return t;
}

// Whether a formula calls the function `name` (upper case): the name, not
// part of a longer one, followed by "(", outside quoted texts.
bool calls_function(std::string_view formula, std::string_view name) {
    bool quoted = false;
    for (size_t i = 0; i < formula.size(); ++i) {
        const char c = formula[i];
        if (c == '"') quoted = !quoted;
        if (quoted || i + name.size() >= formula.size()) continue;
        if (i > 0) {
            const char before = formula[i - 1];
            if (std::isalnum(static_cast<unsigned char>(before)) || before == '.' || before == '_') continue;
        }
        size_t j = 0;
        while (j < name.size() && ascii_lower(formula[i + j]) == ascii_lower(name[j])) ++j;
        if (j < name.size()) continue;
        size_t k = i + j;
        while (k < formula.size() && formula[k] == ' ') ++k;
        if (k < formula.size() && formula[k] == '(') return true;
    }
    return false;
}

// SUBTOTAL and AGGREGATE leave out cells that hold a SUBTOTAL or AGGREGATE
// formula, so that a grand total over grouped subtotals counts each item once.
bool is_subtotal_cell(const CellContent& cell) {
    return cell.formula && (calls_function(*cell.formula, "SUBTOTAL") || calls_function(*cell.formula, "AGGREGATE"));
}

// The function number of SUBTOTAL and AGGREGATE: truncated, clamped to 32
// bits and taken modulo 100, so 109 selects what 9 selects.
Result<uint32_t> function_number(const FormulaExpr& arg, const EvalCtx& ctx) {
    return saturate_u32(TRY(arg_number(arg, ctx))) % 100;
}

// AGGREGATE options 2, 3, 6 and 7 ignore error values.
bool ignores_errors(double options) {
    const int32_t o = saturate_i32(options);
    return o == 2 || o == 3 || o == 6 || o == 7;
}

// AGGREGATE 14, 15 and 16 (LARGE, SMALL, PERCENTILE): the data, then k as
// the last argument.
Result<Variant> aggregate_with_k(uint32_t number, Args data_and_k, const EvalCtx& ctx, OnError on_error) {
    std::string_view name = number == 14 ? "LARGE" : number == 15 ? "SMALL" : "PERCENTILE";
    if (data_and_k.size() < 2) return fail(format_message(kRequiresTwo, name));
    std::vector<double> v =
        TRY(collect_numbers(data_and_k.first(data_and_k.size() - 1), ctx, on_error, is_subtotal_cell));
    const double k = TRY(arg_number(data_and_k.back(), ctx));
    if (number == 16) return percentile_value(v, k);
    return kth_value(v, k, number == 14);
}

// SUM: the numbers of aggregate_number, streamed.
Result<Variant> sum_of(Args args, const EvalCtx& ctx, CellFilter skip) {
    double sum = 0;
    // clang-format off
    TRY_VOID(for_each_nonblank(args, ctx, [&](const Variant& v, ValueSource src) -> Result<void> {
        if (v.is_int()) {
            sum += static_cast<double>(v.as_int());
        } else if (v.is_float()) {
            sum += v.as_float();
        } else if (std::optional<double> x = TRY(aggregate_number(v, src))) {
            sum += *x;
        }
        return {};
    }, skip));
    // clang-format on
    return number_variant(sum);
}

}  // namespace

Result<Variant> func_sum(Args args, const EvalCtx& ctx) { return sum_of(args, ctx, nullptr); }

Result<Variant> func_average(Args args, const EvalCtx& ctx) {
    return TRY(tally(args, ctx, ErrorValues::Propagate)).average();
}

Result<Variant> func_max(Args args, const EvalCtx& ctx) {
    return number_variant(TRY(tally(args, ctx, ErrorValues::Propagate)).max);
}

Result<Variant> func_min(Args args, const EvalCtx& ctx) {
    return number_variant(TRY(tally(args, ctx, ErrorValues::Propagate)).min);
}

Result<Variant> func_product(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("PRODUCT", args.size(), 1, kNoMax));
    return number_variant(TRY(tally(args, ctx, ErrorValues::Propagate)).product);
}

Result<Variant> func_count(Args args, const EvalCtx& ctx) {
    return Variant(TRY(tally(args, ctx, ErrorValues::Count)).numbers);
}

Result<Variant> func_counta(Args args, const EvalCtx& ctx) {
    return Variant(TRY(tally(args, ctx, ErrorValues::Count)).non_blank);
}

// SUMPRODUCT: term i multiplies element i of every argument; an argument
// shorter than the first supplies 0, and elements past the first
// argument's length are not read. Texts and booleans count as 0. Only
// the positions the first argument stores make terms (a blank is 0), so
// whole columns cost their stored cells. The first error value by argument,
// then by position, is the result.
Result<Variant> func_sumproduct(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("SUMPRODUCT", args.size(), 1, kNoMax));
    std::vector<SparseValues> lists;
    lists.reserve(args.size());
    for (const FormulaExpr& arg : args) lists.push_back(TRY(SparseValues::open(arg, ctx)));
    const uint64_t n = lists.front().size();
    for (const SparseValues& list : lists)
        for (const SparseValues::Entry& e : list.entries()) {
            if (e.index >= n) break;
            if (e.value->is_error()) return propagate(e.value->as_error());
        }
    std::vector<size_t> cursors(lists.size(), 0);
    double total = 0;
    for (const SparseValues::Entry& e : lists.front().entries()) {
        double term = 1;
        for (size_t j = 0; j < lists.size(); ++j) {
            const Variant& v = j == 0 ? *e.value : lists[j].at(e.index, cursors[j]);
            if (v.is_number()) {
                term *= v.is_int() ? static_cast<double>(v.as_int()) : v.as_float();
            } else {
                // Texts and booleans are no numbers to SUMPRODUCT, whatever they hold: 0.
                term *= as_f64(v).value_or(0);
            }
        }
        total += term;
    }
    return number_variant(total);
}

Result<Variant> func_subtotal(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("SUBTOTAL", args.size(), 2, kNoMax));
    const uint32_t number = TRY(function_number(args[0], ctx));
    Args data = args.subspan(1);
    switch (number) {
        case 1: return TRY(tally(data, ctx, ErrorValues::Propagate, is_subtotal_cell)).average();
        case 2: return Variant(TRY(tally(data, ctx, ErrorValues::Count, is_subtotal_cell)).numbers);
        case 3: return Variant(TRY(tally(data, ctx, ErrorValues::Count, is_subtotal_cell)).non_blank);
        case 4: return number_variant(TRY(tally(data, ctx, ErrorValues::Propagate, is_subtotal_cell)).max);
        case 5: return number_variant(TRY(tally(data, ctx, ErrorValues::Propagate, is_subtotal_cell)).min);
        case 6:
            TRY_VOID(check_arity("PRODUCT", data.size(), 1, kNoMax));
            return number_variant(TRY(tally(data, ctx, ErrorValues::Propagate, is_subtotal_cell)).product);
        case 9: return sum_of(data, ctx, is_subtotal_cell);
        default: return fail(format_message(kSubtotalUnsupported, std::to_string(number)));
    }
}

// AGGREGATE(function, options, data...): options 2, 3, 6 and 7 pass error
// values over; 14, 15 and 16 take their last argument as k.
Result<Variant> func_aggregate(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("AGGREGATE", args.size(), 3, kNoMax));
    const uint32_t number = TRY(function_number(args[0], ctx));
    const bool skip = ignores_errors(TRY(arg_number(args[1], ctx)));
    Args data = args.subspan(2);
    const OnError on_error = skip ? OnError::Skip : OnError::Propagate;
    switch (number) {
        case 12: {
            std::vector<double> v = TRY(collect_numbers(data, ctx, on_error, is_subtotal_cell));
            return median_value(v);
        }
        case 14:
        case 15:
        case 16: return aggregate_with_k(number, data, ctx, on_error);
        default: break;
    }
    const bool counts = number == 2 || number == 3;
    const Tally t = TRY(tally(data, ctx,
                              skip     ? ErrorValues::Skip
                              : counts ? ErrorValues::Count
                                       : ErrorValues::Propagate,
                              is_subtotal_cell));
    switch (number) {
        case 1: return t.average();
        case 2: return Variant(t.numbers);
        case 3: return Variant(t.non_blank);
        case 4: return number_variant(t.max);
        case 5: return number_variant(t.min);
        case 6: return number_variant(t.product);
        case 9: return number_variant(t.sum);
        default: return fail(format_message(kAggregateUnsupported, std::to_string(number)));
    }
}

namespace {
constexpr FuncEntry kTable[] = {
    {"AGGREGATE", func_aggregate},   {"AVERAGE", func_average},   {"COUNT", func_count},
    {"COUNTA", func_counta},         {"MAX", func_max},           {"MIN", func_min},
    {"PRODUCT", func_product},       {"SUBTOTAL", func_subtotal}, {"SUM", func_sum},
    {"SUMPRODUCT", func_sumproduct},
};
}  // namespace

std::span<const FuncEntry> aggregate_functions() { return kTable; }

}  // namespace morvane::eval
