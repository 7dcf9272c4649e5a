#include "writer/xml_writer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "writer/writer.h"

namespace morvane::writer {

void append_escaped(std::string& out, std::string_view s) {
    for (;;) {
        size_t special = s.find_first_of("&<>\"'");
        out.append(s.substr(0, special));
        if (special == std::string_view::npos) return;
        switch (s[special]) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += "&apos;"; break;
        }
        s.remove_prefix(special + 1);
    }
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

void append_cell_ref(std::string& out, uint32_t row, uint32_t col) {
    char letters[8];
    size_t n = 0;
    for (uint64_t c = col; c > 0; c = (c - 1) / 26) letters[n++] = static_cast<char>('A' + (c - 1) % 26);
    while (n > 0) out.push_back(letters[--n]);
    append_int(out, row);
}

std::string cell_ref(uint32_t row, uint32_t col) {
    std::string out;
    append_cell_ref(out, row, col);
    return out;
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
        if (cp < kMinOfLength[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
            cp == 0xFFFF)
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
