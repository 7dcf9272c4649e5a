// The macro interpreter. `Vm` owns the workbook model (sheets of cells, the
// active sheet and its occupancy index, defined names, protection) and the
// macro state that persists between runs (variables, object variables,
// procedures, Types, the error, jump and exit state). Its members are
// defined by unit: workbook.cpp (sheets and cells), run.cpp (procedures and
// run control), load.cpp (binding names to slots), stmt.cpp (control flow,
// variables, arrays, calls), stmt_cells.cpp (cell, range and sheet
// statements), records.cpp (user Types), expr.cpp (expressions),
// builtins.cpp (VBA built-in functions), objects.cpp (range and sheet
// resolution), formulas.cpp (cell formulas).
//
// Variables live in one table shared by every procedure, as VBA's single
// variable map does: each name is bound to a slot when a program is loaded,
// so the hot path indexes a vector instead of hashing a name.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "formula/eval.h"
#include "parser/ast.h"
#include "types/result.h"
#include "types/variant.h"
#include "vm/areas.h"
#include "vm/paste.h"

namespace morvane {

// A possibly multi-area range on a fixed sheet.
struct RangeRef {
    // Lower-case key, fixed when made; the sheet may since have been deleted.
    std::string sheet;
    // Never empty; duplicates and overlaps stay.
    std::vector<Rect> areas;
    static RangeRef single(std::string sheet, const Rect& area) { return {std::move(sheet), {area}}; }
};

// What an object variable holds.
struct ObjectRef {
    struct Range { RangeRef range; };
    struct Worksheet { std::string sheet; };
    struct Workbook {};
    std::variant<Range, Worksheet, Workbook> node;
};

// Hidden: the interpreter is private to the extension module, so calls
// between its members bind directly instead of through the PLT.
class __attribute__((visibility("hidden"))) Vm {
public:
    // Largest number of nested procedure activations; one more fails with
    // "Out of stack space".
    static constexpr uint32_t kMaxCallDepth = 2000;
    // Largest array a Dim or ReDim may create.
    static constexpr uint64_t kMaxArrayLen = 10'000'000;
    static constexpr std::string_view kMultiDim = "multi-dimensional arrays are not supported";

    Vm();
    Vm(const Vm&) = delete;
    Vm& operator=(const Vm&) = delete;

    // ------------------------------------------------ workbook (workbook.cpp)
    std::vector<std::string> sheet_names() const;
    void ensure_sheet(std::string_view name);
    Result<void> set_active_sheet(std::string_view name);
    // The key (lower-case name) of the active sheet.
    const std::string& active_sheet() const { return active_sheet_; }
    const SheetMap& sheets() const { return sheets_; }
    const CellMap* get_sheet_cells(std::string_view name) const;
    CellMap* sheet_cells_mut(std::string_view name);
    // Removes a sheet that is not active; false when it is active or absent.
    bool remove_sheet(std::string_view key);
    const CellMap& cells() const { return *active_cells_; }
    CellMap& cells_mut() {
        index_dirty = true;
        return *active_cells_;
    }
    Variant get_cell(uint32_t row, uint32_t col) const;
    // Stores a value cell (no formula) on the active sheet.
    void set_cell_value(uint32_t row, uint32_t col, Variant value);
    uint32_t first_empty_row(uint32_t col, uint32_t start);
    uint32_t first_empty_col(uint32_t row, uint32_t start);
    uint32_t last_nonempty_row(uint32_t col, uint32_t bound);
    uint32_t last_nonempty_col(uint32_t row, uint32_t bound);
    void rebuild_cell_index();
    Result<void> check_sheet_not_protected(std::string_view key, std::string_view display) const;
    Result<void> require_sheet_exists(std::string_view display, std::string_view key) const;

    // ------------------------------------------------ variables (load.cpp)
    // The shared variable map, seen by name.
    const Variant* find_var(std::string_view name) const;
    void set_var(std::string_view name, Variant value);
    void remove_var(std::string_view name);
    // Calls fn(name, value) for every defined variable.
    template <class Fn>
    void for_each_var(Fn&& fn) const {
        for (size_t i = 0; i < slots_.size(); ++i)
            if (slots_[i].defined) fn(names_[i], slots_[i].value);
    }

    // ------------------------------------------------ run control (run.cpp)
    Result<void> run_sub(const Program& program, std::string_view name);
    Result<void> call_sub_def(const SubDef& sub, std::vector<Variant> args);
    Result<Variant> call_func_def(const FuncDef& func, std::vector<Variant> args);
    // Once per loop pass, jump and call: every 256th asks `interrupt_check` whether the
    // run must stop (Ctrl-C).
    Result<void> check_deadline() {
        if ((++steps_ & 255) != 0) return {};
        return poll_interrupt();
    }

    // ------------------------------------------------ statements (stmt.cpp)
    Result<void> exec_stmt(const SpannedStmt& stmt);
    Result<void> exec_stmt_inner(const Stmt& stmt);
    // The same, with the commonest kinds one call shallower.
    Result<void> exec_stmt_fast(const Stmt& stmt) {
        if (auto s = stmt.get_if<Stmt::Assign>()) return exec_assign(*s);
        if (auto s = stmt.get_if<Stmt::If>()) return exec_if(*s);
        return exec_stmt_inner(stmt);
    }
    static std::string array_oob_error(std::string_view name, uint64_t index, uint64_t len);

    // ------------------------------------------------ expressions (expr.cpp)
    Result<Variant> eval_expr(const Expr& expr);
    Result<std::vector<Variant>> eval_expr_list(const std::vector<Expr>& exprs);
    // The cells of a rectangle of the active sheet, row by row (`addr` names
    // it in the size message).
    Result<Array> read_corners(const Corners& corners, std::string_view addr) const;
    // builtins.cpp
    Result<Variant> eval_vba_func(const std::string& name, const std::vector<Expr>& args);

    // ------------------------------------------------ objects (objects.cpp)
    // An A1 range or a defined name: two corners as written.
    std::optional<Corners> resolve_range_addr(std::string_view addr) const;
    // Comma-separated A1 areas, or a defined name standing for them.
    std::optional<std::vector<Rect>> resolve_multi_area_addr(std::string_view addr) const;
    // (key, label) of the sheet an expression names; the sheet need not exist.
    Result<std::pair<std::string, std::string>> resolve_sheet_expr(const Expr& sheet);
    // The right-hand side of Set, and the bases of Union, Areas, SpecialCells.
    Result<ObjectRef> eval_object_expr(const ObjectExpr& object);
    // .Value of a Range object: one cell's value, or a flat row-major Array.
    Result<Variant> read_range_ref_value(const RangeRef& range);
    // .Value (one value into every cell) or .Formula (one text into every
    // cell, evaluated against the range's own sheet) of a Range object.
    Result<void> write_range_ref_value(const RangeRef& range, bool is_formula, const Variant& value);

    // ------------------------------------------------ clipboard (clipboard.cpp)
    // Replaces the clipboard with the values of `areas` on `sheet` (a missing
    // sheet reads empty); `source` names them in the too-large message.
    Result<void> copy_areas_to_clipboard(const std::string& sheet, const std::vector<Rect>& areas,
                                         std::string_view source);
    // Pastes the clipboard at `dest` on the active sheet.
    Result<void> do_paste(std::string_view dest, bool transpose);

    // ------------------------------------------------ formulas (formulas.cpp)
    Result<void> set_cell_formula(uint32_t row, uint32_t col, std::string_view formula);
    // Every formula of the active sheet again, in dependency order; the first
    // failure ends the pass, keeping the values computed before it.
    Result<void> recalculate_all();
    // Manual -> Automatic recalculates; every other change only stores the mode.
    Result<void> set_calc_mode(CalcMode mode);
    // set_cell_formula for every cell of the area, row by row; the first
    // failure ends it, the cells written before keeping their formulas.
    Result<void> set_rect_formula(const Rect& area, std::string_view formula);

    // ------------------------------------------------ state read by other units
    std::unordered_map<std::string, ObjectRef> objects;
    std::unordered_map<std::string, SubDef> subs;
    std::unordered_map<std::string, FuncDef> functions;
    std::unordered_map<std::string, std::vector<TypeField>> user_types;
    std::unordered_map<std::string, std::string> defined_names;
    std::unordered_set<std::string> protected_sheets;
    // What the last Copy took; none before any Copy and after CutCopyMode = False.
    std::optional<vm::ClipboardState> clipboard;
    CalcMode calc_mode = CalcMode::Automatic;
    bool msgbox_error = false;
    bool resume_next = false;
    std::optional<std::string> on_error_label;
    std::optional<std::string> pending_goto;
    ExitKind exit_flag = ExitKind::None;
    std::unordered_map<uint32_t, std::set<uint32_t>> row_index;
    std::unordered_map<uint32_t, std::set<uint32_t>> col_index;
    bool index_dirty = true;

    // Set by the embedding layer: returns true when the run must stop (a
    // pending Ctrl-C). Called from check_deadline, never elsewhere.
    bool (*interrupt_check)() = nullptr;
    // True once interrupt_check asked to stop; no On Error handler can
    // swallow that failure.
    bool interrupted() const { return interrupted_; }

private:
    // A number as the fast paths carry it, without a Variant.
    struct Num {
        bool is_int;
        int64_t i;
        double d;
        double as_double() const { return is_int ? static_cast<double>(i) : d; }
    };
    // Most arguments call_num binds as numbers, without the argument stack.
    static constexpr size_t kMaxNumArgs = 8;
    // A loaded procedure with its names already bound to slots.
    struct Proc {
        const std::vector<Param>* params;
        const Body* body;
        uint32_t name_slot;
        bool is_function;
        // No ParamArray: each argument binds to the parameter in its place.
        bool plain_params;
        // A Function with plain parameters, few enough for call_num to bind
        // numbers without the argument stack.
        bool num_call;
        std::vector<uint32_t> param_slots;
    };
    // One entry of the shared variable table, plus what the name means
    // besides a variable (a procedure of the loaded program, a constant).
    // `value` means nothing while `defined` is false.
    struct Slot {
        Variant value;
        bool defined = false;
        const Proc* func = nullptr;
        const Proc* sub = nullptr;
        const Variant* constant = nullptr;
    };
    // A slot's value before a call, put back at a normal end. Numbers stay
    // here; any other value waits in `saved_values_`, in the same order.
    struct Saved {
        enum class Kind : uint8_t { Undefined, Number, Value };
        uint32_t slot;
        Kind kind;
        Num num;
    };
    // Where one activation's saved entries begin.
    struct Frame {
        size_t saved;
        size_t values;
    };

    // load.cpp
    uint32_t intern(std::string_view name);
    uint32_t slot_of(const std::string& name, uint32_t slot) { return slot != kNoSlot ? slot : intern(name); }
    void bind_program(const Program& program);
    void bind_body(const Body& body);
    void bind_stmt(const Stmt& stmt);
    void bind_expr(const Expr& expr);
    void bind_opt(const Box<Expr>& expr);
    void bind_list(const std::vector<Expr>& exprs);
    void bind_object(const ObjectExpr& object);
    void bind_procedures();
    Proc make_proc(const std::vector<Param>& params, const Body& body, const std::string& name, bool is_function);
    const Proc* proc_for(const void* def) const;
    void set_slot(uint32_t slot, Variant value) {
        slots_[slot].value = std::move(value);
        slots_[slot].defined = true;
    }
    void clear_slot(uint32_t slot) {
        Slot& s = slots_[slot];
        // A number or other plain value may stay behind: nothing reads it.
        if (s.value.is_str() || s.value.is_array() || s.value.is_record()) s.value = Variant();
        s.defined = false;
    }

    // run.cpp
    Result<void> poll_interrupt();
    // The interrupt check handed to formula evaluation (formulas.cpp).
    eval::InterruptCheck formula_interrupt();
    Result<void> run_body_loop(const Body& body, bool is_function);
    // Runs a procedure on the `argc` arguments at the top of the argument
    // stack (from `base`), which it pops.
    Result<Variant> invoke(const Proc& proc, size_t base);
    Result<Variant> call_def(const void* def, const std::vector<Param>& params, const Body& body,
                             const std::string& name, bool is_function, std::vector<Variant> args);
    Result<void> bind_params(const Proc& proc, size_t base, size_t argc);
    // Calls a Function on the arguments `args`; true with `out` when it
    // returns a number, false with `other` otherwise. Arguments that all take
    // the numeric fast path are bound without building a Variant.
    Result<bool> call_num(const Proc& proc, const std::vector<Expr>& args, Num& out, Variant& other);
    // call_num through the argument stack, kept out of its frame.
    [[gnu::noinline]] Result<bool> call_num_general(const Proc& proc, const std::vector<Expr>& args, Num& out,
                                                    Variant& other);
    // Evaluates call arguments onto the argument stack.
    Result<void> push_args(const std::vector<Expr>& args);
    Frame frame_mark() const { return Frame{saved_.size(), saved_values_.size()}; }
    // Saves what a slot holds; `keep` leaves a copy in the slot.
    void take_slot(uint32_t slot, bool keep, Saved& out) {
        Slot& s = slots_[slot];
        out.slot = slot;
        if (!s.defined)
            out.kind = Saved::Kind::Undefined;
        else if (num_of(s.value, out.num))
            out.kind = Saved::Kind::Number;
        else
            take_slot_value(s, keep, out);
    }
    void take_slot_value(Slot& s, bool keep, Saved& out);
    void save_slot(uint32_t slot, bool keep) { take_slot(slot, keep, saved_.emplace_back()); }
    // Puts one saved slot back; `value_at` walks `saved_values_`.
    void put_back(const Saved& s, size_t& value_at) {
        switch (s.kind) {
            case Saved::Kind::Undefined: clear_slot(s.slot); break;
            case Saved::Kind::Number: store_num(s.slot, s.num); break;
            case Saved::Kind::Value: set_slot(s.slot, std::move(saved_values_[value_at++])); break;
        }
    }
    // Puts back every slot saved since `from`, in order.
    void restore_from(Frame from);
    // Forgets the slots saved since `from` (a failed call restores nothing).
    void drop_from(Frame from) {
        saved_.resize(from.saved);
        saved_values_.resize(from.values);
    }
    // "Out of stack space" past the depth limit or near the end of the
    // native stack. A call is also a check point: recursion without any
    // loop (fib(50)) must be interruptible too.
    Result<void> enter_call() {
        if (depth_ < kMaxCallDepth &&
            (stack_limit_ == 0 || reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) >= stack_limit_))
            return check_deadline();
        return out_of_stack();
    }
    static Result<void> out_of_stack();
    // Drops a failure under On Error Resume Next (never an interrupt).
    bool swallows_error() const { return resume_next && !interrupted_; }

    // stmt.cpp
    Result<void> run_body(const Body& body);
    // One pass of a loop body; true when an exit ends the loop, using up an
    // Exit of this loop's own kind.
    Result<bool> loop_pass(const Body& body, ExitKind kind);
    Result<void> exec_if(const Stmt::If& s);
    Result<void> exec_for(const Stmt::For& s);
    Result<void> exec_for_each(const Stmt::ForEach& s);
    Result<void> exec_do(const Stmt::DoLoop& s);
    Result<void> exec_select(const Stmt::SelectCase& s);
    Result<bool> case_matches(const Variant& subject, const CaseMatch& match);
    Result<void> exec_call(const Stmt::Call& s);
    Result<void> exec_dim_array(const std::string& name, uint32_t slot, const std::vector<Expr>& bounds);
    Result<void> exec_redim(const Stmt::ReDim& s);
    Result<void> exec_index_assign(const Stmt::IndexAssign& s);
    Result<void> exec_dim_scalar(const Stmt::DimScalar& s);
    Result<void> exec_assign(const Stmt::Assign& s);
    Result<uint64_t> eval_index(const Expr& e);
    Result<double> eval_f64(const Expr& e);
    Result<uint64_t> eval_array_len(const std::string& name, const std::vector<Expr>& bounds);
    // stmt_cells.cpp: the dispatcher of the workbook statements and the arms
    // that write cells and ranges.
    Result<void> exec_sheet_stmt(const Stmt& stmt);
    Result<void> exec_cell_write(const Stmt::CellWrite& s);
    Result<void> exec_range_write(const Stmt::RangeWrite& s);
    Result<void> exec_range_offset_write(const Stmt::RangeOffsetWrite& s);
    Result<void> exec_range_clear(const Stmt::RangeClear& s);
    Result<void> exec_range_delete(const Stmt::RangeDelete& s);
    Result<void> exec_range_insert(const Stmt::RangeInsert& s);
    Result<void> exec_range_sort(const Stmt::RangeSort& s);
    Result<void> exec_sheet_cell_write(const Stmt::SheetCellWrite& s);
    Result<void> exec_sheet_range_write(const Stmt::SheetRangeWrite& s);
    // stmt_sheets.cpp
    Result<void> exec_sheet_protect(const Stmt::SheetProtect& s);
    Result<void> exec_sheet_delete(const Stmt::SheetDelete& s);
    Result<void> exec_add_sheet();
    Result<void> exec_with_sheet(const Stmt::WithSheet& s);
    Result<void> exec_application_set(const Stmt::ApplicationSet& s);
    // clipboard.cpp
    Result<void> exec_range_copy(const Stmt::RangeCopy& s);
    Result<void> exec_var_copy(const Stmt::VarCopy& s);
    Result<void> exec_range_paste(const Stmt::RangePaste& s);
    Result<void> exec_sheet_paste(const Stmt::SheetPaste& s);
    // records.cpp: the arms of user-defined Types.
    Result<void> exec_record_stmt(const Stmt& stmt);
    Result<void> exec_dim_as(const Stmt::DimAs& s);
    Result<void> exec_dim_array_as(const Stmt::DimArrayAs& s);
    Result<void> exec_field_assign(const Stmt::FieldAssign& s);
    Result<void> exec_member_path_assign(const Stmt::MemberPathAssign& s);
    Result<void> exec_indexed_field_assign(const Stmt::IndexedFieldAssign& s);
    // objects.cpp
    Result<void> exec_set_object(const Stmt::SetObject& s);
    // Runs `fn` with the sheet `key` (which must exist) active, then makes
    // the sheet active before active again, on success and failure alike,
    // unless `fn` deleted it: then the current one stays.
    template <class Fn>
    Result<void> on_sheet(const std::string& key, Fn&& fn) {
        std::string previous = active_sheet_;
        TRY_VOID(set_active_sheet(key));
        Result<void> r = fn();
        if (sheets_.contains(previous)) (void)set_active_sheet(previous);
        return r;
    }

    // expr.cpp
    // Side-effect-free evaluation of numeric expressions (literals, numeric
    // variables, arithmetic and comparisons). False means "take the general
    // path", which then gives exactly the same result or message.
    bool fast_num(const Expr& e, Num& out) const {
        // Variables and Integer literals, most operands, without a call.
        if (auto v = e.get_if<Expr::Var>()) return slot_num(v->slot, out);
        if (auto k = e.get_if<Expr::Int>()) {
            out = {true, k->value, 0};
            return true;
        }
        return fast_num_node(e, out);
    }
    bool slot_num(uint32_t slot, Num& out) const {
        return slot != kNoSlot && slots_[slot].defined && num_of(slots_[slot].value, out);
    }
    // Inline with the arms a recursive numeric Function takes on every call.
    bool fast_num_node(const Expr& e, Num& out) const {
        if (auto b = e.get_if<Expr::Binary>()) return fast_num_binary(*b, out);
        return fast_num_leaf(e, out);
    }
    bool fast_num_leaf(const Expr& e, Num& out) const;
    bool fast_num_binary(const Expr::Binary& b, Num& out) const {
        if (!is_arithmetic(b.op)) return false;
        Num a, c;
        return fast_num(*b.lhs, a) && fast_num(*b.rhs, c) && num_arith(b.op, a, c, out);
    }
    bool fast_bool(const Expr& e, bool& out) const;
    bool fast_compare(const Expr::Binary& b, bool& out) const {
        if (!is_comparison(b.op)) return false;
        Num a, c;
        return fast_num(*b.lhs, a) && fast_num(*b.rhs, c) && num_compare(b.op, a, c, out);
    }
    // The truth of a condition, when the fast path can decide it.
    bool fast_truth(const Expr& e, bool& out) const {
        // A comparison is the common condition; any other goes the long way,
        // where a comparison gets the same answer.
        if (auto b = e.get_if<Expr::Binary>(); b && is_comparison(b->op)) return fast_compare(*b, out);
        return fast_truth_other(e, out);
    }
    bool fast_truth_other(const Expr& e, bool& out) const;
    static bool is_comparison(BinOp op) { return op >= BinOp::Eq && op <= BinOp::Ge; }
    static bool is_arithmetic(BinOp op) { return op <= BinOp::Pow; }
    // Arithmetic and comparison on two numbers as the Variant rules give
    // them; false leaves the case (division by zero, NaN) to those rules.
    static bool num_arith(BinOp op, const Num& a, const Num& c, Num& out) {
        // Sums and differences of Integers within 2^53 are exact doubles, so
        // the float rule would give the same Integer.
        constexpr int64_t k2p53 = int64_t{1} << 53;
        if (a.is_int && c.is_int && (op == BinOp::Add || op == BinOp::Sub) && a.i >= -k2p53 && a.i <= k2p53 &&
            c.i >= -k2p53 && c.i <= k2p53) {
            const int64_t r = op == BinOp::Add ? a.i + c.i : a.i - c.i;
            if (r >= -k2p53 && r <= k2p53) {
                out.is_int = true;
                out.i = r;
                return true;
            }
        }
        return num_arith_general(op, a, c, out);
    }
    static bool num_arith_general(BinOp op, const Num& a, const Num& c, Num& out);
    static bool num_compare(BinOp op, const Num& a, const Num& c, bool& out) {
        if (op == BinOp::Eq || op == BinOp::Ne) {
            bool eq = (a.is_int && c.is_int) ? a.i == c.i : a.as_double() == c.as_double();
            out = (op == BinOp::Eq) == eq;
            return true;
        }
        const double x = a.as_double(), y = c.as_double();
        if (std::isnan(x) || std::isnan(y)) return false;
        switch (op) {
            case BinOp::Lt: out = x < y; break;
            case BinOp::Le: out = x <= y; break;
            case BinOp::Gt: out = x > y; break;
            default: out = x >= y; break;
        }
        return true;
    }
    static bool num_of(const Variant& v, Num& out) {
        if (auto p = std::get_if<int64_t>(&v)) out = {true, *p, 0};
        else if (auto q = std::get_if<double>(&v)) out = {false, 0, *q};
        else return false;
        return true;
    }
    // Evaluates `e`; true with `out` when its value is a number, false with
    // `other` otherwise. Numeric Function calls and arithmetic on them build
    // no Variant.
    Result<bool> eval_num(const Expr& e, Num& out, Variant& other) {
        if (auto c = e.get_if<Expr::Call>()) {
            if (const Proc* f = slots_[slot_of(c->name, c->slot)].func) return call_num(*f, c->args, out, other);
        } else if (auto b = e.get_if<Expr::Binary>(); b && is_arithmetic(b->op)) {
            return eval_num_binary(*b, out, other);
        } else if (fast_num(e, out)) {
            return true;
        }
        return eval_num_other(e, out, other);
    }
    Result<bool> eval_num_other(const Expr& e, Num& out, Variant& other);
    Result<bool> eval_num_binary(const Expr::Binary& b, Num& out, Variant& other);
    // Stores a number in a slot, in place when the slot already holds one.
    void store_num(uint32_t slot, const Num& n) {
        Slot& s = slots_[slot];
        s.defined = true;
        if (n.is_int) {
            if (auto p = std::get_if<int64_t>(&s.value)) *p = n.i;
            else s.value = Variant(n.i);
        } else {
            if (auto p = std::get_if<double>(&s.value)) *p = n.d;
            else s.value = Variant(n.d);
        }
    }
    static Variant num_variant(const Num& n) { return n.is_int ? Variant(n.i) : Variant(n.d); }
    // The number_variant rule (whole and within +-2^63 -> Integer, saturated),
    // without building a Variant.
    static Num num_of_double(double r) {
        if (r - std::trunc(r) == 0 && std::fabs(r) <= 9223372036854775808.0)
            return {true, r >= 9223372036854775807.0 ? INT64_MAX : static_cast<int64_t>(r), 0};
        return {false, 0, r};
    }
    Result<Variant> eval_var(const Expr::Var& v);
    Result<Variant> eval_binary(const Expr::Binary& b);
    Result<Variant> eval_call(const Expr::Call& c);
    Result<Variant> eval_range_value(const Expr::RangeValue& r);
    Result<Variant> eval_offset_value(const Expr::RangeOffsetValue& r);
    Result<Variant> eval_find(const Expr::CellsFind& f);
    Result<Variant> eval_end(const Expr::CellsEndPosition& e);
    Result<Variant> eval_sheet_cells(const Expr::SheetCellsValue& e);
    Result<Variant> eval_sheet_range(const Expr::SheetRangeValue& e);
    Result<Variant> eval_field(const Expr::Field& f);
    Result<Variant> eval_member_path(const Expr::MemberPath& m);
    Result<Variant> eval_indexed_field(const Expr::IndexedField& f);
    Result<uint32_t> eval_cell_index(const Expr& e, std::string_view label);

    // Parsed trees of stored formulas by cell, checked against the cell's
    // formula text before use (formulas.cpp).
    std::shared_ptr<struct FormulaCache> formula_cache_;

    SheetMap sheets_;
    std::string active_sheet_ = "sheet1";
    // The active sheet's cells; node-based maps keep it valid until that
    // sheet is erased, which never happens to the active sheet.
    CellMap* active_cells_ = nullptr;

    std::vector<Slot> slots_;
    std::vector<std::string> names_;
    std::unordered_map<std::string, uint32_t> slot_index_;
    std::vector<Saved> saved_;
    std::vector<Variant> saved_values_;
    std::vector<Variant> arg_stack_;
    std::vector<std::unique_ptr<Proc>> procs_;
    std::unordered_map<const void*, const Proc*> proc_of_;
    uint32_t depth_ = 0;
    uint64_t steps_ = 0;
    bool interrupted_ = false;
    // Lowest address the native stack may reach during a run.
    uintptr_t stack_limit_ = 0;
};

namespace vm {

// Cells of a rectangle walked row by row as written; none when reversed.
inline uint64_t cell_count(const Corners& c) {
    if (c.first.first > c.second.first || c.first.second > c.second.second) return 0;
    return (uint64_t{c.second.first} - c.first.first + 1) * (uint64_t{c.second.second} - c.first.second + 1);
}

// The range an object reference holds, or "{operation}: expected a Range
// object, got a Worksheet reference" (or Workbook).
Result<RangeRef> expect_range_ref(ObjectRef object, std::string_view operation);
// A row or column argument to a cell index ("row" or "col").
Result<uint32_t> to_cell_index(const Variant& v, std::string_view label);
// The default value a scalar Dim gives a variable of a built-in type.
Variant default_for_type(std::string_view type_name);

}  // namespace vm

}  // namespace morvane
