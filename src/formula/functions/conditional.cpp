// Conditional aggregates: SUMIF, SUMIFS, COUNTIF, COUNTIFS, AVERAGEIF,
// AVERAGEIFS, MAXIFS, MINIFS and COUNTBLANK.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "formula/args.h"
#include "formula/criteria.h"
#include "formula/eval.h"

namespace morvane::eval {

namespace {

Result<ParsedCriteria> criterion(const FormulaExpr& arg, const EvalCtx& ctx) {
    return parse_criteria(TRY(evaluate(arg, ctx)));
}

// Clears the flag of every position that a (range, criterion) pair rejects.
// Positions a shorter range does not reach stay as they are.
Result<void> apply_pairs(std::span<const FormulaExpr> pairs, std::vector<char>& flags, const EvalCtx& ctx) {
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
        std::vector<Variant> values = TRY(collect_values(pairs[i], ctx));
        ParsedCriteria crit = TRY(criterion(pairs[i + 1], ctx));
        size_t n = std::min(values.size(), flags.size());
        for (size_t j = 0; j < n; ++j)
            if (flags[j] && !matches_parsed(values[j], crit)) flags[j] = 0;
    }
    return {};
}

// The first range and its flags after every pair: (values, flags).
Result<std::pair<std::vector<Variant>, std::vector<char>>> select_ifs(std::span<const FormulaExpr> args,
                                                                      const EvalCtx& ctx) {
    std::vector<Variant> values = TRY(collect_values(args[0], ctx));
    std::vector<char> flags(values.size(), 1);
    TRY_VOID(apply_pairs(args.subspan(1), flags, ctx));
    return std::pair{std::move(values), std::move(flags)};
}

Result<void> check_ifs_arity(std::span<const FormulaExpr> args, std::string_view message) {
    if (args.size() < 3 || args.size() % 2 == 0) return fail(std::string(message));
    return {};
}

// Sum and count of the selected values that convert to numbers.
struct Totals {
    double sum = -0.0;
    size_t count = 0;
    void add(const Variant& v) {
        // Text that is no number and error values are passed over, not failures.
        if (auto x = to_float(v)) {
            sum += *x;
            ++count;
        }
    }
};

// The totals of SUMIF and AVERAGEIF: values of the third argument (or of
// the range itself) at the positions whose range value matches.
Result<Totals> one_criterion_totals(std::span<const FormulaExpr> args, const EvalCtx& ctx, std::string_view name) {
    TRY_VOID(check_arity(name, args.size(), 2, 3));
    std::vector<Variant> values = TRY(collect_values(args[0], ctx));
    ParsedCriteria crit = TRY(criterion(args[1], ctx));
    std::vector<Variant> other;
    if (args.size() == 3) other = TRY(collect_values(args[2], ctx));
    const std::vector<Variant>& taken = args.size() == 3 ? other : values;
    Totals t;
    size_t n = std::min(values.size(), taken.size());
    for (size_t i = 0; i < n; ++i)
        if (matches_parsed(values[i], crit)) t.add(taken[i]);
    return t;
}

// The totals of SUMIFS and AVERAGEIFS: values of the first range at the
// positions every pair selects.
Result<Totals> pairs_totals(std::span<const FormulaExpr> args, const EvalCtx& ctx, std::string_view arity) {
    TRY_VOID(check_ifs_arity(args, arity));
    auto [values, flags] = TRY(select_ifs(args, ctx));
    Totals t;
    for (size_t i = 0; i < values.size(); ++i)
        if (flags[i]) t.add(values[i]);
    return t;
}

// AVERAGEIF and AVERAGEIFS: the mean of what was selected; #DIV/0! when
// nothing was, as for any average of nothing.
Result<Variant> average(const Totals& t) {
    if (t.count == 0) return Variant(ExcelError::DivZero);
    return Variant(t.sum / static_cast<double>(t.count));
}

// MAXIFS (want_max) or MINIFS: numbers and dates only; a NaN is passed over
// unless every value taken is NaN. No number selected gives 0.
Result<Variant> extreme_ifs(std::span<const FormulaExpr> args, const EvalCtx& ctx, bool want_max,
                            std::string_view arity) {
    TRY_VOID(check_ifs_arity(args, arity));
    auto [values, flags] = TRY(select_ifs(args, ctx));
    std::optional<double> best;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!flags[i]) continue;
        auto x = as_f64(values[i]);
        if (!x) continue;
        if (!best || std::isnan(*best) || (want_max ? *x > *best : *x < *best)) best = *x;
    }
    if (!best) return Variant(int64_t{0});
    return number_variant(*best);
}

}  // namespace

Result<Variant> func_sumif(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    Totals t = TRY(one_criterion_totals(args, ctx, "SUMIF"));
    return number_variant(t.sum);
}

Result<Variant> func_averageif(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    Totals t = TRY(one_criterion_totals(args, ctx, "AVERAGEIF"));
    return average(t);
}

Result<Variant> func_countif(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("COUNTIF", args.size(), 2, 2));
    std::vector<Variant> values = TRY(collect_values(args[0], ctx));
    ParsedCriteria crit = TRY(criterion(args[1], ctx));
    auto n = std::count_if(values.begin(), values.end(), [&](const Variant& v) { return matches_parsed(v, crit); });
    return Variant(static_cast<int64_t>(n));
}

Result<Variant> func_countifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    if (args.size() < 2 || args.size() % 2 != 0) return fail("COUNTIFS requires pairs of (range,criteria)");
    std::vector<Variant> first = TRY(collect_values(args[0], ctx));
    ParsedCriteria crit = TRY(criterion(args[1], ctx));
    std::vector<char> flags(first.size());
    for (size_t i = 0; i < first.size(); ++i) flags[i] = matches_parsed(first[i], crit);
    TRY_VOID(apply_pairs(args.subspan(2), flags, ctx));
    return Variant(static_cast<int64_t>(std::count(flags.begin(), flags.end(), 1)));
}

Result<Variant> func_sumifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    Totals t = TRY(pairs_totals(args, ctx, "SUMIFS requires sum_range then pairs of (range,criteria)"));
    return number_variant(t.sum);
}

Result<Variant> func_averageifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    Totals t = TRY(pairs_totals(args, ctx, "AVERAGEIFS requires avg_range then pairs"));
    return average(t);
}

Result<Variant> func_maxifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    return extreme_ifs(args, ctx, true, "MAXIFS requires max_range then pairs");
}

Result<Variant> func_minifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    return extreme_ifs(args, ctx, false, "MINIFS requires min_range then pairs");
}

Result<Variant> func_countblank(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    int64_t n = 0;
    // One argument at a time: memory stays that of the largest argument.
    for (const FormulaExpr& arg : args) {
        std::vector<Variant> values = TRY(collect_values(arg, ctx));
        n += std::count_if(values.begin(), values.end(),
                           [](const Variant& v) { return v.is_empty() || (v.is_str() && v.as_str().empty()); });
    }
    return Variant(n);
}

namespace {
constexpr FuncEntry kTable[] = {
    {"AVERAGEIF", func_averageif}, {"AVERAGEIFS", func_averageifs}, {"COUNTBLANK", func_countblank},
    {"COUNTIF", func_countif},     {"COUNTIFS", func_countifs},     {"MAXIFS", func_maxifs},
    {"MINIFS", func_minifs},       {"SUMIF", func_sumif},           {"SUMIFS", func_sumifs},
};
}  // namespace

std::span<const FuncEntry> conditional_functions() { return kTable; }

}  // namespace morvane::eval
