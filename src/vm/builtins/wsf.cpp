#include "vm/builtins/wsf.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "formula/args.h"
#include "formula/criteria.h"
#include "formula/number_format.h"
#include "types/compare.h"
#include "types/text.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kNotImplemented = "WorksheetFunction.{} is not implemented";
constexpr std::string_view kAverageNoValues = "WorksheetFunction.Average: no values";
constexpr std::string_view kCountIfArgs = "WorksheetFunction.CountIf requires 2 arguments";
constexpr std::string_view kSumIfArgs = "WorksheetFunction.SumIf requires at least 2 arguments";
constexpr std::string_view kMatchArgs = "Match: requires at least 2 arguments";
constexpr std::string_view kIndexArgs = "Index: requires at least 2 arguments";
constexpr std::string_view kAbsArgs = "Abs: no arg";
constexpr std::string_view kSqrtArgs = "Sqrt: no arg";
constexpr std::string_view kLogArgs = "Log: no arg";
constexpr std::string_view kPowerArgs = "Power requires 2 arguments";
constexpr std::string_view kRoundArgs = "WorksheetFunction.Round requires arguments";
constexpr std::string_view kTextArgs = "WorksheetFunction.Text requires 2 arguments";
constexpr std::string_view kErrorResult = "WorksheetFunction.{}: the result is {} (Error 1004)";

// The values one argument contributes: an Array's elements (one level),
// any other value itself.
std::span<const Variant> items_of(const Variant& v) {
    if (v.is_array()) return v.as_array();
    return {&v, 1};
}

// A single value where one is expected: a one-cell range (Range("A1")
// gives a one-element Array) stands for its cell.
const Variant& one(const Variant& v) {
    if (v.is_array() && v.as_array().size() == 1) return v.as_array().front();
    return v;
}

// A range or an array argument holds cells; anything else was typed as an
// argument, which the worksheet's aggregates read differently.
eval::ValueSource source_of(const Variant& arg) {
    return arg.is_array() ? eval::ValueSource::Array : eval::ValueSource::Scalar;
}

// One pass over the numbers of every argument, taken as the worksheet's
// aggregates take them. NaN stays out of the extremes unless every number
// is NaN (fmax and fmin drop one NaN operand).
struct Totals {
    double sum = 0;
    uint64_t count = 0;
    double max = std::numeric_limits<double>::quiet_NaN();
    double min = std::numeric_limits<double>::quiet_NaN();
};

// An error value met (or a text typed as an argument that is no number)
// leaves as a failure carrying its text: the function's result.
Result<Totals> totals_of(BuiltinArgs args) {
    Totals t;
    for (const Variant& arg : args)
        for (const Variant& v : items_of(arg))
            if (std::optional<double> x = TRY(eval::aggregate_number(v, source_of(arg)))) {
                t.sum += *x;
                ++t.count;
                t.max = std::fmax(t.max, *x);
                t.min = std::fmin(t.min, *x);
            }
    return t;
}

Result<Variant> sum(BuiltinArgs a) { return number_variant(TRY(totals_of(a)).sum); }

Result<Variant> average(BuiltinArgs a) {
    const Totals t = TRY(totals_of(a));
    if (t.count == 0) return fail(std::string(kAverageNoValues));
    return number_variant(t.sum / static_cast<double>(t.count));
}

// No numbers at all give 0, as =MAX and =MIN do.
Result<Variant> max(BuiltinArgs a) {
    const Totals t = TRY(totals_of(a));
    if (t.count == 0) return Variant(int64_t{0});
    return number_variant(t.max);
}

Result<Variant> min(BuiltinArgs a) {
    const Totals t = TRY(totals_of(a));
    if (t.count == 0) return Variant(int64_t{0});
    return number_variant(t.min);
}

// COUNT: the values that give a number; one that fails is not counted.
Result<Variant> count(BuiltinArgs a) {
    int64_t n = 0;
    for (const Variant& arg : a)
        for (const Variant& v : items_of(arg)) {
            Result<std::optional<double>> x = eval::aggregate_number(v, source_of(arg));
            n += x && x->has_value();
        }
    return Variant(n);
}

// How many values of every argument pass `test`.
template <bool (*Test)(const Variant&)>
Result<Variant> count_where(BuiltinArgs a) {
    int64_t n = 0;
    for (const Variant& arg : a)
        for (const Variant& v : items_of(arg)) n += Test(v);
    return Variant(n);
}

bool is_filled(const Variant& v) { return !v.is_empty(); }
bool is_blank(const Variant& v) { return v.is_empty(); }

// The worksheet's criteria rules, through the formula engine's own matcher.
Result<Variant> countif(BuiltinArgs a) {
    TRY_VOID(need_args(a, 2, kCountIfArgs));
    const eval::ParsedCriteria criteria = eval::parse_criteria(one(a[1]));
    int64_t n = 0;
    for (const Variant& v : items_of(a[0])) n += eval::matches_parsed(v, criteria);
    return Variant(n);
}

// Pairs (range value, sum value) by position, up to the shorter list.
Result<Variant> sumif(BuiltinArgs a) {
    TRY_VOID(need_args(a, 2, kSumIfArgs));
    const eval::ParsedCriteria criteria = eval::parse_criteria(one(a[1]));
    const Variant& summed = a.size() > 2 ? a[2] : a[0];
    const std::span<const Variant> range = items_of(a[0]), sums = items_of(summed);
    double total = 0;
    for (size_t i = 0; i < std::min(range.size(), sums.size()); ++i)
        if (eval::matches_parsed(range[i], criteria))
            // Values that give no number (error values too) add nothing.
            if (auto x = eval::aggregate_number(sums[i], source_of(summed)); x && *x) total += **x;
    return number_variant(total);
}

// The worksheet's three match types: 0 the first value equal to the lookup
// value; 1 (the default) the last of an ascending run that is at most it;
// -1 the last of a descending run that is at least it. As on a worksheet, a
// text never matches a number, nor a blank 0 or "", and texts compare
// ignoring case. Nothing found is #N/A.
Result<Variant> match(BuiltinArgs a) {
    TRY_VOID(need_args(a, 2, kMatchArgs));
    const std::span<const Variant> items = items_of(a[1]);
    const Variant& wanted = one(a[0]);
    const int64_t type = a.size() > 2 ? saturate_i64(std::trunc(TRY(to_f64(one(a[2]))))) : 1;
    auto same = [](const Variant& x, const Variant& y) {
        return equal_without_conversion(x, y, [](std::string_view p, std::string_view q) {
            return p == q || text::to_upper(p) == text::to_upper(q);
        });
    };
    if (type == 0) {
        for (size_t i = 0; i < items.size(); ++i)
            if (same(items[i], wanted)) return Variant(static_cast<int64_t>(i + 1));
        return Variant(ExcelError::NA);
    }
    // -1, 0 or 1 comparing an item with the lookup value; none when they are
    // of different kinds (a number and a text), which the search passes over.
    auto order = [&](const Variant& item) -> std::optional<int> {
        auto num = [](const Variant& v) -> std::optional<double> {
            if (v.is_int()) return static_cast<double>(v.as_int());
            if (v.is_float()) return v.as_float();
            if (v.is_date()) return v.as_date().value();
            return std::nullopt;
        };
        if (auto x = num(item), y = num(wanted); x && y) return *x < *y ? -1 : *x > *y ? 1 : 0;
        if (item.is_str() && wanted.is_str()) {
            const std::string p = text::to_upper(item.as_str()), q = text::to_upper(wanted.as_str());
            return p < q ? -1 : p > q ? 1 : 0;
        }
        if (item.is_bool() && wanted.is_bool()) return int(item.as_bool()) - int(wanted.as_bool());
        return std::nullopt;
    };
    int64_t found = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        auto o = order(items[i]);
        if (!o) continue;
        if (type > 0 ? *o <= 0 : *o >= 0)
            found = static_cast<int64_t>(i + 1);
        else
            break;
    }
    if (found == 0) return Variant(ExcelError::NA);
    return Variant(found);
}

// The value at (row, column) of a range (`width` columns wide; a list is one
// row), or at one position of a single row or column. Positions truncate,
// 0 counts as 1; beyond the values #REF!.
Result<Variant> index(BuiltinArgs a, uint64_t width) {
    TRY_VOID(need_args(a, 2, kIndexArgs));
    const std::span<const Variant> items = items_of(a[0]);
    auto position = [&](size_t i) -> Result<uint64_t> {
        return std::max<uint64_t>(saturate_u64(std::trunc(TRY(to_f64(one(a[i]))))), 1);
    };
    if (width == 0) width = items.size();
    const uint64_t height = width == 0 ? 0 : items.size() / width;
    uint64_t at = 0;
    if (a.size() > 2) {
        const uint64_t r = TRY(position(1)), c = TRY(position(2));
        if (r > height || c > width) return Variant(ExcelError::Ref);
        at = (r - 1) * width + c;
    } else {
        at = TRY(position(1));
        // One index into several rows and columns names a row, which no
        // single value holds.
        if (height > 1 && width > 1) return Variant(ExcelError::Ref);
    }
    if (at > items.size()) return Variant(ExcelError::Ref);
    return items[at - 1];
}

Result<Variant> abs(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kAbsArgs));
    return number_variant(std::fabs(TRY(to_f64(one(a[0])))));
}

// A root of a negative number is #NUM!, as on a worksheet.
Result<Variant> sqrt(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kSqrtArgs));
    const double x = TRY(to_f64(one(a[0])));
    if (x < 0) return Variant(ExcelError::Num);
    return Variant(std::sqrt(x));
}

// Base 10 unless a base is given, as on a worksheet: a number or base not
// above 0 is #NUM!, base 1 #DIV/0!.
Result<Variant> log(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kLogArgs));
    const double x = TRY(to_f64(one(a[0])));
    const double base = a.size() < 2 ? 10.0 : TRY(to_f64(one(a[1])));
    if (!(x > 0) || !(base > 0)) return Variant(ExcelError::Num);
    if (base == 1) return Variant(ExcelError::DivZero);
    if (a.size() < 2) return Variant(std::log10(x));
    return Variant(std::log(x) / std::log(base));
}

Result<Variant> power(BuiltinArgs a) {
    TRY_VOID(need_args(a, 2, kPowerArgs));
    const double x = TRY(to_f64(one(a[0])));
    return number_variant(std::pow(x, TRY(to_f64(one(a[1])))));
}

// Halves away from zero, unlike the VBA Round.
Result<Variant> round(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kRoundArgs));
    const double x = TRY(to_f64(one(a[0])));
    const double digits = a.size() > 1 ? TRY(to_f64(one(a[1]))) : 0.0;
    return number_variant(round_to_digits(x, digits, Halves::AwayFromZero));
}

// The worksheet's TEXT: the same number formats, the worksheet's General,
// and a text that is no number through the format's text section.
Result<Variant> text(BuiltinArgs a) {
    TRY_VOID(need_args(a, 2, kTextArgs));
    const Variant& v = one(a[0]);
    if (v.is_error()) return v;
    const std::string format = vba_to_str(one(a[1]));
    const numfmt::Style style;
    numfmt::Rendered shown;
    if (v.is_str() && !text_to_number(text::trim(v.as_str()))) {
        shown = numfmt::render_text(format, v.as_str(), style);
    } else {
        // TRUE counts 1, as on a worksheet (VBA's own True is -1).
        const double x = v.is_bool()  ? (v.as_bool() ? 1.0 : 0.0)
                         : v.is_str() ? *text_to_number(text::trim(v.as_str()))
                                      : TRY(to_f64(v));
        shown = format.empty() ? numfmt::Rendered(numfmt::general_text(x)) : numfmt::render_number(format, x, style);
    }
    if (!shown) {
        if (shown.error().out_of_range) return Variant(ExcelError::Value);
        return fail("WorksheetFunction.Text: " + shown.error().message);
    }
    return Variant(std::move(*shown));
}

struct Entry {
    std::string_view name;
    PureBuiltin fn;
};

constexpr Entry kTable[] = {
    {"abs", abs},
    {"average", average},
    {"count", count},
    {"counta", count_where<is_filled>},
    {"countblank", count_where<is_blank>},
    {"countif", countif},
    {"index", nullptr},
    {"log", log},
    {"match", match},
    {"max", max},
    {"min", min},
    {"power", power},
    {"round", round},
    {"sqrt", sqrt},
    {"sum", sum},
    {"sumif", sumif},
    {"text", text},
};

}  // namespace

Result<Variant> eval_wsf(std::string_view name, BuiltinArgs values, std::span<const uint64_t> widths) {
    for (const Entry& e : kTable) {
        if (e.name != name) continue;
        Result<Variant> r = e.fn ? e.fn(values) : index(values, widths.empty() ? 0 : widths[0]);
        // An error value that left the function as its text is its result.
        if (!r && error_from_text(r.error())) r = Variant(*error_from_text(r.error()));
        Variant out = TRY(std::move(r));
        // Infinity or NaN is what a worksheet shows as #NUM!.
        if (out.is_float() && !std::isfinite(out.as_float())) out = Variant(ExcelError::Num);
        if (out.is_error()) {
            std::string shown(name);
            if (!shown.empty()) shown[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(shown[0])));
            return fail(format_message(kErrorResult, shown, out.to_string()));
        }
        return out;
    }
    return fail(format_message(kNotImplemented, name));
}

}  // namespace morvane::vm
