// Text functions: LEN, LEFT, RIGHT, MID, UPPER, LOWER, PROPER, TRIM, EXACT,
// CONCATENATE, CONCAT, TEXTJOIN, REPT, CHAR (UNICHAR), CODE (UNICODE),
// SUBSTITUTE and REPLACE. Lengths, positions and counts are in characters
// (Unicode scalar values), never bytes; an error value given as text is
// that function's result.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include <unicode/utf8.h>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/text_chars.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kInvalidCode = "CHAR: invalid code {}";
constexpr std::string_view kEmptyCode = "CODE: empty string";

// Appends `piece` to a text being built; false once the text is surely too
// long for a cell, so that joins of huge ranges stop early.
bool append_bounded(std::string& out, std::string_view piece) {
    if (surely_too_long(out.size() + piece.size())) return false;
    out.append(piece);
    return true;
}

// The text of a value taken as a text argument; an error value propagates.
Result<std::string> value_text(const Variant& v) {
    if (v.is_error()) return propagate(v.as_error());
    return to_str(v);
}

// LEFT (left = true) and RIGHT.
Result<Variant> left_right(Args args, const EvalCtx& ctx, std::string_view name, bool left) {
    TRY_VOID(check_arity(name, args.size(), 1, 2));
    std::string s = TRY(arg_text(args[0], ctx));
    const uint64_t n = args.size() > 1 ? TRY(arg_count(args[1], ctx)) : 1;
    if (left) {
        s.resize(byte_offset(s, n));
    } else {
        s.erase(0, tail_offset(s, n));
    }
    return Variant(std::move(s));
}

// UPPER and LOWER: the full mappings of the whole text (lengths may change,
// and a capital sigma ending a word lower-cases to the final form).
Result<Variant> change_case(Args args, const EvalCtx& ctx, std::string_view name,
                            std::string (*map)(std::string_view)) {
    TRY_VOID(check_arity(name, args.size(), 1, 1));
    return Variant(map(TRY(arg_text(args[0], ctx))));
}

// The texts of values joined by `delim`, empty texts dropped when
// `skip_empty`. An error value among them is the result.
class Joiner {
public:
    Joiner(std::string delim, bool skip_empty) : delim_(std::move(delim)), skip_empty_(skip_empty) {}

    Result<void> add(const Variant& v) {
        if (v.is_error()) return propagate(v.as_error());
        if (too_long_) return {};
        std::string piece = to_str(v);
        if (skip_empty_ && piece.empty()) return {};
        if (!first_ && !append_bounded(out_, delim_)) too_long_ = true;
        first_ = false;
        if (!too_long_ && !append_bounded(out_, piece)) too_long_ = true;
        return {};
    }

    Result<Variant> finish(const EvalCtx& ctx) {
        if (too_long_) return Variant(ExcelError::Value);
        return built_text(std::move(out_), ctx);
    }

private:
    std::string delim_;
    bool skip_empty_;
    bool first_ = true;
    bool too_long_ = false;
    std::string out_;
};

// CONCAT and TEXTJOIN: every cell of a range row by row and every element of
// an array, each on its own.
Result<Variant> join_values(Args values, const EvalCtx& ctx, Joiner joiner) {
    TRY_VOID(for_each_value(values, ctx, [&](const Variant& v, ValueSource) { return joiner.add(v); }));
    return joiner.finish(ctx);
}

// Every character position (byte offset) where `old` begins, overlapping
// occurrences included, until the `instance`-th; npos when there are fewer.
size_t nth_occurrence(std::string_view s, std::string_view old, uint64_t instance) {
    for (size_t i = 0; i + old.size() <= s.size(); ++i) {
        if (is_continuation_byte(s[i]) || s.compare(i, old.size(), old) != 0) continue;
        if (--instance == 0) return i;
    }
    return std::string_view::npos;
}

// Every non-overlapping occurrence of `old`, left to right, replaced by `with`.
Result<Variant> replace_all(std::string_view s, std::string_view old, std::string_view with, const EvalCtx& ctx) {
    std::string out;
    size_t from = 0;
    for (size_t at = s.find(old); at != std::string_view::npos; at = s.find(old, from)) {
        if (!append_bounded(out, s.substr(from, at - from)) || !append_bounded(out, with))
            return Variant(ExcelError::Value);
        from = at + old.size();
    }
    if (!append_bounded(out, s.substr(from))) return Variant(ExcelError::Value);
    return built_text(std::move(out), ctx);
}

// `s` with the bytes [from, to) replaced by `with`.
Result<Variant> splice(std::string_view s, size_t from, size_t to, std::string_view with, const EvalCtx& ctx) {
    if (surely_too_long(s.size() - (to - from) + with.size())) return Variant(ExcelError::Value);
    std::string out;
    out.reserve(s.size() - (to - from) + with.size());
    out.append(s.substr(0, from)).append(with).append(s.substr(to));
    return built_text(std::move(out), ctx);
}

}  // namespace

Result<Variant> func_len(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("LEN", args.size(), 1, 1));
    return Variant(static_cast<int64_t>(text::char_count(TRY(arg_text(args[0], ctx)))));
}

Result<Variant> func_left(Args args, const EvalCtx& ctx) { return left_right(args, ctx, "LEFT", true); }
Result<Variant> func_right(Args args, const EvalCtx& ctx) { return left_right(args, ctx, "RIGHT", false); }

Result<Variant> func_mid(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("MID", args.size(), 3, 3));
    std::string s = TRY(arg_text(args[0], ctx));
    const uint64_t start = TRY(arg_start(args[1], ctx));
    const uint64_t count = TRY(arg_count(args[2], ctx));
    const size_t from = byte_offset(s, start - 1);
    const size_t to = from + byte_offset(std::string_view(s).substr(from), count);
    return Variant(s.substr(from, to - from));
}

Result<Variant> func_upper(Args args, const EvalCtx& ctx) { return change_case(args, ctx, "UPPER", text::to_upper); }
Result<Variant> func_lower(Args args, const EvalCtx& ctx) { return change_case(args, ctx, "LOWER", text::to_lower); }

// A word starts after any character that is no letter, so digits,
// apostrophes and hyphens split words: "2nd" is "2Nd", "o'neil" "O'Neil".
Result<Variant> func_proper(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("PROPER", args.size(), 1, 1));
    std::u32string chars = text::decode_utf8(TRY(arg_text(args[0], ctx)));
    bool word_start = true;
    for (char32_t& c : chars) {
        const char32_t original = c;
        c = word_start ? first_upper(c) : first_lower(c);
        word_start = !text::is_alphabetic(original);
    }
    return Variant(text::encode_utf8(chars));
}

// Words separated by runs of any Unicode white space, joined by one blank.
Result<Variant> func_trim(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("TRIM", args.size(), 1, 1));
    const std::string s = TRY(arg_text(args[0], ctx));
    std::string out;
    out.reserve(s.size());
    bool gap = false;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(std::min<size_t>(s.size(), INT32_MAX));
    for (int32_t i = 0; i < n;) {
        const int32_t begin = i;
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c >= 0 && text::is_white_space(static_cast<char32_t>(c))) {
            gap = !out.empty();
            continue;
        }
        if (gap) out.push_back(' ');
        gap = false;
        out.append(s, static_cast<size_t>(begin), static_cast<size_t>(i - begin));
    }
    return Variant(std::move(out));
}

Result<Variant> func_exact(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("EXACT", args.size(), 2, 2));
    const std::string a = TRY(arg_text(args[0], ctx));
    return Variant(a == TRY(arg_text(args[1], ctx)));
}

// Each argument is one value: a range is refused and an array value gives its
// elements joined by ", ". CONCAT is the one that opens ranges and arrays.
Result<Variant> func_concatenate(Args args, const EvalCtx& ctx) {
    std::string out;
    for (const FormulaExpr& arg : args) {
        Variant v = TRY(evaluate(arg, ctx));
        if (!append_bounded(out, TRY(value_text(v)))) return Variant(ExcelError::Value);
    }
    return built_text(std::move(out), ctx);
}

Result<Variant> func_concat(Args args, const EvalCtx& ctx) { return join_values(args, ctx, Joiner("", false)); }

Result<Variant> func_textjoin(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("TEXTJOIN", args.size(), 3, kNoMax));
    std::string delim = TRY(arg_text(args[0], ctx));
    const bool ignore_empty = TRY(arg_truth(args[1], ctx));
    return join_values(args.subspan(2), ctx, Joiner(std::move(delim), ignore_empty));
}

Result<Variant> func_rept(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("REPT", args.size(), 2, 2));
    const std::string s = TRY(arg_text(args[0], ctx));
    const int64_t times = saturate_i64(TRY(arg_number(args[1], ctx)));
    if (times < 0) return Variant(ExcelError::Value);
    if (times == 0 || s.empty()) return Variant(std::string());
    // Refused before building, so that a huge count allocates nothing.
    // A text of stray continuation bytes counts no character: it still
    // takes room, so it counts as one at least.
    const size_t chars = std::max<size_t>(1, text::char_count(s));
    if (static_cast<uint64_t>(times) > kMaxTextChars / chars) return Variant(ExcelError::Value);
    std::string out;
    out.reserve(s.size() * static_cast<size_t>(times));
    for (int64_t i = 0; i < times; ++i) out += s;
    return built_text(std::move(out), ctx);
}

Result<Variant> func_char(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("CHAR", args.size(), 1, 1));
    const uint64_t code = std::min<uint64_t>(saturate_u64(TRY(arg_number(args[0], ctx))), UINT32_MAX);
    if (code >= 0x110000 || (code >= 0xD800 && code <= 0xDFFF))
        return fail(format_message(kInvalidCode, std::to_string(code)));
    std::string out;
    text::append_utf8(out, static_cast<char32_t>(code));
    return Variant(std::move(out));
}

Result<Variant> func_code(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("CODE", args.size(), 1, 1));
    const std::string s = TRY(arg_text(args[0], ctx));
    if (s.empty()) return fail(std::string(kEmptyCode));
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    int32_t i = 0;
    UChar32 c;
    U8_NEXT(p, i, static_cast<int32_t>(std::min<size_t>(s.size(), 4)), c);
    return Variant(static_cast<int64_t>(c < 0 ? 0xFFFD : c));
}

// With an instance, occurrences are counted at every character, overlapping
// ones included: SUBSTITUTE("aaa","aa","b",2) is "ab".
Result<Variant> func_substitute(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("SUBSTITUTE", args.size(), 3, 4));
    std::string s = TRY(arg_text(args[0], ctx));
    const std::string old = TRY(arg_text(args[1], ctx));
    const std::string with = TRY(arg_text(args[2], ctx));
    if (old.empty()) return Variant(std::move(s));
    if (args.size() < 4) return replace_all(s, old, with, ctx);
    const uint64_t instance = TRY(arg_start(args[3], ctx));
    const size_t at = nth_occurrence(s, old, instance);
    if (at == std::string::npos) return Variant(std::move(s));
    return splice(s, at, at + old.size(), with, ctx);
}

Result<Variant> func_replace(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("REPLACE", args.size(), 4, 4));
    const std::string s = TRY(arg_text(args[0], ctx));
    const uint64_t start = TRY(arg_start(args[1], ctx));
    const uint64_t count = TRY(arg_count(args[2], ctx));
    const std::string with = TRY(arg_text(args[3], ctx));
    // A start beyond the end appends; the span removed stops at the end.
    const size_t from = byte_offset(s, start - 1);
    const size_t to = from + byte_offset(std::string_view(s).substr(from), count);
    return splice(s, from, to, with, ctx);
}

namespace {
constexpr FuncEntry kTable[] = {
    {"CHAR", func_char},         {"CODE", func_code},
    {"CONCAT", func_concat},     {"CONCATENATE", func_concatenate},
    {"EXACT", func_exact},       {"LEFT", func_left},
    {"LEN", func_len},           {"LOWER", func_lower},
    {"MID", func_mid},           {"PROPER", func_proper},
    {"REPLACE", func_replace},   {"REPT", func_rept},
    {"RIGHT", func_right},       {"SUBSTITUTE", func_substitute},
    {"TEXTJOIN", func_textjoin}, {"TRIM", func_trim},
    {"UNICHAR", func_char},      {"UNICODE", func_code},
    {"UPPER", func_upper},
};
}  // namespace

std::span<const FuncEntry> text_functions() { return kTable; }

}  // namespace morvane::eval
