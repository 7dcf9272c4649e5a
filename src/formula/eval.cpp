// The evaluator, its conversions and comparisons, and the dispatch table of
// worksheet functions.
#include "formula/eval.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "formula/args.h"
#include "formula/elementwise.h"
#include "formula/number_text.h"
#include "formula/numeric.h"
#include "formula/sort.h"
#include "types/address.h"
#include "types/stack.h"
#include "types/text.h"
#include "types/typed_input.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kRangeAsScalar = "Range cannot be used as a scalar value";
constexpr std::string_view kNegNonNumeric = "Unary minus on non-numeric value: {}";
constexpr std::string_view kCannotConvert = "Cannot convert '{}' to a number";
constexpr std::string_view kTooManyCells = "Formula reads too many cells; maximum is 100,000,000";
constexpr std::string_view kTooMuchText = "Formula builds too much text; maximum is 256,000,000 bytes";
constexpr std::string_view kTooManyElements = "Formula builds too many array elements; maximum is 10,000,000";

// Work between two interrupt checks: about a millisecond of cell reads.
constexpr uint64_t kCheckEvery = 1 << 16;
// Counted per thread, not per formula, so that a recalculation of many
// small formulas reaches the check too.
thread_local uint64_t t_work_since_check = 0;

Result<void> charge_work(const EvalCtx& ctx, uint64_t units) { return eval::charge_work(ctx.interrupt, units); }

// A value read from a cell or a name: an array in it is visited in full by
// whatever takes it, so it costs its elements.
Result<void> charge_read(const EvalCtx& ctx, const Variant& v) {
    if (v.is_array()) return charge_cells(ctx, element_count(v));
    return {};
}

const Variant kEmptyValue{};

bool is_ascii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Case-insensitive order of two texts by their full lower-case mappings.
Ordering text_order(std::string_view a, std::string_view b) {
    if (is_ascii(a) && is_ascii(b)) {
        size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            auto x = static_cast<unsigned char>(ascii_lower(a[i]));
            auto y = static_cast<unsigned char>(ascii_lower(b[i]));
            if (x != y) return x < y ? Ordering::Less : Ordering::Greater;
        }
        return order_of(a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0);
    }
    return order_of(text::compare_lower(a, b));
}

const Variant kRefError{ExcelError::Ref};

// The value of a cell reference; one past the sheet's edge (A1048577,
// ZZZZ1) names no cell and is #REF!.
const Variant& referenced(const EvalCtx& ctx, const FormulaExpr::CellRef& r) {
    if (!on_sheet(r.pos())) return kRefError;
    return cell_ref(ctx.cells, r.row, r.col);
}

Result<Variant> arithmetic(FormulaOp op, const Variant& a, const Variant& b) {
    double x, y;
    if (a.is_number() && b.is_number()) {
        x = a.is_int() ? static_cast<double>(a.as_int()) : a.as_float();
        y = b.is_int() ? static_cast<double>(b.as_int()) : b.as_float();
    } else {
        x = TRY(to_float(a));
        y = TRY(to_float(b));
    }
    switch (op) {
        case FormulaOp::Add: return number_variant(x + y);
        case FormulaOp::Sub: return number_variant(x - y);
        case FormulaOp::Mul: return number_variant(x * y);
        default:
            if (y == 0) return Variant(ExcelError::DivZero);
            return number_variant(x / y);
    }
}

// "&": the two texts joined. A text longer than a cell holds is #VALUE!, and
// the bytes joined count against the evaluation's bound, so that doubling a
// text over and over cannot exhaust memory.
Result<Variant> join(const Variant& a, const Variant& b, const EvalCtx& ctx) {
    std::string out = to_str(a);
    std::string right = to_str(b);
    const size_t bytes = out.size() + right.size();
    ctx.bytes_joined += bytes;
    if (ctx.bytes_joined > kMaxJoinedBytes) return fail(std::string(kTooMuchText));
    // A character takes 1 to 4 bytes: count them only when the bytes leave doubt.
    if (bytes > kMaxTextChars &&
        (bytes > 4 * kMaxTextChars || text::char_count(out) + text::char_count(right) > kMaxTextChars))
        return Variant(ExcelError::Value);
    out += right;
    return Variant(std::move(out));
}

Result<Variant> apply_op(FormulaOp op, const Variant& a, const Variant& b, const EvalCtx& ctx) {
    // The left operand's error wins over the right one's, for every operator.
    if (a.is_error()) return a;
    if (b.is_error()) return b;
    switch (op) {
        case FormulaOp::Eq: return Variant(formula_eq(a, b));
        case FormulaOp::Ne: return Variant(!formula_eq(a, b));
        case FormulaOp::Lt: return Variant(TRY(variant_cmp(a, b)) == Ordering::Less);
        case FormulaOp::Le: return Variant(TRY(variant_cmp(a, b)) != Ordering::Greater);
        case FormulaOp::Gt: return Variant(TRY(variant_cmp(a, b)) == Ordering::Greater);
        case FormulaOp::Ge: return Variant(TRY(variant_cmp(a, b)) != Ordering::Less);
        case FormulaOp::Concat: return join(a, b, ctx);
        default: return arithmetic(op, a, b);
    }
}

// Unary minus reads its operand as a number the way arithmetic does (--"5"
// is 5, -TRUE is -1, a blank 0, a date its serial and time of day); an
// integer wraps at its lowest value.
Result<Variant> negate(const Variant& v) {
    if (v.is_int()) return Variant(static_cast<int64_t>(0 - static_cast<uint64_t>(v.as_int())));
    if (v.is_float()) return Variant(-v.as_float());
    if (v.is_error()) return v;
    Result<double> x = to_float(v);
    if (!x) return fail(format_message(kNegNonNumeric, v.to_string()));
    return number_variant(-*x);
}

// The operators by code, to head the refusal of lists that do not pair.
constexpr std::string_view kOperatorNames[] = {
    "Operator '+'", "Operator '-'",  "Operator '*'", "Operator '/'",  "Operator '='", "Operator '<>'",
    "Operator '<'", "Operator '<='", "Operator '>'", "Operator '>='", "Operator '&'",
};
static_assert(std::size(kOperatorNames) == static_cast<size_t>(FormulaOp::Concat) + 1);

// An operand as the scalar path reads it: a cell in place (no copy of its
// text per comparison), anything else evaluated into `tmp`.
struct Loaded {
    Variant tmp;
    const Variant* v = nullptr;
};

Result<void> load(const FormulaExpr& e, const EvalCtx& ctx, Loaded& out) {
    if (const auto* c = e.get<FormulaExpr::CellRef>()) {
        out.v = &referenced(ctx, *c);
        return {};
    }
    out.tmp = TRY(evaluate(e, ctx));
    out.v = &out.tmp;
    return {};
}

// A loaded operand that turned out to be a list, with the grid its
// expression shows.
Operand operand_of(const FormulaExpr& e, Loaded& loaded) {
    if (loaded.v == &loaded.tmp) return eval::operand_of(e, std::move(loaded.tmp));
    Operand op;
    op.cell = loaded.v;
    take_grid(e, op);
    return op;
}

bool is_range(const FormulaExpr& e) { return e.kind() == FormulaExpr::Kind::Range; }

// The operator over lists: each pair of elements as single values take it.
Result<Variant> binary_lists(const FormulaExpr::Binary& b, const Operand& l, const Operand& r, const EvalCtx& ctx) {
    // clang-format off
    return each_element(kOperatorNames[static_cast<size_t>(b.op)], ctx,
                        [&](const Variant& x, const Variant& y) { return apply_op(b.op, x, y, ctx); }, l, r);
    // clang-format on
}

// A range among the operands: both are read as lists.
Result<Variant> binary_over_range(const FormulaExpr::Binary& b, const EvalCtx& ctx) {
    Operand l, r;
    TRY_VOID(load_operand(*b.lhs, ctx, l));
    TRY_VOID(load_operand(*b.rhs, ctx, r));
    return binary_lists(b, l, r, ctx);
}

Result<Variant> negate_list(const Operand& o, const EvalCtx& ctx) {
    return each_element("Unary minus", ctx, negate, o);
}

// One result, returned on every path, so that a value is not moved on its way out.
Result<Variant> call_handler(FuncHandler handler, std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    Result<Variant> r = handler ? handler(args, ctx) : Result<Variant>(Variant(ExcelError::Name));
    // An error value that reached a number, text or truth argument leaves
    // the handler as its text; it comes back out as the error value.
    if (!r && is_error_signal(r.error())) {
        r = Variant(*error_from_text(r.error()));
    } else if (r) {
        if (auto charged = charge_elements(ctx, *r); !charged) r = std::unexpected(std::move(charged).error());
    }
    return r;
}

}  // namespace

// ---- Evaluation ---------------------------------------------------------

Result<Variant> evaluate(const FormulaExpr& expr, const EvalCtx& ctx) {
    switch (expr.kind()) {
        case FormulaExpr::Kind::Number: return number_variant(expr.get<FormulaExpr::Number>()->value);
        case FormulaExpr::Kind::Text: return Variant(expr.get<FormulaExpr::Text>()->value);
        case FormulaExpr::Kind::Bool: return Variant(expr.get<FormulaExpr::Bool>()->value);
        case FormulaExpr::Kind::CellRef: {
            const Variant& v = referenced(ctx, *expr.get<FormulaExpr::CellRef>());
            TRY_VOID(charge_read(ctx, v));
            return v;
        }
        case FormulaExpr::Kind::Range: return fail(std::string(kRangeAsScalar));
        case FormulaExpr::Kind::Binary: {
            if (stack_nearly_exhausted()) return fail(std::string(kNestedTooDeeply));
            const auto& b = *expr.get<FormulaExpr::Binary>();
            // Lists take their own road; single values go straight to the operator.
            if (is_range(*b.lhs) || is_range(*b.rhs)) [[unlikely]]
                return binary_over_range(b, ctx);
            Loaded l, r;
            TRY_VOID(load(*b.lhs, ctx, l));
            TRY_VOID(load(*b.rhs, ctx, r));
            if (l.v->is_array() || r.v->is_array()) [[unlikely]]
                return binary_lists(b, operand_of(*b.lhs, l), operand_of(*b.rhs, r), ctx);
            return apply_op(b.op, *l.v, *r.v, ctx);
        }
        case FormulaExpr::Kind::Neg: {
            const FormulaExpr& operand = *expr.get<FormulaExpr::Neg>()->operand;
            if (is_range(operand)) [[unlikely]] {
                Operand o;
                TRY_VOID(load_operand(operand, ctx, o));
                return negate_list(o, ctx);
            }
            Loaded o;
            TRY_VOID(load(operand, ctx, o));
            if (o.v->is_array()) [[unlikely]]
                return negate_list(operand_of(operand, o), ctx);
            return negate(*o.v);
        }
        case FormulaExpr::Kind::Func: {
            if (stack_nearly_exhausted()) return fail(std::string(kNestedTooDeeply));
            const auto* f = expr.get<FormulaExpr::Func>();
            // A bare name is a LET/LAMBDA name before it is a function.
            if (f->args.empty() && has_bindings()) {
                if (const Variant* v = find_binding(f->name)) {
                    TRY_VOID(charge_read(ctx, *v));
                    return *v;
                }
            }
            FuncHandler h = f->handler ? f->handler : find_function(f->name);
            return call_handler(h, f->args, ctx);
        }
    }
    return fail(std::string(kRangeAsScalar));  // unreachable: every kind returns above
}

Result<void> load_operand(const FormulaExpr& expr, const EvalCtx& ctx, Operand& out) {
    if (const auto* c = expr.get<FormulaExpr::CellRef>()) {
        out.cell = &referenced(ctx, *c);
    } else if (const auto* r = expr.get<FormulaExpr::Range>()) {
        RangeView view = TRY(RangeView::open(*r, ctx));
        if (view.size() == 1) {
            out.cell = &view.at(uint64_t{0});
        } else {
            out.range = view;
        }
    } else {
        out.own = TRY(evaluate(expr, ctx));
    }
    take_grid(expr, out);
    return {};
}

Result<Variant> evaluate(const FormulaExpr& expr, const CellMap& cells, CellPos self, InterruptCheck interrupt) {
    return evaluate(expr, EvalCtx{cells, self, interrupt});
}

Result<void> charge_cells(const EvalCtx& ctx, unsigned __int128 cells) {
    if (cells > kMaxCellVisits - ctx.cells_visited) {
        ctx.cells_visited = kMaxCellVisits;
        return fail(std::string(kTooManyCells));
    }
    ctx.cells_visited += static_cast<uint64_t>(cells);
    return charge_work(ctx, static_cast<uint64_t>(cells));
}

uint64_t element_count(const Variant& v) {
    if (!v.is_array()) return 0;
    uint64_t n = v.as_array().size();
    for (const Variant& e : v.as_array())
        if (e.is_array()) n += element_count(e);
    return n;
}

Result<void> charge_elements(const EvalCtx& ctx, const Variant& v) {
    if (!v.is_array()) return {};
    return charge_element_count(ctx, element_count(v));
}

Result<void> charge_element_count(const EvalCtx& ctx, uint64_t n) {
    if (n > kMaxArrayElements - std::min(ctx.elements_built, kMaxArrayElements)) {
        ctx.elements_built = kMaxArrayElements;
        return fail(std::string(kTooManyElements));
    }
    ctx.elements_built += n;
    return charge_work(ctx, n);
}

// A LAMBDA call costs as much as reading a few dozen cells.
Result<void> charge_step(const EvalCtx& ctx) { return charge_work(ctx, 64); }

Result<void> charge_work(InterruptCheck interrupt, uint64_t units) {
    t_work_since_check += units;
    if (t_work_since_check < kCheckEvery) return {};
    t_work_since_check = 0;
    if (interrupt.stop && interrupt.stop(interrupt.arg)) return fail(std::string(kInterrupted));
    return {};
}

Result<void> charge_text(const EvalCtx& ctx, const Variant& v) {
    if (v.is_str()) {
        ctx.bytes_joined += v.as_str().size();
    } else if (v.is_array()) {
        for (const Variant& e : v.as_array())
            if (e.is_str()) ctx.bytes_joined += e.as_str().size();
    } else {
        return {};
    }
    if (ctx.bytes_joined > kMaxJoinedBytes) return fail(std::string(kTooMuchText));
    return {};
}

bool stops_evaluation(std::string_view message, const EvalCtx& ctx) {
    // The size bounds of one range or result are bounds too, and what the
    // engine does not support says so rather than pass for a worksheet error.
    return message == kInterrupted || message == kNestedTooDeeply || ctx.cells_visited >= kMaxCellVisits ||
           ctx.elements_built >= kMaxArrayElements || ctx.bytes_joined > kMaxJoinedBytes ||
           message.starts_with("Range too large") || message.starts_with("TEXTSPLIT result too large") ||
           message.find("not supported") != std::string_view::npos;
}

Result<Variant> failure_as_error(Result<Variant> r, const EvalCtx& ctx) {
    if (r || stops_evaluation(r.error(), ctx)) return r;
    return Variant(error_from_text(r.error()).value_or(ExcelError::Value));
}

Result<Variant> eval_func(std::string_view upper_name, std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    return call_handler(find_function(upper_name), args, ctx);
}

// ---- Conversions and comparisons -----------------------------------------

// A text stands for the number it would store if typed into a cell (" 7 ",
// "50%", "$1,200", "(12)", a date or a time), so arithmetic and number
// arguments read it as the spreadsheet does.
Result<double> to_float(const Variant& v) {
    if (!v.is_str()) return to_number(v, kCannotConvert);
    if (auto x = typed_number(v.as_str())) return *x;
    return fail(format_message(kCannotConvert, v.as_str()));
}

std::string to_str(const Variant& v) {
    switch (v.kind()) {
        case Kind::Integer: return number_text_15(v.as_int());
        case Kind::Float: return number_text_15(v.as_float());
        case Kind::Str: return v.as_str();
        case Kind::Boolean: return v.as_bool() ? "TRUE" : "FALSE";
        case Kind::Date: return date_text(v.as_date());
        case Kind::Error: return std::string(error_text(v.as_error()));
        case Kind::Empty: return {};
        case Kind::Array: return join_texts(v.as_array(), to_str);
        case Kind::Record: return "[Record]";
    }
    return {};
}

bool is_truthy(const Variant& v) { return truth_of(v); }

bool variant_eq(const Variant& a, const Variant& b) { return equal_without_conversion(a, b, ascii_ieq); }

namespace {

// Two numbers (neither NaN) compared at 15 significant digits, the digits a
// spreadsheet keeps, so 0.1+0.2 equals 0.3. Rounding moves a number by at
// most half a unit of its 15th digit, so numbers further apart than that
// keep their order and only close ones are rounded (rounding is monotone,
// so the order agrees with equality).
int compare15(double x, double y) {
    if (x == y) return 0;
    if (std::fabs(x - y) > std::max(std::fabs(x), std::fabs(y)) * 1e-13) return x < y ? -1 : 1;
    const double rx = round_to_15_digits(x), ry = round_to_15_digits(y);
    return rx < ry ? -1 : rx > ry ? 1 : 0;
}

// Kinds in the order spreadsheets sort them: numbers (and dates), then
// texts, then booleans; other kinds have no rank.
int kind_rank(const Variant& v) {
    if (is_numeric_kind(v)) return 0;
    if (v.is_str()) return 1;
    if (v.is_bool()) return 2;
    return -1;
}

}  // namespace

bool formula_eq(const Variant& a, const Variant& b) {
    if (a.is_empty() != b.is_empty()) {
        const Variant& other = a.is_empty() ? b : a;
        if (is_numeric_kind(other)) return numeric_value(other) == 0;
        if (other.is_bool()) return !other.as_bool();
        if (other.is_str()) return other.as_str().empty();
        return false;
    }
    if (is_numeric_kind(a) && is_numeric_kind(b)) {
        const double x = numeric_value(a), y = numeric_value(b);
        return !std::isnan(x) && !std::isnan(y) && compare15(x, y) == 0;
    }
    return variant_eq(a, b);
}

Result<Ordering> variant_cmp(const Variant& a, const Variant& b) {
    // A blank beside a text is the empty text, beside a boolean FALSE, and 0
    // otherwise.
    if (a.is_empty() && b.is_empty()) return Ordering::Equal;
    if (a.is_empty() && b.is_str()) return text_order("", b.as_str());
    if (b.is_empty() && a.is_str()) return text_order(a.as_str(), "");
    if (a.is_empty() && b.is_bool()) return order_of(b.as_bool() ? -1 : 0);
    if (b.is_empty() && a.is_bool()) return order_of(a.as_bool() ? 1 : 0);
    const int ra = a.is_empty() ? 0 : kind_rank(a), rb = b.is_empty() ? 0 : kind_rank(b);
    if (ra >= 0 && rb >= 0 && ra != rb) return order_of(ra - rb);
    if (ra == 1) return text_order(a.as_str(), b.as_str());
    if (ra == 2) return order_of(static_cast<int>(a.as_bool()) - static_cast<int>(b.as_bool()));
    double x = TRY(to_float(a));
    double y = TRY(to_float(b));
    if (std::isnan(x) || std::isnan(y)) return fail(std::string(kCompareNaN));
    return order_of(compare15(x, y));
}

Variant cell_val(const CellMap& cells, uint32_t row, uint32_t col) { return cell_ref(cells, row, col); }

const Variant& cell_ref(const CellMap& cells, uint32_t row, uint32_t col) {
    if (cells.empty()) return kEmptyValue;
    auto it = cells.find(CellPos{row, col});
    return it == cells.end() ? kEmptyValue : it->second.value;
}

// ---- Dispatch -----------------------------------------------------------

namespace {

// Every worksheet function name of the library, by family.
constexpr std::string_view kKnownNames[] = {
    // Conditional aggregates
    // clang-format off
    "AVERAGEIF", "AVERAGEIFS", "COUNTBLANK", "COUNTIF", "COUNTIFS", "MAXIFS", "MINIFS", "SUMIF", "SUMIFS",
    // Arithmetic and rounding
    "ABS", "ACOS", "ASIN", "ATAN", "ATAN2", "CEILING", "CEILING.MATH", "COMBIN", "COS", "DEGREES", "EXP",
    "FACT", "FLOOR", "FLOOR.MATH", "GCD", "INT", "LCM", "LN", "LOG", "LOG10", "MOD", "MROUND", "PERMUT",
    "PI", "POWER", "QUOTIENT", "RADIANS", "ROUND", "ROUNDDOWN", "ROUNDUP", "SIGN", "SIN", "SQRT", "TAN",
    "TRUNC",
    // Aggregates
    "AGGREGATE", "AVERAGE", "COUNT", "COUNTA", "MAX", "MIN", "PRODUCT", "SUBTOTAL", "SUM", "SUMPRODUCT",
    // Order statistics and dispersion
    "CORREL", "COVAR", "COVARIANCE.P", "COVARIANCE.S", "LARGE", "MEDIAN", "MODE.MULT", "PERCENTILE",
    "PERCENTILE.INC", "PERCENTRANK", "PERCENTRANK.INC", "RANK", "SMALL", "STDEV", "STDEV.P", "STDEV.S",
    "STDEVP", "VAR", "VAR.P", "VAR.S", "VARP",
    // Distributions
    "NORM.DIST", "NORM.INV", "NORMDIST", "NORMINV", "T.DIST",
    // Text
    "CHAR", "CODE", "CONCAT", "CONCATENATE", "EXACT", "LEFT", "LEN", "LOWER", "MID", "PROPER", "REPLACE",
    "REPT", "RIGHT", "SUBSTITUTE", "TEXTJOIN", "TRIM", "UNICHAR", "UNICODE", "UPPER",
    // Text search and splitting
    "FIND", "SEARCH", "TEXTAFTER", "TEXTBEFORE", "TEXTSPLIT",
    // Byte counts and widths
    "ASC", "JIS", "LEFTB", "LENB", "MIDB", "RIGHTB",
    // Number and text conversion
    "NUMBERVALUE", "TEXT", "VALUE", "VALUETOTEXT",
    // Logic and information
    "AND", "CELL", "ERROR.TYPE", "IF", "IFERROR", "IFS", "ISBLANK", "ISERR", "ISERROR", "ISLOGICAL", "ISNA",
    "ISNONTEXT", "ISNUMBER", "ISTEXT", "N", "NA", "NOT", "OR", "SWITCH", "TYPE", "XOR",
    // Dates and times
    "DATE", "DATEDIF", "DATEVALUE", "DAY", "DAYS", "EDATE", "EOMONTH", "HOUR", "MINUTE", "MONTH", "NOW",
    "SECOND", "TIME", "TIMEVALUE", "TODAY", "YEAR",
    // Weekdays and working days
    "ISOWEEKNUM", "NETWORKDAYS", "NETWORKDAYS.INTL", "WEEKDAY", "WEEKNUM", "WORKDAY", "WORKDAY.INTL",
    // Financial
    "FV", "IPMT", "IRR", "MIRR", "NPER", "NPV", "PMT", "PPMT", "PV", "RATE", "XIRR", "XNPV",
    // Random numbers
    "RAND", "RANDARRAY", "RANDBETWEEN",
    // Database
    "DAVERAGE", "DCOUNT", "DCOUNTA", "DGET", "DMAX", "DMIN", "DSUM",
    // Lookup
    "HLOOKUP", "LOOKUP", "MATCH", "VLOOKUP", "XLOOKUP", "XMATCH",
    // Reference
    "ADDRESS", "CHOOSE", "COLUMN", "FORMULATEXT", "INDEX", "INDIRECT", "OFFSET", "ROW",
    // Dynamic arrays
    "FILTER", "SEQUENCE", "SORT", "SORTBY", "TRANSPOSE", "UNIQUE",
    // LET and LAMBDA
    "BYCOL", "BYROW", "LAMBDA", "LET", "MAP", "REDUCE", "SCAN",
    // Array reshaping
    "CHOOSECOLS", "CHOOSEROWS", "DROP", "HSTACK", "TAKE", "TOCOL", "TOROW", "VSTACK", "WRAPCOLS", "WRAPROWS",
    // clang-format on
};
static_assert(std::size(kKnownNames) == 217);

using FamilyTable = std::span<const FuncEntry> (*)();
constexpr FamilyTable kFamilies[] = {
    conditional_functions, math_functions,        aggregate_functions,  statistics_functions, distribution_functions,
    text_functions,        text_search_functions, text_bytes_functions, conversion_functions, logic_functions,
    datetime_functions,    workday_functions,     financial_functions,  random_functions,     database_functions,
    lookup_functions,      reference_functions,   dynamic_functions,    lambda_functions,     reshape_functions,
};

// Every family's table merged and sorted by name, built on first use.
const std::vector<FuncEntry>& function_index() {
    static const std::vector<FuncEntry> index = [] {
        std::vector<FuncEntry> all;
        for (FamilyTable family : kFamilies)
            for (const FuncEntry& e : family()) all.push_back(e);
        stable_merge_sort(all, [](const FuncEntry& a, const FuncEntry& b) { return a.name < b.name; });
        return all;
    }();
    return index;
}

}  // namespace

FuncHandler find_function(std::string_view upper_name) {
    const auto& index = function_index();
    auto it = std::lower_bound(index.begin(), index.end(), upper_name,
                               [](const FuncEntry& e, std::string_view n) { return e.name < n; });
    if (it == index.end() || it->name != upper_name) return nullptr;
    return it->handler;
}

std::span<const std::string_view> known_function_names() { return kKnownNames; }

std::span<const FuncEntry> registered_functions() { return function_index(); }

}  // namespace morvane::eval
