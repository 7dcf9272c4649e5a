// Day serials of the 1900 date system as the date, week and working-day
// functions build and take them apart, over the civil calendar of
// types/calendar.h (constant time for any serial). Serial 1 is 1900-01-01;
// serial 60 stands for the phantom 1900-02-29, so from 61 on a serial is one
// more than the true count of days; serial 0 is shown as 1900-01-00.
// Functions that read a serial take one below 0 back through the proleptic
// calendar; no function makes a date before serial 0.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "formula/ast.h"
#include "formula/eval.h"
#include "types/result.h"

namespace morvane::eval {

// A date as a serial reads: the year, the month (1..12) and the day (0 only
// for serial 0, shown as 1900-01-00).
struct SerialDate {
    int64_t year;
    int month;
    int64_t day;
};

// The whole-number reading of an argument: truncated toward zero, NaN as 0,
// saturated at the 64-bit limits. An error value propagates.
Result<int64_t> arg_whole(const FormulaExpr& arg, const EvalCtx& ctx);

// The serial of (year, month, day). Months past December or below January
// carry into the years and days past the month's end (or below 1) into the
// months, as spreadsheets do: (2020, 14, 1) is 2021-02-01 and (2020, 1, 0)
// is 2019-12-31. The phantom day keeps its place: (1900, 2, 29) and
// (1900, 3, 1) are both 61. None when the serial would not fit 64 bits.
std::optional<int64_t> date_to_serial(int64_t year, int64_t month, int64_t day);

// A computed date as a result: #NUM! when it does not fit or falls before
// serial 0 (1900-01-00), where the 1900 date system has no dates.
Variant date_result(std::optional<int64_t> serial);

// The year, month and day of a serial (serials 60 and 61 both 1900-03-01).
SerialDate serial_to_date(int64_t serial);

// The serial of a text in the engine's own date form, "yyyy-mm-dd" (the
// text of a date value), when it names a day of the calendar; none for any
// other text.
std::optional<int64_t> engine_date_text(std::string_view s);

// Whether a day count computed in 128 bits fits a serial.
inline bool fits_i64(__int128 x) {
    return x >= std::numeric_limits<int64_t>::min() && x <= std::numeric_limits<int64_t>::max();
}

// Day of the week as the 1900 system counts it (serial 1 is a Sunday):
// 0 Monday ... 6 Sunday, also for serials of 0 and below.
int monday_index(__int128 serial);

}  // namespace morvane::eval
