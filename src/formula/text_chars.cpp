// Character positions over UTF-8, single-character case mappings through
// ICU, and the argument and result helpers of the text families.
#include "formula/text_chars.h"

#include <algorithm>
#include <utility>

#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "formula/args.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

using CaseMap = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

// The full mapping of one character, as UTF-16 into `out` (room for 16
// units: the longest full mapping is three characters). Returns its length,
// or 0 when the mapping failed.
int32_t map_one(char32_t c, CaseMap fn, UChar (&out)[16]) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    UChar src[2];
    int32_t n = 0;
    U16_APPEND_UNSAFE(src, n, static_cast<UChar32>(c));
    UErrorCode status = U_ZERO_ERROR;
    int32_t len = fn(out, 16, src, n, "", &status);  // "" is the root locale
    return U_FAILURE(status) ? 0 : len;
}

char32_t first_mapped(char32_t c, CaseMap fn) {
    UChar buf[16];
    int32_t len = map_one(c, fn, buf);
    if (len == 0) return c;
    UChar32 first;
    int32_t i = 0;
    U16_NEXT(buf, i, len, first);
    return static_cast<char32_t>(first);
}

}  // namespace

size_t byte_offset(std::string_view s, uint64_t chars) {
    if (chars >= s.size()) return s.size();  // every character takes a byte at least
    for (size_t i = 0; i < s.size(); ++i) {
        if (is_continuation_byte(s[i])) continue;
        if (chars == 0) return i;
        --chars;
    }
    return s.size();
}

size_t tail_offset(std::string_view s, uint64_t chars) {
    if (chars >= s.size()) return 0;
    size_t i = s.size();
    while (chars > 0 && i > 0) {
        --i;
        if (!is_continuation_byte(s[i])) --chars;
    }
    return i;
}

char32_t first_upper(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
    return first_mapped(c, u_strToUpper);
}

char32_t first_lower(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    return first_mapped(c, u_strToLower);
}

void append_lower(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c));
        return;
    }
    UChar buf[16];
    int32_t len = map_one(c, u_strToLower, buf);
    if (len == 0) {
        text::append_utf8(out, c);
        return;
    }
    for (int32_t i = 0; i < len;) {
        UChar32 m;
        U16_NEXT(buf, i, len, m);
        text::append_utf8(out, static_cast<char32_t>(m));
    }
}

Result<uint64_t> arg_count(const FormulaExpr& arg, const EvalCtx& ctx) {
    const double n = TRY(arg_number(arg, ctx));
    if (n < 0) return propagate(ExcelError::Value);
    return saturate_u64(n);
}

Result<uint64_t> arg_start(const FormulaExpr& arg, const EvalCtx& ctx) {
    const uint64_t start = TRY(arg_count(arg, ctx));
    if (start == 0) return propagate(ExcelError::Value);
    return start;
}

// One result, returned on every path, so that the text moves only once.
Result<Variant> built_text(std::string s, const EvalCtx& ctx) {
    Result<Variant> out(std::in_place, ExcelError::Value);
    if (s.size() > kMaxTextChars && (surely_too_long(s.size()) || text::char_count(s) > kMaxTextChars)) return out;
    out.emplace(std::move(s));
    if (auto charged = charge_text(ctx, *out); !charged) out = std::unexpected(std::move(charged).error());
    return out;
}

}  // namespace morvane::eval
