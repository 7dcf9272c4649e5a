// Date and time functions: DATE, DATEVALUE, TODAY, NOW, YEAR, MONTH, DAY,
// EDATE, EOMONTH, DAYS, DATEDIF, TIME, TIMEVALUE, HOUR, MINUTE and SECOND,
// and the serial conversions of formula/dates.h they share with the week
// and working-day functions.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formula/args.h"
#include "formula/dates.h"
#include "formula/eval.h"
#include "types/calendar.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kDatedifUnit = "DATEDIF: unknown unit '{}'";

namespace cal = morvane_types;

// Day number (days since 1970-01-01) of 1899-12-31, serial 0.
constexpr int64_t kSerialEpoch = cal::days_from_civil(1899, 12, 31);
// Years beyond this are outside the calendar: their day numbers would come
// close to the 64-bit limits.
constexpr int64_t kMaxYear = 1'000'000'000'000'000;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kUnixEpochSerial = 25569;  // serial of 1970-01-01

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Whole seconds since 1970 from the real-time clock, UTC; 0 before 1970.
int64_t clock_seconds() {
    auto s = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
    return std::max<int64_t>(s.count(), 0);
}

// An argument that must be one date: YEAR, MONTH and DAY.
Result<SerialDate> arg_date(Args args, const EvalCtx& ctx, std::string_view name) {
    TRY_VOID(check_arity(name, args.size(), 1, 1));
    return serial_to_date(TRY(arg_whole(args[0], ctx)));
}

// EDATE (end_of_month false) or EOMONTH: the month `months` away from the
// start's, on the start's day (the month's last day when shorter) or on
// the month's last day.
Result<Variant> shift_months(Args args, const EvalCtx& ctx, std::string_view name, bool end_of_month) {
    TRY_VOID(check_arity(name, args.size(), 2, 2));
    SerialDate d = serial_to_date(TRY(arg_whole(args[0], ctx)));
    int32_t months = saturate_i32(TRY(arg_number(args[1], ctx)));
    int64_t k = int64_t{d.month} + months - 1;
    int64_t year = d.year + floor_div(k, 12);
    int month = static_cast<int>(k - floor_div(k, 12) * 12) + 1;
    if (year > kMaxYear || year < -kMaxYear) return Variant(ExcelError::Num);
    int64_t last = cal::month_length(year, static_cast<uint32_t>(month));
    return date_result(date_to_serial(year, month, end_of_month ? last : std::min(d.day, last)));
}

// DATEDIF by unit; `end` is not before `start`.
std::optional<int64_t> datedif_unit(std::string_view unit, int64_t start, int64_t end) {
    SerialDate a = serial_to_date(start), b = serial_to_date(end);
    const bool day_before = b.day < a.day;
    if (unit == "D") {
        __int128 diff = static_cast<__int128>(end) - start;
        return fits_i64(diff) ? std::optional<int64_t>(static_cast<int64_t>(diff)) : std::nullopt;
    }
    if (unit == "M") return (b.year - a.year) * 12 + (b.month - a.month) - day_before;
    if (unit == "Y") return b.year - a.year - (b.month < a.month || (b.month == a.month && day_before));
    if (unit == "MD") {
        if (!day_before) return b.day - a.day;
        // Borrow the month before the end month, as spreadsheets do.
        int64_t year = b.month == 1 ? b.year - 1 : b.year;
        int month = b.month == 1 ? 12 : b.month - 1;
        return b.day - a.day + cal::month_length(year, static_cast<uint32_t>(month));
    }
    if (unit == "YM") {
        int64_t g = b.month - a.month;
        if (g < 0) g += 12;
        if (day_before) g = g == 0 ? 11 : g - 1;
        return g;
    }
    if (unit == "YD") {
        auto s = date_to_serial(b.year, a.month, a.day);
        if (s && end < *s) s = date_to_serial(b.year - 1, a.month, a.day);
        if (!s) return std::nullopt;
        return end - *s;
    }
    return std::nullopt;
}

bool is_datedif_unit(std::string_view u) {
    return u == "D" || u == "M" || u == "Y" || u == "MD" || u == "YM" || u == "YD";
}

// Splits at `sep` into at most `max` pieces, the last keeping any further
// separators.
std::vector<std::string_view> split_max(std::string_view s, char sep, size_t max) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < max) {
        size_t at = s.find(sep);
        if (at == std::string_view::npos) break;
        out.push_back(s.substr(0, at));
        s.remove_prefix(at + 1);
    }
    out.push_back(s);
    return out;
}

// A decimal whole number: an optional sign (a minus only when `signed_ok`)
// and at least one ASCII digit, nothing else, within the bounds.
std::optional<int64_t> read_whole(std::string_view s, bool signed_ok, int64_t lo, int64_t hi) {
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || (signed_ok && s[0] == '-'))) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    uint64_t n = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    if (n > static_cast<uint64_t>(hi) + (negative ? 1 : 0)) return std::nullopt;
    int64_t v = negative ? -static_cast<int64_t>(n) : static_cast<int64_t>(n);
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

// Whether (year, month, day) names a day of the calendar, the phantom
// 1900-02-29 included.
bool is_real_day(int64_t year, int64_t month, int64_t day) {
    if (month < 1 || month > 12 || day < 1) return false;
    if (year == 1900 && month == 2 && day == 29) return true;
    return day <= cal::month_length(year, static_cast<uint32_t>(month));
}

// "year-month-day" or "year/month/day", each piece trimmed; a day the
// calendar does not have (2020-02-30, month 13) is none.
std::optional<int64_t> parse_date_text(std::string_view s) {
    char sep = s.find('/') != std::string_view::npos ? '/' : '-';
    auto pieces = split_max(s, sep, 3);
    if (pieces.size() != 3) return std::nullopt;
    auto y = read_whole(text::trim(pieces[0]), true, INT32_MIN, INT32_MAX);
    auto m = read_whole(text::trim(pieces[1]), false, 0, UINT32_MAX);
    auto d = read_whole(text::trim(pieces[2]), false, 0, UINT32_MAX);
    if (!y || !m || !d || !is_real_day(*y, *m, *d)) return std::nullopt;
    return date_to_serial(*y, *m, *d);
}

// "hours:minutes[:seconds]" as a fraction of a day, optionally followed by
// a space and AM or PM (any case) on the 12-hour clock: 12 AM is midnight,
// 12 PM noon. A piece that is no number is none, never a silent 0.
std::optional<double> parse_time_text(std::string_view s) {
    s = text::trim(s);
    std::optional<bool> pm;
    if (s.size() > 3 && s[s.size() - 3] == ' ' && (s.back() == 'M' || s.back() == 'm')) {
        const char half = ascii_lower(s[s.size() - 2]);
        if (half == 'a' || half == 'p') {
            pm = half == 'p';
            s = s.substr(0, s.size() - 3);
        }
    }
    auto pieces = split_max(s, ':', 3);
    if (pieces.size() < 2) return std::nullopt;
    auto h = text_to_number(text::trim(pieces[0]));
    auto m = text_to_number(text::trim(pieces[1]));
    if (!h || !m) return std::nullopt;
    double sec = 0;
    if (pieces.size() == 3) {
        auto read = text_to_number(text::trim(pieces[2]));
        if (!read) return std::nullopt;
        sec = *read;
    }
    double hours = *h;
    if (pm) {
        if (!(hours >= 0 && hours <= 12)) return std::nullopt;
        if (hours == 12) hours = 0;
        if (*pm) hours += 12;
    }
    return (*m * 60 + hours * 3600 + sec) / kSecondsPerDay;
}

// The time of day of a serial in whole seconds (0 .. 86399): the absolute
// fraction, rounded to the nearest second so that 18:12:13 stays 13 seconds
// although its fraction falls a hair short.
Result<std::optional<int64_t>> arg_seconds(Args args, const EvalCtx& ctx, std::string_view name) {
    TRY_VOID(check_arity(name, args.size(), 1, 1));
    double x = TRY(arg_number(args[0], ctx));
    if (!std::isfinite(x)) return std::optional<int64_t>{};
    double f = std::fabs(x - std::trunc(x));
    return std::optional<int64_t>(static_cast<int64_t>(std::round(f * kSecondsPerDay)) % kSecondsPerDay);
}

Result<Variant> time_part(Args args, const EvalCtx& ctx, std::string_view name, int64_t unit, int64_t modulo) {
    auto secs = TRY(arg_seconds(args, ctx, name));
    if (!secs) return Variant(ExcelError::Num);
    return Variant(*secs / unit % modulo);
}

}  // namespace

// ---- Serial conversions -------------------------------------------------

Result<int64_t> arg_whole(const FormulaExpr& arg, const EvalCtx& ctx) {
    return saturate_i64(TRY(arg_number(arg, ctx)));
}

std::optional<int64_t> date_to_serial(int64_t year, int64_t month, int64_t day) {
    __int128 ym = static_cast<__int128>(year) * 12 + (static_cast<__int128>(month) - 1);
    __int128 y = ym / 12 - ((ym % 12 != 0) && ym < 0);
    int m = static_cast<int>(ym - y * 12) + 1;
    if (y > kMaxYear || y < -kMaxYear) return std::nullopt;
    const auto y64 = static_cast<int64_t>(y);
    if (y64 == 1900 && m == 2 && day == 29) return 61;  // the phantom day has no serial of its own
    __int128 first = static_cast<__int128>(cal::days_from_civil(y64, static_cast<uint32_t>(m), 1)) - kSerialEpoch;
    if (y64 > 1900 || (y64 == 1900 && m > 2)) ++first;
    __int128 serial = first + day - 1;
    if (!fits_i64(serial)) return std::nullopt;
    return static_cast<int64_t>(serial);
}

std::optional<int64_t> engine_date_text(std::string_view s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
    auto y = read_whole(s.substr(0, 4), false, 0, 9999);
    auto m = read_whole(s.substr(5, 2), false, 0, 99);
    auto d = read_whole(s.substr(8, 2), false, 0, 99);
    if (!y || !m || !d || s[0] == '+' || s[5] == '+' || s[8] == '+' || !is_real_day(*y, *m, *d)) return std::nullopt;
    return date_to_serial(*y, *m, *d);
}

Variant date_result(std::optional<int64_t> serial) {
    if (!serial || *serial < 0) return Variant(ExcelError::Num);
    return Variant(Date{*serial});
}

SerialDate serial_to_date(int64_t serial) {
    if (serial == 0) return {1900, 1, 0};
    if (serial == 60) return {1900, 3, 1};
    // Serials past the phantom day count one day too many.
    __int128 days = static_cast<__int128>(serial) + kSerialEpoch - (serial > 60 ? 1 : 0);
    days = std::clamp<__int128>(days, std::numeric_limits<int64_t>::min() / 2, std::numeric_limits<int64_t>::max() / 2);
    auto c = cal::civil_from_days(static_cast<int64_t>(days));
    return {c.year, static_cast<int>(c.month), static_cast<int64_t>(c.day)};
}

int monday_index(__int128 serial) {
    auto r = static_cast<int>(serial % 7);
    return (r + 12) % 7;  // serial 2 is a Monday
}

// ---- Handlers -----------------------------------------------------------

Result<Variant> func_date(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("DATE", args.size(), 3, 3));
    int32_t year = saturate_i32(TRY(arg_number(args[0], ctx)));
    // Years 0 to 1899 count from 1900, as spreadsheets read them: 99 is 1999.
    if (year >= 0 && year <= 1899) year += 1900;
    int64_t month = TRY(arg_whole(args[1], ctx));
    int64_t day = TRY(arg_whole(args[2], ctx));
    return date_result(date_to_serial(year, month, day));
}

Result<Variant> func_datevalue(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("DATEVALUE", args.size(), 1, 1));
    auto serial = parse_date_text(TRY(arg_text(args[0], ctx)));
    // Text naming a day before the 1900 system names no date it has.
    if (!serial || *serial < 0) return Variant(ExcelError::Value);
    return Variant(Date{*serial});
}

Result<Variant> func_today(Args args, const EvalCtx&) {
    TRY_VOID(check_arity("TODAY", args.size(), 0, 0));
    return Variant(Date{clock_seconds() / kSecondsPerDay + kUnixEpochSerial});
}

Result<Variant> func_now(Args args, const EvalCtx&) {
    TRY_VOID(check_arity("NOW", args.size(), 0, 0));
    int64_t s = clock_seconds();
    return Variant(static_cast<double>(s / kSecondsPerDay + kUnixEpochSerial) +
                   static_cast<double>(s % kSecondsPerDay) / kSecondsPerDay);
}

Result<Variant> func_year(Args args, const EvalCtx& ctx) { return Variant(TRY(arg_date(args, ctx, "YEAR")).year); }

Result<Variant> func_month(Args args, const EvalCtx& ctx) {
    return Variant(int64_t{TRY(arg_date(args, ctx, "MONTH")).month});
}

Result<Variant> func_day(Args args, const EvalCtx& ctx) { return Variant(TRY(arg_date(args, ctx, "DAY")).day); }

Result<Variant> func_edate(Args args, const EvalCtx& ctx) { return shift_months(args, ctx, "EDATE", false); }

Result<Variant> func_eomonth(Args args, const EvalCtx& ctx) { return shift_months(args, ctx, "EOMONTH", true); }

Result<Variant> func_days(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("DAYS", args.size(), 2, 2));
    int64_t end = TRY(arg_whole(args[0], ctx));
    int64_t start = TRY(arg_whole(args[1], ctx));
    __int128 diff = static_cast<__int128>(end) - start;
    if (!fits_i64(diff)) return Variant(ExcelError::Num);
    return Variant(static_cast<int64_t>(diff));
}

Result<Variant> func_datedif(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("DATEDIF", args.size(), 3, 3));
    int64_t start = TRY(arg_whole(args[0], ctx));
    int64_t end = TRY(arg_whole(args[1], ctx));
    std::string unit = text::to_upper(TRY(arg_text(args[2], ctx)));
    if (end < start) return Variant(ExcelError::Num);
    if (!is_datedif_unit(unit)) return fail(format_message(kDatedifUnit, unit));
    auto n = datedif_unit(unit, start, end);
    if (!n) return Variant(ExcelError::Num);
    return Variant(*n);
}

Result<Variant> func_time_fn(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("TIME", args.size(), 3, 3));
    double h = TRY(arg_number(args[0], ctx));
    double m = TRY(arg_number(args[1], ctx));
    double s = TRY(arg_number(args[2], ctx));
    const double t = (m * 60 + h * 3600 + s) / kSecondsPerDay;
    // A time is a fraction of one day: 25 hours is 01:00.
    return Variant(t >= 1 ? std::fmod(t, 1.0) : t);
}

Result<Variant> func_timevalue(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("TIMEVALUE", args.size(), 1, 1));
    auto t = parse_time_text(TRY(arg_text(args[0], ctx)));
    if (!t) return Variant(ExcelError::Value);
    return Variant(*t);
}

Result<Variant> func_hour(Args args, const EvalCtx& ctx) { return time_part(args, ctx, "HOUR", 3600, 24); }

Result<Variant> func_minute(Args args, const EvalCtx& ctx) { return time_part(args, ctx, "MINUTE", 60, 60); }

Result<Variant> func_second(Args args, const EvalCtx& ctx) { return time_part(args, ctx, "SECOND", 1, 60); }

namespace {
constexpr FuncEntry kTable[] = {
    {"DATE", func_date},
    {"DATEDIF", func_datedif},
    {"DATEVALUE", func_datevalue},
    {"DAY", func_day},
    {"DAYS", func_days},
    {"EDATE", func_edate},
    {"EOMONTH", func_eomonth},
    {"HOUR", func_hour},
    {"MINUTE", func_minute},
    {"MONTH", func_month},
    {"NOW", func_now},
    {"SECOND", func_second},
    {"TIME", func_time_fn},
    {"TIMEVALUE", func_timevalue},
    {"TODAY", func_today},
    {"YEAR", func_year},
};
}  // namespace

std::span<const FuncEntry> datetime_functions() { return kTable; }

}  // namespace morvane::eval
