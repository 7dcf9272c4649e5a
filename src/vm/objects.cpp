// Sheet, range and object resolution: sheet expressions to sheet keys,
// address texts (several areas, or a defined name) to areas, the object
// expressions of Set, Union, Areas and SpecialCells to object references,
// and reads and writes of whole ranges through Range object variables.
#include <cmath>

#include "types/address.h"
#include "types/text.h"
#include "vm/slots.h"
#include "vm/messages.h"
#include "vm/mod.h"
#include "workbook/sheet_rows.h"
#include "values/values.h"

namespace morvane {

namespace {

constexpr std::string_view kRangeNotSheet = "'{}' is a Range object, not a Worksheet";
constexpr std::string_view kWorkbookNotSheet =
    "'{}' is a Workbook object — use '{}.Worksheets(name)', not '.Range(...)'/'.Cells(...)' directly";
constexpr std::string_view kWorkbookNotFound = "Workbook '{}' not found";
constexpr std::string_view kSheetIndex = "Subscript out of range: there is no sheet number {}";
constexpr std::string_view kObjectNotSet =
    "Object variable '{}' is not set (Set was never called, or it holds Nothing)";
constexpr std::string_view kNotAnObjectPath = "Set: '{}' gives no object";
constexpr std::string_view kUnionSheets = "Union: all ranges must be on the same sheet";
constexpr std::string_view kAreasIndex = "Areas: index {} out of range (range has {} area{})";
constexpr std::string_view kNoVisibleCells = "SpecialCells: no visible cells were found (Error 1004)";
constexpr std::string_view kGotWorksheet = "{}: expected a Range object, got a Worksheet reference";
constexpr std::string_view kGotWorkbook = "{}: expected a Range object, got a Workbook reference";
constexpr std::string_view kMultiAreaRead =
    "Range.Value: multi-area range has no single .Value — read through .Areas(n) instead";

}  // namespace

// ---------------------------------------------------------------- addresses

// Every address is put in order (B2:A1 is A1:B2), whatever names it.
std::optional<CellRange> Vm::resolve_range_addr(std::string_view addr) const {
    auto r = vm::resolve_range_addr(addr, book_.defined_names);
    if (r) *r = r->normalised();
    return r;
}

std::optional<CellRange> Vm::resolve_range(std::string_view addr, const LiteralRange& literal) const {
    if (literal) return literal->normalised();
    return resolve_range_addr(addr);
}

std::optional<CellPos> Vm::literal_cell(std::string_view addr, const LiteralRange& literal) {
    if (literal) return literal->first;
    return morvane_types::parse_cell_addr(addr);
}

std::optional<std::vector<CellRange>> Vm::resolve_multi_area_addr(std::string_view addr) const {
    auto areas = vm::resolve_multi_area_addr(addr, book_.defined_names);
    if (areas)
        for (CellRange& a : *areas) a = a.normalised();
    return areas;
}

// ---------------------------------------------------------------- sheets

Result<std::pair<std::string, std::string>> Vm::resolve_sheet_expr(const vm::XCode& code) {
    // Only an operand the statement lacks has no source; evaluating it fails.
    if (!code.src) return fail(evaluate(code).error());
    const Expr& sheet = *code.src;
    if (sheet.is<Expr::ActiveSheet>()) return std::pair{book_.active_sheet(), book_.active_sheet()};
    if (auto v = sheet.get_if<Expr::SheetVar>()) {
        const ObjectRef* object = object_ref(v->var);
        if (!object) return fail(format_message(vm::kNothing, v->var));
        const auto& node = object->node;
        if (auto ws = std::get_if<ObjectRef::Worksheet>(&node)) {
            if (!book_.has_sheet(ws->sheet)) return fail(format_message(vm::kNoSuchSheet, ws->sheet));
            return std::pair{ws->sheet, book_.display_name(ws->sheet)};
        }
        if (std::holds_alternative<ObjectRef::Range>(node)) return fail(format_message(kRangeNotSheet, v->var));
        return fail(format_message(kWorkbookNotSheet, v->var, v->var));
    }
    if (sheet.is<Expr::WorkbookSheet>()) {
        // The workbook has no name, so no Workbooks(...) reference matches.
        Variant book = TRY(evaluate(code.kids[0]));
        return fail(format_message(kWorkbookNotFound, vm::vba_to_str(book)));
    }
    return sheet_by_value(TRY(evaluate(code)));
}

Result<std::pair<std::string, std::string>> Vm::sheet_by_value(const Variant& key) const {
    // A whole number (of any type) counts in tab order; anything else is a name.
    if (key.is_int() || key.is_float()) {
        const double x = key.is_int() ? static_cast<double>(key.as_int()) : key.as_float();
        const auto& names = book_.sheet_names();
        if (!(x >= 1 && x <= static_cast<double>(names.size())))
            return fail(format_message(kSheetIndex, vm::vba_to_str(key)));
        const std::string& k = names[static_cast<size_t>(std::llround(x)) - 1];
        return std::pair{k, book_.display_name(k)};
    }
    std::string label = vm::vba_to_str(key);
    std::string k = text::to_lower(label);
    if (!book_.has_sheet(k)) return fail(format_message(vm::kNoSuchSheet, label));
    return std::pair{std::move(k), std::move(label)};
}

// ---------------------------------------------------------------- objects

Result<ObjectRef> Vm::eval_object_expr(const ObjectExpr& object, const vm::SCode& c) {
    const auto& n = object.node;
    if (auto o = std::get_if<ObjectExpr::Range>(&n)) {
        auto areas = resolve_multi_area_addr(o->addr);
        if (!areas) return fail(format_message(vm::kRangeInvalid, o->addr));
        for (CellRange& a : *areas) a = a.normalised();
        return ObjectRef{ObjectRef::Range{RangeRef{book_.active_sheet(), std::move(*areas)}}};
    }
    if (auto o = std::get_if<ObjectExpr::Var>(&n)) {
        const ObjectRef* object = object_ref(o->name);
        if (!object) return fail(format_message(kObjectNotSet, o->name));
        return *object;
    }
    if (auto o = std::get_if<ObjectExpr::Union>(&n)) {
        RangeRef joined;
        for (size_t i = 0; i < o->parts.size(); ++i) {
            RangeRef part = TRY(vm::expect_range_ref(TRY(eval_object_expr(o->parts[i], c)), "Union"));
            if (i == 0)
                joined.sheet = std::move(part.sheet);
            else if (part.sheet != joined.sheet)
                return fail(std::string(kUnionSheets));
            joined.areas.insert(joined.areas.end(), part.areas.begin(), part.areas.end());
        }
        return ObjectRef{ObjectRef::Range{std::move(joined)}};
    }
    if (auto o = std::get_if<ObjectExpr::Areas>(&n)) {
        RangeRef base = TRY(vm::expect_range_ref(TRY(eval_object_expr(*o->base, c)), "Areas"));
        const double x = TRY(vm::to_f64(TRY(evaluate(operand(c, *o->index)))));
        const int64_t i = std::isnan(x) ? 0 : saturate_i64(std::trunc(x));
        const size_t count = base.areas.size();
        if (i < 1 || static_cast<uint64_t>(i) > count)
            return fail(format_message(kAreasIndex, std::to_string(i), std::to_string(count), count == 1 ? "" : "s"));
        return ObjectRef{
            ObjectRef::Range{RangeRef::single(std::move(base.sheet), base.areas[static_cast<size_t>(i - 1)])}};
    }
    if (auto o = std::get_if<ObjectExpr::Path>(&n)) {
        PathOps ops(*this, c.x);
        // Set ws = Sheets.Add: the new sheet, which is now the active one.
        if (o->steps.size() >= 2 && o->steps.back().name == "add") {
            PathObj coll = TRY(walk_path(o->steps, o->steps.size() - 1));
            if (coll.kind == PathObj::Kind::Sheets) {
                const ObjStep& add = o->steps.back();
                std::vector<const Expr*> args;
                for (const Expr& a : add.args) args.push_back(&a);
                return ObjectRef{ObjectRef::Worksheet{TRY(add_sheet(args, add.arg_names))}};
            }
        }
        PathObj p = TRY(walk_path(o->steps, o->steps.size()));
        if (p.kind == PathObj::Kind::Range) {
            // A range keeps its own corners in reading order.
            for (CellRange& a : p.range.areas) a = a.normalised();
            return ObjectRef{ObjectRef::Range{std::move(p.range)}};
        }
        if (p.kind == PathObj::Kind::Sheet) return ObjectRef{ObjectRef::Worksheet{std::move(p.sheet)}};
        if (p.kind == PathObj::Kind::Workbook) return ObjectRef{ObjectRef::Workbook{}};
        return fail(format_message(kNotAnObjectPath, o->steps.back().name));
    }
    const auto& o = *std::get_if<ObjectExpr::SpecialCellsVisible>(&n);
    // No row or column is ever hidden: every area that holds cells is visible.
    RangeRef base = TRY(vm::expect_range_ref(TRY(eval_object_expr(*o.base, c)), "SpecialCells"));
    std::erase_if(base.areas, [](const CellRange& r) { return r.cell_count() == 0; });
    if (base.areas.empty()) return fail(std::string(kNoVisibleCells));
    return ObjectRef{ObjectRef::Range{std::move(base)}};
}

Result<void> Vm::exec_set_object(const Stmt::SetObject& s, const vm::SCode& c) {
    Slot& target = var(slot_of(s.name, s.slot));
    if (auto v = s.object.get_if<ObjectExpr::Var>()) {
        if (v->name == "activesheet") {
            set_object(target, ObjectRef{ObjectRef::Worksheet{book_.active_sheet()}});
            return {};
        }
        if (v->name == "thisworkbook" || v->name == "activeworkbook") {
            set_object(target, ObjectRef{ObjectRef::Workbook{}});
            return {};
        }
        // Set x = Nothing empties x; Set x = y with y never set does too.
        if (v->name == "nothing" || !object_ref(v->name)) {
            target.object.reset();
            return {};
        }
    }
    set_object(target, TRY(eval_object_expr(s.object, c)));
    return {};
}

// ---------------------------------------------------------------- values through Range objects

Result<Variant> Vm::read_range_ref_value(const RangeRef& range) {
    if (range.areas.size() != 1) return fail(std::string(kMultiAreaRead));
    const CellRange& area = range.areas.front();
    TRY_VOID(book_.update(range.sheet));
    const CellMap* sheet = book_.sheet_by_key(range.sheet);
    auto read = [&](uint32_t row, uint32_t col) -> Variant {
        if (!sheet) return Variant();
        auto it = sheet->find(CellPos{row, col});
        return it == sheet->end() ? Variant() : it->second.value;
    };
    if (area.first.row == area.last.row && area.first.col == area.last.col) return read(area.first.row, area.first.col);
    TRY_VOID(vm::check_range_size(vm::rect_text(area), area.cell_count(), "read"));
    TRY_VOID(charge_work(area.cell_count()));
    // Indexed from 1, as every array read from a range.
    Array out;
    out.lower = 1;
    out.reserve(area.cell_count());
    for (uint64_t r = area.first.row; r <= area.last.row; ++r)
        for (uint64_t c = area.first.col; c <= area.last.col; ++c)
            out.push_back(read(static_cast<uint32_t>(r), static_cast<uint32_t>(c)));
    return Variant(std::move(out));
}

namespace vm {

Result<RangeRef> expect_range_ref(ObjectRef object, std::string_view operation) {
    if (auto r = std::get_if<ObjectRef::Range>(&object.node)) return std::move(r->range);
    if (std::holds_alternative<ObjectRef::Worksheet>(object.node))
        return fail(format_message(kGotWorksheet, operation));
    return fail(format_message(kGotWorkbook, operation));
}

}  // namespace vm

}  // namespace morvane
