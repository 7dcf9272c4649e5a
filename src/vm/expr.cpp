// Expression evaluation: one arm per expression kind, with a fast path for
// arithmetic and comparisons on two Integers that gives exactly what the
// floating-point rule gives.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "types/address.h"
#include "vm/builtins/builtins.h"
#include "vm/dispatch.h"
#include "vm/fast_path.h"
#include "values/values.h"

namespace morvane {

using vm::kExpr;

namespace {

constexpr std::string_view kUnaryMinus = "Unary minus on non-numeric: {}";
constexpr std::string_view kWorkbookSheetAlone =
    "Workbooks(...).Worksheets(...) is only valid as part of a Cells/Range access";
constexpr std::string_view kNotWorksheetVar = "'{}' is not a Worksheet object variable";
constexpr std::string_view kUnknownExpression = "Unknown expression";
constexpr std::string_view kUndefinedVariable = "Undefined variable: '{}'";
constexpr std::string_view kBadReadAddr = "RangeRead: invalid address '{}'";
constexpr std::string_view kBadOffsetReadAddr = "RangeOffsetRead: invalid address '{}'";
constexpr std::string_view kBadSheetReadAddr = "SheetRangeRead: invalid address '{}'";

template <class Read>
Array read_rect(const CellRange& range, Read&& read) {
    Array out;
    out.reserve(range.cell_count());
    range.for_each_cell([&](CellPos p) { out.push_back(read(p.row, p.col)); });
    return out;
}

}  // namespace

// ---------------------------------------------------------------- fast paths

bool Vm::fast_num_leaf(const Expr& e, Num& out) const {
    const auto& n = e.node;
    switch (n.index()) {
        case kExpr<Expr::Int>: out = {true, std::get_if<Expr::Int>(&n)->value, 0}; return true;
        case kExpr<Expr::Float>: out = {false, 0, std::get_if<Expr::Float>(&n)->value}; return true;
        case kExpr<Expr::Var>: return slot_num(std::get_if<Expr::Var>(&n)->slot, out);
        case kExpr<Expr::Neg>: {
            Num x;
            if (!fast_num(*std::get_if<Expr::Neg>(&n)->operand, x)) return false;
            if (x.is_int && x.i == INT64_MIN) return false;
            out = x.is_int ? Num{true, -x.i, 0} : Num{false, 0, -x.d};
            return true;
        }
        default: return false;
    }
}

// ---------------------------------------------------------------- evaluation

Result<Variant> Vm::eval_expr(const Expr& expr) {
    const auto& n = expr.node;
    switch (n.index()) {
        case kExpr<Expr::Int>: return Variant(std::get_if<Expr::Int>(&n)->value);
        case kExpr<Expr::Float>: return Variant(std::get_if<Expr::Float>(&n)->value);
        case kExpr<Expr::Str>: return Variant(std::get_if<Expr::Str>(&n)->value);
        case kExpr<Expr::Bool>: return Variant(std::get_if<Expr::Bool>(&n)->value);
        case kExpr<Expr::Date>: return Variant(Date{std::get_if<Expr::Date>(&n)->serial});
        case kExpr<Expr::Var>: return eval_var(*std::get_if<Expr::Var>(&n));
        case kExpr<Expr::Binary>: return eval_binary(*std::get_if<Expr::Binary>(&n));
        case kExpr<Expr::Neg>: {
            Variant v = TRY(eval_expr(*std::get_if<Expr::Neg>(&n)->operand));
            // -(-2^63) has no Integer; the float rule saturates it.
            if (v.is_int()) return v.as_int() == INT64_MIN ? number_variant(9223372036854775808.0) : Variant(-v.as_int());
            if (v.is_float()) return Variant(-v.as_float());
            return fail(format_message(kUnaryMinus, v.to_string()));
        }
        case kExpr<Expr::Not>: {
            Variant v = TRY(eval_expr(*std::get_if<Expr::Not>(&n)->operand));
            if (v.is_bool()) return Variant(!v.as_bool());
            return Variant(~TRY(vm::to_i64_bitwise(v)));
        }
        case kExpr<Expr::CellsValue>: {
            const auto& e = *std::get_if<Expr::CellsValue>(&n);
            uint32_t row = TRY(eval_cell_index(*e.row, "row"));
            uint32_t col = TRY(eval_cell_index(*e.col, "col"));
            return read_cell(row, col);
        }
        case kExpr<Expr::Call>: return eval_call(*std::get_if<Expr::Call>(&n));
        case kExpr<Expr::RangeValue>: return eval_range_value(*std::get_if<Expr::RangeValue>(&n));
        case kExpr<Expr::RangeOffsetValue>: return eval_offset_value(*std::get_if<Expr::RangeOffsetValue>(&n));
        case kExpr<Expr::CellsFind>: return eval_find(*std::get_if<Expr::CellsFind>(&n));
        case kExpr<Expr::SheetCellsValue>: return eval_sheet_cells(*std::get_if<Expr::SheetCellsValue>(&n));
        case kExpr<Expr::SheetRangeValue>: return eval_sheet_range(*std::get_if<Expr::SheetRangeValue>(&n));
        case kExpr<Expr::WorkbookSheet>:
            return fail(std::string(kWorkbookSheetAlone));
        case kExpr<Expr::RowsCount>: return Variant(int64_t{kMaxRow});
        case kExpr<Expr::ColumnsCount>: return Variant(int64_t{kMaxCol});
        case kExpr<Expr::CellsEndPosition>: return eval_end(*std::get_if<Expr::CellsEndPosition>(&n));
        case kExpr<Expr::ActiveSheet>: return Variant(active_sheet());
        case kExpr<Expr::SheetVar>: {
            const auto& e = *std::get_if<Expr::SheetVar>(&n);
            auto it = objects_.find(e.var);
            if (it != objects_.end())
                if (auto ws = std::get_if<ObjectRef::Worksheet>(&it->second.node)) return Variant(ws->sheet);
            return fail(format_message(kNotWorksheetVar, e.var));
        }
        case kExpr<Expr::Field>: return eval_field(*std::get_if<Expr::Field>(&n));
        case kExpr<Expr::MemberPath>: return eval_member_path(*std::get_if<Expr::MemberPath>(&n));
        case kExpr<Expr::IndexedField>: return eval_indexed_field(*std::get_if<Expr::IndexedField>(&n));
    }
    return fail(std::string(kUnknownExpression));
}

Result<std::vector<Variant>> Vm::eval_expr_list(const std::vector<Expr>& exprs) {
    std::vector<Variant> out;
    out.reserve(exprs.size());
    for (const Expr& e : exprs) out.push_back(TRY(eval_expr(e)));
    return out;
}

Result<Variant> Vm::eval_var(const Expr::Var& v) {
    const Slot& s = slots_[slot_of(v.name, v.slot)];
    if (s.defined) {
        // Reading an array copies it: a loop of such copies reaches the
        // interrupt check by its elements, not only by its passes.
        if (s.value.is_array()) TRY_VOID(charge_work(s.value.as_array().size()));
        return s.value;
    }
    if (s.constant) return *s.constant;
    if (const vm::Builtin* clock = vm::find_bare_builtin(v.name)) {
        std::vector<Variant> none;
        return clock->fn(*this, v.name, none);
    }
    return fail(format_message(kUndefinedVariable, v.name));
}

Result<bool> Vm::eval_num_other(const Expr& e, Num& out, Variant& other) {
    other = TRY(eval_expr(e));
    return vm::num_of(other, out);
}

Result<bool> Vm::eval_num_binary(const Expr::Binary& b, Num& out, Variant& other) {
    Num a, c;
    if (TRY(eval_num(*b.lhs, a, other))) {
        // `other` is free for the right operand: two numbers build no Variant.
        if (TRY(eval_num(*b.rhs, c, other))) {
            if (vm::num_arith(b.op, a, c, out)) return true;
            other = vm::num_variant(c);
        }
        other = TRY(vm::eval_binop(b.op, vm::num_variant(a), std::move(other)));
    } else {
        Variant lhs = std::move(other);
        Variant rhs;
        if (TRY(eval_num(*b.rhs, c, rhs))) rhs = vm::num_variant(c);
        other = TRY(vm::eval_binop(b.op, std::move(lhs), std::move(rhs)));
    }
    return vm::num_of(other, out);
}

Result<Variant> Vm::eval_binary(const Expr::Binary& b) {
    // Numbers, from variables, arithmetic or Function calls, go without
    // Variants until the result.
    if (vm::is_arithmetic(b.op)) {
        Num n;
        Variant other;
        if (TRY(eval_num_binary(b, n, other))) return vm::num_variant(n);
        return other;
    }
    if (vm::is_comparison(b.op)) {
        Num a, c;
        Variant lhs, rhs;
        const bool a_num = TRY(eval_num(*b.lhs, a, lhs));
        const bool c_num = TRY(eval_num(*b.rhs, c, rhs));
        bool t;
        if (a_num && c_num && vm::num_compare(b.op, a, c, t)) return Variant(t);
        if (a_num) lhs = vm::num_variant(a);
        if (c_num) rhs = vm::num_variant(c);
        return vm::eval_binop(b.op, std::move(lhs), std::move(rhs));
    }
    Variant lhs = TRY(eval_expr(*b.lhs));
    Variant rhs = TRY(eval_expr(*b.rhs));
    return vm::eval_binop(b.op, std::move(lhs), std::move(rhs));
}

Result<Variant> Vm::eval_call(const Expr::Call& c) {
    const uint32_t slot = slot_of(c.name, c.slot);
    if (const Proc* f = slots_[slot].func) {
        const size_t base = arg_stack_.size();
        TRY_VOID(push_args(c.args));
        return invoke(*f, base);
    }
    if (slots_[slot].defined && slots_[slot].value.is_array()) {
        TRY_VOID(check_one_index(c.name, c.args.size()));
        uint64_t index = TRY(eval_index(c.args[0]));
        // The index may have run a Function that changed the variable:
        // array_element looks again.
        return *TRY(array_element(slot, c.name, index));
    }
    if (const vm::Builtin* b = slots_[slot].builtin) return call_builtin(*b, c.name, c.args);
    return eval_vba_func(c.name, c.args);
}

Result<uint32_t> Vm::eval_cell_index(const Expr& e, std::string_view label) {
    Num n;
    if (fast_num(e, n) && n.is_int && n.i >= 1) return static_cast<uint32_t>(std::min<int64_t>(n.i, UINT32_MAX));
    return vm::to_cell_index(TRY(eval_expr(e)), label);
}

// ---------------------------------------------------------------- cell reads

Result<Variant> Vm::eval_range_value(const Expr::RangeValue& r) {
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

Result<Variant> Vm::eval_offset_value(const Expr::RangeOffsetValue& r) {
    auto base = literal_cell(r.addr, r.range);
    if (!base) return fail(format_message(kBadOffsetReadAddr, r.addr));
    int64_t dr = saturate_i64(std::trunc(TRY(vm::to_f64(TRY(eval_expr(*r.row_offset))))));
    int64_t dc = saturate_i64(std::trunc(TRY(vm::to_f64(TRY(eval_expr(*r.col_offset))))));
    // Wrapping on purpose: a target above row 1 names no cell and reads Empty.
    uint32_t row = base->row + static_cast<uint32_t>(static_cast<uint64_t>(dr));
    uint32_t col = base->col + static_cast<uint32_t>(static_cast<uint64_t>(dc));
    return read_cell(row, col);
}

Result<Variant> Vm::eval_find(const Expr::CellsFind& f) {
    Variant what = TRY(eval_expr(*f.what));
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

Result<Variant> Vm::eval_end(const Expr::CellsEndPosition& e) {
    uint32_t row = TRY(eval_cell_index(*e.row, "row"));
    uint32_t col = TRY(eval_cell_index(*e.col, "col"));
    int64_t r = 0;
    switch (e.direction) {
        case EndDirection::Up: r = e.want_column ? col : book_.last_nonempty_row(col, row); break;
        case EndDirection::Down: r = e.want_column ? col : int64_t{book_.first_empty_row(col, row)} - 1; break;
        case EndDirection::ToLeft: r = e.want_column ? book_.last_nonempty_col(row, col) : row; break;
        case EndDirection::ToRight: r = e.want_column ? int64_t{book_.first_empty_col(row, col)} - 1 : row; break;
    }
    return Variant(std::max<int64_t>(r, 0));
}

Result<Variant> Vm::eval_sheet_cells(const Expr::SheetCellsValue& e) {
    auto [key, label] = TRY(resolve_sheet_expr(*e.sheet));
    uint32_t row = TRY(eval_cell_index(*e.row, "row"));
    uint32_t col = TRY(eval_cell_index(*e.col, "col"));
    TRY_VOID(book_.update(key));
    const CellMap* sheet = book_.sheet_by_key(key);
    if (!sheet) return Variant();
    auto cell = sheet->find(CellPos{row, col});
    return cell == sheet->end() ? Variant() : cell->second.value;
}

Result<Variant> Vm::eval_sheet_range(const Expr::SheetRangeValue& e) {
    auto [key, label] = TRY(resolve_sheet_expr(*e.sheet));
    auto range = e.range ? e.range : morvane_types::parse_range_addr(e.addr);
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

Result<Variant> Vm::eval_field(const Expr::Field& f) {
    if (auto it = objects_.find(f.var); it != objects_.end()) {
        if (auto r = std::get_if<ObjectRef::Range>(&it->second.node))
            return f.field == "value" ? read_range_ref_value(r->range) : Result<Variant>(Variant());
    }
    const Slot& s = slots_[slot_of(f.var, f.slot)];
    if (s.defined && s.value.is_record())
        if (const Variant* v = s.value.as_record().find(f.field)) return *v;
    return Variant();
}

Result<Variant> Vm::eval_member_path(const Expr::MemberPath& m) {
    if (auto it = objects_.find(m.root); it != objects_.end()) {
        if (auto r = std::get_if<ObjectRef::Range>(&it->second.node)) {
            if (m.path.size() == 2 && m.path[0] == "areas" && m.path[1] == "count")
                return Variant(static_cast<int64_t>(r->range.areas.size()));
            return Variant();
        }
    }
    const Slot& s = slots_[slot_of(m.root, m.slot)];
    const Variant* at = s.defined ? &s.value : nullptr;
    for (const std::string& field : m.path) {
        if (!at || !at->is_record()) return Variant();
        at = at->as_record().find(field);
    }
    return at ? *at : Variant();
}

Result<Variant> Vm::eval_indexed_field(const Expr::IndexedField& f) {
    TRY_VOID(check_one_index(f.name, f.args.size()));
    uint64_t index = TRY(eval_index(f.args[0]));
    const Variant& element = *TRY(array_element(slot_of(f.name, f.slot), f.name, index));
    if (!element.is_record()) return element;
    const Variant* v = element.as_record().find(f.field);
    return v ? *v : Variant();
}

}  // namespace morvane
