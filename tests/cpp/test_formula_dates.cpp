// Day serials as the date functions build and read them, and the names of
// the date, finance, random and database families.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "formula/dates.h"
#include "formula/eval.h"

using namespace morvane;

TEST(FormulaDates, CivilDatesToSerials) {
    struct Case {
        int64_t year, month, day;
        std::optional<int64_t> serial;
    };
    const int64_t max = std::numeric_limits<int64_t>::max();
    const Case cases[] = {
        // clang-format off
        {1900, 1, 1, 1},       {1900, 2, 28, 59},      {1900, 2, 29, 61},   {1900, 3, 1, 61},
        {1900, 3, 0, 60},      {1900, 1, 60, 60},      {1900, 1, 0, 0},     {1899, 12, 31, 0},
        {1899, 12, 30, -1},    {2020, 1, 1, 43831},    {2023, 3, 15, 45000}, {9999, 12, 31, 2958465},
        {2020, 14, 1, 44228},  {2020, 0, 1, 43800},    {2020, 1, 0, 43830}, {2021, -11, 1, 43831},
        {1, 1, 1, -693594},    {2020, 1, max, std::nullopt}, {0, max, 1, std::nullopt},
        // clang-format on
    };
    for (const Case& c : cases)
        EXPECT_EQ(eval::date_to_serial(c.year, c.month, c.day), c.serial) << c.year << "-" << c.month << "-" << c.day;
}

TEST(FormulaDates, SerialsReadBackToTheirDates) {
    for (int64_t s = -800'000; s <= 3'000'000; s += 7) {
        eval::SerialDate d = eval::serial_to_date(s);
        if (s == 0 || s == 60) continue;
        ASSERT_EQ(eval::date_to_serial(d.year, d.month, d.day), s) << s;
    }
    auto zero = eval::serial_to_date(0);
    EXPECT_EQ(zero.year, 1900);
    EXPECT_EQ(zero.month, 1);
    EXPECT_EQ(zero.day, 0);
    auto phantom = eval::serial_to_date(60);
    EXPECT_EQ(phantom.month, 3);
    EXPECT_EQ(phantom.day, 1);
    // The far ends of the serials still give a date without overflow.
    EXPECT_GT(eval::serial_to_date(std::numeric_limits<int64_t>::max()).year, 1'000'000'000);
    EXPECT_LT(eval::serial_to_date(std::numeric_limits<int64_t>::min()).year, -1'000'000'000);
}

TEST(FormulaDates, WeekdaysOfSerials) {
    EXPECT_EQ(eval::monday_index(2), 0);  // 1900-01-02, a Monday in this calendar
    EXPECT_EQ(eval::monday_index(1), 6);
    EXPECT_EQ(eval::monday_index(0), 5);
    EXPECT_EQ(eval::monday_index(-1), 4);
    // clang-format off
    EXPECT_EQ(eval::monday_index(45292), 0);   // 2024-01-01
    EXPECT_EQ(eval::monday_index(std::numeric_limits<int64_t>::min()), eval::monday_index(std::numeric_limits<int64_t>::min() + 7));
    // clang-format on
}

TEST(FormulaDates, EveryNameOfTheFamiliesIsBuilt) {
    constexpr std::string_view kNames[] = {
        // clang-format off
        "DATE", "DATEDIF", "DATEVALUE", "DAY", "DAYS", "EDATE", "EOMONTH", "HOUR", "MINUTE", "MONTH", "NOW",
        "SECOND", "TIME", "TIMEVALUE", "TODAY", "YEAR", "ISOWEEKNUM", "NETWORKDAYS", "NETWORKDAYS.INTL",
        "WEEKDAY", "WEEKNUM", "WORKDAY", "WORKDAY.INTL", "FV", "IPMT", "IRR", "MIRR", "NPER", "NPV", "PMT",
        "PPMT", "PV", "RATE", "XIRR", "XNPV", "RAND", "RANDARRAY", "RANDBETWEEN", "DAVERAGE", "DCOUNT",
        "DCOUNTA", "DGET", "DMAX", "DMIN", "DSUM",
        // clang-format on
    };
    for (std::string_view name : kNames) EXPECT_NE(eval::find_function(name), nullptr) << name;
}
