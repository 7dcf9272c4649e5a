// The formula evaluator: evaluation of a FormulaExpr against one sheet, the
// value conversions and comparisons every worksheet function shares, and the
// dispatch of worksheet functions by name. The LET/LAMBDA scopes live in
// formula/scope.h, the random generator in formula/random.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/ast.h"
#include "formula/scope.h"
#include "types/compare.h"
#include "types/result.h"
#include "types/variant.h"

namespace morvane::eval {

// Bounds of one evaluation, whatever nesting of ranges and LAMBDA loops the
// formula holds: the cells and array elements it visits in all (range
// walks, arrays read from cells and names), the array elements it builds in
// all (so arrays nested in arrays cannot exhaust memory), the text bytes its
// "&" joins build and its LAMBDA loops keep in all, and the length of one
// text made by "&" (longer gives #VALUE!, as in every spreadsheet).
inline constexpr uint64_t kMaxCellVisits = 100'000'000;
inline constexpr uint64_t kMaxArrayElements = 10'000'000;
inline constexpr uint64_t kMaxJoinedBytes = 256'000'000;
inline constexpr size_t kMaxTextChars = 32767;
// A formula nested deeper than the parser allows, or than the thread's stack
// can take while it is parsed or evaluated.
inline constexpr std::string_view kNestedTooDeeply = "Formula is nested too deeply";
// The failure of an evaluation stopped by its interrupt check.
inline constexpr std::string_view kInterrupted = "Interrupted";

// Asked, as work accrues, whether the evaluation must stop (Ctrl-C). The
// evaluator never calls its caller otherwise.
struct InterruptCheck {
    bool (*stop)(void* arg) = nullptr;
    void* arg = nullptr;
};

// What an evaluation reads: one sheet's cells and the formula's own cell
// ({0, 0} when the caller has none), its interrupt check, and what it has
// spent of its bounds.
struct EvalCtx {
    const CellMap& cells;
    CellPos self{};
    InterruptCheck interrupt{};
    mutable uint64_t cells_visited = 0;
    mutable uint64_t elements_built = 0;
    mutable uint64_t bytes_joined = 0;
};

// Counts `cells` more visited cells (or array elements); fails with
// "Formula reads too many cells; maximum is 100,000,000" beyond
// kMaxCellVisits. Visits are the work between interrupt checks.
Result<void> charge_cells(const EvalCtx& ctx, unsigned __int128 cells);
// Counts the elements of an Array value (nested arrays included) as built;
// fails with "Formula builds too many array elements; maximum is
// 10,000,000" beyond kMaxArrayElements. Other values cost nothing.
Result<void> charge_elements(const EvalCtx& ctx, const Variant& v);
// The same for `n` elements about to be built.
Result<void> charge_element_count(const EvalCtx& ctx, uint64_t n);
// Elements of an array value, nested arrays included; 0 for any other value.
uint64_t element_count(const Variant& v);
// Counts the text bytes of `v` (of its elements, for an Array) against the
// bound on the bytes joined: loops that keep one result per element charge
// each, so copying one long text a million times fails too. The message is
// "Formula builds too much text; maximum is 256,000,000 bytes".
Result<void> charge_text(const EvalCtx& ctx, const Variant& v);
// Counts one step of work that reads no cell (a LAMBDA call), so that loops
// of them reach the interrupt check too.
Result<void> charge_step(const EvalCtx& ctx);
// Counts `units` of work done outside any evaluation (the loops that order
// and follow formulas) toward the same check; fails with kInterrupted when
// it says stop.
Result<void> charge_work(InterruptCheck interrupt, uint64_t units);

// Failures that end the whole evaluation rather than describe a value: an
// interrupt, nesting too deep for the stack, a bound of the evaluation used
// up, or something the engine does not support. No function may turn them
// into an answer, and a stored formula that meets one is not stored.
bool stops_evaluation(std::string_view message, const EvalCtx& ctx);
// Any other failure as the error value it stands for: an error value that
// travelled out as its text is that error, anything else #VALUE!.
Result<Variant> failure_as_error(Result<Variant> r, const EvalCtx& ctx);

// ---- Evaluation ---------------------------------------------------------

Result<Variant> evaluate(const FormulaExpr& expr, const EvalCtx& ctx);
Result<Variant> evaluate(const FormulaExpr& expr, const CellMap& cells, CellPos self = {},
                         InterruptCheck interrupt = {});

// Runs the worksheet function `upper_name`; a name with no built function
// gives the error value #NAME? without evaluating anything.
Result<Variant> eval_func(std::string_view upper_name, std::span<const FormulaExpr> args, const EvalCtx& ctx);

// ---- Conversions and comparisons -----------------------------------------

using morvane::Ordering;

// Integer, Float and Date their number; a text the number it stands for as
// typed input (typed_number: "50%", "$1,200", "2025-03-01"); Boolean 1/0;
// Empty 0. An error value fails with its own text ("#N/A"), which the
// dispatcher turns back into that error value.
Result<double> to_float(const Variant& v);
// The formula engine's text of a value ("TRUE", floats to 15 significant
// digits, dates YYYY-MM-DD, arrays joined by ", ", records "[Record]").
std::string to_str(const Variant& v);
bool is_truthy(const Variant& v);
// Numbers across Integer/Float/Date, texts ignoring ASCII case, booleans,
// Empty with Empty; anything else (errors included) is unequal.
bool variant_eq(const Variant& a, const Variant& b);
// The `=` and `<>` operators: variant_eq, except that a blank equals the
// zero of the other side's kind (0, FALSE, "") and two numbers are equal
// when they agree to 15 significant digits.
bool formula_eq(const Variant& a, const Variant& b);
// The `<`, `<=`, `>`, `>=` operators and the order of approximate lookups.
// A blank takes the other side's kind; numbers sort before texts and texts
// before booleans, whatever a text holds; two texts compare
// case-insensitively; two numbers compare at 15 significant digits.
Result<Ordering> variant_cmp(const Variant& a, const Variant& b);

// A copy of the stored value of (row, col), Empty when absent.
Variant cell_val(const CellMap& cells, uint32_t row, uint32_t col);
// The stored value without a copy; a shared Empty when absent.
const Variant& cell_ref(const CellMap& cells, uint32_t row, uint32_t col);

// ---- LAMBDA (functions/lambda.cpp) -------------------------------------

// The parameter names of a LAMBDA's arguments (all but the body), upper case.
Result<std::vector<std::string>> extract_lambda(std::span<const FormulaExpr> lambda_args);
// Applies the LAMBDA written as `lambda` to `values`, one per parameter.
Result<Variant> call_lambda(const FormulaExpr& lambda, std::vector<Variant> values, const EvalCtx& ctx);

// ---- Dispatch -----------------------------------------------------------
//
// A worksheet function is a FuncHandler named func_<name> in this namespace
// (SUM -> func_sum, VAR.S -> func_var_s). It checks its arity first
// (check_arity in args.h), evaluates only the arguments it needs, and reads
// scalar arguments with arg_number / arg_text / arg_truth: an error value
// there leaves the handler as a failure carrying the error's text, and the
// dispatcher hands it back as that error value. Each family file under
// functions/ ends with its table and accessor:
//
//   constexpr FuncEntry kTable[] = {{"ABS", func_abs}, {"ATAN2", func_atan2}};
//   std::span<const FuncEntry> math_functions() { return kTable; }
//
// Adding a function touches only its family file; an alias is one more row.

struct FuncEntry {
    std::string_view name;
    FuncHandler handler;
};

// The built handler of a worksheet function name, or null.
FuncHandler find_function(std::string_view upper_name);
// Every name the function library knows (built or not), for checks.
std::span<const std::string_view> known_function_names();
// Every (name, handler) pair registered by the family files.
std::span<const FuncEntry> registered_functions();

// Each family file under functions/ ends with its name table and one of these.
std::span<const FuncEntry> conditional_functions();
std::span<const FuncEntry> math_functions();
std::span<const FuncEntry> aggregate_functions();
std::span<const FuncEntry> statistics_functions();
std::span<const FuncEntry> distribution_functions();
std::span<const FuncEntry> text_functions();
std::span<const FuncEntry> text_search_functions();
std::span<const FuncEntry> text_bytes_functions();
std::span<const FuncEntry> conversion_functions();
std::span<const FuncEntry> logic_functions();
std::span<const FuncEntry> datetime_functions();
std::span<const FuncEntry> workday_functions();
std::span<const FuncEntry> financial_functions();
std::span<const FuncEntry> random_functions();
std::span<const FuncEntry> database_functions();
std::span<const FuncEntry> lookup_functions();
std::span<const FuncEntry> reference_functions();
std::span<const FuncEntry> dynamic_functions();
std::span<const FuncEntry> lambda_functions();
std::span<const FuncEntry> reshape_functions();

}  // namespace morvane::eval
