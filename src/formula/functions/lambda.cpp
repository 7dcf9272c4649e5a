// LET and LAMBDA, and the functions that apply a LAMBDA: MAP, REDUCE, SCAN,
// BYROW and BYCOL.
#include <algorithm>
#include <array>
#include <cstddef>

#include "formula/args.h"
#include "formula/eval.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kLetArity = "LET requires an odd number of arguments: LET(name, val, ..., result)";
constexpr std::string_view kLetNames = "LET: name arguments must be identifiers";
constexpr std::string_view kNotLambda = "expected a LAMBDA expression";
constexpr std::string_view kLambdaParams = "LAMBDA: parameter names must be identifiers";
constexpr std::string_view kLambdaCount = "LAMBDA: expected {} args, got {}";
constexpr std::string_view kMapLengths = "MAP: all array arguments must have equal length";
constexpr std::string_view kReduceArity = "REDUCE requires 3 arguments: REDUCE(initial, array, LAMBDA(acc,x,body))";
constexpr std::string_view kScanArity = "SCAN requires 3 arguments: SCAN(initial, array, LAMBDA(acc,x,body))";

// BYROW (by_row) or BYCOL: one LAMBDA call per row or column of a range,
// each cell of it one argument.
Result<Variant> by_lines(std::span<const FormulaExpr> args, const EvalCtx& ctx, bool by_row) {
    TRY_VOID(check_arity(by_row ? "BYROW" : "BYCOL", args.size(), 2, 2));
    const auto* r = args[0].get<FormulaExpr::Range>();
    if (!r) {
        Variant v = TRY(evaluate(args[0], ctx));
        return call_lambda(args[1], {std::move(v)}, ctx);
    }
    uint32_t line_first = by_row ? r->row1 : r->col1, line_last = by_row ? r->row2 : r->col2;
    uint32_t cell_first = by_row ? r->col1 : r->row1, cell_last = by_row ? r->col2 : r->row2;
    uint64_t lines = span_len(line_first, line_last), cells = span_len(cell_first, cell_last);
    if (lines == 0) return Variant{};
    // Bounded like every range walk: one call per line, one value per cell.
    TRY_VOID(check_range_size(static_cast<unsigned __int128>(lines) * std::max<uint64_t>(cells, 1)));
    TRY_VOID(charge_cells(ctx, static_cast<unsigned __int128>(lines) * std::max<uint64_t>(cells, 1)));
    std::vector<Variant> results;
    results.reserve(lines);
    for (uint64_t line = line_first; line <= line_last; ++line) {
        std::vector<Variant> values;
        values.reserve(cells);
        for (uint64_t cell = cell_first; cell <= cell_last && cells > 0; ++cell) {
            auto row = static_cast<uint32_t>(by_row ? line : cell);
            auto col = static_cast<uint32_t>(by_row ? cell : line);
            values.push_back(cell_val(ctx.cells, row, col));
        }
        results.push_back(TRY(call_lambda(args[1], std::move(values), ctx)));
        TRY_VOID(charge_text(ctx, results.back()));
    }
    return list_result(std::move(results));
}

// REDUCE (keep_steps false) or SCAN (true).
Result<Variant> fold(std::span<const FormulaExpr> args, const EvalCtx& ctx, bool keep_steps) {
    Variant acc = TRY(evaluate(args[0], ctx));
    std::vector<Variant> items = TRY(collect_values(args[1], ctx));
    std::vector<Variant> steps;
    for (Variant& item : items) {
        acc = TRY(call_lambda(args[2], {std::move(acc), std::move(item)}, ctx));
        if (keep_steps) {
            steps.push_back(acc);
            TRY_VOID(charge_text(ctx, acc));
        }
    }
    if (keep_steps) return list_result(std::move(steps));
    return acc;
}

}  // namespace

Result<std::vector<std::string>> extract_lambda(std::span<const FormulaExpr> lambda_args) {
    std::vector<std::string> names;
    for (size_t i = 0; i + 1 < lambda_args.size(); ++i) {
        if (!lambda_args[i].is_identifier()) return fail(std::string(kLambdaParams));
        names.push_back(lambda_args[i].get<FormulaExpr::Func>()->name);
    }
    return names;
}

Result<Variant> call_lambda(const FormulaExpr& lambda, std::vector<Variant> values, const EvalCtx& ctx) {
    const auto* f = lambda.get<FormulaExpr::Func>();
    if (!f || f->name != "LAMBDA") return fail(std::string(kNotLambda));
    TRY_VOID(check_arity("LAMBDA", f->args.size(), 2, kNoMax));
    std::vector<std::string> names = TRY(extract_lambda(f->args));
    if (names.size() != values.size())
        return fail(format_message(kLambdaCount, std::to_string(names.size()), std::to_string(values.size())));
    TRY_VOID(charge_step(ctx));
    Scope scope;
    for (size_t i = 0; i < names.size(); ++i) scope.set(std::move(names[i]), std::move(values[i]));
    ScopeGuard guard(std::move(scope));
    Variant result = TRY(evaluate(f->args.back(), ctx));
    // Loops keep one result per call: an array result counts as built.
    TRY_VOID(charge_elements(ctx, result));
    return result;
}

Result<Variant> func_let(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    if (args.size() < 3 || args.size() % 2 == 0) return fail(std::string(kLetArity));
    // Each value sees the names bound before it in the same LET.
    ScopeGuard guard(Scope{});
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (!args[i].is_identifier()) return fail(std::string(kLetNames));
        // A name bound twice in one LET is #VALUE!, as in spreadsheets.
        for (size_t j = 0; j < i; j += 2)
            if (args[j].get<FormulaExpr::Func>()->name == args[i].get<FormulaExpr::Func>()->name)
                return Variant(ExcelError::Value);
        Variant value = TRY(evaluate(args[i + 1], ctx));
        bind_innermost(args[i].get<FormulaExpr::Func>()->name, std::move(value));
    }
    return evaluate(args.back(), ctx);
}

// A LAMBDA is applied only where a function takes it; alone it is a marker.
Result<Variant> func_lambda(std::span<const FormulaExpr>, const EvalCtx&) { return Variant("#LAMBDA"); }

Result<Variant> func_map(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("MAP", args.size(), 2, kNoMax));
    std::vector<std::vector<Variant>> lists;
    for (size_t i = 0; i + 1 < args.size(); ++i) lists.push_back(TRY(collect_values(args[i], ctx)));
    size_t n = lists.front().size();
    for (const auto& l : lists)
        if (l.size() != n) return fail(std::string(kMapLengths));
    std::vector<Variant> results;
    results.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        std::vector<Variant> values;
        values.reserve(lists.size());
        for (const auto& l : lists) values.push_back(l[i]);
        results.push_back(TRY(call_lambda(args.back(), std::move(values), ctx)));
        TRY_VOID(charge_text(ctx, results.back()));
    }
    return list_result(std::move(results));
}

Result<Variant> func_reduce(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    if (args.size() < 3) return fail(std::string(kReduceArity));
    return fold(args, ctx, false);
}

Result<Variant> func_scan(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    if (args.size() < 3) return fail(std::string(kScanArity));
    return fold(args, ctx, true);
}

Result<Variant> func_byrow(std::span<const FormulaExpr> args, const EvalCtx& ctx) { return by_lines(args, ctx, true); }

Result<Variant> func_bycol(std::span<const FormulaExpr> args, const EvalCtx& ctx) { return by_lines(args, ctx, false); }

namespace {
constexpr FuncEntry kTable[] = {
    {"BYCOL", func_bycol}, {"BYROW", func_byrow},   {"LAMBDA", func_lambda}, {"LET", func_let},
    {"MAP", func_map},     {"REDUCE", func_reduce}, {"SCAN", func_scan},
};
}  // namespace

std::span<const FuncEntry> lambda_functions() { return kTable; }

}  // namespace morvane::eval
