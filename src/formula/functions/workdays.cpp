// Weekdays, week numbers and working days: WEEKDAY, WEEKNUM, ISOWEEKNUM,
// WORKDAY, NETWORKDAYS, WORKDAY.INTL and NETWORKDAYS.INTL.
//
// Working days are counted in constant time: whole weeks arithmetically, the
// days left over one by one (at most six), then the holidays that fall on
// working days inside the span, looked up in a sorted list.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formula/args.h"
#include "formula/dates.h"
#include "formula/eval.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kWeekdayType = "WEEKDAY: unsupported return_type {}";
constexpr std::string_view kInvalidWeekend = "NETWORKDAYS.INTL: invalid weekend {}";

// Days of rest, index 0 Monday ... 6 Sunday.
using WeekendMask = std::array<bool, 7>;
constexpr WeekendMask kSaturdaySunday = {false, false, false, false, false, true, true};

struct WeekendCode {
    uint32_t code;
    WeekendMask mask;
};
constexpr WeekendCode kWeekendCodes[] = {
    {1, {0, 0, 0, 0, 0, 1, 1}},  {2, {1, 0, 0, 0, 0, 0, 1}},  {3, {1, 1, 0, 0, 0, 0, 0}},  {4, {0, 1, 1, 0, 0, 0, 0}},
    {5, {0, 0, 1, 1, 0, 0, 0}},  {6, {0, 0, 0, 1, 1, 0, 0}},  {7, {0, 0, 0, 0, 1, 1, 0}},  {11, {0, 0, 0, 0, 0, 0, 1}},
    {12, {1, 0, 0, 0, 0, 0, 0}}, {13, {0, 1, 0, 0, 0, 0, 0}}, {14, {0, 0, 1, 0, 0, 0, 0}}, {15, {0, 0, 0, 1, 0, 0, 0}},
    {16, {0, 0, 0, 0, 1, 0, 0}}, {17, {0, 0, 0, 0, 0, 1, 0}},
};

int sunday_index(__int128 serial) { return (monday_index(serial) + 1) % 7; }

// A weekend argument: a text of seven characters, Monday first, "1" for a
// day of rest; or one of the weekend codes.
Result<WeekendMask> parse_weekend_mask(const Variant& v) {
    if (v.is_str() && v.as_str().size() == 7) {
        WeekendMask mask{};
        for (size_t i = 0; i < 7; ++i) mask[i] = v.as_str()[i] == '1';
        return mask;
    }
    uint32_t code = saturate_u32(TRY(to_float(v)));
    for (const WeekendCode& w : kWeekendCodes)
        if (w.code == code) return w.mask;
    return fail(format_message(kInvalidWeekend, std::to_string(code)));
}

// The holiday serials that fall on working days, sorted and without repeats.
// Values that are no number (text, error values) are passed over.
Result<std::vector<int64_t>> holiday_list(const FormulaExpr* arg, const WeekendMask& mask, const EvalCtx& ctx) {
    std::vector<int64_t> out;
    if (!arg) return out;
    TRY_VOID(for_each_value(std::span(arg, 1), ctx, [&](const Variant& v, ValueSource) -> Result<void> {
        // Only the values that read as numbers are holidays; the rest are skipped.
        if (auto x = to_float(v)) {
            int64_t day = saturate_i64(*x);
            if (!mask[monday_index(day)]) out.push_back(day);
        }
        return {};
    }));
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// What the working-day functions share after reading their arguments.
struct Calendar {
    WeekendMask mask;
    std::vector<int64_t> holidays;
    int per_week;  // working days in a week
};

// The weekend (the third argument of an .INTL form when `weekend` is given)
// and the holidays (the argument `holidays`, if any).
Result<Calendar> read_calendar(const FormulaExpr* weekend, const FormulaExpr* holidays, const EvalCtx& ctx) {
    Calendar cal{kSaturdaySunday, {}, 0};
    if (weekend) cal.mask = TRY(parse_weekend_mask(TRY(evaluate(*weekend, ctx))));
    cal.holidays = TRY(holiday_list(holidays, cal.mask, ctx));
    cal.per_week = static_cast<int>(std::count(cal.mask.begin(), cal.mask.end(), false));
    return cal;
}

// Working days from `lo` to `hi`, both included (lo <= hi).
__int128 count_workdays(int64_t lo, int64_t hi, const Calendar& cal) {
    __int128 days = static_cast<__int128>(hi) - lo + 1;
    __int128 count = days / 7 * cal.per_week;
    const int first = monday_index(lo);
    for (int i = 0; i < static_cast<int>(days % 7); ++i) count += !cal.mask[(first + i) % 7];
    auto from = std::lower_bound(cal.holidays.begin(), cal.holidays.end(), lo);
    auto to = std::upper_bound(cal.holidays.begin(), cal.holidays.end(), hi);
    return count - (to - from);
}

// The day on which the k-th working day after `from` (k >= 1) falls, going
// forward (step 1) or back (step -1), weekends only.
__int128 advance(__int128 from, __int128 k, int step, const Calendar& cal) {
    __int128 d = from + step * ((k - 1) / cal.per_week) * 7;
    for (__int128 left = (k - 1) % cal.per_week + 1; left > 0;) {
        d += step;
        if (!cal.mask[monday_index(d)]) --left;
    }
    return d;
}

// Holidays taken in walking order: each one passed between the start and
// the end found so far cost a working day, so the end moves one further.
template <class It>
void pass_holidays(It first, It last, int64_t start, int step, __int128& end, const Calendar& cal) {
    for (; first != last; ++first) {
        const __int128 h = *first;
        if ((h - start) * step <= 0) continue;  // on or behind the start
        if ((h - end) * step > 0) break;        // beyond the end
        end = advance(end, 1, step, cal);
    }
}

// The day `days` working days away from `start`.
Variant workday_from(int64_t start, int64_t days, const Calendar& cal) {
    if (days == 0) return date_result(start);
    const int step = days > 0 ? 1 : -1;
    const __int128 k = days > 0 ? static_cast<__int128>(days) : -static_cast<__int128>(days);
    __int128 end = advance(start, k, step, cal);
    if (step > 0) {
        pass_holidays(cal.holidays.begin(), cal.holidays.end(), start, step, end, cal);
    } else {
        pass_holidays(cal.holidays.rbegin(), cal.holidays.rend(), start, step, end, cal);
    }
    return date_result(fits_i64(end) ? std::optional<int64_t>(static_cast<int64_t>(end)) : std::nullopt);
}

const FormulaExpr* optional_arg(Args args, size_t i) { return i < args.size() ? &args[i] : nullptr; }

// WORKDAY and WORKDAY.INTL; `weekend` and `holidays` are the optional
// arguments, null when not given.
Result<Variant> workday(Args args, const EvalCtx& ctx, const FormulaExpr* weekend, const FormulaExpr* holidays) {
    int64_t start = TRY(arg_whole(args[0], ctx));
    int64_t days = TRY(arg_whole(args[1], ctx));
    Calendar cal = TRY(read_calendar(weekend, holidays, ctx));
    // A week without working days has no day to reach.
    if (cal.per_week == 0) return Variant(ExcelError::Value);
    return workday_from(start, days, cal);
}

Result<Variant> networkdays(Args args, const EvalCtx& ctx, const FormulaExpr* weekend, const FormulaExpr* holidays) {
    int64_t start = TRY(arg_whole(args[0], ctx));
    int64_t end = TRY(arg_whole(args[1], ctx));
    Calendar cal = TRY(read_calendar(weekend, holidays, ctx));
    if (cal.per_week == 0) return Variant(ExcelError::Value);
    __int128 n = count_workdays(std::min(start, end), std::max(start, end), cal);
    if (start > end) n = -n;
    if (!fits_i64(n)) return Variant(ExcelError::Num);
    return Variant(static_cast<int64_t>(n));
}

// ISO 8601 week: Monday first, week 1 holds the year's first Thursday, so a
// day's week is the week of its week's Thursday within that Thursday's year.
// Computed directly (no walk back through earlier years) so that the first
// days of the calendar end at once; before serial 0 there is no week.
std::optional<int64_t> iso_weeknum(int64_t serial) {
    if (serial < 0 || serial > std::numeric_limits<int64_t>::max() - 3) return std::nullopt;
    const int64_t thursday = serial - monday_index(serial) + 3;
    auto jan1 = date_to_serial(serial_to_date(thursday).year, 1, 1);
    if (!jan1) return std::nullopt;
    return (thursday - *jan1) / 7 + 1;
}

Variant week_value(std::optional<int64_t> week) { return week ? Variant(*week) : Variant(ExcelError::Num); }

// The first day of the week of a WEEKNUM return type (Monday-based index).
std::optional<int> week_start(uint32_t type) {
    switch (type) {
        case 1:
        case 17: return 6;
        case 2:
        case 11: return 0;
        case 12: return 1;
        case 13: return 2;
        case 14: return 3;
        case 15: return 4;
        case 16: return 5;
        default: return std::nullopt;
    }
}

}  // namespace

Result<Variant> func_weekday(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("WEEKDAY", args.size(), 1, 2));
    int64_t serial = TRY(arg_whole(args[0], ctx));
    uint32_t type = args.size() == 2 ? saturate_u32(TRY(arg_number(args[1], ctx))) : 1;
    switch (type) {
        case 1: return Variant(int64_t{sunday_index(serial) + 1});
        case 2: return Variant(int64_t{monday_index(serial) + 1});
        case 3: return Variant(int64_t{monday_index(serial)});
        default: return fail(format_message(kWeekdayType, std::to_string(type)));
    }
}

Result<Variant> func_weeknum(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("WEEKNUM", args.size(), 1, 2));
    int64_t serial = TRY(arg_whole(args[0], ctx));
    uint32_t type = args.size() == 2 ? saturate_u32(TRY(arg_number(args[1], ctx))) : 1;
    if (type == 21) return week_value(iso_weeknum(serial));
    auto first = week_start(type);
    if (!first) return Variant(ExcelError::Num);
    auto jan1 = date_to_serial(serial_to_date(serial).year, 1, 1);
    if (!jan1) return Variant(ExcelError::Num);
    int64_t offset = (monday_index(*jan1) - *first + 7) % 7;
    // Truncating division: serial 0 (1900-01-00) is still in week 1.
    return Variant((serial - *jan1 + offset) / 7 + 1);
}

Result<Variant> func_isoweeknum(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("ISOWEEKNUM", args.size(), 1, 1));
    return week_value(iso_weeknum(TRY(arg_whole(args[0], ctx))));
}

Result<Variant> func_workday(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("WORKDAY", args.size(), 2, 3));
    return workday(args, ctx, nullptr, optional_arg(args, 2));
}

Result<Variant> func_workday_intl(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("WORKDAY.INTL", args.size(), 2, 4));
    return workday(args, ctx, optional_arg(args, 2), optional_arg(args, 3));
}

Result<Variant> func_networkdays(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("NETWORKDAYS", args.size(), 2, 3));
    return networkdays(args, ctx, nullptr, optional_arg(args, 2));
}

Result<Variant> func_networkdays_intl(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("NETWORKDAYS.INTL", args.size(), 2, 4));
    return networkdays(args, ctx, optional_arg(args, 2), optional_arg(args, 3));
}

namespace {
constexpr FuncEntry kTable[] = {
    {"ISOWEEKNUM", func_isoweeknum},     {"NETWORKDAYS", func_networkdays}, {"NETWORKDAYS.INTL", func_networkdays_intl},
    {"WEEKDAY", func_weekday},           {"WEEKNUM", func_weeknum},         {"WORKDAY", func_workday},
    {"WORKDAY.INTL", func_workday_intl},
};
}  // namespace

std::span<const FuncEntry> workday_functions() { return kTable; }

}  // namespace morvane::eval
