// The number-format renderer's own roads that the Python tables do not
// reach: exact 64-bit integers at the limits, the per-thread cache under
// many patterns, the bound on texts repeated by "@", and which failures
// count as out of range.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

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
