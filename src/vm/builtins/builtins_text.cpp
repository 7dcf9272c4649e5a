// Text built-ins: Len, Left, Right, Mid, InStr, Replace, Trim, LTrim,
// RTrim, UCase, LCase, Chr, Asc, Split and Join. Lengths and positions
// count characters (Unicode scalar values), never bytes; searches run in
// linear time so that a long text cannot stall a macro.
#include <string.h>  // memmem

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "types/text.h"
#include "vm/builtins/builtins.h"
#include "vm/mod.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kLenArgs = "Len requires 1 argument";
constexpr std::string_view kLeftArgs = "Left requires 2 arguments";
constexpr std::string_view kRightArgs = "Right requires 2 arguments";
constexpr std::string_view kMidArgs = "Mid requires at least 2 arguments";
constexpr std::string_view kInStrArgs = "InStr requires at least 2 arguments";
constexpr std::string_view kReplaceArgs = "Replace requires at least 3 arguments";
constexpr std::string_view kTrimArgs = "Trim requires 1 argument";
constexpr std::string_view kLTrimArgs = "LTrim requires 1 argument";
constexpr std::string_view kRTrimArgs = "RTrim requires 1 argument";
constexpr std::string_view kUCaseArgs = "UCase requires 1 argument";
constexpr std::string_view kLCaseArgs = "LCase requires 1 argument";
constexpr std::string_view kChrArgs = "Chr requires 1 argument";
constexpr std::string_view kAscArgs = "Asc requires 1 argument";
constexpr std::string_view kSplitArgs = "Split requires at least 1 argument";
constexpr std::string_view kJoinArgs = "Join requires at least 1 argument";
constexpr std::string_view kChrInvalid = "Chr: invalid code {}";
constexpr std::string_view kAscEmpty = "Asc: empty string";
constexpr std::string_view kSplitTooLarge = "Split result is too large ({} pieces; the limit is {})";

// Byte offset after the first `n` characters of `s` (its size when shorter).
size_t skip_chars(std::string_view s, uint64_t n) {
    size_t i = 0;
    for (; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && n-- == 0) return i;
    return i;
}

// The first `n` characters of `s`.
std::string_view take_chars(std::string_view s, uint64_t n) { return s.substr(0, skip_chars(s, n)); }

// First byte offset of `needle` (not empty) in `hay` at or after `from`;
// npos when none. memmem is linear; it runs on windows that double from
// twice the needle's size, so a search reads about as far as its match and
// scanning for many matches stays linear even where every memmem call costs
// the whole span it is given (sanitizer builds check that span). Matches of
// valid UTF-8 in valid UTF-8 always start on a character.
size_t find_text(std::string_view hay, std::string_view needle, size_t from) {
    size_t window = 2 * needle.size() + 64;
    while (from <= hay.size() && hay.size() - from >= needle.size()) {
        const size_t len = std::min(window, hay.size() - from);
        if (const void* at = memmem(hay.data() + from, len, needle.data(), needle.size()))
            return static_cast<size_t>(static_cast<const char*>(at) - hay.data());
        if (len == hay.size() - from) break;
        // The next window starts where a match not wholly in this one could.
        from += len - needle.size() + 1;
        window *= 2;
    }
    return std::string_view::npos;
}

// Each character replaced by the lead of its upper-case mapping: one
// character stays one character, so positions carry over.
std::string search_key(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t c : text::decode_utf8(s)) text::append_utf8(out, text::upper_lead(c));
    return out;
}

Variant count_variant(uint64_t n) { return Variant(static_cast<int64_t>(std::min<uint64_t>(n, INT64_MAX))); }

Result<Variant> len(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kLenArgs));
    const Variant& v = a[0];
    if (v.is_empty()) return Variant(int64_t{0});
    return count_variant(text::char_count(v.is_str() ? v.as_str() : v.to_string()));
}

Result<Variant> left(BuiltinArgs a) {
    TRY_VOID(need_args(a, 2, kLeftArgs));
    const std::string s = take_text(a[0]);
    return Variant(take_chars(s, TRY(to_count(a[1]))));
}

Result<Variant> right(BuiltinArgs a) {
    TRY_VOID(need_args(a, 2, kRightArgs));
    std::string s = take_text(a[0]);
    const uint64_t n = TRY(to_count(a[1]));
    const size_t total = text::char_count(s);
    if (n >= total) return Variant(std::move(s));
    return Variant(std::string_view(s).substr(skip_chars(s, total - n)));
}

Result<Variant> mid(BuiltinArgs a) {
    TRY_VOID(need_args(a, 2, kMidArgs));
    const std::string s = take_text(a[0]);
    const uint64_t start = TRY(to_count(a[1]));
    const uint64_t length = a.size() > 2 ? TRY(to_count(a[2])) : UINT64_MAX;
    const std::string_view rest = std::string_view(s).substr(skip_chars(s, std::max<uint64_t>(start, 1) - 1));
    return Variant(take_chars(rest, length));
}

// Case-blind search from a 1-based start: InStr([start,] haystack, needle).
Result<Variant> instr(BuiltinArgs a) {
    TRY_VOID(need_args(a, 2, kInStrArgs));
    const bool has_start = a.size() > 2;
    const uint64_t start = has_start ? TRY(to_count(a[0])) : 1;
    const std::string hay = take_text(a[has_start ? 1 : 0]);
    const std::string needle = take_text(a[has_start ? 2 : 1]);
    if (needle.empty()) return count_variant(start);
    const uint64_t skip = std::max<uint64_t>(start, 1) - 1;
    const size_t from = skip_chars(hay, skip);
    if (from == hay.size()) return Variant(int64_t{0});
    const std::string key = search_key(std::string_view(hay).substr(from));
    const size_t at = find_text(key, search_key(needle), 0);
    if (at == std::string::npos) return Variant(int64_t{0});
    return count_variant(skip + text::char_count(std::string_view(key).substr(0, at)) + 1);
}

// Every occurrence, left to right and case-exact; an empty find changes
// nothing. The result's size is known before it is built, so a result too
// long fails before any of it is allocated.
Result<Variant> replace(BuiltinArgs a) {
    TRY_VOID(need_args(a, 3, kReplaceArgs));
    std::string s = take_text(a[0]);
    const std::string find = take_text(a[1]);
    const std::string with = take_text(a[2]);
    if (find.empty()) return Variant(std::move(s));
    uint64_t hits = 0;
    for (size_t at = find_text(s, find, 0); at != std::string::npos; at = find_text(s, find, at + find.size())) ++hits;
    if (hits == 0) return Variant(std::move(s));
    using Wide = unsigned __int128;
    const Wide size = Wide{s.size() - hits * find.size()} + Wide{hits} * with.size();
    if (size > kMaxTextLen) return fail(std::string(kOutOfStringSpace));
    std::string out;
    out.reserve(static_cast<size_t>(size));
    size_t done = 0;
    for (size_t at = find_text(s, find, 0); at != std::string::npos; at = find_text(s, find, done)) {
        out.append(s, done, at - done).append(with);
        done = at + find.size();
    }
    out.append(s, done);
    return Variant(std::move(out));
}

template <const std::string_view& kMessage, std::string_view (*Trim)(std::string_view)>
Result<Variant> trimmed(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kMessage));
    return Variant(Trim(take_text(a[0])));
}

template <const std::string_view& kMessage, std::string (*Map)(std::string_view)>
Result<Variant> mapped(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kMessage));
    std::string out = Map(take_text(a[0]));
    // Full mappings can grow a text up to threefold.
    if (out.size() > kMaxTextLen) return fail(std::string(kOutOfStringSpace));
    return Variant(std::move(out));
}

Result<Variant> chr(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kChrArgs));
    const uint32_t code = saturate_u32(std::trunc(TRY(to_f64(a[0]))));
    if (code >= 0x110000 || (code >= 0xD800 && code <= 0xDFFF))
        return fail(format_message(kChrInvalid, std::to_string(code)));
    std::string out;
    text::append_utf8(out, code);
    return Variant(std::move(out));
}

Result<Variant> asc(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kAscArgs));
    const std::string s = take_text(a[0]);
    if (s.empty()) return fail(std::string(kAscEmpty));
    return Variant(int64_t{text::decode_utf8(std::string_view(s).substr(0, skip_chars(s, 1)))[0]});
}

// Split(text[, delimiter]): the pieces between exact occurrences; an empty
// delimiter matches before every character and at the end.
Result<Variant> split(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kSplitArgs));
    const std::string s = take_text(a[0]);
    const std::string delim = a.size() > 1 ? take_text(a[1]) : std::string(" ");
    if (s.empty()) return Variant(Array{Variant("")});
    uint64_t pieces = 1;
    if (delim.empty())
        pieces = text::char_count(s) + 2;
    else
        for (size_t at = find_text(s, delim, 0); at != std::string::npos; at = find_text(s, delim, at + delim.size()))
            ++pieces;
    if (pieces > Vm::kMaxArrayLen)
        return fail(format_message(kSplitTooLarge, std::to_string(pieces), std::to_string(Vm::kMaxArrayLen)));
    Array out;
    out.reserve(pieces);
    if (delim.empty()) {
        out.emplace_back("");
        for (size_t i = 0; i < s.size();) {
            const size_t n = skip_chars(std::string_view(s).substr(i), 1);
            out.emplace_back(std::string_view(s).substr(i, n));
            i += n;
        }
        out.emplace_back("");
        return Variant(std::move(out));
    }
    size_t done = 0;
    for (size_t at = find_text(s, delim, 0); at != std::string::npos; at = find_text(s, delim, done)) {
        out.emplace_back(std::string_view(s).substr(done, at - done));
        done = at + delim.size();
    }
    out.emplace_back(std::string_view(s).substr(done));
    return Variant(std::move(out));
}

Result<Variant> join(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kJoinArgs));
    const std::string delim = a.size() > 1 ? take_text(a[1]) : std::string(" ");
    if (!a[0].is_array()) return Variant(take_text(a[0]));
    std::string out;
    bool first = true;
    for (const Variant& item : a[0].as_array()) {
        if (!first) TRY_VOID(append_text(out, delim));
        first = false;
        TRY_VOID(append_text(out, vba_to_str(item)));
    }
    return Variant(std::move(out));
}

constexpr Builtin kTable[] = {
    {"asc", pure<asc>},
    {"chr", pure<chr>},
    {"instr", pure<instr>},
    {"join", pure<join>},
    {"lcase", pure<mapped<kLCaseArgs, text::to_lower>>},
    {"left", pure<left>},
    {"len", pure<len>},
    {"ltrim", pure<trimmed<kLTrimArgs, text::trim_start>>},
    {"mid", pure<mid>},
    {"replace", pure<replace>},
    {"right", pure<right>},
    {"rtrim", pure<trimmed<kRTrimArgs, text::trim_end>>},
    {"split", pure<split>},
    {"trim", pure<trimmed<kTrimArgs, text::trim>>},
    {"ucase", pure<mapped<kUCaseArgs, text::to_upper>>},
};

}  // namespace

std::span<const Builtin> text_builtins() { return kTable; }

}  // namespace morvane::vm
