// A forgiving XML pull tokenizer for the parts of workbook packages: no tree,
// no namespaces, no well-formedness checks, never fails. Each call hands out
// one event; an unterminated construct runs to the end of the text. Also the
// small rules every part walk shares: entity unescaping, local names and
// attribute lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::reader {

// One attribute: the name as written (prefix kept) and the unescaped value.
struct Attr {
    std::string name;
    std::string value;
};

// One event, a tagged union: `kind` says which of the fields count. A tag
// keeps at most its first 1024 attributes.
struct Ev {
    enum class Kind : uint8_t { Start, End, Empty, Text };
    Kind kind = Kind::Text;
    std::string name;         // Start, End, Empty
    std::vector<Attr> attrs;  // Start, Empty
    std::string text;         // Text

    bool is_open() const { return kind == Kind::Start || kind == Kind::Empty; }
};

class XmlIter {
public:
    // Borrows `text`, which must outlive the tokenizer.
    explicit XmlIter(std::string_view text) : rest_(text) {}

    // The next event, or nothing once the text is used up.
    std::optional<Ev> next_ev();
    // The same, written into `ev` so that its buffers are reused; false at the end.
    bool next(Ev& ev);
    // Where the next event starts; the text before it is never read again.
    const char* position() const { return rest_.data(); }
    // The text not yet read, and a step past the first `n` bytes of it, for
    // a walk that reads its most common element itself.
    std::string_view rest() const { return rest_; }
    void skip(size_t n) { rest_.remove_prefix(n); }

private:
    bool tag(Ev& ev);
    bool simple_tag(Ev& ev);
    std::string_view rest_;
};

// `s` with entity and character references replaced and line ends read as
// XML 1.0 reads them (CR LF and a lone CR become LF; a reference &#13; stays CR).
std::string xml_unescape(std::string_view s);
void append_unescaped(std::string& out, std::string_view s);
// `s` with its line ends read so, and nothing else changed (CDATA sections).
void append_line_ends(std::string& out, std::string_view s);

// The part of a name after its last ':'.
// Inline: every event of every part asks for it.
inline std::string_view local_name(std::string_view name) {
    for (size_t i = name.size(); i > 0; --i)
        if (name[i - 1] == ':') return name.substr(i);
    return name;
}
// The first attribute named `name` exactly or by its local name.
const Attr* find_attr(const std::vector<Attr>& attrs, std::string_view name);
// The attribute's value is exactly "true", "TRUE" or "1".
bool attr_is_true(const std::vector<Attr>& attrs, std::string_view name);

}  // namespace morvane::reader
