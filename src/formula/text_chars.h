// Character-level helpers shared by the text function families: positions
// counted in characters over UTF-8, the first character of a character's
// full case mapping, the count and start arguments, and the bound on the
// texts those functions build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formula/args.h"
#include "formula/ast.h"
#include "formula/eval.h"
#include "types/result.h"
#include "types/variant.h"

namespace morvane::eval {

inline bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Byte offset of the character with 0-based index `chars`; s.size() when the
// text is shorter.
size_t byte_offset(std::string_view s, uint64_t chars);
// Byte offset where the last `chars` characters begin; 0 when the text is
// shorter.
size_t tail_offset(std::string_view s, uint64_t chars);

// The first character of the full upper-case (lower-case) mapping of `c` in
// the root locale; `c` itself when it has none. Mappings to several
// characters are cut to their first, so the text keeps its length.
char32_t first_upper(char32_t c);
char32_t first_lower(char32_t c);
// Appends the full lower-case mapping of `c` alone (no context: a capital
// sigma always becomes the medial form).
void append_lower(std::string& out, char32_t c);

// A count argument as an unsigned 64-bit integer: truncated toward zero,
// NaN 0, saturating above; a negative count is #VALUE!.
Result<uint64_t> arg_count(const FormulaExpr& arg, const EvalCtx& ctx);
// A 1-based position (a start, an instance): arg_count, and below 1 #VALUE!.
Result<uint64_t> arg_start(const FormulaExpr& arg, const EvalCtx& ctx);

// A text is surely longer than a cell holds once it has more bytes than the
// longest such text can take (4 per character); lets builders stop early.
inline bool surely_too_long(size_t bytes) { return bytes > 4 * kMaxTextChars; }
// A text a function built as its result: longer than kMaxTextChars
// characters gives #VALUE!, as for "&", and its bytes count against the
// formula's bound on the text it builds.
Result<Variant> built_text(std::string s, const EvalCtx& ctx);

}  // namespace morvane::eval
