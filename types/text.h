// Unicode text helpers over UTF-8: decoding to code points and the ICU-backed
// rules (full case mappings, White_Space, Alphabetic) every subsystem shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::text {

// Decode UTF-8 to Unicode scalar values; an invalid byte becomes U+FFFD.
std::u32string decode_utf8(std::string_view s);
void append_utf8(std::string& out, char32_t c);
std::string encode_utf8(std::u32string_view s);
// Number of Unicode scalar values in `s`.
size_t char_count(std::string_view s);

// Full Unicode case mappings (root locale): "ß" upper-cases to "SS".
std::string to_upper(std::string_view s);
std::string to_lower(std::string_view s);
// The first character of c's full upper-case mapping ("ß" gives "S"): a
// case-blind key that keeps one character per character.
char32_t upper_lead(char32_t c);
// ASCII-only folding, for names that are ASCII by construction.
std::string ascii_upper(std::string_view s);
std::string ascii_lower(std::string_view s);

bool is_white_space(char32_t c);  // Unicode White_Space
bool is_alphabetic(char32_t c);   // Unicode Alphabetic
bool is_number_char(char32_t c);  // general category N*

// Remove Unicode white space from both ends.
std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);
std::string_view trim_end(std::string_view s);

// Case-insensitive equality by full Unicode lower-case mapping.
bool equals_ignore_case(std::string_view a, std::string_view b);

// to_upper(a).compare(to_upper(b)) and the same by to_lower, as a sign:
// ASCII is folded in place, and only the rest from the first non-ASCII
// byte on is mapped, so short ASCII texts compare without a copy.
int compare_upper(std::string_view a, std::string_view b);
int compare_lower(std::string_view a, std::string_view b);

}  // namespace morvane::text
