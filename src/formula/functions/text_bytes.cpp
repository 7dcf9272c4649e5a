// Byte counts and widths: LENB, LEFTB, RIGHTB and MIDB measure and cut text
// as double-byte character sets do, with ASCII one byte wide and every other
// character two; ASC and JIS convert between full-width and half-width forms.
// Texts stay UTF-8: the width is a rule, not an encoding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/text_chars.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

// Full-width ASCII U+FF01..U+FF5E sits at a fixed distance from "!".."~".
constexpr char32_t kFullWidthShift = 0xFEE0;
constexpr char32_t kIdeographicSpace = 0x3000;
constexpr char32_t kHalfWidthKatakana = 0xFF71;  // ｱ, the first of the 45 below

// The plain full-width katakana ア..ン whose half-width forms are U+FF71 +
// index. Small, voiced and semi-voiced kana are not here: ASC keeps them.
constexpr char32_t kKatakana[] = {
    0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7,
    0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD,
    0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4,
    0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3,
};
static_assert(std::size(kKatakana) == 45);

uint64_t width(char32_t c) { return c < 0x80 ? 1 : 2; }

// The characters from the start whose widths add up to at most `bytes`.
size_t take_within(std::u32string_view chars, uint64_t bytes) {
    size_t n = 0;
    for (uint64_t used = 0; n < chars.size() && used + width(chars[n]) <= bytes; ++n) used += width(chars[n]);
    return n;
}

char32_t asc_char(char32_t c) {
    if (c >= 0xFF01 && c <= 0xFF5E) return c - kFullWidthShift;
    if (c == kIdeographicSpace) return U' ';
    const auto* it = std::lower_bound(std::begin(kKatakana), std::end(kKatakana), c);
    if (it != std::end(kKatakana) && *it == c) return kHalfWidthKatakana + static_cast<char32_t>(it - kKatakana);
    return c;
}

char32_t jis_char(char32_t c) {
    if (c >= U'!' && c <= U'~') return c + kFullWidthShift;
    if (c == U' ') return kIdeographicSpace;
    return c;
}

// ASC and JIS: one character written for each character read.
Result<Variant> map_chars(Args args, const EvalCtx& ctx, std::string_view name, char32_t (*map)(char32_t)) {
    TRY_VOID(check_arity(name, args.size(), 1, 1));
    std::u32string chars = text::decode_utf8(TRY(arg_text(args[0], ctx)));
    for (char32_t& c : chars) c = map(c);
    return Variant(text::encode_utf8(chars));
}

// LEFTB (left = true) and RIGHTB: a two-byte character that would straddle
// the limit is left out.
Result<Variant> left_right_b(Args args, const EvalCtx& ctx, std::string_view name, bool left) {
    TRY_VOID(check_arity(name, args.size(), 1, 2));
    std::u32string chars = text::decode_utf8(TRY(arg_text(args[0], ctx)));
    const uint64_t bytes = args.size() > 1 ? TRY(arg_count(args[1], ctx)) : 1;
    if (!left) std::reverse(chars.begin(), chars.end());
    chars.resize(take_within(chars, bytes));
    if (!left) std::reverse(chars.begin(), chars.end());
    return Variant(text::encode_utf8(chars));
}

}  // namespace

Result<Variant> func_lenb(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("LENB", args.size(), 1, 1));
    const std::string s = TRY(arg_text(args[0], ctx));
    int64_t total = 0;
    for (char c : s)
        if (!is_continuation_byte(c)) total += static_cast<unsigned char>(c) < 0x80 ? 1 : 2;
    return Variant(total);
}

Result<Variant> func_leftb(Args args, const EvalCtx& ctx) { return left_right_b(args, ctx, "LEFTB", true); }
Result<Variant> func_rightb(Args args, const EvalCtx& ctx) { return left_right_b(args, ctx, "RIGHTB", false); }

// Characters that begin before the start byte are skipped, a two-byte one
// beginning a byte earlier included; the first one that does not fit ends
// the walk.
Result<Variant> func_midb(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("MIDB", args.size(), 3, 3));
    const std::u32string chars = text::decode_utf8(TRY(arg_text(args[0], ctx)));
    const uint64_t start = TRY(arg_start(args[1], ctx)) - 1;
    const uint64_t bytes = TRY(arg_count(args[2], ctx));
    size_t first = 0;
    for (uint64_t at = 0; first < chars.size() && at < start; ++first) at += width(chars[first]);
    const std::u32string_view rest = std::u32string_view(chars).substr(first);
    return Variant(text::encode_utf8(rest.substr(0, take_within(rest, bytes))));
}

Result<Variant> func_asc(Args args, const EvalCtx& ctx) { return map_chars(args, ctx, "ASC", asc_char); }
Result<Variant> func_jis(Args args, const EvalCtx& ctx) { return map_chars(args, ctx, "JIS", jis_char); }

namespace {
constexpr FuncEntry kTable[] = {
    {"ASC", func_asc},   {"JIS", func_jis},   {"LEFTB", func_leftb},
    {"LENB", func_lenb}, {"MIDB", func_midb}, {"RIGHTB", func_rightb},
};
}  // namespace

std::span<const FuncEntry> text_bytes_functions() { return kTable; }

}  // namespace morvane::eval
