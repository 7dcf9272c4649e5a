// Number formats as spreadsheets write them ("#,##0.00", "0.0%;(0.0%)",
// "dd/mm/yyyy hh:mm", "\"Total: \"@"): the one renderer behind TEXT, VBA's
// Format and WorksheetFunction.Text, in a fixed English (United States)
// locale. A pattern is read once into a compiled form (kept in a small
// per-thread cache, so a loop that formats with one pattern reads it once)
// and rendered for numbers, exact whole numbers, date serials and texts.
//
// What a pattern holds: up to four sections split by ";" (positive;
// negative, drawn without its minus sign; zero; text); digit placeholders
// 0 # ?, the decimal point, grouping and trailing scaling commas, % (times
// 100), E+00 / E-00; literal text (quoted, after a backslash, or any other
// character), _x (a space) and *x (no fill); @ for the text; General; date
// and time codes y m d h s (and VBA's n for minutes), AM/PM, A/P, elapsed
// [h] [m] [s] and fractions of seconds; colours in brackets are accepted
// and ignored, [$text-code] shows its text. Conditions in brackets and
// fractions are refused with a message.
//
// Numbers round half away from zero on their 15-digit decimal value (a
// double) or on their exact digits (a 64-bit integer); there is no size
// limit beyond the double's range.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace morvane::numfmt {

// The two users differ in a few points: the VBA dialect knows the named
// formats (Currency, Short Date, Yes/No, ...), shows an empty section with
// the first one, and writes General through the interpreter's number text.
enum class Dialect : uint8_t { Worksheet, Vba };

struct Style {
    Dialect dialect = Dialect::Worksheet;
    // The text of a number under General; null means the worksheet's own
    // General (at most 11 characters, as a cell of standard width shows it).
    std::string (*general)(double) = nullptr;
};

// Why a value did not render: a pattern this renderer does not support
// (conditions in brackets, fractions, more than four sections) or a value
// that a date section cannot show (out_of_range: before the calendar's
// start, past 9999-12-31, or not finite).
struct Failure {
    bool out_of_range = false;
    std::string message;
};
using Rendered = std::expected<std::string, Failure>;

Rendered render_number(std::string_view pattern, double x, const Style& style);
// An exact whole number: its digits are not cut to 15.
Rendered render_integer(std::string_view pattern, int64_t x, const Style& style);
// A text through the text section (the fourth, or a lone section holding
// @); a pattern without one leaves the text as it is.
Rendered render_text(std::string_view pattern, std::string_view text, const Style& style);

// The worksheet's General text of a number.
std::string general_text(double x);

// Whether a VBA pattern names one of VBA's formats that show a number as
// its plain text ("General Number" and the empty pattern): the caller shows
// such values with its own text rules.
bool is_general_name(std::string_view pattern);

}  // namespace morvane::numfmt
