// The number-format renderer's own roads that the Python tables do not
// reach: exact 64-bit integers at the limits, the per-thread cache under
// many patterns, the bound on texts repeated by "@", and which failures
// count as out of range.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "formula/number_format.h"

namespace morvane {
namespace {

using numfmt::Dialect;
using numfmt::Style;

std::string shown(const numfmt::Rendered& r) { return r ? *r : "failure: " + r.error().message; }

TEST(NumberFormat, ExactIntegersAtTheLimits) {
    struct Row {
        int64_t value;
        std::string_view pattern;
        std::string_view want;
    };
    const Row rows[] = {
        {std::numeric_limits<int64_t>::min(), "#,##0", "-9,223,372,036,854,775,808"},
        {std::numeric_limits<int64_t>::max(), "0.00E+00", "9.22E+18"},
        {std::numeric_limits<int64_t>::max(), "#,##0,,", "9,223,372,036,855"},
        {-1, "0;(0)", "(1)"},
        {0, "0;(0);\"nil\"", "nil"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(shown(numfmt::render_integer(r.pattern, r.value, Style{})), r.want) << r.pattern;
}

TEST(NumberFormat, TheCacheKeepsEachPatternApart) {
    // More patterns than the cache holds, twice over, in both dialects.
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 600; ++i) {
            std::string pattern = "\"";
            pattern.append(std::to_string(i)).append(":\"0.0");
            EXPECT_EQ(shown(numfmt::render_number(pattern, 2.25, Style{})), std::to_string(i) + ":2.3");
            EXPECT_EQ(shown(numfmt::render_number(pattern, 2.25, Style{Dialect::Vba, nullptr})),
                      std::to_string(i) + ":2.3");
        }
    // The named formats belong to VBA only.
    EXPECT_EQ(shown(numfmt::render_number("Fixed", 2, Style{Dialect::Vba, nullptr})), "2.00");
    EXPECT_EQ(shown(numfmt::render_number("Fixed", 2, Style{})), "Fixe2");
}

TEST(NumberFormat, RepeatedTextIsBounded) {
    const std::string text(1 << 20, 'x');
    auto r = numfmt::render_text(std::string(17, '@'), text, Style{});
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().out_of_range);
    EXPECT_EQ(r.error().message, "the result would be longer than 16,777,216 bytes");
    EXPECT_EQ(numfmt::render_text(std::string(16, '@'), text, Style{})->size(), size_t{16} << 20);
}

TEST(NumberFormat, FailuresSayWhetherTheValueOrThePatternIsAtFault) {
    auto date = numfmt::render_number("yyyy", 1e7, Style{});
    ASSERT_FALSE(date);
    EXPECT_TRUE(date.error().out_of_range);
    auto nan = numfmt::render_number("hh:mm", std::numeric_limits<double>::quiet_NaN(), Style{});
    ASSERT_FALSE(nan);
    EXPECT_TRUE(nan.error().out_of_range);
    auto condition = numfmt::render_number("[>=100]0", 1, Style{});
    ASSERT_FALSE(condition);
    EXPECT_FALSE(condition.error().out_of_range);
    EXPECT_EQ(condition.error().message, "conditions in brackets are not supported");
    auto unknown = numfmt::render_number("[DBNum1]0", 1, Style{});
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().message, "'[DBNum1]' is not supported");
}

TEST(NumberFormat, GeneralFitsElevenCharacters) {
    struct Row {
        double value;
        std::string_view want;
    };
    const Row rows[] = {
        {0, "0"},         {-0.5, "-0.5"},        {1e11, "1E+11"},          {99999999999.6, "1E+11"},
        {1e-10, "1E-10"}, {1.5e100, "1.5E+100"}, {2.0 / 3, "0.666666667"}, {12345678901.0, "12345678901"},
    };
    for (const Row& r : rows) EXPECT_EQ(numfmt::general_text(r.value), r.want) << r.value;
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

// The 15 significant digits as printing gives them, "d.ddddddddddddddE+xx".
std::string printed_15(double x) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 14);
    std::string s(buf, res.ptr);
    s[s.find('e')] = 'E';
    return s;
}

TEST(NumberFormat, FifteenDigitsAsPrintingRoundsThem) {
    // Halves at the 16th digit (ties go to the even digit), the edges of the
    // scaled range and of the powers of ten held exactly, and a spread of
    // magnitudes with every bit pattern of the mantissa likely.
    std::vector<double> xs = {123456789012345.5,
                              123456789012344.5,
                              99999999999999.99,
                              999999999999999.9,
                              1e14,
                              1e15,
                              0.1,
                              1e-7,
                              9.99999999999999e-8,
                              1.2345678901234567e-8,
                              0.30000000000000004,
                              2.675,
                              1.0000000000000002,
                              4503599627370495.5,
                              1.37,
                              5e-324,
                              1.7976931348623157e308};
    std::mt19937_64 rng(26);
    std::uniform_real_distribution<double> exponent(-12, 17);
    std::uniform_real_distribution<double> mantissa(1, 10);
    for (int i = 0; i < 200000; ++i) xs.push_back(mantissa(rng) * std::pow(10.0, std::floor(exponent(rng))));
    // Decimal numbers with few digits, as typed into cells.
    for (int i = 0; i < 20000; ++i) xs.push_back(static_cast<double>(rng() % 10'000'000) / 1000);
    for (double x : xs) {
        const std::string want = printed_15(x);
        ASSERT_EQ(shown(numfmt::render_number("0.00000000000000E+00", x, Style{})), want) << x;
        ASSERT_EQ(shown(numfmt::render_number("0.00000000000000E+00", -x, Style{})), std::string(1, '-').append(want))
            << x;
    }
}

TEST(NumberFormat, LongResultsAreWhole) {
    // 1.5e300 with grouping: 301 digits in 101 groups, longer than a small buffer.
    std::string digits = "15" + std::string(299, '0');
    std::string want;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) want.push_back(',');
        want.push_back(digits[i]);
    }
    EXPECT_EQ(shown(numfmt::render_number("#,##0.00", 1.5e300, Style{})), want + ".00");
    EXPECT_EQ(shown(numfmt::render_number(std::string(300, '0'), 7, Style{})), std::string(299, '0') + "7");
    const std::string label(400, 'x');
    EXPECT_EQ(shown(numfmt::render_number("\"" + label + "\"0.0", -2.25, Style{})), "-" + label + "2.3");
}

}  // namespace
}  // namespace morvane
