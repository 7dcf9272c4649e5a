// Numeric kernels against reference values (computed in 50-digit arithmetic
// or by an independent statistics library), rounding at 15 digits, the total
// order of the selections, and dates and error values in the aggregates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/number_text.h"
#include "formula/numeric.h"
#include "formula_test_util.h"

namespace morvane {
namespace {

using eval::lgamma;
using eval::median_of;
using eval::norm_cdf;
using eval::norm_ppf;
using eval::nth_smallest;
using eval::percentile_of;
using eval::reg_inc_beta;
using eval::round_to_15_digits;
using eval::t_cdf;
using eval::t_pdf;
using testing::Case;
using testing::check;
using testing::sheet;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// |got - want| within `rel` of |want|.
::testing::AssertionResult near_rel(double got, double want, double rel) {
    if (std::fabs(got - want) <= rel * std::fabs(want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << got << ", want " << want << ", relative error "
                                         << std::fabs(got - want) / std::fabs(want);
}

TEST(FormulaNumeric, NormalDistribution) {
    struct Row {
        double x, mean, sd, want;
    };
    const Row rows[] = {
        {-37, 0, 1, 5.7255712225239266e-300}, {-20, 0, 1, 2.7536241186061556e-89},
        {-8, 0, 1, 6.22096057427174e-16},     {-5, 0, 1, 2.866515718791933e-07},
        {-3.5, 0, 1, 0.00023262907903552502}, {-2, 0, 1, 0.022750131948179195},
        {-1, 0, 1, 0.15865525393145707},      {-0.5, 0, 1, 0.3085375387259869},
        {-1e-09, 0, 1, 0.49999999960105773},  {0, 0, 1, 0.5},
        {0.25, 0, 1, 0.5987063256829237},     {1, 0, 1, 0.8413447460685429},
        {1.96, 0, 1, 0.9750021048517795},     {3, 0, 1, 0.9986501019683699},
        {6, 0, 1, 0.9999999990134123},        {10, 5, 2, 0.9937903346742238},
        {-3, 1, 0.5, 6.22096057427174e-16},   {100, 100, 0.001, 0.5},
    };
    for (const Row& r : rows) {
        // Far out the tail magnifies the rounding of z: the error grows with z^2.
        const double z = (r.x - r.mean) / r.sd;
        EXPECT_TRUE(near_rel(norm_cdf(r.x, r.mean, r.sd), r.want, 1e-15 * (2 + z * z))) << r.x;
    }
}

TEST(FormulaNumeric, NormalQuantile) {
    struct Row {
        double p, want;
    };
    const Row rows[] = {
        {1e-300, -37.0470962993612},       {1e-100, -21.27345356096532},
        {1e-20, -9.262340089798405},       {1e-10, -6.361340902404056},
        {1e-05, -4.2648907939228256},      {0.001, -3.090232306167813},
        {0.02, -2.0537489106318225},       {0.02425, -1.9729610513118845},
        {0.025, -1.9599639845400538},      {0.1, -1.2815515655446008},
        {0.25, -0.6744897501960817},       {0.4, -0.2533471031357998},
        {0.49, -0.025068908258711057},     {0.5, 0.0},
        {0.51, 0.025068908258711057},      {0.6, 0.2533471031357998},
        {0.75, 0.6744897501960817},        {0.9, 1.2815515655446008},
        {0.975, 1.9599639845400536},       {0.98, 2.053748910631822},
        {0.999, 3.090232306167813},        {0.99999, 4.26489079392384},
        {0.9999999999, 6.361340889697421}, {0.999999999999999, 7.941444487415977},
    };
    for (const Row& r : rows) {
        if (r.want == 0) {
            EXPECT_EQ(norm_ppf(r.p), 0.0);
            EXPECT_FALSE(std::signbit(norm_ppf(r.p)));
        } else {
            // Near the centre the quantile is tiny and its relative error larger.
            EXPECT_TRUE(near_rel(norm_ppf(r.p), r.want, std::fabs(r.p - 0.5) < 0.05 ? 1e-12 : 1e-14)) << r.p;
        }
    }
    for (double p : {0.0, 1.0, -0.5, 1.5, kNaN}) EXPECT_TRUE(std::isnan(norm_ppf(p))) << p;
}

TEST(FormulaNumeric, IncompleteBeta) {
    struct Row {
        double x, a, b, want;
    };
    const Row rows[] = {
        {0.1, 0.5, 0.5, 0.20483276469913345},
        {0.5, 0.5, 0.5, 0.5000000000000001},
        {0.9, 0.5, 0.5, 0.7951672353008665},
        {0.3, 2, 3, 0.34829999999999994},
        {0.7, 2, 3, 0.9163},
        {0.5, 10, 10, 0.5},
        {0.45, 10, 10, 0.3289640875783926},
        {0.01, 1, 100, 0.6339676587267705},
        {0.99, 100, 1, 0.36603234127322914},
        {0.2, 0.1, 5, 0.9766004939306011},
        {0.999, 5, 0.5, 0.9222819921009667},
        {0.5, 200, 300, 0.9999964565197356},
        {0.4, 200, 300, 0.5024286163199315},
        {1e-05, 3, 2, 3.999970000000001e-15},
        {0.8, 1, 1, 0.8},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(near_rel(reg_inc_beta(r.x, r.a, r.b), r.want, 1e-12)) << r.x << " " << r.a << " " << r.b;
    EXPECT_EQ(reg_inc_beta(0, 2, 3), 0);
    EXPECT_EQ(reg_inc_beta(1, 2, 3), 1);
    EXPECT_TRUE(std::isnan(reg_inc_beta(kNaN, 2, 3)));
}

TEST(FormulaNumeric, LogGamma) {
    struct Row {
        double x, want;
    };
    const Row rows[] = {
        {0.5, 0.5723649429247004},      {1, 0.0},
        {1.5, -0.12078223763524543},    {2, 0.0},
        {2.5, 0.2846828704729196},      {3, 0.693147180559945},
        {7, 6.579251212010102},         {10.3, 13.48203678613836},
        {15, 25.191221182738683},       {100, 359.1342053695754},
        {100000.0, 1051287.7089736566}, {10000000000.0, 220258509288.81058},
    };
    for (const Row& r : rows) {
        if (r.want == 0)
            EXPECT_EQ(lgamma(r.x), 0) << r.x;
        else
            EXPECT_TRUE(near_rel(lgamma(r.x), r.want, 1e-14)) << r.x;
    }
}

TEST(FormulaNumeric, StudentT) {
    struct Row {
        double t, df, cdf, pdf;
    };
    const Row rows[] = {
        {-40, 2, 0.0003122073360923703, 1.5595748834703734e-05},  {-5, 1, 0.06283295818900118, 0.012242687930145796},
        {-2, 3, 0.0696629842794216, 0.0675096606638929},          {-1, 1, 0.25, 0.15915494309189535},
        {-0.5, 7.5, 0.3157054823112272, 0.33570185429763505},     {0, 4, 0.5, 0.375},
        {0.3, 1.2, 0.5961135943414767, 0.30386105183696505},      {1, 1, 0.75, 0.15915494309189535},
        {1.5, 2.5, 0.8760817734568519, 0.11766850421719718},      {2, 10, 0.9633059826146299, 0.061145766321218174},
        {3, 30, 0.9973050179671741, 0.0067790627460931},          {4, 100, 0.9999392381778496, 0.00022115455654062906},
        {-2.5, 1000, 0.006289283900545398, 0.017640133095133487}, {1.7, 12345, 0.95542194216943, 0.09405207045008605},
    };
    for (const Row& r : rows) {
        EXPECT_TRUE(near_rel(t_cdf(r.t, r.df), r.cdf, 1e-12)) << r.t << " " << r.df;
        EXPECT_TRUE(near_rel(t_pdf(r.t, r.df), r.pdf, 1e-12)) << r.t << " " << r.df;
    }
}

TEST(FormulaNumeric, RoundToFifteenDigits) {
    EXPECT_EQ(round_to_15_digits(100.49999999999999), 100.5);
    EXPECT_EQ(round_to_15_digits(0.1 + 0.2), 0.3);
    EXPECT_EQ(round_to_15_digits(434.99999999999994), 435);
    EXPECT_EQ(round_to_15_digits(123456789012345.6), 123456789012346);
    EXPECT_EQ(round_to_15_digits(-2.9999999999999996), -3);
    EXPECT_EQ(round_to_15_digits(1e-300), 1e-300);
    EXPECT_EQ(round_to_15_digits(0), 0);
    EXPECT_EQ(round_to_15_digits(kInf), kInf);
    EXPECT_TRUE(std::isnan(round_to_15_digits(kNaN)));
    EXPECT_EQ(eval::pow10i(0), 1);
    EXPECT_EQ(eval::pow10i(22), 1e22);
    EXPECT_EQ(eval::pow10i(-2), 0.01);
    EXPECT_EQ(eval::pow10i(400), kInf);
    EXPECT_EQ(eval::pow10i(-2147483647 - 1), 0);
}

// NaN, infinities and signed zeros all have a place, so the selections run
// on a strict weak order whatever the data holds.
TEST(FormulaNumeric, SelectionsOrderEveryDouble) {
    std::vector<double> v = {3, kNaN, -kInf, 0.0, 1, -0.0, kInf, -2, kNaN, 2};
    std::vector<double> sorted = v;
    for (size_t k = 0; k < v.size(); ++k) {
        std::vector<double> w = v;
        sorted[k] = nth_smallest(w, k);
    }
    EXPECT_EQ(sorted[0], -kInf);
    EXPECT_EQ(sorted[1], -2);
    EXPECT_TRUE(std::signbit(sorted[2]));
    EXPECT_FALSE(std::signbit(sorted[3]));
    EXPECT_EQ(sorted[4], 1);
    EXPECT_EQ(sorted[7], kInf);
    EXPECT_TRUE(std::isnan(sorted[8]) && std::isnan(sorted[9]));

    std::vector<double> even = {4, 1, 3, 2}, odd = {5, 1, 3};
    EXPECT_EQ(median_of(even), 2.5);
    EXPECT_EQ(median_of(odd), 3);
    const std::pair<double, double> quantiles[] = {{0, 1}, {0.5, 2.5}, {1, 4}, {1.0 / 3, 2}, {0.9, 3.7}};
    for (auto [k, want] : quantiles) {
        std::vector<double> w = {4, 2, 1, 3};
        EXPECT_NEAR(percentile_of(w, k), want, 1e-15) << k;
    }
    // Many equal values and a large random-looking list.
    std::vector<double> big;
    for (int i = 0; i < 100001; ++i) big.push_back(static_cast<double>((i * 7919) % 100001));
    EXPECT_EQ(median_of(big), 50000);
    std::vector<double> same(1000, 7.0);
    EXPECT_EQ(median_of(same), 7);
}

// Dates are numbers: the aggregates and statistics take their serials.
TEST(FormulaNumeric, DatesAndErrorsInAggregates) {
    const CellMap cells = sheet({
        {"A1", Variant(Date{10})},
        {"A2", Variant(int64_t{20})},
        {"A3", Variant(true)},
        {"B1", Variant(int64_t{1})},
        {"B2", Variant(ExcelError::Ref)},
        {"C1", Variant(ExcelError::NA)},
    });
    const Case cases[] = {
        {"=SUM(A1:A3)", "Integer(30)"},
        {"=SUM(A1)", "Integer(10)"},
        {"=AVERAGE(A1:A3)", "Float(15.0)"},
        {"=MAX(A1:A3)", "Integer(20)"},
        {"=MIN(A1:A3)", "Integer(10)"},
        {"=COUNT(A1:A3)", "Integer(2)"},
        {"=MEDIAN(A1:A3)", "Integer(15)"},
        {"=LARGE(A1:A3,2)", "Integer(10)"},
        {"=MODE.MULT(A1:A3,10,20,20)", "Integer(20)"},
        {"=SUM(B1:C2)", "Error(NA)"},  // C1 comes before B2
        {"=SUM(B2,C1)", "Error(Ref)"},
        {"=COUNTA(B1:C2)", "Integer(3)"},
        {"=AGGREGATE(9,6,B1:C2)", "Integer(1)"},
    };
    check(cases, cells);
}

// Every name of the arithmetic, aggregate, statistics and distribution
// families reaches a handler instead of #NAME?.
TEST(FormulaNumeric, EveryNameOfTheFamiliesIsBuilt) {
    const char* names[] = {
        "ABS",          "ACOS",
        "ASIN",         "ATAN",
        "ATAN2",        "CEILING",
        "CEILING.MATH", "COMBIN",
        "COS",          "DEGREES",
        "EXP",          "FACT",
        "FLOOR",        "FLOOR.MATH",
        "GCD",          "INT",
        "LCM",          "LN",
        "LOG",          "LOG10",
        "MOD",          "MROUND",
        "PERMUT",       "PI",
        "POWER",        "QUOTIENT",
        "RADIANS",      "ROUND",
        "ROUNDDOWN",    "ROUNDUP",
        "SIGN",         "SIN",
        "SQRT",         "TAN",
        "TRUNC",        "AGGREGATE",
        "AVERAGE",      "COUNT",
        "COUNTA",       "MAX",
        "MIN",          "PRODUCT",
        "SUBTOTAL",     "SUM",
        "SUMPRODUCT",   "CORREL",
        "COVAR",        "COVARIANCE.P",
        "COVARIANCE.S", "LARGE",
        "MEDIAN",       "MODE.MULT",
        "PERCENTILE",   "PERCENTILE.INC",
        "PERCENTRANK",  "PERCENTRANK.INC",
        "RANK",         "SMALL",
        "STDEV",        "STDEV.P",
        "STDEV.S",      "STDEVP",
        "VAR",          "VAR.P",
        "VAR.S",        "VARP",
        "NORM.DIST",    "NORM.INV",
        "NORMDIST",     "NORMINV",
        "T.DIST",
    };
    const auto known = eval::known_function_names();
    for (const char* name : names) {
        EXPECT_NE(eval::find_function(name), nullptr) << name;
        EXPECT_NE(std::find(known.begin(), known.end(), std::string_view(name)), known.end()) << name;
    }
}

}  // namespace
}  // namespace morvane

// The number text of formulas: 15 significant digits, whole numbers of 16
// digits or more in scientific form.
TEST(FormulaNumberText, FifteenDigits) {
    const std::pair<double, const char*> floats[] = {
        {0.0, "0"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3, "0.333333333333333"},
        {-2.5, "-2.5"},
        {123456789012345.0, "123456789012345"},
        {999999999999999.0, "999999999999999"},
        {999999999999999.9, "1E+15"},
        {1e15, "1E+15"},
        {-1e15, "-1E+15"},
        {123456789012345678.0, "1.23456789012346E+17"},
        {1e20 / 3, "3.33333333333333E+19"},
        {1.5e300, "1.5E+300"},
        {0.0001, "0.0001"},
    };
    for (const auto& [x, want] : floats) EXPECT_EQ(morvane::eval::number_text_15(x), want) << x;
    const std::pair<int64_t, const char*> wholes[] = {
        {0, "0"},
        {-42, "-42"},
        {999'999'999'999'999, "999999999999999"},
        {-999'999'999'999'999, "-999999999999999"},
        {1'000'000'000'000'000, "1E+15"},
        {1'234'567'890'123'456, "1.23456789012346E+15"},
        {123'456'789'012'345'678, "1.23456789012346E+17"},
        {INT64_MAX, "9.22337203685478E+18"},
        {INT64_MIN, "-9.22337203685478E+18"},
    };
    for (const auto& [x, want] : wholes) EXPECT_EQ(morvane::eval::number_text_15(x), want) << x;
}
