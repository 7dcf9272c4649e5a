// Logic and information functions: the deciding functions (IF, IFS, SWITCH,
// IFERROR), the truth combinators (AND, OR, XOR, NOT), the error functions
// (NA, ERROR.TYPE), and the functions that describe a value or a cell (N,
// TYPE, the IS functions, CELL).
//
// The deciding functions evaluate only the branch they take (IF over a list
// evaluates both, for its elements). An error value where a truth is wanted
// is the result, never a silent FALSE: AND and OR read every argument, so
// that an error after the deciding one still shows.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formula/args.h"
#include "formula/elementwise.h"
#include "formula/eval.h"
#include "types/address.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kIfsArity = "IFS requires an even number of arguments";

// The value of an argument, with a failure of its evaluation taken as an
// error value: the one that travelled out as text, else #VALUE!. This is how
// IFERROR and the error-testing functions see a range or a bad conversion.
Result<Variant> value_or_error(const FormulaExpr& arg, const EvalCtx& ctx) {
    return failure_as_error(evaluate(arg, ctx), ctx);
}

bool is_na(const Variant& v) { return v.is_error() && v.as_error() == ExcelError::NA; }

// fn(value) -> Result<Variant> of the argument's value; over a range or a
// list value, a list of fn of each cell or element, row by row, so that the
// aggregates around see every one. A failure of the argument is taken as
// an error value (value_or_error).
template <class F>
Result<Variant> each_value(const FormulaExpr& arg, const EvalCtx& ctx, F&& fn) {
    std::vector<Variant> out;
    auto add = [&](const Variant& v) -> Result<void> {
        Result<Variant> r = fn(v);
        if (!r) return fail(std::move(r.error()));
        out.push_back(std::move(*r));
        return {};
    };
    if (const auto* r = arg.get<FormulaExpr::Range>()) {
        const RangeView view = TRY(RangeView::open(*r, ctx));
        out.reserve(view.size());
        for (uint64_t i = 0; i < view.size(); ++i) TRY_VOID(add(view.at(i)));
        return list_result(std::move(out));
    }
    Variant v = TRY(value_or_error(arg, ctx));
    if (!v.is_array()) return fn(v);
    out.reserve(v.as_array().size());
    for (const Variant& e : v.as_array()) TRY_VOID(add(e));
    return Variant(std::move(out));
}

// An IS function: `test` of the argument's value, or of each of its cells
// or elements. An argument that fails is an error value to the test, which
// answers for it as for any other value: ISNUMBER(VALUE("x")) is FALSE.
Result<Variant> is_function(Args args, const EvalCtx& ctx, std::string_view name, bool (*test)(const Variant&)) {
    TRY_VOID(check_arity(name, args.size(), 1, 1));
    return each_value(args[0], ctx, [&](const Variant& v) -> Result<Variant> { return Variant(test(v)); });
}

// The truth of a condition (IF, IFS, NOT): a number is true unless 0, a
// blank is false, and a text must read TRUE or FALSE (in any case); any
// other text is #VALUE!, and an error value is that error.
Result<bool> condition_truth(const Variant& v) {
    if (v.is_error()) return propagate(v.as_error());
    if (v.is_str()) {
        if (ascii_ieq(v.as_str(), "TRUE")) return true;
        if (ascii_ieq(v.as_str(), "FALSE")) return false;
        return propagate(ExcelError::Value);
    }
    return is_truthy(v);
}

Result<bool> arg_condition(const FormulaExpr& arg, const EvalCtx& ctx) {
    return condition_truth(TRY(evaluate(arg, ctx)));
}

// fn(bool) for every truth among the arguments of AND, OR and XOR: numbers
// and booleans wherever they stand, and a text typed as an argument itself
// read as a condition. Blanks, and texts in a reference or a list, are
// passed over; an error value anywhere is the result. Nothing to combine is
// #VALUE!.
template <class F>
Result<void> for_each_truth(Args args, const EvalCtx& ctx, F&& fn) {
    bool any = false;
    TRY_VOID(for_each_nonblank(args, ctx, [&](const Variant& v, ValueSource src) -> Result<void> {
        if (v.is_str() && src != ValueSource::Scalar) return {};
        if (v.is_array() || v.is_record()) return {};
        fn(TRY(condition_truth(v)));
        any = true;
        return {};
    }));
    if (!any) return propagate(ExcelError::Value);
    return {};
}

// The info_type of CELL, its reference's position as written (a range gives
// its first corner; anything else, or none, is A1).
CellPos cell_position(Args args) {
    if (args.size() < 2) return {1, 1};
    if (const auto* c = args[1].get<FormulaExpr::CellRef>()) return {c->row, c->col};
    if (const auto* r = args[1].get<FormulaExpr::Range>()) return {r->row1, r->col1};
    return {1, 1};
}

// A condition over a list decides element by element; its branches are
// then lists or single values paired with it (a blank cell taken is 0).
Result<Variant> if_each(Args args, const Operand& cond, const EvalCtx& ctx) {
    Operand yes, no;
    TRY_VOID(load_operand_or_error(args[1], ctx, yes));
    if (args.size() == 3) {
        TRY_VOID(load_operand_or_error(args[2], ctx, no));
    } else {
        no.own = Variant(false);
    }
    auto pick = [](const Variant& c, const Variant& y, const Variant& n) -> Result<Variant> {
        if (c.is_error()) return c;
        // A text that is no truth fails its own element only.
        auto truth = condition_truth(c);
        if (!truth) return Variant(ExcelError::Value);
        const Variant& v = *truth ? y : n;
        return v.is_empty() ? Variant(int64_t{0}) : v;
    };
    return each_element("IF", ctx, pick, cond, yes, no);
}

}  // namespace

Result<Variant> func_if(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("IF", args.size(), 2, 3));
    Variant cond = TRY(evaluate_list(args[0], ctx));
    if (cond.is_array()) return if_each(args, operand_of(args[0], std::move(cond)), ctx);
    // An error as the condition is the result, as in every spreadsheet.
    if (cond.is_error()) return cond;
    if (TRY(condition_truth(cond))) return evaluate_list(args[1], ctx);
    if (args.size() == 3) return evaluate_list(args[2], ctx);
    return Variant(false);
}

Result<Variant> func_ifs(Args args, const EvalCtx& ctx) {
    if (args.size() < 2 || args.size() % 2 != 0) return fail(std::string(kIfsArity));
    for (size_t i = 0; i < args.size(); i += 2)
        if (TRY(arg_condition(args[i], ctx))) return evaluate(args[i + 1], ctx);
    return Variant(ExcelError::NA);
}

Result<Variant> func_switch(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("SWITCH", args.size(), 3, kNoMax));
    Variant subject = TRY(evaluate(args[0], ctx));
    size_t i = 1;
    for (; i + 1 < args.size(); i += 2)
        if (variant_eq(subject, TRY(evaluate(args[i], ctx)))) return evaluate(args[i + 1], ctx);
    // An argument left over after the pairs is the default.
    if (i < args.size()) return evaluate(args[i], ctx);
    return Variant(ExcelError::NA);
}

Result<Variant> func_iferror(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("IFERROR", args.size(), 2, 2));
    // The fallback is evaluated once, at the first error met.
    std::optional<Variant> fallback;
    return each_value(args[0], ctx, [&](const Variant& v) -> Result<Variant> {
        if (!v.is_error()) return v.is_empty() && args[0].get<FormulaExpr::Range>() ? Variant(int64_t{0}) : v;
        if (!fallback) fallback = TRY(evaluate(args[1], ctx));
        return *fallback;
    });
}

Result<Variant> func_and(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("AND", args.size(), 1, kNoMax));
    bool all = true;
    TRY_VOID(for_each_truth(args, ctx, [&](bool t) { all = all && t; }));
    return Variant(all);
}

Result<Variant> func_or(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("OR", args.size(), 1, kNoMax));
    bool any = false;
    TRY_VOID(for_each_truth(args, ctx, [&](bool t) { any = any || t; }));
    return Variant(any);
}

Result<Variant> func_xor(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("XOR", args.size(), 1, kNoMax));
    bool odd = false;
    TRY_VOID(for_each_truth(args, ctx, [&](bool t) { odd ^= t; }));
    return Variant(odd);
}

Result<Variant> func_not(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("NOT", args.size(), 1, 1));
    return Variant(!TRY(arg_condition(args[0], ctx)));
}

Result<Variant> func_na(Args args, const EvalCtx&) {
    TRY_VOID(check_arity("NA", args.size(), 0, 0));
    return Variant(ExcelError::NA);
}

Result<Variant> func_n(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("N", args.size(), 1, 1));
    Variant v = TRY(evaluate(args[0], ctx));
    switch (v.kind()) {
        case Kind::Integer:
        case Kind::Float:
        case Kind::Error: return v;
        case Kind::Date: return Variant(v.as_date().serial);
        case Kind::Boolean: return Variant(int64_t{v.as_bool() ? 1 : 0});
        default: return Variant(int64_t{0});
    }
}

Result<Variant> func_isblank(Args args, const EvalCtx& ctx) {
    return is_function(args, ctx, "ISBLANK", [](const Variant& v) { return v.is_empty(); });
}

Result<Variant> func_iserror(Args args, const EvalCtx& ctx) {
    return is_function(args, ctx, "ISERROR", [](const Variant& v) { return v.is_error(); });
}

// ISERR is ISERROR without #N/A: a missing value is no fault of the formula.
// It shares ISERROR's arity message.
Result<Variant> func_iserr(Args args, const EvalCtx& ctx) {
    return is_function(args, ctx, "ISERROR", [](const Variant& v) { return v.is_error() && !is_na(v); });
}

Result<Variant> func_isna(Args args, const EvalCtx& ctx) { return is_function(args, ctx, "ISNA", is_na); }

Result<Variant> func_istext(Args args, const EvalCtx& ctx) {
    return is_function(args, ctx, "ISTEXT", [](const Variant& v) { return v.is_str(); });
}

Result<Variant> func_isnontext(Args args, const EvalCtx& ctx) {
    return is_function(args, ctx, "ISNONTEXT", [](const Variant& v) { return !v.is_str(); });
}

// A date is a number to the engine (it adds and compares as its serial).
Result<Variant> func_isnumber(Args args, const EvalCtx& ctx) {
    return is_function(args, ctx, "ISNUMBER", [](const Variant& v) { return v.is_number() || v.is_date(); });
}

Result<Variant> func_islogical(Args args, const EvalCtx& ctx) {
    return is_function(args, ctx, "ISLOGICAL", [](const Variant& v) { return v.is_bool(); });
}

Result<Variant> func_type_fn(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("TYPE", args.size(), 1, 1));
    Variant v = TRY(evaluate(args[0], ctx));
    switch (v.kind()) {
        case Kind::Str: return Variant(int64_t{2});
        case Kind::Boolean: return Variant(int64_t{4});
        case Kind::Error: return Variant(int64_t{16});
        case Kind::Array:
        case Kind::Record: return Variant(int64_t{64});
        default: return Variant(int64_t{1});
    }
}

Result<Variant> func_error_type(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("ERROR.TYPE", args.size(), 1, 1));
    Variant v = TRY(value_or_error(args[0], ctx));
    if (!v.is_error()) return Variant(ExcelError::NA);
    // Indexed by ExcelError: #DIV/0!, #N/A, #VALUE!, #REF!, #NAME?, #NUM!, #NULL!,
    // then #SPILL!, #CALC!, #FIELD!, #BLOCKED!, #GETTING_DATA.
    static constexpr int64_t kCodes[] = {2, 7, 3, 4, 5, 6, 1, 9, 14, 13, 11, 8};
    static_assert(std::size(kCodes) == std::size(kExcelErrorTexts));
    return Variant(kCodes[static_cast<size_t>(v.as_error())]);
}

Result<Variant> func_cell(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("CELL", args.size(), 1, 2));
    std::string info = text::to_lower(to_str(TRY(evaluate(args[0], ctx))));
    // The reference is never evaluated: only where it points matters.
    CellPos at = cell_position(args);
    if (info == "col") return Variant(int64_t{at.col});
    if (info == "row") return Variant(int64_t{at.row});
    if (info == "address") {
        std::string address = "$";
        address += morvane_types::column_letters(at.col);
        address += '$';
        address += std::to_string(at.row);
        return Variant(std::move(address));
    }
    if (info == "contents") return cell_val(ctx.cells, at.row, at.col);
    if (info == "type") {
        const Variant& v = cell_ref(ctx.cells, at.row, at.col);
        return Variant(v.is_str() ? "l" : v.is_empty() ? "b" : "v");
    }
    if (info == "width") return Variant(int64_t{8});
    if (info == "prefix" || info == "format" || info == "filename") return Variant(std::string());
    return Variant(int64_t{0});
}

namespace {
constexpr FuncEntry kTable[] = {
    {"AND", func_and},
    {"CELL", func_cell},
    {"ERROR.TYPE", func_error_type},
    {"IF", func_if},
    {"IFERROR", func_iferror},
    {"IFS", func_ifs},
    {"ISBLANK", func_isblank},
    {"ISERR", func_iserr},
    {"ISERROR", func_iserror},
    {"ISLOGICAL", func_islogical},
    {"ISNA", func_isna},
    {"ISNONTEXT", func_isnontext},
    {"ISNUMBER", func_isnumber},
    {"ISTEXT", func_istext},
    {"N", func_n},
    {"NA", func_na},
    {"NOT", func_not},
    {"OR", func_or},
    {"SWITCH", func_switch},
    {"TYPE", func_type_fn},
    {"XOR", func_xor},
};
}  // namespace

std::span<const FuncEntry> logic_functions() { return kTable; }

}  // namespace morvane::eval
