// Values, their text forms, number conversions, addresses and day serials.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "types/address.h"
#include "types/text.h"
#include "types/variant.h"

using namespace morvane;
using namespace morvane::morvane_types;

namespace {

Record make_record(std::initializer_list<std::pair<const char*, Variant>> fields) {
    Record r;
    for (const auto& [k, v] : fields) r.set(k, v);
    return r;
}

}  // namespace

TEST(TypesText, DisplayAndDebugForms) {
    struct Case {
        Variant value;
        const char* text;
        const char* debug;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {Variant(2.5), "2.5", "Float(2.5)"},
        {Variant(2.0), "2", "Float(2.0)"},
        {Variant(int64_t{-7}), "-7", "Integer(-7)"},
        {Variant(1e16), "10000000000000000", "Float(1e16)"},
        {Variant(1e-5), "0.00001", "Float(1e-5)"},
        {Variant(0.1), "0.1", "Float(0.1)"},
        {Variant(1.5e300), nullptr, "Float(1.5e300)"},
        {Variant(-0.0), "-0", "Float(-0.0)"},
        {Variant(std::nan("")), "NaN", "Float(NaN)"},
        {Variant(-inf), "-inf", "Float(-inf)"},
        {Variant(true), "True", "Boolean(true)"},
        {Variant(Date{45000}), "2023-03-15", "Date(45000)"},
        {Variant(Date{1}), "1900-01-01", "Date(1)"},
        {Variant(Date{0}), "00:00:00", "Date(0)"},
        {Variant(Date{0, 0.75}), "18:00:00", nullptr},
        {Variant(ExcelError::Name), "#NAME?", "Error(Name)"},
        {Variant(), "", "Empty"},
        {Variant(Array{Variant("a"), Variant(1), Variant()}), "[a, 1, ]", "Array([Str(\"a\"), Integer(1), Empty])"},
        {Variant(Array{}), "[]", "Array([])"},
        {Variant(Array{Variant(1), Variant(Array{Variant(2), Variant(3)})}), "[1, [2, 3]]", nullptr},
        {Variant("q\"\\\n"), "q\"\\\n", "Str(\"q\\\"\\\\\\n\")"},
        {Variant(make_record({{"b", Variant(1)}, {"a", Variant(2)}})), "{a: 2, b: 1}", nullptr},
        {Variant(Record{}), "{}", "Record({})"},
        {Variant(Array{Variant(make_record({{"a", Variant(2)}}))}), "[{a: 2}]", "Array([Record({\"a\": Integer(2)})])"},
    };
    for (const auto& c : cases) {
        if (c.text) {
            EXPECT_EQ(c.value.to_string(), c.text) << c.value.debug_text();
        }
        if (c.debug) {
            EXPECT_EQ(c.value.debug_text(), c.debug);
        }
    }
    EXPECT_EQ(Variant(1e300).to_string(), "1" + std::string(300, '0'));
    EXPECT_EQ(Variant(1e21).to_string(), "1" + std::string(21, '0'));
    EXPECT_EQ(Variant(1e-7).to_string(), "0.0000001");
    EXPECT_EQ(Variant(0.1 + 0.2).to_string(), "0.30000000000000004");
}

TEST(TypesNumbers, NumberVariant) {
    EXPECT_EQ(number_variant(-0.0), Variant(int64_t{0}));
    EXPECT_EQ(number_variant(3.0), Variant(int64_t{3}));
    EXPECT_EQ(number_variant(9223372036854775808.0), Variant(int64_t{9223372036854775807}));
    EXPECT_EQ(number_variant(-9223372036854775808.0), Variant(std::numeric_limits<int64_t>::min()));
    EXPECT_TRUE(number_variant(std::nextafter(9223372036854775808.0, 1e300)).is_float());
    EXPECT_TRUE(number_variant(0.5).is_float());
    EXPECT_TRUE(number_variant(std::numeric_limits<double>::infinity()).is_float());
    EXPECT_TRUE(number_variant(std::nan("")).is_float());
}

TEST(TypesNumbers, TextToNumber) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* text;
        std::optional<double> want;
    };
    const Case cases[] = {
        // clang-format off
        {"1e3", 1000.0}, {"+.5", 0.5},    {"5.", 5.0},   {"-INF", -inf},     {"Infinity", inf},
        {"-12.25", -12.25}, {"1E-2", 0.01}, {"1e400", inf}, {"-1e400", -inf}, {"1e-400", 0.0},
        {"0.000e999999999999", 0.0}, {"007", 7.0},
        {" 1", std::nullopt}, {"1 ", std::nullopt}, {"", std::nullopt}, {".", std::nullopt},
        {"e5", std::nullopt}, {"1e", std::nullopt}, {"1,000", std::nullopt}, {"0x10", std::nullopt},
        {"1_0", std::nullopt}, {"+", std::nullopt}, {"1e+", std::nullopt}, {"infx", std::nullopt},
        // clang-format on
    };
    for (const auto& c : cases) {
        auto got = text_to_number(c.text);
        ASSERT_EQ(got.has_value(), c.want.has_value()) << c.text;
        if (got) {
            EXPECT_EQ(*got, *c.want) << c.text;
        }
    }
    auto nan = text_to_number("NaN");
    ASSERT_TRUE(nan && std::isnan(*nan));
}

TEST(TypesNumbers, Saturation) {
    EXPECT_EQ(saturate_i64(std::nan("")), 0);
    EXPECT_EQ(saturate_i64(1e300), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(saturate_i64(-1e300), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(saturate_i64(-2.9), -2);
    EXPECT_EQ(saturate_u64(-1.0), 0u);
    EXPECT_EQ(saturate_u64(1e30), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(saturate_i32(3e9), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(saturate_u32(5e9), std::numeric_limits<uint32_t>::max());
}

TEST(TypesAddress, CellAddresses) {
    using Cell = std::optional<CellPos>;
    struct Case {
        const char* text;
        Cell want;
    };
    const Case cases[] = {
        {"A1", CellPos{1u, 1u}},
        {" b12 ", CellPos{12u, 2u}},
        {"XFD1048576", CellPos{1048576u, 16384u}},
        {"AA10", CellPos{10u, 27u}},
        {"A007", CellPos{7u, 1u}},
        {"A0", CellPos{0u, 1u}},
        {"A4294967295", CellPos{4294967295u, 1u}},
        {"$A$1", CellPos{1u, 1u}},
        {"A$1", CellPos{1u, 1u}},
        {"$A1", CellPos{1u, 1u}},
        {"$c$7", CellPos{7u, 3u}},
        {"\u00a0A1\u3000", CellPos{1u, 1u}},
        {"A4294967296", std::nullopt},
        {"12", std::nullopt},
        {"AB", std::nullopt},
        {"A1B", std::nullopt},
        {"", std::nullopt},
        {"$", std::nullopt},
        {"$$A1", std::nullopt},
        {"A$$1", std::nullopt},
        {"A-1", std::nullopt},
        {"A 1", std::nullopt},
        {"_A1", std::nullopt},
        {"\u00e91", std::nullopt},
        {"ZZZZZZZZ1", std::nullopt},  // column beyond 32 bits
    };
    for (const auto& c : cases) EXPECT_EQ(parse_cell_addr(c.text), c.want) << c.text;
}

TEST(TypesAddress, RangeAddresses) {
    using P = CellPos;
    using R = std::optional<CellRange>;
    struct Case {
        const char* text;
        R want;
    };
    const Case cases[] = {
        {"A1:B2", CellRange{P{1, 1}, P{2, 2}}},
        {"B2:A1", CellRange{P{2, 2}, P{1, 1}}},
        {"C3", CellRange{P{3, 3}, P{3, 3}}},
        {"A1 : B2", CellRange{P{1, 1}, P{2, 2}}},
        {"$A$1:B$3", CellRange{P{1, 1}, P{3, 2}}},
        {"A1:", std::nullopt},
        {"A:B", std::nullopt},
        {"A1:B2:C3", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_range_addr(c.text), c.want) << c.text;
}

TEST(TypesAddress, CellRanges) {
    using P = CellPos;
    struct Case {
        CellRange range;
        uint64_t rows, cols, count;
        CellRange normalised;
    };
    const Case cases[] = {
        {{P{1, 1}, P{2, 3}}, 2, 3, 6, {P{1, 1}, P{2, 3}}},
        {{P{2, 3}, P{1, 1}}, 0, 0, 0, {P{1, 1}, P{2, 3}}},  // reversed: no cell as written
        {{P{1, 3}, P{2, 1}}, 2, 0, 0, {P{1, 1}, P{2, 3}}},
        {CellRange::single(P{5, 5}), 1, 1, 1, {P{5, 5}, P{5, 5}}},
        {{P{1, 1}, P{kMaxRow, kMaxCol}}, kMaxRow, kMaxCol, uint64_t{kMaxRow} * kMaxCol, {P{1, 1}, P{kMaxRow, kMaxCol}}},
        // The whole 32-bit grid has 2^64 cells: the count saturates, never wraps to 0.
        // clang-format off
        {{P{0, 0}, P{UINT32_MAX, UINT32_MAX}}, uint64_t{1} << 32, uint64_t{1} << 32, UINT64_MAX,
         // clang-format on
         {P{0, 0}, P{UINT32_MAX, UINT32_MAX}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.range.rows(), c.rows);
        EXPECT_EQ(c.range.cols(), c.cols);
        EXPECT_EQ(c.range.cell_count(), c.count);
        EXPECT_EQ(c.range.normalised(), c.normalised);
    }
    const CellRange r{P{2, 2}, P{3, 4}};
    EXPECT_TRUE(r.contains(P{3, 4}));
    EXPECT_FALSE(r.contains(P{1, 2}));
    EXPECT_FALSE(r.contains(P{2, 5}));
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    r.for_each_cell([&](CellPos p) { seen.emplace_back(p.row, p.col); });
    EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, uint32_t>>{{2, 2}, {2, 3}, {2, 4}, {3, 2}, {3, 3}, {3, 4}}));
    // A Result from the callback stops the walk at the first failure.
    int calls = 0;
    auto stopped = r.for_each_cell([&](CellPos p) -> Result<void> {
        ++calls;
        if (p.col == 3) return fail("stop");
        return {};
    });
    EXPECT_EQ(stopped.error(), "stop");
    EXPECT_EQ(calls, 2);
    // Reversed corners walk nothing; a walk at the last row does not wrap.
    int none = 0;
    CellRange{P{3, 1}, P{2, 1}}.for_each_cell([&](CellPos) { ++none; });
    EXPECT_EQ(none, 0);
    int edge = 0;
    CellRange{P{UINT32_MAX, UINT32_MAX}, P{UINT32_MAX, UINT32_MAX}}.for_each_cell([&](CellPos) { ++edge; });
    EXPECT_EQ(edge, 1);
    EXPECT_TRUE(on_sheet(P{kMaxRow, kMaxCol}));
    EXPECT_FALSE(on_sheet(P{kMaxRow + 1, 1}));
    EXPECT_FALSE(on_sheet(P{1, 0}));
}

TEST(TypesDates, SerialWalk) {
    struct Case {
        int64_t serial;
        Ymd want;
        const char* text;
    };
    const Case cases[] = {
        {1, {1900, 1, 1}, "1900-01-01"},         {59, {1900, 2, 28}, "1900-02-28"},
        {60, {1900, 3, 1}, "1900-03-01"},        {61, {1900, 3, 1}, "1900-03-01"},
        {366, {1900, 12, 31}, "1900-12-31"},     {367, {1901, 1, 1}, "1901-01-01"},
        {36585, {2000, 2, 29}, "2000-02-29"},    {45000, {2023, 3, 15}, "2023-03-15"},
        {2958465, {9999, 12, 31}, "9999-12-31"}, {2958466, {10000, 1, 1}, "10000-01-01"},
        {0, {1900, 1, 0}, "1900-01-00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(serial_to_ymd(c.serial), c.want) << c.serial;
        EXPECT_EQ(serial_to_display(c.serial), c.text) << c.serial;
    }
    // Far serials are computed by whole cycles, not walked day by day.
    EXPECT_EQ(serial_to_ymd(2958465 + 146097).year, 10399);
}

TEST(TypesDates, CivilDays) {
    using namespace morvane_types;
    EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
    EXPECT_EQ(days_from_civil(2000, 3, 1), 11017);
    EXPECT_EQ(days_from_civil(1969, 12, 31), -1);
    // Round trips across leap days, century years and negative years.
    for (int64_t z : {-800000LL, -719468LL, -1LL, 0LL, 11016LL, 11017LL, 2932896LL, 50000000LL}) {
        CivilDate c = civil_from_days(z);
        EXPECT_EQ(days_from_civil(c.year, c.month, c.day), z) << z;
    }
    EXPECT_EQ(civil_from_days(11016), (CivilDate{2000, 2, 29}));
    EXPECT_TRUE(is_leap(2000));
    EXPECT_FALSE(is_leap(1900));
    EXPECT_EQ(month_length(2024, 2), 29u);
    EXPECT_EQ(month_length(2023, 2), 28u);
    // Serials count the phantom 1900-02-29.
    EXPECT_EQ(serial_from_civil(1900, 1, 1), 1);
    EXPECT_EQ(serial_from_civil(1900, 2, 28), 59);
    EXPECT_EQ(serial_from_civil(1900, 3, 1), 61);
    EXPECT_EQ(serial_from_civil(2023, 3, 15), 45000);
    // The largest serials neither overflow nor loop.
    EXPECT_EQ(serial_to_ymd(INT64_MAX).month, 7u);
    // Display shows the real day a negative serial counts back to, and
    // years of any size.
    EXPECT_EQ(serial_to_display(-1), "1899-12-30");
    EXPECT_EQ(serial_to_display(-693594), "0001-01-01");
    EXPECT_EQ(serial_to_display(0), "1900-01-00");
    EXPECT_EQ(serial_to_display(INT64_MAX).substr(0, 5), "25252");
    EXPECT_FALSE(serial_to_display(INT64_MIN).empty());
}

TEST(TypesText, UnicodeHelpers) {
    EXPECT_EQ(text::to_upper("straße"), "STRASSE");
    EXPECT_EQ(text::to_lower("GRÖßE"), "größe");
    EXPECT_EQ(text::trim("\u2003 x y\t\n"), "x y");
    EXPECT_TRUE(text::is_alphabetic(U'é'));
    EXPECT_FALSE(text::is_alphabetic(U'1'));
    EXPECT_EQ(text::char_count("añb"), 3u);
    EXPECT_EQ(text::decode_utf8("a\xff"), std::u32string(U"a\uFFFD"));
    EXPECT_EQ(morvane_types::column_letters(16384), "XFD");
    EXPECT_EQ(morvane_types::column_letters(27), "AA");
}

// The lead of the full upper-case mapping: one character for one character.
TEST(TypesText, UpperLead) {
    struct Case {
        char32_t in, want;
    };
    const Case cases[] = {
        // clang-format off
        {U'a', U'A'}, {U'Z', U'Z'}, {U'1', U'1'}, {U'ß', U'S'},          {U'é', U'É'},
        {U'ﬁ', U'F'}, {U'ŉ', U'ʼ'}, {U'ǆ', U'Ǆ'}, {U'\U0001F600', U'\U0001F600'}, {U'ω', U'Ω'},
        // clang-format on
    };
    for (const Case& c : cases) EXPECT_EQ(text::upper_lead(c.in), c.want) << static_cast<uint32_t>(c.in);
}

// The case-blind comparisons give the sign of comparing the mapped copies,
// on the ASCII road and across it.
TEST(TypesText, CompareFolded) {
    const char* texts[] = {"",       "a",       "A",       "ab",     "AB", "abc", "_",    "k0", "K0", "k01",
                           "straße", "STRASSE", "strasse", "strasZ", "é",  "É",   "e",    "aé", "AÉ", "Aé",
                           "aéb",    "a\xff",   "ß",       "SS",     "ss", "ſ",   "\x7f", "Z"};
    auto sign = [](int c) { return (c > 0) - (c < 0); };
    for (const char* a : texts)
        for (const char* b : texts) {
            EXPECT_EQ(sign(text::compare_upper(a, b)), sign(text::to_upper(a).compare(text::to_upper(b))))
                << a << " / " << b;
            EXPECT_EQ(sign(text::compare_lower(a, b)), sign(text::to_lower(a).compare(text::to_lower(b))))
                << a << " / " << b;
        }
}
