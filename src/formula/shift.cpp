#include "formula/shift.h"

#include "types/address.h"

namespace morvane::formula {

namespace {

bool letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool word(char c) { return letter(c) || digit(c) || c == '_' || c == '.'; }

// One reference at `at`: [$]letters[$]digits, not inside a longer word and
// not a function name (no "(" after it).
struct Ref : RefCorner {
    size_t end = 0;
};

bool read_ref(std::string_view s, size_t at, Ref& r) {
    if (at > 0 && (word(s[at - 1]) || s[at - 1] == '$')) return false;
    size_t i = at;
    if (i < s.size() && s[i] == '$') r.col_abs = true, ++i;
    const size_t letters = i;
    int64_t col = 0;
    while (i < s.size() && letter(s[i]) && i - letters < 4) {
        col = col * 26 + ((s[i] | 0x20) - 'a' + 1);
        ++i;
    }
    if (i == letters || i - letters > 3) return false;
    if (i < s.size() && s[i] == '$') r.row_abs = true, ++i;
    const size_t digits = i;
    int64_t row = 0;
    while (i < s.size() && digit(s[i]) && i - digits < 10) row = row * 10 + (s[i++] - '0');
    if (i == digits || (i < s.size() && (word(s[i]) || s[i] == '(' || s[i] == '$'))) return false;
    size_t j = i;
    while (j < s.size() && s[j] == ' ') ++j;
    if (j < s.size() && s[j] == '(') return false;
    r.col = col;
    r.row = row;
    r.end = i;
    return true;
}

std::string ref_text(const Ref& r) {
    std::string out;
    if (r.col_abs) out += '$';
    out += morvane_types::column_letters(static_cast<uint32_t>(r.col));
    if (r.row_abs) out += '$';
    out += std::to_string(r.row);
    return out;
}

bool on_sheet(const RefCorner& r) { return r.row >= 1 && r.col >= 1 && r.row <= kMaxRow && r.col <= kMaxCol; }

// The sheet name written just before the reference at `at` ("Data!" or
// "'My data'!"), quotes taken off; empty when there is none.
std::string sheet_before(std::string_view s, size_t at) {
    if (at == 0 || s[at - 1] != '!') return {};
    size_t end = at - 1;
    if (end > 0 && s[end - 1] == '\'') {
        std::string name;
        size_t i = end - 1;
        while (i > 0) {
            --i;
            if (s[i] == '\'') {
                if (i > 0 && s[i - 1] == '\'') {
                    name.insert(name.begin(), '\'');
                    --i;
                    continue;
                }
                return name;
            }
            name.insert(name.begin(), s[i]);
        }
        return {};
    }
    size_t i = end;
    while (i > 0 && word(s[i - 1])) --i;
    return std::string(s.substr(i, end - i));
}

}  // namespace

std::string shift_references(std::string_view s, int64_t rows, int64_t cols) {
    return rewrite_references(s, [&](std::string_view, RefCorner& a, RefCorner& b, bool) {
        for (RefCorner* r : {&a, &b}) {
            if (!r->row_abs) r->row += rows;
            if (!r->col_abs) r->col += cols;
        }
        return true;
    });
}

std::string rewrite_references(std::string_view s, const RefRewriter& rewrite) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            // A text literal, doubled quotes included, is copied as it is.
            size_t j = i + 1;
            while (j < s.size()) {
                if (s[j] == '"') {
                    if (j + 1 < s.size() && s[j + 1] == '"') {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = j < s.size() ? j + 1 : j;
            out.append(s.substr(i, j - i));
            i = j;
            continue;
        }
        Ref a;
        if ((letter(c) || c == '$') && read_ref(s, i, a)) {
            // A range: both corners move; either one off the sheet loses the whole.
            size_t k = a.end;
            while (k < s.size() && s[k] == ' ') ++k;
            Ref b;
            bool range = false;
            if (k < s.size() && s[k] == ':') {
                size_t m = k + 1;
                while (m < s.size() && s[m] == ' ') ++m;
                range = read_ref(s, m, b);
            }
            const std::string sheet = sheet_before(s, i);
            RefCorner first = a, last = range ? RefCorner(b) : RefCorner(a);
            const bool ok = rewrite(sheet, first, last, range) && on_sheet(first) && on_sheet(last);
            static_cast<RefCorner&>(a) = first;
            static_cast<RefCorner&>(b) = last;
            if (!ok)
                out += "#REF!";
            else if (range)
                out += ref_text(a) + ":" + ref_text(b);
            else
                out += ref_text(a);
            i = range ? b.end : a.end;
            continue;
        }
        out += c;
        ++i;
        // Pass over the rest of a word (a name such as LOG10 or A1B).
        if (letter(c) || digit(c) || c == '_')
            while (i < s.size() && word(s[i])) out += s[i++];
    }
    return out;
}

}  // namespace morvane::formula
