// Conditional aggregates: SUMIF, SUMIFS, COUNTIF, COUNTIFS, AVERAGEIF,
// AVERAGEIFS, MAXIFS, MINIFS and COUNTBLANK.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "formula/args.h"
#include "formula/criteria.h"
#include "formula/eval.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kCountifsPairs = "COUNTIFS requires pairs of (range,criteria)";
constexpr std::string_view kSumifsPairs = "SUMIFS requires sum_range then pairs of (range,criteria)";
constexpr std::string_view kAverageifsPairs = "AVERAGEIFS requires avg_range then pairs";
constexpr std::string_view kMaxifsPairs = "MAXIFS requires max_range then pairs";
constexpr std::string_view kMinifsPairs = "MINIFS requires min_range then pairs";

Result<ParsedCriteria> criterion(const FormulaExpr& arg, const EvalCtx& ctx) {
    return parse_criteria(TRY(evaluate(arg, ctx)));
}

// A (range, criterion) pair. Ranges are read sparsely: a whole column costs
// its stored cells, and the blanks between them are counted, not visited.
struct Condition {
    SparseValues values;
    ParsedCriteria crit;
    bool blank_matches = false;
    size_t cursor = 0;

    // Whether position i passes (positions are visited in ascending order);
    // a position the range does not reach passes.
    bool passes(uint64_t i) {
        if (i >= values.size()) return true;
        return matches_parsed(values.at(i, cursor), crit);
    }
};

Result<Condition> read_condition(const FormulaExpr& range, const FormulaExpr& crit, const EvalCtx& ctx) {
    Condition c{TRY(SparseValues::open(range, ctx)), TRY(criterion(crit, ctx))};
    c.blank_matches = matches_parsed(Variant{}, c.crit);
    return c;
}

Result<std::vector<Condition>> read_conditions(std::span<const FormulaExpr> pairs, const EvalCtx& ctx) {
    std::vector<Condition> out;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) out.push_back(TRY(read_condition(pairs[i], pairs[i + 1], ctx)));
    return out;
}

bool all_pass(std::vector<Condition>& conditions, uint64_t i) {
    for (Condition& c : conditions)
        if (!c.passes(i)) return false;
    return true;
}

// How many of the positions [0, n) pass every condition. Positions some range
// stores are tested one by one; the blank positions between them are counted
// by stretches, in which every range is either blank or out of reach.
uint64_t count_passing(std::vector<Condition>& conditions, uint64_t n) {
    std::vector<uint64_t> stored;
    for (const Condition& c : conditions)
        for (const SparseValues::Entry& e : c.values.entries())
            if (e.index < n) stored.push_back(e.index);
    std::sort(stored.begin(), stored.end());
    stored.erase(std::unique(stored.begin(), stored.end()), stored.end());
    uint64_t count = 0;
    for (uint64_t i : stored) count += all_pass(conditions, i);
    std::vector<uint64_t> edges{0, n};
    for (const Condition& c : conditions) edges.push_back(std::min(c.values.size(), n));
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    for (size_t k = 0; k + 1 < edges.size(); ++k) {
        const uint64_t a = edges[k], b = edges[k + 1];
        bool blank_passes = true;
        for (const Condition& c : conditions) blank_passes = blank_passes && (a >= c.values.size() || c.blank_matches);
        if (!blank_passes) continue;
        const auto lo = std::lower_bound(stored.begin(), stored.end(), a);
        const auto hi = std::lower_bound(stored.begin(), stored.end(), b);
        count += (b - a) - static_cast<uint64_t>(hi - lo);
    }
    return count;
}

Variant count_result(uint64_t n) {
    if (n > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return Variant(static_cast<double>(n));
    return Variant(static_cast<int64_t>(n));
}

Result<void> check_ifs_arity(std::span<const FormulaExpr> args, std::string_view message) {
    if (args.size() < 3 || args.size() % 2 == 0) return fail(std::string(message));
    return {};
}

// Sum and count of the selected numbers (dates included). Texts, booleans
// and blanks in the summed range add nothing; an error value that would be
// added is the result.
struct Totals {
    double sum = -0.0;
    size_t count = 0;
};

// Calls fn(value) for each non-blank value of `taken` at a position below
// `limit` that passes every condition, in order.
template <class F>
Result<void> for_each_selected(const SparseValues& taken, uint64_t limit, std::vector<Condition>& conditions, F&& fn) {
    for (const SparseValues::Entry& e : taken.entries()) {
        if (e.index >= limit) break;
        if (all_pass(conditions, e.index)) TRY_VOID(fn(*e.value));
    }
    return {};
}

Result<Totals> selected_totals(const SparseValues& taken, uint64_t limit, std::vector<Condition>& conditions) {
    Totals t;
    TRY_VOID(for_each_selected(taken, limit, conditions, [&](const Variant& v) -> Result<void> {
        if (v.is_error()) return propagate(v.as_error());
        if (auto x = as_f64(v)) {
            t.sum += *x;
            ++t.count;
        }
        return {};
    }));
    return t;
}

// The totals of SUMIF and AVERAGEIF: values of the third argument (or of
// the range itself) at the positions whose range value matches.
Result<Totals> one_criterion_totals(std::span<const FormulaExpr> args, const EvalCtx& ctx, std::string_view name) {
    TRY_VOID(check_arity(name, args.size(), 2, 3));
    std::vector<Condition> conditions;
    conditions.push_back(TRY(read_condition(args[0], args[1], ctx)));
    if (args.size() == 2) return selected_totals(conditions[0].values, conditions[0].values.size(), conditions);
    SparseValues taken = TRY(SparseValues::open(args[2], ctx));
    return selected_totals(taken, std::min(taken.size(), conditions[0].values.size()), conditions);
}

// The totals of SUMIFS and AVERAGEIFS: values of the first range at the
// positions every pair selects.
Result<Totals> pairs_totals(std::span<const FormulaExpr> args, const EvalCtx& ctx, std::string_view arity) {
    TRY_VOID(check_ifs_arity(args, arity));
    SparseValues taken = TRY(SparseValues::open(args[0], ctx));
    std::vector<Condition> conditions = TRY(read_conditions(args.subspan(1), ctx));
    return selected_totals(taken, taken.size(), conditions);
}

// AVERAGEIF and AVERAGEIFS: the mean of what was selected; #DIV/0! when
// nothing was, the average of nothing.
Variant average(const Totals& t) {
    if (t.count == 0) return Variant(ExcelError::DivZero);
    return Variant(t.sum / static_cast<double>(t.count));
}

// MAXIFS (want_max) or MINIFS: numbers and dates only; a NaN is passed over
// unless every value taken is NaN. No number selected gives 0.
Result<Variant> extreme_ifs(std::span<const FormulaExpr> args, const EvalCtx& ctx, bool want_max,
                            std::string_view arity) {
    TRY_VOID(check_ifs_arity(args, arity));
    SparseValues taken = TRY(SparseValues::open(args[0], ctx));
    std::vector<Condition> conditions = TRY(read_conditions(args.subspan(1), ctx));
    std::optional<double> best;
    TRY_VOID(for_each_selected(taken, taken.size(), conditions, [&](const Variant& v) -> Result<void> {
        auto x = as_f64(v);
        if (x && (!best || std::isnan(*best) || (want_max ? *x > *best : *x < *best))) best = *x;
        return {};
    }));
    return number_variant(best.value_or(0));
}

}  // namespace

Result<Variant> func_sumif(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    Totals t = TRY(one_criterion_totals(args, ctx, "SUMIF"));
    return number_variant(t.sum);
}

Result<Variant> func_averageif(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    return average(TRY(one_criterion_totals(args, ctx, "AVERAGEIF")));
}

Result<Variant> func_countif(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("COUNTIF", args.size(), 2, 2));
    std::vector<Condition> conditions;
    conditions.push_back(TRY(read_condition(args[0], args[1], ctx)));
    return count_result(count_passing(conditions, conditions[0].values.size()));
}

Result<Variant> func_countifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    if (args.size() < 2 || args.size() % 2 != 0) return fail(std::string(kCountifsPairs));
    std::vector<Condition> conditions = TRY(read_conditions(args, ctx));
    return count_result(count_passing(conditions, conditions[0].values.size()));
}

Result<Variant> func_sumifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    Totals t = TRY(pairs_totals(args, ctx, kSumifsPairs));
    return number_variant(t.sum);
}

Result<Variant> func_averageifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    return average(TRY(pairs_totals(args, ctx, kAverageifsPairs)));
}

Result<Variant> func_maxifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    return extreme_ifs(args, ctx, true, kMaxifsPairs);
}

Result<Variant> func_minifs(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    return extreme_ifs(args, ctx, false, kMinifsPairs);
}

Result<Variant> func_countblank(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    uint64_t n = 0;
    // A blank is an absent or empty cell, or an empty text.
    for (const FormulaExpr& arg : args) {
        SparseValues values = TRY(SparseValues::open(arg, ctx));
        n += values.size() - values.entries().size();
        for (const SparseValues::Entry& e : values.entries()) n += e.value->is_str() && e.value->as_str().empty();
    }
    return count_result(n);
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
