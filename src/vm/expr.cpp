// The expressions compiled nodes run through a Vm member: minus and Not,
// names without a variable, array elements and calls that are no
// Function, and the reads of ranges, sheets, objects and records. Each
// takes its operands from the node's compiled kids.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "types/address.h"
#include "vm/builtins/builtins.h"
#include "vm/exec.h"
#include "values/values.h"

namespace morvane {

using vm::XCode;

namespace {

constexpr std::string_view kUnaryMinus = "Unary minus on non-numeric: {}";
constexpr std::string_view kWorkbookSheetAlone =
    "Workbooks(...).Worksheets(...) is only valid as part of a Cells/Range access";
constexpr std::string_view kNotWorksheetVar = "'{}' is not a Worksheet object variable";
constexpr std::string_view kUndefinedVariable = "Undefined variable: '{}'";
constexpr std::string_view kBadReadAddr = "RangeRead: invalid address '{}'";
constexpr std::string_view kBadOffsetReadAddr = "RangeOffsetRead: invalid address '{}'";
constexpr std::string_view kBadSheetReadAddr = "SheetRangeRead: invalid address '{}'";

// The cells of a range in reading order, as an array indexed from 1.
template <class Read>
Array read_rect(const CellRange& range, Read&& read) {
    Array out;
    out.lower = 1;
    out.reserve(range.cell_count());
    range.for_each_cell([&](CellPos p) { out.push_back(read(p.row, p.col)); });
    return out;
}

}  // namespace

// ---------------------------------------------------------------- values

Result<Variant> Vm::evaluate(const XCode& x) {
    Variant out;
    if (!x.eval(*this, x, out)) return fail(std::move(error_));
    return out;
}

Result<uint32_t> Vm::eval_cell_index(const XCode& x, std::string_view label) {
    uint32_t out;
    if (!Exec::cell_index(*this, x, label, out)) return fail(std::move(error_));
    return out;
}

Result<Variant> Vm::eval_neg(const XCode& x) {
    Variant v = TRY(evaluate(x.kids[0]));
    // -(-2^63) has no Integer; the float rule saturates it.
    if (v.is_int()) return v.as_int() == INT64_MIN ? number_variant(9223372036854775808.0) : Variant(-v.as_int());
    if (v.is_float()) return Variant(-v.as_float());
    return fail(format_message(kUnaryMinus, v.to_string()));
}

Result<Variant> Vm::eval_not(const XCode& x) { return vm::eval_not(TRY(evaluate(x.kids[0]))); }

Result<Variant> Vm::eval_name(const XCode& x) {
    const auto& v = x.src->as<Expr::Var>();
    if (const Variant* constant = vm::find_constant(v.name)) return *constant;
    if (const vm::Builtin* clock = vm::find_bare_builtin(v.name)) {
        std::vector<Variant> none;
        return clock->fn(*this, v.name, none);
    }
    return fail(format_message(kUndefinedVariable, v.name));
}

Result<Variant> Vm::eval_index_call(const XCode& x) {
    const auto& c = x.src->as<Expr::Call>();
    if (var(x.slot).defined && var(x.slot).value.is_array()) {
        TRY_VOID(check_one_index(c.name, c.args.size()));
        uint64_t index = TRY(eval_index(x.kids[0]));
        // The index may have run a Function that changed the variable:
        // array_element looks again.
        return *TRY(array_element(x.slot, c.name, index));
    }
    // A built-in name was compiled to its own node (Exec::eval_builtin),
    // which comes here only for an array.
    return eval_vba_func(c.name, x.kids);
}

Result<Variant> Vm::eval_workbook_sheet(const XCode&) { return fail(std::string(kWorkbookSheetAlone)); }

Result<Variant> Vm::eval_active_sheet(const XCode&) { return Variant(active_sheet()); }

Result<Variant> Vm::eval_sheet_var(const XCode& x) {
    const auto& e = x.src->as<Expr::SheetVar>();
    if (const ObjectRef* object = object_ref(e.var))
        if (auto ws = std::get_if<ObjectRef::Worksheet>(&object->node)) return Variant(ws->sheet);
    return fail(format_message(kNotWorksheetVar, e.var));
}

// ---------------------------------------------------------------- cell reads

Result<Variant> Vm::eval_range_value(const XCode& x) {
    const auto& r = x.src->as<Expr::RangeValue>();
    auto range = resolve_range(r.addr, r.range);
    if (!range) return fail(format_message(kBadReadAddr, r.addr));
    if (range->is_single()) return read_cell(range->first.row, range->first.col);
    return Variant(TRY(read_area(*range, r.addr)));
}

Result<Array> Vm::read_area(const CellRange& area, std::string_view addr) {
    TRY_VOID(vm::check_range_size(addr, area.cell_count(), "read"));
    TRY_VOID(charge_work(area.cell_count()));
    TRY_VOID(book_.update_active());
    return read_rect(area, [&](uint32_t row, uint32_t col) { return get_cell(row, col); });
}

Result<Variant> Vm::eval_offset_value(const XCode& x) {
    const auto& r = x.src->as<Expr::RangeOffsetValue>();
    auto base = literal_cell(r.addr, r.range);
    if (!base) return fail(format_message(kBadOffsetReadAddr, r.addr));
    int64_t dr = saturate_i64(std::trunc(TRY(vm::to_f64(TRY(evaluate(x.kids[0]))))));
    int64_t dc = saturate_i64(std::trunc(TRY(vm::to_f64(TRY(evaluate(x.kids[1]))))));
    // A target off the sheet fails, as writing there does.
    int64_t row = 0, col = 0;
    if (__builtin_add_overflow(int64_t{base->row}, dr, &row) || __builtin_add_overflow(int64_t{base->col}, dc, &col) ||
        row < 1 || col < 1 || row > kMaxRow || col > kMaxCol)
        return fail(format_message(kBadOffsetReadAddr, r.addr));
    return read_cell(static_cast<uint32_t>(row), static_cast<uint32_t>(col));
}

Result<Variant> Vm::eval_find(const XCode& x) {
    const auto& f = x.src->as<Expr::CellsFind>();
    Variant what = TRY(evaluate(x.kids[0]));
    TRY_VOID(book_.update_active());
    std::vector<CellPos> positions;
    positions.reserve(cells().size());
    for (const auto& [pos, cell] : cells()) positions.push_back(pos);
    std::sort(positions.begin(), positions.end(),
              [](CellPos a, CellPos b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
    for (CellPos p : positions)
        if (vm::vba_eq(get_cell(p.row, p.col), what)) return Variant(int64_t{f.want_row ? p.row : p.col});
    return Variant(int64_t{0});
}

Result<Variant> Vm::eval_end(const XCode& x) {
    const auto& e = x.src->as<Expr::CellsEndPosition>();
    uint32_t row = TRY(eval_cell_index(x.kids[0], "row"));
    uint32_t col = TRY(eval_cell_index(x.kids[1], "col"));
    int64_t r = 0;
    switch (e.direction) {
        case EndDirection::Up: r = e.want_column ? col : book_.last_nonempty_row(col, row); break;
        case EndDirection::Down: r = e.want_column ? col : int64_t{book_.first_empty_row(col, row)} - 1; break;
        case EndDirection::ToLeft: r = e.want_column ? book_.last_nonempty_col(row, col) : row; break;
        case EndDirection::ToRight: r = e.want_column ? int64_t{book_.first_empty_col(row, col)} - 1 : row; break;
    }
    return Variant(std::max<int64_t>(r, 0));
}

Result<Variant> Vm::eval_sheet_cells(const XCode& x) {
    auto [key, label] = TRY(resolve_sheet_expr(x.kids[0]));
    uint32_t row = TRY(eval_cell_index(x.kids[1], "row"));
    uint32_t col = TRY(eval_cell_index(x.kids[2], "col"));
    TRY_VOID(book_.update(key));
    const CellMap* sheet = book_.sheet_by_key(key);
    if (!sheet) return Variant();
    auto cell = sheet->find(CellPos{row, col});
    return cell == sheet->end() ? Variant() : cell->second.value;
}

Result<Variant> Vm::eval_sheet_range(const XCode& x) {
    const auto& e = x.src->as<Expr::SheetRangeValue>();
    auto [key, label] = TRY(resolve_sheet_expr(x.kids[0]));
    auto range = e.range ? e.range : morvane_types::parse_range_addr(e.addr);
    if (range) *range = range->normalised();
    if (!range) return fail(format_message(kBadSheetReadAddr, e.addr));
    TRY_VOID(book_.update(key));
    const CellMap* sheet = book_.sheet_by_key(key);
    auto read = [&](uint32_t row, uint32_t col) -> Variant {
        if (!sheet) return Variant();
        auto cell = sheet->find(CellPos{row, col});
        return cell == sheet->end() ? Variant() : cell->second.value;
    };
    if (range->is_single()) return read(range->first.row, range->first.col);
    TRY_VOID(vm::check_range_size(e.addr, range->cell_count(), "read"));
    TRY_VOID(charge_work(range->cell_count()));
    return Variant(read_rect(*range, read));
}

// ---------------------------------------------------------------- objects and records

Result<Variant> Vm::eval_field(const XCode& x) {
    const auto& f = x.src->as<Expr::Field>();
    if (auto o = object_of(f.var)) return object_field_read(*o, {f.field});
    const Slot& s = var(slot_of(f.var, f.slot));
    if (s.defined && s.value.is_record())
        if (const Variant* v = s.value.as_record().find(f.field)) return *v;
    return Variant();
}

Result<Variant> Vm::eval_member_path(const XCode& x) {
    const auto& m = x.src->as<Expr::MemberPath>();
    if (auto o = object_of(m.root)) return object_field_read(*o, m.path);
    const Slot& s = var(slot_of(m.root, m.slot));
    const Variant* at = s.defined ? &s.value : nullptr;
    for (const std::string& field : m.path) {
        if (!at || !at->is_record()) return Variant();
        at = at->as_record().find(field);
    }
    return at ? *at : Variant();
}

Result<Variant> Vm::eval_indexed_field(const XCode& x) {
    const auto& f = x.src->as<Expr::IndexedField>();
    TRY_VOID(check_one_index(f.name, f.args.size()));
    uint64_t index = TRY(eval_index(x.kids[0]));
    const Variant& element = *TRY(array_element(slot_of(f.name, f.slot), f.name, index));
    if (!element.is_record()) return element;
    const Variant* v = element.as_record().find(f.field);
    return v ? *v : Variant();
}

}  // namespace morvane
