// Numbers written with at most 15 significant digits.
#include "formula/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "formula/numeric.h"
#include "types/variant.h"

namespace morvane::eval {

namespace {

// Beyond this a number's text would need a 16th digit before the point.
constexpr double kPositionalLimit = 1e15;
// Below this VBA prints a number in the E form.
constexpr double kSmallLimit = 1e-4;

// "1.23456789012346E+17": 15 significant digits in scientific notation,
// trailing zeros of the mantissa dropped.
std::string scientific_text(double x) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 14);
    std::string s(buf, res.ptr);
    const size_t e = s.find('e');
    std::string mantissa = s.substr(0, e);
    if (mantissa.find('.') != std::string::npos) {
        while (mantissa.back() == '0') mantissa.pop_back();
        if (mantissa.back() == '.') mantissa.pop_back();
    }
    const int exponent = std::atoi(s.c_str() + e + 1);
    const int magnitude = std::abs(exponent);
    return mantissa + (exponent < 0 ? "E-" : "E+") + (magnitude < 10 ? "0" : "") + std::to_string(magnitude);
}

}  // namespace

std::string number_text_15(double x, SmallNumbers small) {
    if (!std::isfinite(x) || x == 0) return number_to_text(x);
    if (std::fabs(x) >= kPositionalLimit) return scientific_text(x);
    // Rounded to 15 significant digits, then the shortest text of that value.
    const double rounded = round_to_15_digits(x);
    if (std::fabs(rounded) >= kPositionalLimit) return scientific_text(rounded);
    if (small == SmallNumbers::Scientific && std::fabs(rounded) < kSmallLimit) return scientific_text(rounded);
    return number_to_text(rounded);
}

std::string number_text_15(int64_t x) {
    if (x > -1'000'000'000'000'000 && x < 1'000'000'000'000'000) return number_to_text(x);
    return scientific_text(static_cast<double>(x));
}

}  // namespace morvane::eval
