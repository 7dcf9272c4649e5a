// Text search and splitting: FIND (exact), SEARCH (any case, with the
// wildcards * and ?), TEXTBEFORE and TEXTAFTER (around the n-th occurrence
// of a delimiter) and TEXTSPLIT. Positions are 1-based and in characters; a
// text that is not there is #VALUE! for FIND and SEARCH, so ISNUMBER(SEARCH())
// can test for it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/text_chars.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kEmptyDelimiter = "{}: delimiter cannot be empty";
constexpr std::string_view kSplitTooLarge = "TEXTSPLIT result too large ({} cells); maximum is 1,000,000";

// ---- SEARCH ---------------------------------------------------------------

// The pattern cut at its stars: `head` must match where the match starts,
// then each of `rest` somewhere after the previous piece, in order. A star
// ends every pattern implicitly, since it only has to match a prefix.
struct Pattern {
    std::u32string head;
    std::vector<std::u32string> rest;
};

Pattern split_pattern(const std::u32string& p) {
    Pattern out;
    size_t star = p.find(U'*');
    out.head = p.substr(0, star);
    while (star != std::u32string::npos) {
        const size_t next = p.find(U'*', star + 1);
        std::u32string piece = p.substr(star + 1, next == std::u32string::npos ? next : next - star - 1);
        if (!piece.empty()) out.rest.push_back(std::move(piece));
        star = next;
    }
    return out;
}

bool matches_at(std::u32string_view text, size_t at, std::u32string_view piece) {
    if (piece.size() > text.size() - at) return false;
    for (size_t k = 0; k < piece.size(); ++k)
        if (piece[k] != U'?' && piece[k] != text[at + k]) return false;
    return true;
}

// The first position >= from where `piece` matches, or npos.
size_t find_piece(std::u32string_view text, size_t from, std::u32string_view piece) {
    if (piece.find(U'?') == std::u32string_view::npos) return text.find(piece, from);
    for (size_t at = from; at + piece.size() <= text.size(); ++at)
        if (matches_at(text, at, piece)) return at;
    return std::u32string_view::npos;
}

// The first start >= from where the pattern matches a prefix of what
// follows. Taking each later piece at its leftmost place is never worse, and
// if the pieces after the head fail for one start they fail for every later
// one, so one pass decides.
size_t wildcard_find(std::u32string_view text, size_t from, const Pattern& p) {
    const size_t start = find_piece(text, from, p.head);
    if (start == std::u32string_view::npos) return start;
    size_t at = start + p.head.size();
    for (const std::u32string& piece : p.rest) {
        const size_t found = find_piece(text, at, piece);
        if (found == std::u32string_view::npos) return found;
        at = found + piece.size();
    }
    return start;
}

std::u32string folded_chars(std::string_view s) {
    std::u32string chars = text::decode_utf8(s);
    for (char32_t& c : chars) c = static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
    return chars;
}

// ---- Occurrences of a delimiter -------------------------------------------

// A byte range of the original text.
struct Span {
    size_t begin, end;
};

// A text lower-cased character by character, with the way back from each of
// its bytes to the character it came from, so that matches found in the copy
// cut the original whole characters only.
struct Folded {
    std::string text;
    std::vector<size_t> char_of;  // per byte of `text`: index of its character
    std::vector<size_t> orig_at;  // per character, and one past the last: byte offset in the original
    std::vector<size_t> fold_at;  // the same, in `text`
};

Folded fold(std::string_view s) {
    Folded f;
    f.text.reserve(s.size());
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(std::min<size_t>(s.size(), INT32_MAX));
    for (int32_t i = 0; i < n;) {
        f.orig_at.push_back(static_cast<size_t>(i));
        f.fold_at.push_back(f.text.size());
        UChar32 c;
        U8_NEXT(p, i, n, c);
        append_lower(f.text, c < 0 ? U'\uFFFD' : static_cast<char32_t>(c));
        f.char_of.resize(f.text.size(), f.orig_at.size() - 1);
    }
    f.orig_at.push_back(s.size());
    f.fold_at.push_back(f.text.size());
    return f;
}

std::string fold_text(std::string_view s) { return fold(s).text; }

// Every occurrence of `delim` in `s`, left to right without overlap; with
// `any_case`, of its lower-case form in the lower-cased text.
std::vector<Span> occurrences(std::string_view s, std::string_view delim, bool any_case) {
    std::vector<Span> out;
    if (!any_case) {
        for (size_t at = s.find(delim); at != std::string_view::npos; at = s.find(delim, at + delim.size()))
            out.push_back({at, at + delim.size()});
        return out;
    }
    const Folded f = fold(s);
    const std::string d = fold_text(delim);
    for (size_t at = f.text.find(d); at != std::string::npos;) {
        const size_t first = f.char_of[at], last = f.char_of[at + d.size() - 1];
        out.push_back({f.orig_at[first], f.orig_at[last + 1]});
        at = f.text.find(d, f.fold_at[last + 1]);
    }
    return out;
}

// The pieces of `s` between the occurrences of `delim`.
std::vector<std::string_view> split(std::string_view s, std::string_view delim, bool any_case, bool skip_empty) {
    std::vector<std::string_view> pieces;
    size_t from = 0;
    auto keep = [&](size_t to) {
        if (!skip_empty || to > from) pieces.push_back(s.substr(from, to - from));
    };
    for (const Span& cut : occurrences(s, delim, any_case)) {
        keep(cut.begin);
        from = cut.end;
    }
    keep(s.size());
    return pieces;
}

// FIND and SEARCH: the within text and the first position examined
// (0-based; a start below 1 is #VALUE!).
struct Within {
    std::string text;
    uint64_t from;
};

Result<Within> within_args(Args args, const EvalCtx& ctx) {
    std::string text = TRY(arg_text(args[1], ctx));
    const uint64_t start = args.size() > 2 ? TRY(arg_start(args[2], ctx)) : 1;
    return Within{std::move(text), start - 1};
}

Variant position(size_t index) { return Variant(static_cast<int64_t>(index) + 1); }

}  // namespace

Result<Variant> func_find(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("FIND", args.size(), 2, 3));
    const std::string needle = TRY(arg_text(args[0], ctx));
    const Within w = TRY(within_args(args, ctx));
    if (w.from > text::char_count(w.text)) return Variant(ExcelError::Value);
    // A match of whole UTF-8 characters can only begin on a character boundary.
    const size_t at = w.text.find(needle, byte_offset(w.text, w.from));
    if (at == std::string::npos) return Variant(ExcelError::Value);
    return position(text::char_count(std::string_view(w.text).substr(0, at)));
}

// Pattern and text are case-folded character by character (simple folding,
// one character for one), so the text keeps its length, positions stay its
// own, and "ß" finds "ß" but not "s".
Result<Variant> func_search(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("SEARCH", args.size(), 2, 3));
    const Pattern pattern = split_pattern(folded_chars(TRY(arg_text(args[0], ctx))));
    const Within w = TRY(within_args(args, ctx));
    const std::u32string chars = folded_chars(w.text);
    if (w.from > chars.size()) return Variant(ExcelError::Value);
    const size_t at = wildcard_find(chars, static_cast<size_t>(w.from), pattern);
    if (at == std::u32string::npos) return Variant(ExcelError::Value);
    return position(at);
}

// TEXTBEFORE (before = true) and TEXTAFTER. A negative instance counts from
// the end among the same left-to-right occurrences.
Result<Variant> text_before_after(Args args, const EvalCtx& ctx, bool before, std::string_view name) {
    TRY_VOID(check_arity(name, args.size(), 2, kNoMax));
    const std::string s = TRY(arg_text(args[0], ctx));
    const std::string delim = TRY(arg_text(args[1], ctx));
    if (delim.empty()) return fail(format_message(kEmptyDelimiter, name));
    const int64_t instance = args.size() > 2 ? saturate_i64(TRY(arg_number(args[2], ctx))) : 1;
    const bool any_case = args.size() > 3 && TRY(arg_truth(args[3], ctx));
    // Instance 0 names no occurrence.
    if (instance == 0) return Variant(ExcelError::Value);

    const std::vector<Span> found = occurrences(s, delim, any_case);
    const auto count = static_cast<int64_t>(found.size());
    int64_t pick = -1;
    if (instance >= 1 && instance <= count) pick = instance - 1;
    if (instance < 0 && instance >= -count) pick = count + instance;
    if (pick < 0) {
        if (args.size() >= 6) return evaluate(args[5], ctx);
        return Variant(ExcelError::NA);
    }
    const Span& cut = found[static_cast<size_t>(pick)];
    return Variant(before ? s.substr(0, cut.begin) : s.substr(cut.end));
}

Result<Variant> func_textbefore(Args args, const EvalCtx& ctx) {
    return text_before_after(args, ctx, true, "TEXTBEFORE");
}

Result<Variant> func_textafter(Args args, const EvalCtx& ctx) {
    return text_before_after(args, ctx, false, "TEXTAFTER");
}

// Rows cut at the row delimiter (when given and not empty), each row at the
// column delimiter. Several rows flatten row by row; shorter rows are padded
// to the widest with pad_with, #N/A when it is absent.
Result<Variant> func_textsplit(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("TEXTSPLIT", args.size(), 2, kNoMax));
    const std::string s = TRY(arg_text(args[0], ctx));
    const std::string col_delim = TRY(arg_text(args[1], ctx));
    if (col_delim.empty()) return fail(format_message(kEmptyDelimiter, "TEXTSPLIT"));
    const std::string row_delim = args.size() > 2 ? TRY(arg_text(args[2], ctx)) : std::string();
    const bool skip_empty = args.size() > 3 && TRY(arg_truth(args[3], ctx));
    const bool any_case = args.size() > 4 && TRY(arg_truth(args[4], ctx));

    std::vector<std::vector<std::string_view>> rows;
    size_t width = 0;
    const std::vector<std::string_view> lines =
        row_delim.empty() ? std::vector<std::string_view>{s} : split(s, row_delim, any_case, skip_empty);
    for (std::string_view line : lines) {
        rows.push_back(split(line, col_delim, any_case, skip_empty));
        width = std::max(width, rows.back().size());
    }
    // Padding can make a short text into many cells: bound them like a range.
    const uint64_t total = static_cast<uint64_t>(rows.size()) * width;
    if (total > kMaxRangeCells) return fail(format_message(kSplitTooLarge, std::to_string(total)));
    Variant pad(ExcelError::NA);
    if (args.size() > 5 && std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.size() < width; }))
        pad = TRY(evaluate(args[5], ctx));

    std::vector<Variant> cells;
    cells.reserve(rows.size() * width);
    for (const auto& row : rows) {
        for (std::string_view piece : row) cells.emplace_back(std::string(piece));
        cells.resize(cells.size() + (width - row.size()), pad);
    }
    Variant result = list_result(std::move(cells));
    TRY_VOID(charge_elements(ctx, result));
    TRY_VOID(charge_text(ctx, result));
    return result;
}

namespace {
constexpr FuncEntry kTable[] = {
    {"FIND", func_find},           {"SEARCH", func_search},
    {"TEXTAFTER", func_textafter}, {"TEXTBEFORE", func_textbefore},
    {"TEXTSPLIT", func_textsplit},
};
}  // namespace

std::span<const FuncEntry> text_search_functions() { return kTable; }

}  // namespace morvane::eval
