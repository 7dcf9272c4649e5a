#include "writer/xml_writer.h"

#include <algorithm>
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

}  // namespace

void append_xlsx_text(std::string& out, std::string_view s) {
    size_t at = s.find('_');
    while (at != std::string_view::npos) {
        if (escape_ahead(s.substr(at))) {
            append_escaped(out, s.substr(0, at));
            out += "_x005F_";
            s.remove_prefix(at + 1);
            at = s.find('_');
        } else {
            at = s.find('_', at + 1);
        }
    }
    append_escaped(out, s);
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

bool xml_chars_ok(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
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
        if (cp < kMinOfLength[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF)
            return false;
        i += len;
    }
    return true;
}

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

uint32_t cells_max_row(const CellMap& cells) {
    uint32_t m = 0;
    for (const auto& [pos, content] : cells) m = std::max(m, pos.row);
    return m;
}

uint32_t cells_max_col(const CellMap& cells) {
    uint32_t m = 0;
    for (const auto& [pos, content] : cells) m = std::max(m, pos.col);
    return m;
}

}  // namespace morvane::writer
