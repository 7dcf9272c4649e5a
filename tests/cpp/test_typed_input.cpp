// Typed input: what a cell stores for a typed text, and the number a text
// stands for in arithmetic.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "types/typed_input.h"
#include "types/variant.h"

using namespace morvane;

namespace {

// A time of day as the reader computes it.
double clock(double h, double m, double s = 0) { return (h * 3600.0 + m * 60.0 + s) / 86400.0; }

Variant text(const char* s) { return Variant(std::string(s)); }

}  // namespace

TEST(TypedInput, Entries) {
    struct Case {
        const char* typed;
        Variant stored;
    };
    const Case cases[] = {
        // numbers
        {"5", Variant(5)},
        {"  -12  ", Variant(-12)},
        {"+3.5", Variant(3.5)},
        {".5", Variant(0.5)},
        {"5.", Variant(5)},
        {"007", Variant(7)},
        {"1e3", Variant(1000)},
        {"2.5E-1", Variant(0.25)},
        {"1,234.50", Variant(1234.5)},
        {"1,234,567", Variant(1234567)},
        {"123,456", Variant(123456)},
        {"$5", Variant(5)},
        {"$1,234.5", Variant(1234.5)},
        {"-$5", Variant(-5)},
        {"$-5", Variant(-5)},
        {"25%", Variant(0.25)},
        {"12.34%", Variant(0.1234)},
        {"-50 %", Variant(-0.5)},
        {"(5)", Variant(-5)},
        {"($1,234.50)", Variant(-1234.5)},
        {"( 7 )", Variant(-7)},
        {"(5%)", Variant(-0.05)},
        {"1e308", Variant(1e308)},
        // the nearest double, whether read directly or by the decimal reader
        {"0.1", Variant(0.1)},
        {"123456789012345", Variant(int64_t{123456789012345})},
        {"1234567890123456789", Variant(int64_t{1234567890123456768})},
        {"0.30000000000000004", Variant(0.30000000000000004)},
        {"8.5e-22", Variant(8.5e-22)},
        {"1.7976931348623157e308", Variant(1.7976931348623157e308)},
        {"4.9e-324", Variant(4.9e-324)},
        {"1e-400", Variant(0)},
        {"-0", Variant(0)},
        // not numbers: stored as typed
        {"1,23", text("1,23")},
        {"1,2345", text("1,2345")},
        {",5", text(",5")},
        {"1,000,", text("1,000,")},
        {"12,34.5", text("12,34.5")},
        {"1.2.3", text("1.2.3")},
        {"(-5)", text("(-5)")},
        {"$5%", text("$5%")},
        {"$$5", text("$$5")},
        {"- 5", text("- 5")},
        {"5-", text("5-")},
        {"e5", text("e5")},
        {"1e", text("1e")},
        {"1e400", text("1e400")},
        {"inf", text("inf")},
        {"nan", text("nan")},
        {"&H10", text("&H10")},
        {".", text(".")},
        {"$", text("$")},
        {"()", text("()")},
        {"5 apples", text("5 apples")},
        // dates and times
        {"2024-03-15", Variant(Date{45366})},
        {"2024-3-5", Variant(Date{45356})},
        {"2024-03-15 13:45", Variant(Date{45366, clock(13, 45)})},
        {"2024-03-15  8:00 PM", Variant(Date{45366, clock(20, 0)})},
        {"3/15/2024", Variant(Date{45366})},
        {"03/15/2024 8:05:30 am", Variant(Date{45366, clock(8, 5, 30)})},
        {"1/1/1900", Variant(Date{1})},
        {"2/29/1900", Variant(Date{60})},
        {"1900-03-01", Variant(Date{61})},
        {"12/31/9999", Variant(Date{2958465})},
        {"8:00", Variant(Date{0, clock(8, 0)})},
        {"0:00", Variant(Date{0, 0})},
        {"8:5", Variant(Date{0, clock(8, 5)})},
        {"13:45:10", Variant(Date{0, clock(13, 45, 10)})},
        {"13:45:10.5", Variant(Date{0, clock(13, 45, 10.5)})},
        {"8:00 PM", Variant(Date{0, clock(20, 0)})},
        {"8:00pm", Variant(Date{0, clock(20, 0)})},
        {"12:00 AM", Variant(Date{0, 0})},
        {"12:30 PM", Variant(Date{0, clock(12, 30)})},
        {" 23:59:59 ", Variant(Date{0, clock(23, 59, 59)})},
        // not dates or times
        {"2023-02-29", text("2023-02-29")},
        {"2024-13-01", text("2024-13-01")},
        {"2024-00-10", text("2024-00-10")},
        {"1899-12-31", text("1899-12-31")},
        {"10000-01-01", text("10000-01-01")},
        {"24-03-15", text("24-03-15")},
        {"2024/03/15", text("2024/03/15")},
        {"3/15/24", text("3/15/24")},
        {"3/15", text("3/15")},
        {"4/31/2024", text("4/31/2024")},
        {"2024-03-15T08:00", text("2024-03-15T08:00")},
        {"2024-03-15 8", text("2024-03-15 8")},
        {"24:00", text("24:00")},
        {"8:60", text("8:60")},
        {"8:00:60", text("8:00:60")},
        {"13:00 PM", text("13:00 PM")},
        {"0:30 AM", text("0:30 AM")},
        {"8:00 XM", text("8:00 XM")},
        {"123:00", text("123:00")},
        {"8:", text("8:")},
        // logicals and error literals
        {"TRUE", Variant(true)},
        {" false ", Variant(false)},
        {"True", Variant(true)},
        {"truth", text("truth")},
        {"#N/A", Variant(ExcelError::NA)},
        {"#n/a", Variant(ExcelError::NA)},
        {"#DIV/0!", Variant(ExcelError::DivZero)},
        {"#VALUE!", Variant(ExcelError::Value)},
        {"#REF!", Variant(ExcelError::Ref)},
        {"#NAME?", Variant(ExcelError::Name)},
        {"#NUM!", Variant(ExcelError::Num)},
        {"#NULL!", Variant(ExcelError::Null)},
        {"#N/A!", text("#N/A!")},
        {"#hashtag", text("#hashtag")},
        // the apostrophe, blanks and the empty text
        {"'123", text("123")},
        {"'TRUE", text("TRUE")},
        {"'#N/A", text("#N/A")},
        {"'", text("")},
        {"''5", text("'5")},
        {" '5", text(" '5")},
        {"", Variant()},
        {"   ", text("   ")},
        {"hello", text("hello")},
        {"=1+1", text("=1+1")},
    };
    for (const auto& c : cases) EXPECT_EQ(typed_entry(c.typed), c.stored) << c.typed;
}

TEST(TypedInput, Numbers) {
    struct Case {
        const char* typed;
        std::optional<double> number;
    };
    const Case cases[] = {
        {"1,234.50", 1234.5},   {" $5 ", 5.0},           {"25%", 0.25},
        {"(3)", -3.0},          {"2024-03-15", 45366.0}, {"2024-03-15 12:00", 45366.5},
        {"3/15/2024", 45366.0}, {"6:00", 0.25},          {"6:00 PM", 0.75},
        {"TRUE", std::nullopt}, {"#N/A", std::nullopt},  {"'5", std::nullopt},
        {"", std::nullopt},     {" ", std::nullopt},     {"abc", std::nullopt},
        {"inf", std::nullopt},  {"1,23", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(typed_number(c.typed), c.number) << c.typed;
}
