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
#include <vector>

#include "types/text.h"
#include "vm/builtins/builtins.h"
#include "vm/mod.h"
#include "values/num.h"
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

// The text of an argument read in place: its own when it is a text, else
// its VBA text form, kept in `scratch`.
const std::string& text_arg(const Variant& v, std::string& scratch) {
    if (v.is_str()) return v.as_str();
    scratch = vba_to_str(v);
    return scratch;
}

// A count argument as to_count reads it; an Integer within 2^53 (every
// count a loop passes) without the rounding.
Result<uint64_t> count_arg(const Variant& v) {
    if (v.is_int() && v.as_int() <= k2p53) return v.as_int() < 0 ? 0 : static_cast<uint64_t>(v.as_int());
    return to_count(v);
}

// `s` into `out`, in the text `out` holds when it holds one.
void put_text(Variant& out, std::string_view s) {
    if (out.is_str())
        out.as_str().assign(s);
    else
        out.emplace<std::string>(s);
}

Result<void> len(ArgRefs a, Variant& out) {
    TRY_VOID(need_args(a, 1, kLenArgs));
    const Variant& v = *a[0];
    if (v.is_empty()) {
        out = int64_t{0};
        return {};
    }
    out = count_variant(text::char_count(v.is_str() ? v.as_str() : vba_display_text(v)));
    return {};
}

Result<void> left(ArgRefs a, Variant& out) {
    TRY_VOID(need_args(a, 2, kLeftArgs));
    std::string scratch;
    const std::string_view s = text_arg(*a[0], scratch);
    const uint64_t n = TRY(count_arg(*a[1]));
    put_text(out, s.substr(0, skip_chars(s, n)));
    return {};
}

Result<void> right(ArgRefs a, Variant& out) {
    TRY_VOID(need_args(a, 2, kRightArgs));
    std::string scratch;
    const std::string_view s = text_arg(*a[0], scratch);
    const uint64_t n = TRY(count_arg(*a[1]));
    const size_t total = text::char_count(s);
    put_text(out, n >= total ? s : s.substr(skip_chars(s, total - n)));
    return {};
}

Result<void> mid(ArgRefs a, Variant& out) {
    TRY_VOID(need_args(a, 2, kMidArgs));
    std::string scratch;
    std::string_view s = text_arg(*a[0], scratch);
    const uint64_t start = TRY(count_arg(*a[1]));
    const uint64_t length = a.size() > 2 ? TRY(count_arg(*a[2])) : UINT64_MAX;
    s.remove_prefix(skip_chars(s, std::max<uint64_t>(start, 1) - 1));
    put_text(out, s.substr(0, skip_chars(s, length)));
    return {};
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

// The occurrences of a text in another, left to right, exact or ignoring
// case. Ignoring case searches the texts' search keys, which keep every
// character's position: a cursor walks the text and its key side by side
// to carry a match back, so the searches of one pass cost one walk.
class Matcher {
public:
    Matcher(std::string_view s, std::string_view find, bool ignore_case)
        : s_(s), find_(find), ignore_case_(ignore_case) {
        if (!ignore_case) return;
        key_ = search_key(s);
        needle_ = search_key(find);
        find_chars_ = text::char_count(find);
    }
    // The first match at or after byte `from` of the text (a character
    // start): its first byte, with its end in `end`; npos when none.
    size_t next(size_t from, size_t& end) {
        if (!ignore_case_) {
            const size_t at = find_text(s_, find_, from);
            end = at + find_.size();
            return at;
        }
        if (from < s_at_) s_at_ = key_at_ = 0;
        while (s_at_ < from) step();
        const size_t k = find_text(key_, needle_, key_at_);
        if (k == std::string::npos) return k;
        while (key_at_ < k) step();
        const size_t at = s_at_;
        for (size_t i = 0; i < find_chars_; ++i) step();
        end = s_at_;
        return at;
    }

private:
    // Moves both cursors one character on.
    void step() {
        s_at_ += skip_chars(std::string_view(s_).substr(s_at_), 1);
        key_at_ += skip_chars(std::string_view(key_).substr(key_at_), 1);
    }
    std::string_view s_, find_;
    bool ignore_case_;
    std::string key_, needle_;
    size_t find_chars_ = 0;
    size_t s_at_ = 0, key_at_ = 0;
};

// The compare argument: 0 (vbBinaryCompare) or -1 exact, 1 (vbTextCompare)
// ignoring case.
Result<bool> ignores_case(BuiltinArgs a, size_t i) {
    if (a.size() <= i) return false;
    const int64_t mode = TRY(to_whole(a[i]));
    if (mode < -1 || mode > 1) return fail(std::string(kInvalidCall));
    return mode == 1;
}

// Replace(text, find, with[, start[, count[, compare]]]): the text from
// `start` on, with the first `count` occurrences (all for -1) replaced. The
// result's size is known before it is built, so a result too long fails
// before any of it is allocated.
Result<Variant> replace(BuiltinArgs a) {
    TRY_VOID(need_args(a, 3, kReplaceArgs));
    std::string s = take_text(a[0]);
    const std::string find = take_text(a[1]);
    const std::string with = take_text(a[2]);
    const int64_t start = a.size() > 3 ? TRY(to_whole(a[3])) : 1;
    const int64_t count = a.size() > 4 ? TRY(to_whole(a[4])) : -1;
    const bool ignore_case = TRY(ignores_case(a, 5));
    if (start < 1 || count < -1) return fail(std::string(kInvalidCall));
    if (start > 1) s.erase(0, skip_chars(s, static_cast<uint64_t>(start - 1)));
    if (find.empty() || count == 0) return Variant(std::move(s));
    const uint64_t limit = count < 0 ? UINT64_MAX : static_cast<uint64_t>(count);
    Matcher matcher(s, find, ignore_case);
    uint64_t hits = 0;
    size_t end = 0, removed = 0;
    for (size_t at = matcher.next(0, end); at != std::string::npos && hits < limit; at = matcher.next(end, end)) {
        ++hits;
        removed += end - at;
    }
    if (hits == 0) return Variant(std::move(s));
    using Wide = unsigned __int128;
    const Wide size = Wide{s.size() - removed} + Wide{hits} * with.size();
    if (size > kMaxTextLen) return fail(std::string(kOutOfStringSpace));
    std::string out;
    out.reserve(static_cast<size_t>(size));
    size_t done = 0;
    for (uint64_t n = 0; n < hits; ++n) {
        const size_t at = matcher.next(done, end);
        out.append(s, done, at - done).append(with);
        done = end;
    }
    out.append(s, done);
    return Variant(std::move(out));
}

template <const std::string_view& kMessage, std::string_view (*Trim)(std::string_view)>
Result<void> trimmed(ArgRefs a, Variant& out) {
    TRY_VOID(need_args(a, 1, kMessage));
    std::string scratch;
    put_text(out, Trim(text_arg(*a[0], scratch)));
    return {};
}

template <const std::string_view& kMessage, std::string (*Map)(std::string_view)>
Result<void> mapped(ArgRefs a, Variant& out) {
    TRY_VOID(need_args(a, 1, kMessage));
    std::string scratch;
    std::string mapped = Map(text_arg(*a[0], scratch));
    // Full mappings can grow a text up to threefold.
    if (mapped.size() > kMaxTextLen) return fail(std::string(kOutOfStringSpace));
    out = std::move(mapped);
    return {};
}

Result<Variant> chr(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kChrArgs));
    const uint32_t code = saturate_u32(std::round(TRY(to_f64(a[0]))));
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

// Split(text[, delimiter[, limit[, compare]]]): the pieces between the
// occurrences of the delimiter; with a limit, at most that many, the last
// holding the rest. An empty text (or a limit of 0) gives an empty array,
// an empty delimiter the whole text as one piece.
Result<Variant> split(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kSplitArgs));
    const std::string s = take_text(a[0]);
    const std::string delim = a.size() > 1 ? take_text(a[1]) : std::string(" ");
    const int64_t limit = a.size() > 2 ? TRY(to_whole(a[2])) : -1;
    const bool ignore_case = TRY(ignores_case(a, 3));
    if (limit < -1) return fail(std::string(kInvalidCall));
    if (s.empty() || limit == 0) return Variant(Array{});
    if (delim.empty()) return Variant(Array{Variant(s)});
    const uint64_t most = limit < 0 ? UINT64_MAX : static_cast<uint64_t>(limit);
    Matcher matcher(s, delim, ignore_case);
    uint64_t pieces = 1;
    size_t end = 0;
    for (size_t at = matcher.next(0, end); at != std::string::npos && pieces < most; at = matcher.next(end, end))
        ++pieces;
    if (pieces > Vm::kMaxArrayLen)
        return fail(format_message(kSplitTooLarge, std::to_string(pieces), std::to_string(Vm::kMaxArrayLen)));
    Array out;
    out.reserve(pieces);
    size_t done = 0;
    for (uint64_t n = 1; n < pieces; ++n) {
        const size_t at = matcher.next(done, end);
        out.emplace_back(std::string_view(s).substr(done, at - done));
        done = end;
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
    reading<mapped<kLCaseArgs, text::to_lower>>("lcase"),
    reading<left>("left"),
    reading<len>("len"),
    reading<trimmed<kLTrimArgs, text::trim_start>>("ltrim"),
    reading<mid>("mid"),
    {"replace", pure<replace>},
    reading<right>("right"),
    reading<trimmed<kRTrimArgs, text::trim_end>>("rtrim"),
    {"split", pure<split>},
    reading<trimmed<kTrimArgs, text::trim>>("trim"),
    reading<mapped<kUCaseArgs, text::to_upper>>("ucase"),
};

}  // namespace

std::span<const Builtin> text_builtins() { return kTable; }

}  // namespace morvane::vm
