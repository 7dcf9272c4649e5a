// Reading an Office Open XML package (.xlsx, .xlsm), one function per part.
// The parts are found as the package format says: the package relationships
// (_rels/.rels) name the workbook part, the workbook's own relationships its
// sheets, shared strings and styles, part names compared without regard to
// case; packages without those relationships get the usual names. Absent
// optional parts are skipped; a part that is present but unreadable fails
// the whole read, and so does a text cell whose shared string is missing.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "reader/package.h"
#include "reader/xml.h"
#include "types/text.h"

namespace morvane::reader {

namespace {

constexpr std::string_view kPackageRels = "_rels/.rels";
constexpr std::string_view kDefaultWorkbook = "xl/workbook.xml";
constexpr std::string_view kMissingString = "cell {} of sheet '{}' refers to shared string {}, but the workbook has {}";
constexpr std::string_view kMissingSheet = "sheet '{}' is listed, but its part {} is missing";
constexpr std::string_view kNoRelationship = "sheet '{}' is listed, but its part (relationship {}) is not named";

// Serials of the 1904 date system count from 1904-01-01, 1462 days after the 1900 system's.
constexpr int64_t k1904Offset = 1462;

struct SheetRef {
    std::string name;
    std::string rel_id;
};

struct WorkbookInfo {
    std::vector<SheetRef> sheets;
    bool date1904 = false;
};

// <sheet name=".." r:id=".."/> elements in document order (an end tag
// after a start tag changes nothing), and the workbook's date system.
WorkbookInfo read_workbook_xml(std::string_view xml) {
    WorkbookInfo out;
    XmlIter it(xml);
    Ev ev;
    while (it.next(ev)) {
        if (!ev.is_open()) continue;
        std::string_view name = local_name(ev.name);
        if (name == "workbookPr") {
            out.date1904 = attr_is_true(ev.attrs, "date1904");
        } else if (name == "sheet") {
            const Attr* sheet = find_attr(ev.attrs, "name");
            const Attr* id = find_attr(ev.attrs, "id");
            if (sheet && id) out.sheets.push_back({sheet->value, id->value});
        }
    }
    return out;
}

struct Relationship {
    std::string type;  // the last segment of the type URI, such as "worksheet"
    std::string part;  // the target as a part name
};

// The directory of a part name, with its trailing '/' ("xl/" for "xl/workbook.xml").
std::string_view part_dir(std::string_view part) {
    size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
}

// A relationship target as a part name: absolute from the package root, or
// relative to the source part's directory with "." and ".." resolved.
std::string resolve_target(std::string_view source_dir, std::string_view target) {
    // clang-format off
    std::string path = target.starts_with('/') || target.starts_with('\\') ? std::string(target.substr(1))
                                                                             : std::string(source_dir) + std::string(target);
    // clang-format on
    std::vector<std::string_view> segments;
    std::string_view rest = path;
    while (!rest.empty()) {
        size_t slash = rest.find_first_of("/\\");
        std::string_view seg = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (seg == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!seg.empty() && seg != ".") {
            segments.push_back(seg);
        }
    }
    std::string out;
    for (std::string_view seg : segments) {
        if (!out.empty()) out += '/';
        out += seg;
    }
    return out;
}

// The relationships part of `part` ("xl/_rels/workbook.xml.rels" for "xl/workbook.xml").
std::string rels_part_of(std::string_view part) {
    std::string_view dir = part_dir(part);
    return std::string(dir) + "_rels/" + std::string(part.substr(dir.size())) + ".rels";
}

// Relationship id -> type and part; a later id replaces an earlier one.
std::unordered_map<std::string, Relationship> read_rels(std::string_view xml, std::string_view source_dir) {
    std::unordered_map<std::string, Relationship> out;
    XmlIter it(xml);
    Ev ev;
    while (it.next(ev)) {
        if (!ev.is_open() || local_name(ev.name) != "Relationship") continue;
        const Attr* id = find_attr(ev.attrs, "Id");
        const Attr* type = find_attr(ev.attrs, "Type");
        const Attr* target = find_attr(ev.attrs, "Target");
        const Attr* mode = find_attr(ev.attrs, "TargetMode");
        if (!id || !type || !target || (mode && mode->value == "External")) continue;
        std::string_view t = type->value;
        size_t slash = t.rfind('/');
        out[id->value] = {std::string(slash == std::string_view::npos ? t : t.substr(slash + 1)),
                          resolve_target(source_dir, target->value)};
    }
    return out;
}

// The part of the first relationship of `type`, else `fallback`, if the archive has it.
std::optional<std::string> find_part(const ZipArchive& archive,
                                     const std::unordered_map<std::string, Relationship>& rels, std::string_view type,
                                     std::string fallback) {
    for (const auto& [id, rel] : rels)
        if (rel.type == type && archive.contains(rel.part)) return rel.part;
    if (archive.contains(fallback)) return fallback;
    return std::nullopt;
}

// The built-in number formats that show a date or a time: 14 to 22 and 45
// to 47 everywhere, 27 to 36 and 50 to 58 in the East Asian locales.
DateStyle builtin_date_style(uint32_t id) {
    if ((id >= 14 && id <= 17) || id == 22 || (id >= 27 && id <= 31) || (id >= 34 && id <= 36) ||
        (id >= 50 && id <= 58))
        return DateStyle::Date;
    if ((id >= 18 && id <= 21) || id == 32 || id == 33 || (id >= 45 && id <= 47)) return DateStyle::Time;
    return DateStyle::None;
}

// The walk over one worksheet part. A cell or row without a position is
// the next column or row, so files that leave `r` out keep every value.
class SheetWalk {
public:
    SheetWalk(const WorkbookSheet& sheet, const SheetContext& context, ReadBudget& budget, CellMap& cells,
              size_t part_size)
        : sheet_(sheet), context_(context), budget_(budget), cells_(cells), part_size_(part_size) {}

    Result<void> event(const Ev& ev) {
        if (ev.kind == Ev::Kind::Text) return text(ev.text);
        std::string_view name = local_name(ev.name);
        if (ev.kind == Ev::Kind::End) return close(name);
        if (name == "c") {
            open_cell(ev.attrs);
        } else if (name == "dimension") {
            reserve_for(ev.attrs);
        } else if (name == "v") {
            in_value_ = true;
            if (ev.kind == Ev::Kind::Empty) return end_value();
        } else if (name == "row") {
            const Attr* r = find_attr(ev.attrs, "r");
            row_ = r ? parse_u32_plus(r->value).value_or(0) : row_ + 1;
            col_ = 0;
        } else if (name == "t") {
            inline_text_ = ev.kind == Ev::Kind::Start && phonetic_ == 0;
        } else if (name == "rPh" && ev.kind == Ev::Kind::Start) {
            ++phonetic_;
        }
        return {};
    }

    // The common shape of a cell, read at once: <c r=".." s=".." t=".."> (each
    // attribute optional, in any order, each once) then <v>plain text</v></c>,
    // or the same start closed by "/>". Returns how many bytes of `rest` it
    // took, or 0, having changed nothing, for any other shape, which the
    // events then read; both readings agree on every cell this takes.
    Result<size_t> quick_cell(std::string_view rest) {
        size_t i = 2;  // past "<c"
        std::string_view values[3];
        bool seen[3] = {false, false, false};  // r, s, t
        while (i < rest.size() && rest[i] == ' ') {
            size_t eq = i + 2;
            if (eq + 1 >= rest.size() || rest[eq] != '=' || rest[eq + 1] != '"') return 0;
            int k = rest[i + 1] == 'r' ? 0 : rest[i + 1] == 's' ? 1 : rest[i + 1] == 't' ? 2 : -1;
            if (k < 0 || seen[k]) return 0;
            size_t start = eq + 2;
            size_t close = rest.find('"', start);
            if (close == std::string_view::npos) return 0;
            values[k] = rest.substr(start, close - start);
            if (values[k].find('&') != std::string_view::npos) return 0;
            seen[k] = true;
            i = close + 1;
        }
        const std::string_view* r = seen[0] ? &values[0] : nullptr;
        const std::string_view* s = seen[1] ? &values[1] : nullptr;
        const std::string_view* t = seen[2] ? &values[2] : nullptr;
        if (rest.substr(i).starts_with("/>")) {
            begin_cell(t, r, s);
            return i + 2;
        }
        if (!rest.substr(i).starts_with("><v>")) return 0;
        size_t data = i + 4;
        size_t lt = rest.find('<', data);
        if (lt == std::string_view::npos || !rest.substr(lt).starts_with("</v></c>")) return 0;
        std::string_view text = rest.substr(data, lt - data);
        for (char c : text)
            if (c == '&' || c == '\r') return 0;
        // A position is needed for the value, and the events decide where a cell without one goes.
        auto ref = r ? morvane_types::parse_cell_addr(*r) : std::nullopt;
        if (!ref || ref->row == 0 || ref->col == 0) return 0;
        begin_cell(t, r, s);
        in_value_ = true;
        TRY_VOID(text.empty() ? end_value() : this->text(text));
        in_value_ = false;
        return lt + 8;
    }

private:
    // The cell's `t` attribute, read once per cell; any other value is a number.
    enum class Type : uint8_t { Number, Shared, Bool, Str, Error, Inline, Date };

    static Type type_of(const std::string_view* t) {
        if (!t) return Type::Number;
        std::string_view v = *t;
        if (v == "s") return Type::Shared;
        if (v == "b") return Type::Bool;
        if (v == "str") return Type::Str;
        if (v == "e") return Type::Error;
        if (v == "inlineStr") return Type::Inline;
        if (v == "d") return Type::Date;
        return Type::Number;
    }

    bool positioned() const { return row_ >= 1 && col_ >= 1; }

    // The sheet's extent as its writer declared it sizes the map once, instead
    // of doubling it as it fills; a cell takes at least 15 bytes of the part,
    // which bounds what a false extent can reserve.
    void reserve_for(const std::vector<Attr>& attrs) {
        const Attr* ref = find_attr(attrs, "ref");
        auto range = ref ? morvane_types::parse_range_addr(ref->value) : std::nullopt;
        if (!range || !cells_.empty()) return;
        cells_.reserve(static_cast<size_t>(std::min<uint64_t>(range->normalised().cell_count(), part_size_ / 15)));
    }

    Result<void> store(Variant&& value) {
        TRY_VOID(check_on_sheet(CellPos{row_, col_}, sheet_.name));
        return store_cell(cells_, CellPos{row_, col_}, std::move(value), budget_);
    }

    void open_cell(const std::vector<Attr>& attrs) {
        // The attributes in one pass, the first of each name counting.
        std::string_view t, r, s;
        bool has_t = false, has_r = false, has_s = false;
        for (const Attr& a : attrs) {
            std::string_view n = local_name(a.name);
            // clang-format off
            if (!has_t && n == "t") has_t = true, t = a.value;
            else if (!has_r && n == "r") has_r = true, r = a.value;
            else if (!has_s && n == "s") has_s = true, s = a.value;
            // clang-format on
        }
        begin_cell(has_t ? &t : nullptr, has_r ? &r : nullptr, has_s ? &s : nullptr);
    }

    // A cell's start from its type, reference and format attributes, each null when absent.
    void begin_cell(const std::string_view* t, const std::string_view* r, const std::string_view* s) {
        type_ = type_of(t);
        auto ref = r ? morvane_types::parse_cell_addr(*r) : std::nullopt;
        if (ref) {
            row_ = ref->row;
            col_ = ref->col;
        } else {
            ++col_;
        }
        style_ = DateStyle::None;
        if (context_.date_styles && s) {
            auto index = parse_u32_plus(*s);
            if (index && *index < context_.date_styles->size()) style_ = (*context_.date_styles)[*index];
        }
        inline_.clear();
        in_value_ = false;
    }

    Result<void> text(std::string_view data) {
        if (in_value_ && positioned()) {
            in_value_ = false;
            // A formula's text result keeps its spaces; other values are trimmed.
            if (type_ == Type::Str) {
                std::string value(data);
                decode_escapes(value);
                return store(Variant(std::move(value)));
            }
            return convert(text::trim(data));
        }
        if (inline_text_) inline_.append(data);
        return {};
    }

    Result<void> close(std::string_view name) {
        if (name == "v") return end_value();
        if (name == "t") {
            inline_text_ = false;
        } else if (name == "rPh") {
            if (phonetic_ > 0) --phonetic_;
        } else if (name == "c") {
            if (type_ == Type::Inline && !inline_.empty() && positioned()) {
                decode_escapes(inline_);
                return store(Variant(std::move(inline_)));
            }
        }
        return {};
    }

    // A value element without character data.
    Result<void> end_value() {
        bool pending = in_value_ && positioned();
        in_value_ = false;
        if (!pending) return {};
        if (type_ == Type::Bool) return store(Variant(false));
        if (type_ == Type::Str || type_ == Type::Error) return store(Variant(std::string()));
        return {};
    }

    Result<void> convert(std::string_view v) {
        switch (type_) {
            case Type::Shared: {
                const auto* strings = context_.shared_strings;
                size_t count = strings ? strings->size() : 0;
                auto index = parse_u32_plus(v);
                if (!index || *index >= count) {
                    std::string ref = morvane_types::column_letters(col_) + std::to_string(row_);
                    return fail(format_message(kMissingString, ref, sheet_.name, v, std::to_string(count)));
                }
                return store(Variant((*strings)[*index]));
            }
            case Type::Bool: return store(Variant(v == "1" || v == "true"));
            case Type::Error: {
                // An error literal this engine does not know stays its text.
                if (auto e = error_from_text(v)) return store(Variant(*e));
                return store(Variant(std::string(v)));
            }
            case Type::Date: {
                if (auto date = iso_date(v)) return store(date_or_number(*date));
                return store(Variant(std::string(v)));
            }
            default: break;
        }
        auto number = number_cell(v);
        if (!number) return {};
        if (style_ != DateStyle::None) {
            double days = number->is_int() ? static_cast<double>(number->as_int()) : number->as_float();
            // A 1904-system date becomes the same day's 1900 serial; a time of day alone stays.
            if (context_.date1904 && style_ == DateStyle::Date && days >= 0) days += k1904Offset;
            if (auto date = shown_date(days)) return store(Variant(*date));
        }
        return store(std::move(*number));
    }

    const WorkbookSheet& sheet_;
    const SheetContext& context_;
    ReadBudget& budget_;
    CellMap& cells_;
    size_t part_size_;
    uint32_t row_ = 0;
    uint32_t col_ = 0;
    Type type_ = Type::Number;
    DateStyle style_ = DateStyle::None;  // what the cell's format shows
    bool in_value_ = false;
    bool inline_text_ = false;
    uint32_t phonetic_ = 0;  // depth of rPh runs, whose text is not the cell's
    std::string inline_;
};

size_t hex_digit(char c) {
    if (c >= '0' && c <= '9') return static_cast<size_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<size_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<size_t>(c - 'A' + 10);
    return 16;
}

// The UTF-16 unit of an escape "_xHHHH_" at `s`, if it is one.
std::optional<char16_t> escape_at(std::string_view s) {
    if (s.size() < 7 || s[0] != '_' || (s[1] != 'x' && s[1] != 'X') || s[6] != '_') return std::nullopt;
    size_t v = 0;
    for (size_t i = 2; i < 6; ++i) {
        size_t d = hex_digit(s[i]);
        if (d == 16) return std::nullopt;
        v = v * 16 + d;
    }
    return static_cast<char16_t>(v);
}

}  // namespace

void decode_escapes(std::string& text) {
    size_t at = text.find("_x");
    if (at == std::string::npos) {
        at = text.find("_X");
        if (at == std::string::npos) return;
    }
    std::string out(text.substr(0, at));
    std::string_view s = std::string_view(text).substr(at);
    while (!s.empty()) {
        auto unit = escape_at(s);
        if (!unit) {
            out += s[0];
            s.remove_prefix(1);
            continue;
        }
        char32_t c = *unit;
        size_t used = 7;
        if (c >= 0xD800 && c <= 0xDBFF) {
            // A surrogate pair is written as two escapes; a lone half stays as written.
            auto low = escape_at(s.substr(7));
            if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                out.append(s.substr(0, 7));
                s.remove_prefix(7);
                continue;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (*low - 0xDC00);
            used = 14;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            out.append(s.substr(0, 7));
            s.remove_prefix(7);
            continue;
        }
        text::append_utf8(out, c);
        s.remove_prefix(used);
    }
    text = std::move(out);
}

Result<std::vector<std::string>> read_shared_strings(std::string_view xml, ReadBudget& budget) {
    std::vector<std::string> table;
    std::string buffer;
    bool in_string = false, in_text = false;
    uint32_t phonetic = 0;  // rPh runs hold a reading aid, not the string
    // Each entry is charged with its own size, so that a part of millions
    // of tiny entries cannot build a table many times its length.
    auto add = [&](std::string text) -> Result<void> {
        TRY_VOID(budget.charge_text(sizeof(std::string) + text.size()));
        table.push_back(std::move(text));
        return {};
    };
    XmlIter it(xml);
    Ev ev;
    while (it.next(ev)) {
        if (ev.kind == Ev::Kind::Text) {
            if (in_string && in_text && phonetic == 0) {
                decode_escapes(ev.text);
                buffer += ev.text;
            }
            continue;
        }
        std::string_view name = local_name(ev.name);
        if (ev.kind == Ev::Kind::End) {
            if (name == "t") {
                in_text = false;
            } else if (name == "rPh") {
                if (phonetic > 0) --phonetic;
            } else if (name == "si") {
                TRY_VOID(add(std::move(buffer)));
                buffer.clear();
                in_string = false;
            }
        } else if (name == "si") {
            buffer.clear();
            // <si/> is an entry of its own: the empty string.
            if (ev.kind == Ev::Kind::Empty) TRY_VOID(add(std::string()));
            in_string = ev.kind == Ev::Kind::Start;
        } else if (name == "t") {
            in_text = ev.kind == Ev::Kind::Start;
        } else if (name == "rPh" && ev.kind == Ev::Kind::Start) {
            ++phonetic;
        }
    }
    return table;
}

DateStyle format_code_style(std::string_view code) {
    bool date = false, time = false, month = false;
    for (size_t i = 0; i < code.size(); ++i) {
        char c = static_cast<char>(code[i] | 0x20);  // ASCII letters in lower case
        if (code[i] == '"' || code[i] == '[') {
            // Quoted text and [bracketed] parts (colours, conditions, locales, elapsed [h]) hold no token.
            size_t close = code.find(code[i] == '"' ? '"' : ']', i + 1);
            if (close == std::string_view::npos) break;
            i = close;
        } else if (code[i] == '\\' || code[i] == '_' || code[i] == '*') {
            ++i;  // an escaped character, a space the width of one, a fill character
        } else if (c == 'y' || c == 'd') {
            date = true;
        } else if (c == 'h' || c == 's') {
            time = true;
        } else if (c == 'm') {
            month = true;  // a month, or minutes beside hours or seconds
        } else if (c == 'a' && (code.substr(i).starts_with("AM/PM") || code.substr(i).starts_with("am/pm") ||
                                code.substr(i, 3) == "A/P" || code.substr(i, 3) == "a/p")) {
            time = true;
        }
    }
    if (date || (month && !time)) return DateStyle::Date;
    return time ? DateStyle::Time : DateStyle::None;
}

std::vector<DateStyle> read_date_styles(std::string_view xml) {
    std::unordered_map<uint32_t, DateStyle> custom;  // numFmtId -> what it shows
    std::vector<DateStyle> out;
    bool in_cell_xfs = false;
    XmlIter it(xml);
    Ev ev;
    while (it.next(ev)) {
        std::string_view name = local_name(ev.name);
        if (ev.kind == Ev::Kind::End) {
            if (name == "cellXfs") in_cell_xfs = false;
            continue;
        }
        if (!ev.is_open()) continue;
        if (name == "numFmt") {
            const Attr* id = find_attr(ev.attrs, "numFmtId");
            const Attr* code = find_attr(ev.attrs, "formatCode");
            auto n = id ? parse_u32_plus(id->value) : std::nullopt;
            if (n && code) custom[*n] = format_code_style(code->value);
        } else if (name == "cellXfs") {
            in_cell_xfs = ev.kind == Ev::Kind::Start;
        } else if (name == "xf" && in_cell_xfs) {
            const Attr* id = find_attr(ev.attrs, "numFmtId");
            uint32_t n = id ? parse_u32_plus(id->value).value_or(0) : 0;
            auto c = custom.find(n);
            out.push_back(c != custom.end() ? c->second : builtin_date_style(n));
        }
    }
    return out;
}

Result<WorkbookSheet> read_xlsx_sheet(std::string name, std::string_view xml, const SheetContext& context,
                                      ReadBudget& budget, PartText* part) {
    WorkbookSheet sheet{std::move(name), {}};
    SheetWalk walk(sheet, context, budget, sheet.cells, xml.size());
    XmlIter it(xml);
    Ev ev;
    for (uint32_t n = 1;; ++n) {
        if (part && n % 4096 == 0) part->release_before(it.position());
        if (it.rest().starts_with("<c ")) {
            if (size_t used = TRY(walk.quick_cell(it.rest()))) {
                it.skip(used);
                continue;
            }
        }
        if (!it.next(ev)) break;
        TRY_VOID(walk.event(ev));
    }
    return sheet;
}

Result<std::vector<WorkbookSheet>> read_workbook_from_archive(ZipArchive& archive, ReadBudget& budget) {
    std::string workbook_part(kDefaultWorkbook);
    if (archive.contains(kPackageRels)) {
        auto root = read_rels(TRY(zip_read_text(archive, kPackageRels, budget.bytes)), "");
        if (auto part = find_part(archive, root, "officeDocument", workbook_part)) workbook_part = *part;
    }
    WorkbookInfo info = read_workbook_xml(TRY(zip_read_text(archive, workbook_part, budget.bytes)));
    const std::string dir(part_dir(workbook_part));
    auto rels = read_rels(TRY(zip_read_text(archive, rels_part_of(workbook_part), budget.bytes)), dir);

    std::vector<std::string> strings;
    if (auto part = find_part(archive, rels, "sharedStrings", dir + "sharedStrings.xml"))
        strings = TRY(read_shared_strings(TRY(zip_read_text(archive, *part, budget.bytes)), budget));
    // Number cells whose format shows a date or a time load as Dates.
    std::vector<DateStyle> date_styles;
    if (auto part = find_part(archive, rels, "styles", dir + "styles.xml"))
        date_styles = read_date_styles(TRY(zip_read_text(archive, *part, budget.bytes)));
    bool any_dates = std::ranges::any_of(date_styles, [](DateStyle s) { return s != DateStyle::None; });
    SheetContext context{&strings, any_dates ? &date_styles : nullptr, info.date1904};

    std::vector<WorkbookSheet> sheets;
    for (SheetRef& ref : info.sheets) {
        auto rel = rels.find(ref.rel_id);
        if (rel == rels.end()) return fail(format_message(kNoRelationship, ref.name, ref.rel_id));
        // Chart sheets and the like hold no cells.
        if (rel->second.type != "worksheet") continue;
        const std::string& part = rel->second.part;
        if (!archive.contains(part)) return fail(format_message(kMissingSheet, ref.name, part));
        TRY_VOID(budget.charge_sheet());
        PartText xml = TRY(zip_read_part(archive, part, budget.bytes));
        sheets.push_back(TRY(read_xlsx_sheet(std::move(ref.name), xml.view(), context, budget, &xml)));
    }
    return sheets;
}

}  // namespace morvane::reader
