// The pull tokenizer. What it recognises, tried in this order at a "<":
//
//   end tag       := "</" name ">"                      (name trimmed)
//   comment       := "<!--" ... "-->"                   (skipped)
//   cdata         := "<![CDATA[" ... "]]>"              (verbatim text)
//   declaration   := "<?" ... ">" | "<!" ... ">"        (skipped)
//   tag           := "<" name (attr)* "/"? ">"          ('>' inside quotes does not end it)
//   attr          := name "=" quote value quote         (stops at the first malformed one)
//   text          := anything up to the next "<"        (unescaped)
//
// Every construct that lacks its terminator runs to the end of the text.
#include "reader/xml.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "types/text.h"

namespace morvane::reader {

namespace {

constexpr size_t kEntityWindow = 12;  // bytes after '&' searched for ';'
// Attributes kept per tag: no workbook element has more, and a part of one
// tag with millions of tiny attributes must not grow an event many times its size.
constexpr size_t kMaxAttrs = 1024;

bool is_ascii_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
// ASCII members of Unicode White_Space: tab to carriage return, and space.
bool is_ascii_white(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Position of the first `c` in `s`, or npos. Most stretches between marks
// are a few bytes (a number, a reference), too short to pay for a library call.
size_t find_char(std::string_view s, char c) {
    const size_t n = std::min<size_t>(s.size(), 16);
    for (size_t i = 0; i < n; ++i)
        if (s[i] == c) return i;
    if (n == s.size()) return std::string_view::npos;
    const void* hit = std::memchr(s.data() + n, c, s.size() - n);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - s.data()) : std::string_view::npos;
}

// Position of the first '>' outside a quoted stretch, or npos.
size_t tag_end(std::string_view s) {
    char quote = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '>') {
            return i;
        } else if (c == '"' || c == '\'') {
            quote = c;
        }
    }
    return std::string_view::npos;
}

// The text after position `pos` (or nothing when pos is npos).
std::string_view after(std::string_view s, size_t pos, size_t skip) {
    return pos == std::string_view::npos ? std::string_view() : s.substr(pos + skip);
}

std::optional<uint32_t> parse_u32(std::string_view digits, int base) {
    if (digits.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

// Appends the character an entity name stands for; false when it stands for none.
bool append_entity(std::string& out, std::string_view name) {
    if (name.empty()) return false;
    if (name[0] != '#') {
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& [entity, c] : kNamed) {
            if (name == entity) {
                out.push_back(c);
                return true;
            }
        }
        return false;
    }
    name.remove_prefix(1);
    int base = 10;
    if (!name.empty() && (name[0] == 'x' || name[0] == 'X')) {
        base = 16;
        name.remove_prefix(1);
    }
    if (!name.empty() && name[0] == '+') name.remove_prefix(1);
    std::optional<uint32_t> code = parse_u32(name, base);
    if (!code || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF)) return false;
    text::append_utf8(out, static_cast<char32_t>(*code));
    return true;
}

}  // namespace

const Attr* find_attr(const std::vector<Attr>& attrs, std::string_view name) {
    for (const Attr& a : attrs) {
        // Lengths first: most attributes differ in length from the one sought.
        std::string_view n = a.name;
        if (n.size() < name.size()) continue;
        if (n.size() == name.size() ? n == name : local_name(n) == name) return &a;
    }
    return nullptr;
}

bool attr_is_true(const std::vector<Attr>& attrs, std::string_view name) {
    const Attr* a = find_attr(attrs, name);
    return a && (a->value == "true" || a->value == "TRUE" || a->value == "1");
}

// Position of the first '&' or carriage return, or npos.
size_t find_mark(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] == '&' || s[i] == '\r') return i;
    return std::string_view::npos;
}

void append_unescaped(std::string& out, std::string_view s) {
    // Short values (cell references, numbers) are scanned inline.
    if (s.size() <= 32) {
        bool plain = true;
        for (char c : s) plain &= c != '&' && c != '\r';
        if (plain) {
            out.append(s);
            return;
        }
    }
    for (;;) {
        size_t amp = find_mark(s);
        if (amp == std::string_view::npos) {
            out.append(s);
            return;
        }
        out.append(s.substr(0, amp));
        const bool cr = s[amp] == '\r';
        s.remove_prefix(amp + 1);
        if (cr) {
            // Line ends as XML reads them: CR LF and a lone CR are one LF.
            out.push_back('\n');
            if (!s.empty() && s[0] == '\n') s.remove_prefix(1);
            continue;
        }
        size_t semi = s.substr(0, kEntityWindow).find(';');
        if (semi != std::string_view::npos && append_entity(out, s.substr(0, semi))) {
            s.remove_prefix(semi + 1);
        } else {
            out.push_back('&');
        }
    }
}

void append_line_ends(std::string& out, std::string_view s) {
    for (;;) {
        size_t cr = s.find('\r');
        out.append(s.substr(0, cr));
        if (cr == std::string_view::npos) return;
        out.push_back('\n');
        s.remove_prefix(cr + 1);
        if (!s.empty() && s[0] == '\n') s.remove_prefix(1);
    }
}

std::string xml_unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    append_unescaped(out, s);
    return out;
}

std::optional<Ev> XmlIter::next_ev() {
    Ev ev;
    if (!next(ev)) return std::nullopt;
    return ev;
}

bool XmlIter::next(Ev& ev) {
    while (!rest_.empty()) {
        if (rest_[0] != '<') {
            size_t lt = find_char(rest_, '<');
            std::string_view data = rest_.substr(0, lt);
            rest_.remove_prefix(data.size());
            ev.kind = Ev::Kind::Text;
            ev.text.clear();
            append_unescaped(ev.text, data);
            return true;
        }
        std::string_view s = rest_.substr(1);
        if (!s.empty() && s[0] == '/') {
            size_t gt = find_char(s, '>');
            ev.kind = Ev::Kind::End;
            std::string_view name = s.substr(1, gt == std::string_view::npos ? gt : gt - 1);
            // Most end tags are a bare ASCII name: no trimming to do.
            auto plain = [](char c) { return !is_ascii_white(static_cast<unsigned char>(c)) && c > 0; };
            ev.name.assign(!name.empty() && plain(name.front()) && plain(name.back()) ? name : text::trim(name));
            rest_ = after(s, gt, 1);
            return true;
        }
        // Comments and sections are rare: one byte tells most tags apart.
        const bool bang = !s.empty() && s[0] == '!';
        if (bang && s.starts_with("!--")) {
            rest_ = after(s, s.find("-->"), 3);
            continue;
        }
        if (bang && s.starts_with("![CDATA[")) {
            std::string_view body = s.substr(8);
            size_t end = body.find("]]>");
            rest_ = after(body, end, 3);
            std::string_view content = body.substr(0, end);
            if (content.empty()) continue;
            ev.kind = Ev::Kind::Text;
            ev.text.clear();
            append_line_ends(ev.text, content);
            return true;
        }
        if (!s.empty() && (s[0] == '?' || s[0] == '!')) {
            rest_ = after(s, s.find('>'), 1);
            continue;
        }
        return tag(ev);
    }
    return false;
}

// The common shape of a tag, in one forward scan: a name, then attributes
// written name="value" (or 'value') each after one space, then ">" or "/>".
// Anything else returns false without moving on, and the general rules below
// read the tag afresh; both agree on every tag this accepts.
bool XmlIter::simple_tag(Ev& ev) {
    const char* p = rest_.data() + 1;
    const char* end = rest_.data() + rest_.size();
    auto name_char = [](char c) {
        return c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '>' && c != '/' && c != '"' &&
               c != '\'' && c != '=' && c != '<' && static_cast<unsigned char>(c) < 0x80;
    };
    const char* name = p;
    while (p < end && name_char(*p)) ++p;
    if (p == name || p == end) return false;
    const char* name_end = p;
    size_t count = 0;
    while (*p == ' ') {
        if (count == kMaxAttrs) return false;
        const char* attr = ++p;
        while (p < end && name_char(*p)) ++p;
        if (p == attr || p + 1 >= end || *p != '=' || (p[1] != '"' && p[1] != '\'')) return false;
        const char* attr_end = p;
        const char quote = p[1];
        const char* value = p + 2;
        size_t at = find_char(std::string_view(value, static_cast<size_t>(end - value)), quote);
        if (at == std::string_view::npos) return false;
        const char* close = value + at;
        if (close + 1 >= end) return false;
        if (count == ev.attrs.size()) ev.attrs.emplace_back();
        Attr& slot = ev.attrs[count++];
        slot.name.assign(attr, attr_end);
        slot.value.clear();
        append_unescaped(slot.value, std::string_view(value, static_cast<size_t>(close - value)));
        p = close + 1;
    }
    if (p < end && *p == '>') {
        ev.kind = Ev::Kind::Start;
        ++p;
    } else if (p + 1 < end && p[0] == '/' && p[1] == '>') {
        ev.kind = Ev::Kind::Empty;
        p += 2;
    } else {
        return false;
    }
    ev.name.assign(name, name_end);
    ev.attrs.resize(count);
    rest_.remove_prefix(static_cast<size_t>(p - rest_.data()));
    return true;
}

// A start or self-closing tag at rest_ (which begins with '<').
bool XmlIter::tag(Ev& ev) {
    if (simple_tag(ev)) return true;
    std::string_view s = rest_.substr(1);
    size_t gt = tag_end(s);
    std::string_view content = text::trim_end(s.substr(0, gt));
    rest_ = after(s, gt, 1);
    ev.kind = Ev::Kind::Start;
    if (!content.empty() && content.back() == '/') {
        ev.kind = Ev::Kind::Empty;
        content = text::trim_end(content.substr(0, content.size() - 1));
    }
    size_t name_end = 0;
    while (name_end < content.size() && !is_ascii_space(content[name_end])) ++name_end;
    ev.name.assign(content.substr(0, name_end));

    // Attribute slots are reused from the previous event to keep their buffers.
    size_t count = 0;
    std::string_view a = text::trim_start(content.substr(name_end));
    while (!a.empty() && count < kMaxAttrs) {
        size_t eq = a.find('=');
        if (eq == std::string_view::npos) break;
        std::string_view name = text::trim(a.substr(0, eq));
        if (name.empty()) break;
        a = text::trim_start(a.substr(eq + 1));
        if (a.empty() || (a[0] != '"' && a[0] != '\'')) break;
        size_t close = a.find(a[0], 1);
        std::string_view value = a.substr(1, close == std::string_view::npos ? close : close - 1);
        if (count == ev.attrs.size()) ev.attrs.emplace_back();
        Attr& slot = ev.attrs[count++];
        slot.name.assign(name);
        slot.value.clear();
        append_unescaped(slot.value, value);
        a = close == std::string_view::npos ? std::string_view() : text::trim_start(a.substr(close + 1));
    }
    ev.attrs.resize(count);
    return true;
}

}  // namespace morvane::reader
