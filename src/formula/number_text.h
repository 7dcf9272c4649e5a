// The text of a number as formulas write it when no format is given: at most
// 15 significant digits, as spreadsheets show them, so that 0.1+0.2 reads 0.3
// and 123456789012345678 reads 1.23456789012346E+17. Shared by every text
// conversion of the formula engine and by VBA's own number text.
#pragma once

#include <cstdint>
#include <string>

namespace morvane::eval {

// Numbers below 1E+15 in magnitude keep positional notation (rounded to 15
// significant digits, trailing zeros dropped); larger ones, whole numbers of
// 16 digits or more, take the form "1.23456789012346E+17" (mantissa of at
// most 15 significant digits without trailing zeros, a signed exponent of at
// least two digits). NaN and the infinities keep their usual text.
// Numbers below 0.0001 in magnitude stay positional in formulas
// ("0.00000015"); VBA prints them in the E form too ("1.5E-07").
enum class SmallNumbers : uint8_t { Positional, Scientific };
std::string number_text_15(double x, SmallNumbers small = SmallNumbers::Positional);
std::string number_text_15(int64_t x);

}  // namespace morvane::eval
