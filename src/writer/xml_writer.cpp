#include "writer/xml_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include "formula/eval.h"
#include "writer/writer.h"

namespace morvane::writer {

void append_escaped(std::string& out, std::string_view s) {
    for (;;) {
        size_t special = s.find_first_of("&<>\"'\r");
        out.append(s.substr(0, special));
        if (special == std::string_view::npos) return;
        switch (s[special]) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\r': out += "&#13;"; break;
            default: out += "&apos;"; break;
        }
        s.remove_prefix(special + 1);
    }
}

namespace {

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// An _xHHHH_ escape starts at the front of `s`.
bool escape_ahead(std::string_view s) {
    return s.size() >= 7 && s[0] == '_' && (s[1] == 'x' || s[1] == 'X') && is_hex(s[2]) && is_hex(s[3]) &&
           is_hex(s[4]) && is_hex(s[5]) && s[6] == '_';
}

// The bytes at which an .xlsx text may need more than XML escaping: the
// underscore, the control characters XML forbids, and the lead byte of
// U+FFFE and U+FFFF.
constexpr auto kXlsxCare = [] {
    std::array<bool, 256> care{};
    for (int c = 0; c < 0x20; ++c) care[c] = c != '\t' && c != '\n' && c != '\r';
    care['_'] = true;
    care[0xEF] = true;
    return care;
}();

void append_hex_escape(std::string& out, uint32_t code) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "_x";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
    out += '_';
}

}  // namespace

void append_xlsx_text(std::string& out, std::string_view s) {
    size_t plain = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (!kXlsxCare[c]) continue;
        size_t skip = 1;
        uint32_t code = 0;
        if (c == '_') {
            if (!escape_ahead(s.substr(i))) continue;
            code = '_';
        } else if (c == 0xEF) {
            // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
            if (i + 2 >= s.size() || static_cast<unsigned char>(s[i + 1]) != 0xBF ||
                (static_cast<unsigned char>(s[i + 2]) & 0xFE) != 0xBE)
                continue;
            code = 0xFFFE | (static_cast<unsigned char>(s[i + 2]) & 1);
            skip = 3;
        } else {
            code = c;
        }
        append_escaped(out, s.substr(plain, i - plain));
        append_hex_escape(out, code);
        plain = i + skip;
        i += skip - 1;
    }
    append_escaped(out, s.substr(plain));
}

std::string xml_escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    append_escaped(out, s);
    return out;
}

void append_int(std::string& out, int64_t v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void append_number(std::string& out, double x) {
    // Past 2^53 shortest positional digits need not be the number's own, and
    // readers take a digit string for an integer: the exact digits or an exponent.
    if (!(std::fabs(x) >= 0x1p53) || !std::isfinite(x)) {
        out += number_to_text(x);
        return;
    }
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, x);
    out.append(buf, res.ptr);
}

std::string cell_ref(uint32_t row, uint32_t col) {
    std::string out;
    morvane_types::append_cell_address(out, CellPos{row, col});
    return out;
}

std::optional<std::string> shown_text(const Variant& v) {
    if (v.is_array()) return eval::to_str(v);
    if (v.is_record()) return v.to_string();
    return std::nullopt;
}

namespace {

// Well-formed UTF-8; with `xml_only`, also only characters XML 1.0 allows.
bool chars_ok(std::string_view s, bool xml_only) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            if (xml_only && c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
            ++i;
            continue;
        }
        size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        if (len == 0 || i + len > n) return false;
        char32_t cp = c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        static constexpr char32_t kMinOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMinOfLength[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (xml_only && (cp == 0xFFFE || cp == 0xFFFF)) return false;
        i += len;
    }
    return true;
}

}  // namespace

bool xml_chars_ok(std::string_view s) { return chars_ok(s, true); }

bool xlsx_chars_ok(std::string_view s) { return chars_ok(s, false); }

std::vector<CellRef> sorted_cells(const CellMap& cells) {
    std::vector<CellRef> out;
    out.reserve(cells.size());
    for (const auto& [pos, content] : cells) out.emplace_back(pos, &content);
    auto before = [](const CellRef& a, const CellRef& b) {
        return a.first.row != b.first.row ? a.first.row < b.first.row : a.first.col < b.first.col;
    };
    // Cells stored row by row are common; they need no sort.
    if (!std::is_sorted(out.begin(), out.end(), before)) std::sort(out.begin(), out.end(), before);
    return out;
}

}  // namespace morvane::writer
