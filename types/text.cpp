#include "types/text.h"

#include <algorithm>
#include <cstddef>

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace morvane::text {

std::u32string decode_utf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    int32_t i = 0;
    const auto n = static_cast<int32_t>(s.size());
    while (i < n) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        out.push_back(c < 0 ? U'\uFFFD' : static_cast<char32_t>(c));
    }
    return out;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string encode_utf8(std::u32string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t c : s) append_utf8(out, c);
    return out;
}

size_t char_count(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

namespace {

bool is_ascii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::u16string to_utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char32_t c : decode_utf8(s)) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string from_utf16(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        append_utf8(out, c);
    }
    return out;
}

template <class Fn>
std::string map_case(std::string_view s, Fn fn) {
    std::u16string src = to_utf16(s);
    std::u16string dst(src.size() + 8, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t len = fn(reinterpret_cast<UChar*>(dst.data()), static_cast<int32_t>(dst.size()),
                         reinterpret_cast<const UChar*>(src.data()), static_cast<int32_t>(src.size()), "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            dst.assign(static_cast<size_t>(len) + 1, u'\0');
            continue;
        }
        if (U_FAILURE(status)) return std::string(s);
        dst.resize(static_cast<size_t>(len));
        return from_utf16(dst);
    }
    return std::string(s);
}

}  // namespace

std::string ascii_upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::string to_upper(std::string_view s) {
    if (is_ascii(s)) return ascii_upper(s);
    return map_case(s, u_strToUpper);
}

std::string to_lower(std::string_view s) {
    if (is_ascii(s)) return ascii_lower(s);
    return map_case(s, u_strToLower);
}

char32_t upper_lead(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
    std::string one;
    append_utf8(one, c);
    std::u16string src = to_utf16(one);
    UChar dst[8];
    UErrorCode status = U_ZERO_ERROR;
    int32_t len =
        u_strToUpper(dst, 8, reinterpret_cast<const UChar*>(src.data()), static_cast<int32_t>(src.size()), "", &status);
    if (U_FAILURE(status) || len <= 0) return c;
    UChar32 lead;
    int32_t i = 0;
    U16_NEXT(dst, i, len, lead);
    return static_cast<char32_t>(lead);
}

bool is_white_space(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)); }
bool is_alphabetic(char32_t c) { return u_isUAlphabetic(static_cast<UChar32>(c)); }
bool is_number_char(char32_t c) { return (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_N_MASK) != 0; }

namespace {

// Length in bytes of the UTF-8 sequence starting at byte `lead`.
size_t seq_len(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead >> 5) == 0x6) return 2;
    if ((lead >> 4) == 0xE) return 3;
    if ((lead >> 3) == 0x1E) return 4;
    return 1;
}

}  // namespace

namespace {

// ASCII members of White_Space: tab to carriage return, and space.
bool is_ascii_white(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

}  // namespace

std::string_view trim_start(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto lead = static_cast<unsigned char>(s[i]);
        if (lead < 0x80) {
            if (!is_ascii_white(lead)) break;
            ++i;
            continue;
        }
        // Beyond ASCII the rule is ICU's (NEL, no-break and ideographic spaces...).
        size_t len = std::min(seq_len(lead), s.size() - i);
        std::u32string c = decode_utf8(s.substr(i, len));
        if (c.size() != 1 || !is_white_space(c[0])) break;
        i += len;
    }
    return s.substr(i);
}

std::string_view trim_end(std::string_view s) {
    size_t end = s.size();
    while (end > 0) {
        auto last = static_cast<unsigned char>(s[end - 1]);
        if (last < 0x80) {
            if (!is_ascii_white(last)) break;
            --end;
            continue;
        }
        size_t start = end - 1;
        while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && end - start < 4) --start;
        std::u32string c = decode_utf8(s.substr(start, end - start));
        if (c.size() != 1 || !is_white_space(c[0])) break;
        end = start;
    }
    return s.substr(0, end);
}

std::string_view trim(std::string_view s) { return trim_end(trim_start(s)); }

bool equals_ignore_case(std::string_view a, std::string_view b) {
    if (a.size() == b.size() && a == b) return true;
    return compare_lower(a, b) == 0;
}

namespace {

// Root-locale case mappings are context-free, so a common ASCII prefix can
// be folded byte by byte and the mapping of what follows compared apart.
template <char (*Fold)(char), std::string (*Map)(std::string_view)>
int compare_folded(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if ((x | y) & 0x80) {
            // Equal rests map alike: no mapping needed.
            if (a.substr(i) == b.substr(i)) return 0;
            return Map(a.substr(i)).compare(Map(b.substr(i)));
        }
        const auto fx = static_cast<unsigned char>(Fold(static_cast<char>(x)));
        const auto fy = static_cast<unsigned char>(Fold(static_cast<char>(y)));
        if (fx != fy) return fx < fy ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    // The longer one's rest maps to at least one character.
    return a.size() < b.size() ? -1 : 1;
}

char fold_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char fold_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

}  // namespace

int compare_upper(std::string_view a, std::string_view b) { return compare_folded<fold_upper, to_upper>(a, b); }
int compare_lower(std::string_view a, std::string_view b) { return compare_folded<fold_lower, to_lower>(a, b); }

}  // namespace morvane::text
