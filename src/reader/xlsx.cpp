// Reading an Office Open XML package (.xlsx, .xlsm), one function per part:
// workbook (sheet names and relationship ids) -> relationships (ids to
// worksheet parts) -> shared strings -> each worksheet. Absent optional parts
// are skipped; a part that is present but unreadable fails the whole read.
#include <string>
#include <unordered_map>
#include <utility>

#include "reader/package.h"
#include "reader/xml.h"

namespace morvane::reader {

namespace {

constexpr std::string_view kWorkbookPart = "xl/workbook.xml";
constexpr std::string_view kRelsPart = "xl/_rels/workbook.xml.rels";
constexpr std::string_view kSharedStringsPart = "xl/sharedStrings.xml";

struct SheetRef {
    std::string name;
    std::string rel_id;
};

// Self-closing <sheet name=".." r:id=".."/> elements, in document order.
std::vector<SheetRef> read_workbook_xml(std::string_view xml) {
    std::vector<SheetRef> out;
    XmlIter it(xml);
    Ev ev;
    while (it.next(ev)) {
        if (ev.kind != Ev::Kind::Empty || local_name(ev.name) != "sheet") continue;
        const Attr* name = find_attr(ev.attrs, "name");
        const Attr* id = find_attr(ev.attrs, "id");
        if (name && id) out.push_back({name->value, id->value});
    }
    return out;
}

// Relationship id -> target, for worksheet relationships only.
std::unordered_map<std::string, std::string> read_rels(std::string_view xml) {
    std::unordered_map<std::string, std::string> out;
    XmlIter it(xml);
    Ev ev;
    while (it.next(ev)) {
        if (ev.kind != Ev::Kind::Empty || local_name(ev.name) != "Relationship") continue;
        const Attr* id = find_attr(ev.attrs, "Id");
        const Attr* type = find_attr(ev.attrs, "Type");
        const Attr* target = find_attr(ev.attrs, "Target");
        if (id && type && target && type->value.ends_with("/worksheet")) out[id->value] = target->value;
    }
    return out;
}

// A worksheet's part name: absolute targets drop their "/", others are under "xl/".
std::string part_name(std::string_view target) {
    if (target.starts_with('/')) return std::string(target.substr(1));
    return "xl/" + std::string(target);
}

// The walk over one worksheet part. A cell or row without a position is
// the next column or row, so files that leave `r` out keep every value.
class SheetWalk {
public:
    SheetWalk(const std::vector<std::string>& strings, ReadBudget& budget, SheetCells& cells)
        : strings_(strings), budget_(budget), cells_(cells) {}

    Result<void> event(const Ev& ev) {
        if (ev.kind == Ev::Kind::Text) return text(ev.text);
        std::string_view name = local_name(ev.name);
        if (ev.kind == Ev::Kind::End) return close(name);
        if (name == "c") {
            open_cell(ev.attrs);
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

private:
    // The cell's `t` attribute, read once per cell; any other value is a number.
    enum class Type : uint8_t { Number, Shared, Bool, Text, Inline };

    static Type type_of(const Attr* t) {
        if (!t) return Type::Number;
        std::string_view v = t->value;
        if (v == "s") return Type::Shared;
        if (v == "b") return Type::Bool;
        if (v == "e" || v == "str") return Type::Text;
        if (v == "inlineStr") return Type::Inline;
        return Type::Number;
    }

    bool positioned() const { return row_ >= 1 && col_ >= 1; }

    Result<void> store(SheetCell&& cell) { return store_cell(cells_, CellPos{row_, col_}, std::move(cell), budget_); }

    void open_cell(const std::vector<Attr>& attrs) {
        // Both attributes in one pass, the first of each name counting.
        const Attr *t = nullptr, *r = nullptr;
        for (const Attr& a : attrs) {
            std::string_view n = local_name(a.name);
            if (!t && n == "t") t = &a;
            else if (!r && n == "r") r = &a;
        }
        type_ = type_of(t);
        auto ref = r ? parse_cell_ref(r->value) : std::nullopt;
        if (ref) {
            row_ = ref->first;
            col_ = ref->second;
        } else {
            ++col_;
        }
        inline_.clear();
        in_value_ = false;
    }

    Result<void> text(std::string_view data) {
        if (in_value_ && positioned()) {
            in_value_ = false;
            if (auto cell = convert(trim_ws(data))) return store(std::move(*cell));
            return {};
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
            if (type_ == Type::Inline && !inline_.empty() && positioned()) return store(SheetCell{std::move(inline_)});
        }
        return {};
    }

    // A value element without character data.
    Result<void> end_value() {
        bool pending = in_value_ && positioned();
        in_value_ = false;
        if (!pending) return {};
        if (type_ == Type::Bool) return store(SheetCell{false});
        if (type_ == Type::Text) return store(SheetCell{std::string()});
        return {};
    }

    std::optional<SheetCell> convert(std::string_view v) const {
        if (type_ == Type::Shared) {
            auto index = parse_u32_plus(v);
            if (!index || *index >= strings_.size()) return std::nullopt;
            return SheetCell{strings_[*index]};
        }
        if (type_ == Type::Bool) return SheetCell{v == "1"};
        if (type_ == Type::Text) return SheetCell{std::string(v)};
        return number_cell(v);
    }

    const std::vector<std::string>& strings_;
    ReadBudget& budget_;
    SheetCells& cells_;
    uint32_t row_ = 0;
    uint32_t col_ = 0;
    Type type_ = Type::Number;
    bool in_value_ = false;
    bool inline_text_ = false;
    uint32_t phonetic_ = 0;  // depth of rPh runs, whose text is not the cell's
    std::string inline_;
};

}  // namespace

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
            if (in_string && in_text && phonetic == 0) buffer += ev.text;
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

Result<WorkbookSheet> read_xlsx_sheet(std::string name, std::string_view xml,
                                      const std::vector<std::string>& shared_strings, ReadBudget& budget) {
    WorkbookSheet sheet{std::move(name), {}};
    SheetWalk walk(shared_strings, budget, sheet.cells);
    XmlIter it(xml);
    Ev ev;
    while (it.next(ev)) TRY_VOID(walk.event(ev));
    return sheet;
}

Result<std::vector<WorkbookSheet>> read_workbook_from_archive(ZipArchive& archive, ReadBudget& budget) {
    std::vector<SheetRef> refs = read_workbook_xml(TRY(zip_read_text(archive, kWorkbookPart, budget.bytes)));
    auto rels = read_rels(TRY(zip_read_text(archive, kRelsPart, budget.bytes)));
    std::vector<std::string> strings;
    if (archive.contains(kSharedStringsPart))
        strings = TRY(read_shared_strings(TRY(zip_read_text(archive, kSharedStringsPart, budget.bytes)), budget));

    std::vector<WorkbookSheet> sheets;
    for (SheetRef& ref : refs) {
        auto rel = rels.find(ref.rel_id);
        if (rel == rels.end()) continue;
        std::string part = part_name(rel->second);
        if (!archive.contains(part)) continue;  // a listed sheet without its part is left out
        TRY_VOID(budget.charge_sheet());
        std::string xml = TRY(zip_read_text(archive, part, budget.bytes));
        sheets.push_back(TRY(read_xlsx_sheet(std::move(ref.name), xml, strings, budget)));
    }
    return sheets;
}

Result<std::vector<WorkbookSheet>> read_xlsx(const std::string& path, ReadBudget& budget) {
    ZipArchive archive = TRY(ZipArchive::open(path));
    return read_workbook_from_archive(archive, budget);
}

}  // namespace morvane::reader
