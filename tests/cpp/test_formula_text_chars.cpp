// Character positions over UTF-8 and the single-character case mappings of
// the text functions.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "formula/text_chars.h"

using namespace morvane;

namespace {

TEST(TextChars, ByteOffsetCountsCharactersNotBytes) {
    const std::string_view s = "a\u00e9\u65e5\U0001F600b";  // 1 + 2 + 3 + 4 + 1 bytes
    struct Row {
        uint64_t chars;
        size_t offset;
    };
    for (Row r : {Row{0, 0}, Row{1, 1}, Row{2, 3}, Row{3, 6}, Row{4, 10}, Row{5, 11}, Row{6, 11}, Row{UINT64_MAX, 11}})
        EXPECT_EQ(eval::byte_offset(s, r.chars), r.offset) << r.chars;
    for (Row r : {Row{0, 11}, Row{1, 10}, Row{2, 6}, Row{4, 1}, Row{5, 0}, Row{UINT64_MAX, 0}})
        EXPECT_EQ(eval::tail_offset(s, r.chars), r.offset) << r.chars;
    EXPECT_EQ(eval::byte_offset("", 0), 0u);
    EXPECT_EQ(eval::tail_offset("", 3), 0u);
}

TEST(TextChars, FirstCharacterOfFullMappings) {
    EXPECT_EQ(eval::first_upper(U'a'), U'A');
    EXPECT_EQ(eval::first_upper(U'\u00df'), U'S');       // ß -> SS
    EXPECT_EQ(eval::first_upper(U'\u03c2'), U'\u03a3');  // ς -> Σ
    EXPECT_EQ(eval::first_upper(U'\u65e5'), U'\u65e5');  // no mapping
    EXPECT_EQ(eval::first_lower(U'\u0130'), U'i');       // İ -> i + combining dot
    EXPECT_EQ(eval::first_lower(U'\u03a3'), U'\u03c3');  // alone, the medial sigma
    EXPECT_EQ(eval::first_lower(U'\U0001F600'), U'\U0001F600');
}

TEST(TextChars, AppendLowerKeepsTheWholeMapping) {
    std::string out;
    eval::append_lower(out, U'\u0130');
    eval::append_lower(out, U'A');
    eval::append_lower(out, U'\u00c9');
    EXPECT_EQ(out, "i\u0307a\u00e9");
}

}  // namespace
