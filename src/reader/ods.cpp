// Reading an OpenDocument spreadsheet: the single part content.xml, walked
// once. Tables become sheets (names as written); rows and cells count their
// repeats, and a repeated row or cell that carries a value is stored at every
// position it stands for, up to the sheet limits and the read budget.
// A cell's text joins its paragraphs with line breaks, expands the space,
// tab and line-break elements, and leaves annotations out. Dates and times
// load as Dates, as .xlsx date cells do; a formula's error result as the
// error value.
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "reader/package.h"
#include "reader/xml.h"

namespace morvane::reader {

namespace {

// The value types a cell can declare; Other carries no value.
enum class OdsType : uint8_t { Other, Number, String, Boolean, Date, Time };

OdsType ods_type(std::string_view type) {
    if (type == "float" || type == "currency" || type == "percentage") return OdsType::Number;
    if (type == "string") return OdsType::String;
    if (type == "boolean") return OdsType::Boolean;
    if (type == "date") return OdsType::Date;
    if (type == "time") return OdsType::Time;
    return OdsType::Other;
}

// The attribute that holds the value of each type; a string's shown text
// is its value unless it has this attribute.
constexpr std::string_view kValueAttr[] = {"", "value", "string-value", "boolean-value", "date-value", "time-value"};

// One cell between its start and its end tag. Only the attribute its type
// reads is kept.
struct OdsCellState {
    OdsType type = OdsType::Other;
    bool typed = false;      // the cell declares a value type
    bool has_value = false;  // the attribute its type reads is there
    // A formula's error result, as LibreOffice writes it: the calcext value
    // type "error", or else a formula whose text result is an error literal.
    bool error = false;
    bool maybe_error = false;
    std::string value;
    uint32_t row = 0;
    uint32_t col = 0;
    uint32_t repeat = 1;
};

// A repeat count: absent, unreadable and 0 all count as 1.
uint32_t repeat_count(const std::vector<Attr>& attrs, std::string_view name) {
    const Attr* a = find_attr(attrs, name);
    uint32_t n = a ? parse_u32_plus(a->value).value_or(1) : 1;
    return n == 0 ? 1 : n;
}

// The cell's value, if its type carries one. A string cell keeps an empty
// text, so that an empty text saved here reloads as itself; a cell without
// a value type is text when it shows some.
std::optional<Variant> cell_value(OdsCellState& cell, std::string& text) {
    if (cell.error || cell.maybe_error) {
        // The shown text, or else the stored one, names the error; one this
        // engine does not know stays text.
        std::string& named = text.empty() && cell.has_value ? cell.value : text;
        if (auto e = error_from_text(named)) return Variant(*e);
        if (cell.error) return Variant(std::move(named));
    }
    switch (cell.type) {
        case OdsType::Number: return number_cell(cell.value);
        case OdsType::String: return Variant(cell.has_value ? std::move(cell.value) : std::move(text));
        case OdsType::Boolean: return Variant(cell.value == "true" || cell.value == "1");
        case OdsType::Date:
            if (auto date = iso_date(cell.value)) return date_or_number(*date);
            return std::nullopt;
        case OdsType::Time:
            if (auto days = iso_duration_days(cell.value)) return date_or_number(date_of_value(*days));
            return std::nullopt;
        case OdsType::Other:
            if (!cell.typed && !text.empty()) return Variant(std::move(text));
            return std::nullopt;
    }
    return std::nullopt;
}

class ContentWalk {
public:
    explicit ContentWalk(ReadBudget& budget) : budget_(budget) {}

    Result<void> event(const Ev& ev) {
        if (ev.kind == Ev::Kind::Text) {
            if (collecting()) text_ += ev.text;
            return {};
        }
        std::string_view name = local_name(ev.name);
        bool open = ev.is_open();
        if (name == "table") return open ? open_table(ev) : close_table();
        if (!in_table_) return {};
        if (name == "table-row") return open ? open_row(ev) : finish_row();
        if (name == "table-cell" || name == "covered-table-cell") return open ? open_cell(ev) : close_cell();
        if (name == "annotation") {
            if (ev.kind == Ev::Kind::Start) ++annotation_;
            if (ev.kind == Ev::Kind::End && annotation_ > 0) --annotation_;
        } else if (name == "p") {
            if (open) return open_paragraph(ev);
            in_paragraph_ = false;
        } else if (open && in_paragraph_ && annotation_ == 0) {
            return special_character(name, ev);
        }
        return {};
    }

    Result<std::vector<WorkbookSheet>> finish() {
        pending_ = false;
        TRY_VOID(finish_row());
        return std::move(sheets_);
    }

private:
    // Only the shown text of a string, an error or an untyped cell is its
    // value; the text of others goes unread.
    bool collecting() const {
        return in_table_ && in_paragraph_ && annotation_ == 0 && pending_ &&
               ((cell_.type == OdsType::String && !cell_.has_value) || !cell_.typed || cell_.error ||
                cell_.maybe_error);
    }

    Result<void> open_table(const Ev& ev) {
        TRY_VOID(finish_row());
        TRY_VOID(budget_.charge_sheet());
        const Attr* name = find_attr(ev.attrs, "name");
        sheets_.push_back(WorkbookSheet{std::string(name ? std::string_view(name->value) : "Sheet1"), {}});
        in_table_ = ev.kind == Ev::Kind::Start;  // <table/> opens and closes at once
        row_ = 0;
        row_repeat_ = 1;
        col_ = 0;
        return {};
    }

    Result<void> close_table() {
        TRY_VOID(finish_row());
        in_table_ = false;
        return {};
    }

    Result<void> open_row(const Ev& ev) {
        pending_ = false;
        TRY_VOID(finish_row());
        row_ += row_repeat_;
        col_ = 0;
        col_repeat_ = 1;
        row_repeat_ = repeat_count(ev.attrs, "number-rows-repeated");
        return {};
    }

    // Room for a long run of `copies` at once, as far as the repeat budget
    // lets them come, instead of doubling the map as they arrive; short runs
    // leave the map to grow as it does (a reserve per run would copy it each time).
    void reserve_copies(CellMap& cells, uint64_t copies) {
        copies = std::min(copies, budget_.repeats_left + 1);
        if (copies >= 4096 && copies > cells.size()) cells.reserve(cells.size() + static_cast<size_t>(copies));
    }

    // Copies the values of a repeated row to the further rows it stands for.
    Result<void> finish_row() {
        if (!row_cells_.empty() && !sheets_.empty()) {
            CellMap& cells = sheets_.back().cells;
            reserve_copies(cells, uint64_t{row_repeat_ - 1} * row_cells_.size());
            for (uint32_t k = 1; k < row_repeat_ && row_ <= kMaxRow - k; ++k)
                for (const auto& [col, cell] : row_cells_) {
                    TRY_VOID(budget_.charge_repeat());
                    TRY_VOID(store_cell(cells, CellPos{row_ + k, col}, cell, budget_));
                }
        }
        row_cells_.clear();
        return {};
    }

    Result<void> open_cell(const Ev& ev) {
        if (pending_) {
            // A cell left open ends here, without its text.
            pending_ = false;
            text_.clear();
            TRY_VOID(emit());
        }
        read_cell_attributes(ev.attrs);
        col_ += col_repeat_;
        col_repeat_ = repeat_count(ev.attrs, "number-columns-repeated");
        cell_.row = row_;
        cell_.col = col_;
        cell_.repeat = col_repeat_;
        text_.clear();
        paragraphs_ = 0;
        annotation_ = 0;
        in_paragraph_ = false;
        if (ev.kind == Ev::Kind::Empty) return emit();
        pending_ = true;
        return {};
    }

    // The value type, the attribute it reads and the marks of an error
    // result. LibreOffice writes its own value type beside the standard one,
    // under the same local name, so the two are told apart by prefix.
    void read_cell_attributes(const std::vector<Attr>& attrs) {
        const Attr* type = nullptr;
        std::string_view calc_type;
        bool formula = false;
        for (const Attr& a : attrs) {
            std::string_view local = local_name(a.name);
            if (local == "value-type") {
                if (a.name.starts_with("calcext:"))
                    calc_type = a.value;
                else if (!type)
                    type = &a;
            } else if (local == "formula") {
                formula = true;
            }
        }
        cell_.type = type ? ods_type(type->value) : OdsType::Other;
        cell_.typed = type != nullptr;
        cell_.error = calc_type == "error";
        cell_.maybe_error = !cell_.error && calc_type.empty() && formula && cell_.type == OdsType::String;
        const std::string_view value_attr = kValueAttr[static_cast<size_t>(cell_.type)];
        const Attr* value = value_attr.empty() ? nullptr : find_attr(attrs, value_attr);
        cell_.has_value = value != nullptr;
        if (value)
            cell_.value.assign(value->value);
        else
            cell_.value.clear();
    }

    Result<void> close_cell() {
        in_paragraph_ = false;
        if (!pending_) return {};
        pending_ = false;
        TRY_VOID(emit());
        text_.clear();
        return {};
    }

    Result<void> open_paragraph(const Ev& ev) {
        if (annotation_ > 0) return {};
        // Paragraphs of one cell are lines of its text.
        if (paragraphs_++ > 0) text_ += '\n';
        in_paragraph_ = ev.kind == Ev::Kind::Start;
        return {};
    }

    // <text:s text:c="n"/>, <text:tab/> and <text:line-break/> stand for characters.
    Result<void> special_character(std::string_view name, const Ev& ev) {
        if (name == "s") {
            uint32_t n = repeat_count(ev.attrs, "c");
            TRY_VOID(budget_.allow_text(text_.size() + n));  // a huge count must not allocate first
            text_.append(n, ' ');
        } else if (name == "tab") {
            text_ += '\t';
        } else if (name == "line-break") {
            text_ += '\n';
        }
        return {};
    }

    // Stores the finished cell (cell_, with text_ as its text) at its
    // position and at every further column it stands for.
    Result<void> emit() {
        if (sheets_.empty()) return {};
        std::optional<Variant> value = cell_value(cell_, text_);
        if (!value) return {};
        const OdsCellState& cell = cell_;
        TRY_VOID(check_on_sheet(CellPos{cell.row, cell.col}, sheets_.back().name));
        CellMap& cells = sheets_.back().cells;
        // The one common case, a cell that stands for itself alone, gives its value away.
        if (cell.repeat == 1 && row_repeat_ == 1)
            return store_cell(cells, CellPos{cell.row, cell.col}, std::move(*value), budget_);
        reserve_copies(cells, cell.repeat);
        for (uint32_t k = 0; k < cell.repeat && (k == 0 || cell.col <= kMaxCol - k); ++k) {
            if (k > 0) TRY_VOID(budget_.charge_repeat());
            TRY_VOID(store_cell(cells, CellPos{cell.row, cell.col + k}, *value, budget_));
            if (row_repeat_ > 1) row_cells_.emplace_back(cell.col + k, *value);
        }
        return {};
    }

    ReadBudget& budget_;
    std::vector<WorkbookSheet> sheets_;
    OdsCellState cell_;
    bool pending_ = false;  // cell_ is open, awaiting its end tag
    std::string text_;
    uint32_t row_ = 0;
    uint32_t row_repeat_ = 1;
    uint32_t col_ = 0;
    uint32_t col_repeat_ = 1;
    bool in_table_ = false;
    bool in_paragraph_ = false;
    uint32_t paragraphs_ = 0;
    uint32_t annotation_ = 0;
    std::vector<std::pair<uint32_t, Variant>> row_cells_;  // values of a repeated row
};

}  // namespace

Result<std::vector<WorkbookSheet>> read_ods_content(std::string_view content, ReadBudget& budget, PartText* part) {
    ContentWalk walk(budget);
    TRY_VOID(walk_part(content, part, [&](const Ev& ev) { return walk.event(ev); }));
    return walk.finish();
}

}  // namespace morvane::reader
