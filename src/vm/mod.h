// The macro interpreter. `Vm` owns the workbook (workbook.h) and the macro
// state that persists between runs (variables, object variables,
// procedures, Types, the error, jump and exit state). Its members are
// defined by unit: run.cpp (procedures and run control), load.cpp (binding
// names to slots, then compiling bodies), compile.cpp and exec.cpp (the
// compiled form of bodies and of every expression: control flow,
// assignments, arithmetic, calls, cell reads and writes, numeric paths),
// stmt.cpp (the statement dispatcher, jumps, variables, arrays),
// stmt_cells.cpp (cell, range and sheet statements), records.cpp (user
// Types), expr.cpp (reads of ranges, sheets, objects and records),
// builtins.cpp (VBA built-in functions), objects.cpp (range and sheet
// resolution, Set), stmt_sheets.cpp (sheet statements), clipboard.cpp (copy
// and paste), formulas.cpp (cell formulas). The inline bodies of variable
// stores, of opening and closing frames and of the check points are in
// slots.h, which only the units that run them include; what object
// variables refer to is in objects.h.
//
// Each procedure activation has a frame of its own (frame.h): a loaded
// program binds every name of a body to an index of its procedure's frame,
// so the hot path indexes an array instead of hashing a name. A name is
// the procedure's parameter or local first, then a module variable (Dim,
// Private or Public at module level, or one set from outside), else an
// undeclared local of that procedure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "parser/ast.h"
#include "types/result.h"
#include "types/variant.h"
#include "vm/code.h"
#include "vm/frame.h"
#include "vm/objects.h"
#include "workbook/areas.h"
#include "values/num.h"
#include "values/var_type.h"
#include "workbook/paste.h"
#include "workbook/sheet_rows.h"
#include "workbook/workbook.h"

namespace morvane {

namespace vm {
struct Builtin;
}  // namespace vm
namespace eval {
struct InterruptCheck;
}  // namespace eval

class Vm {
public:
    // Largest number of nested procedure activations; one more fails with
    // "Out of stack space".
    static constexpr uint32_t kMaxCallDepth = 2000;
    // Largest array a Dim or ReDim may create.
    static constexpr uint64_t kMaxArrayLen = 10'000'000;
    static constexpr std::string_view kMultiDim = "multi-dimensional arrays are not supported";

    // One empty active sheet, "sheet1", automatic calculation.
    Vm();
    ~Vm();
    Vm(const Vm&) = delete;
    Vm& operator=(const Vm&) = delete;

    // ------------------------------------------------ the workbook
    const Workbook& workbook() const { return book_; }
    std::vector<std::string> sheet_names() const { return book_.sheet_names(); }
    void ensure_sheet(std::string_view name) { book_.ensure_sheet(name); }
    Result<void> set_active_sheet(std::string_view name) { return book_.set_active_sheet(name); }
    const std::string& active_sheet() const { return book_.active_sheet(); }
    const CellMap* get_sheet_cells(std::string_view name) const { return book_.get_sheet_cells(name); }
    void keep_only_sheets(const std::vector<std::string>& keys) { book_.keep_only(keys); }
    // The stored values; in Automatic mode call refresh first.
    const CellMap& cells() const { return book_.cells(); }
    Variant get_cell(uint32_t row, uint32_t col) const { return book_.get_cell(row, col); }
    // In Automatic mode, computes the formulas of sheet `key` (every sheet
    // when empty) that changed cells reach, so that what is read next is
    // current. Callers with shared use of the Vm may call it at the same
    // time: the first one computes, the others find nothing left to do.
    Result<void> refresh(const std::string& key = {});
    // A cell of the active sheet, its formula brought up to date first.
    Result<Variant> read_cell(uint32_t row, uint32_t col);
    void set_cell_value(uint32_t row, uint32_t col, Variant value) { book_.set_cell_value(row, col, std::move(value)); }
    // The active sheet's cells, for storing a loaded sheet in one pass.
    CellMap& active_cells_mut() { return book_.cells_mut(); }

    // ------------------------------------------------ variables (load.cpp)
    // The variables seen by name: the module variables and the locals the
    // last entry procedure left (which hide a module variable of their
    // name); while a run goes on, the running procedure's variables first.
    const Variant* find_var(std::string_view name) const;
    // Stores into the running procedure's variable of that name, else the
    // module variable (made when there is none).
    void set_var(std::string_view name, Variant value);
    void remove_var(std::string_view name);
    // Calls fn(name, value) for every defined module variable, then every
    // defined local the last entry procedure left.
    template <class Fn>
    void for_each_var(Fn&& fn) const {
        for (size_t i = 0; i < module_.size(); ++i)
            if (module_[i].defined) fn(module_names_[i], module_[i].value);
        for (const auto& [name, value] : entry_vars_) fn(name, value);
    }

    // Calls fn(ObjectRef&) for every object variable a run can reach: the
    // module's, the Static ones of every procedure, and those of every
    // running activation's frame (an aliased parameter is its caller's).
    template <class Fn>
    void for_each_object(Fn&& fn) {
        auto visit = [&](Slot& s) {
            if (s.object) fn(*s.object);
        };
        for (Slot& s : module_) visit(s);
        for (const auto& p : procs_)
            for (uint32_t i = 0; i < p->static_count; ++i) visit(p->statics[i]);
        for (uint32_t d = 1; d <= depth_; ++d)
            for (uint32_t i = 0; i < active_[d].proc->frame_size(); ++i) visit(active_[d].cells[i].own);
    }

    // ------------------------------------------------ run control (run.cpp)
    Result<void> run_sub(const Program& program, std::string_view name);
    Result<void> call_sub_def(const SubDef& sub, std::vector<Variant> args);
    Result<Variant> call_func_def(const FuncDef& func, std::vector<Variant> args);
    // A MsgBox fails the run instead of passing.
    void set_msgbox_error(bool on) { msgbox_error_ = on; }
    // Set by the embedding layer: returns true when the run must stop (a
    // pending Ctrl-C). Called every 256th loop pass, jump and call.
    void set_interrupt_check(bool (*check)()) { interrupt_check_ = check; }
    // True once the interrupt check asked to stop; no On Error handler can
    // swallow that failure.
    bool interrupted() const { return interrupted_; }
    // A line the front end did not model: a module-level line skipped with a
    // warning, or a skipped statement that ran. `span` counts characters of
    // the module text.
    struct SkipNote {
        SourceSpan span;
        std::string message;
    };
    // What the last run passed over, in source order: every module-level
    // warning of its program and each skipped statement that ran, once.
    std::vector<SkipNote> skip_notes() const;
    // Where the last run's failure happened: the procedure's name and the
    // failing statement's start in characters of the module text; nullopt
    // when it failed outside any statement.
    struct FailurePlace {
        std::string procedure;
        uint32_t at = 0;
    };
    std::optional<FailurePlace> failure_place() const;
    // Whether the last run_sub refused its program at load (an ambiguous
    // name, an unknown type, a name Option Explicit does not allow), and
    // where: characters of the module text, SIZE_MAX when no one place.
    std::optional<size_t> refused_at() const {
        if (!refused_) return std::nullopt;
        return load_error_at_ == UINT32_MAX ? SIZE_MAX : size_t{load_error_at_};
    }

    // ------------------------------------------------ reads (expr.cpp)
    // The cells of an area of the active sheet, row by row (`addr` names it
    // in the size message).
    Result<Array> read_area(const CellRange& area, std::string_view addr);
    // An address text or a defined name to its cells (objects.cpp).
    std::optional<CellRange> resolve_range_addr(std::string_view addr) const;

    // ------------------------------------------------ formulas (formulas.cpp)
    Result<void> set_cell_formula(uint32_t row, uint32_t col, std::string_view formula);
    // Every formula of every sheet again, in dependency order; only an
    // interrupt or a bound of the evaluation ends the pass, keeping the
    // values computed before it.
    Result<void> recalculate_all();

    // Compiles procedure bodies and runs the compiled form (compile.cpp,
    // exec.cpp; declared in exec.h, which only the interpreter includes).
    struct Exec;

private:
    using Num = vm::Num;
    // Most arguments a compiled call binds as numbers, without the argument
    // stack (exec.cpp).
    static constexpr size_t kMaxNumArgs = 8;
    using Proc = vm::Proc;
    using Declared = vm::Declared;
    using Slot = vm::Slot;
    using RefArg = vm::RefArg;
    using RefArgs = std::vector<RefArg>;
    // What a failure gives way to: the enclosing statements fail too, the
    // next statement runs, or the failed one runs again.
    enum class Recovery : uint8_t { Fail, Next, Retry };
    using ErrorMode = vm::ErrorMode;
    using ErrorScope = vm::ErrorScope;
    // Argument lists of built-in calls, reused from call to call: one per
    // nesting level, as an argument may call a built-in too.
    struct ArgPool {
        std::vector<std::unique_ptr<std::vector<Variant>>> lists;
        size_t used = 0;
    };

    // load.cpp
    // The index of `name` in the frame of the procedure being bound:
    // its own, else a module variable's, else a new undeclared local (which
    // Option Explicit refuses, unless `explicit_check` is off).
    uint32_t resolve(const std::string& name, bool explicit_check = true);
    uint32_t slot_of(const std::string& name, uint32_t slot) { return slot != kNoSlot ? slot : resolve(name); }
    // The module variable of that name, made (undefined) when there is none.
    uint32_t module_var(const std::string& name);
    // The Function or Sub of the loaded program of that name.
    const Proc* function_named(const std::string& name) const;
    const Proc* procedure_named(const std::string& name) const;
    // Copies the program's procedures and Types, makes its module
    // variables and binds every name; the message when the program is
    // refused.
    Result<void> load_program(const Program& program);
    // The module variables `decls` declare, each with its type; those not
    // yet defined get a declaration to run in `module_proc_`.
    void declare_module_vars(const Body& decls);
    // Binds the loaded procedures, this Vm's own copies (run_sub).
    void bind_program();
    // Binds a procedure's names (compiling its body is left to the caller).
    void bind_proc(Proc& proc);
    // Compiles a bound procedure's body and parameter defaults.
    void compile_proc(Proc& proc);
    void bind_body(const Body& body);
    void bind_stmt(const Stmt& stmt);
    void bind_expr(const Expr& expr);
    void bind_opt(const Box<Expr>& expr);
    void bind_list(const std::vector<Expr>& exprs);
    void bind_object(const ObjectExpr& object);
    void bind_procedures();
    // The declarations of a body, nested blocks included, into `proc`.
    void collect_declared(Proc& proc, const Body& body);
    // Fixes how each index of a bound procedure's frame starts.
    void lay_out_frame(Proc& proc);
    Proc make_proc(const std::vector<Param>& params, const Body& body, const std::string& name, bool is_function,
                   std::string_view result_type = {});
    const Proc* proc_for(const void* def) const;
    // The variable at `slot` of the running frame.
    [[gnu::always_inline]] Slot& var(uint32_t slot) const { return *vars_[slot].var; }
    inline void set_slot(uint32_t slot, Variant value);
    [[gnu::always_inline]] inline void clear_slot(uint32_t slot) { var(slot).clear(); }
    // The variable `name` of the running procedure; null when it has none.
    Slot* running_var(std::string_view name) const;
    // The variable `name` of the running procedure, else the module's; null
    // when neither has one.
    Slot* object_slot(const std::string& name) const;
    // The object the variable `name` holds; null when it holds none.
    ObjectRef* object_ref(const std::string& name) const {
        Slot* s = object_slot(name);
        return s ? s->object.get() : nullptr;
    }
    // Makes the slot hold `ref` as its object, and no value.
    static void set_object(Slot& slot, ObjectRef ref);

    // run.cpp
    // Once per loop pass, jump and call: every 256th asks the interrupt
    // check whether the run must stop (Ctrl-C).
    inline Result<void> check_deadline();
    // Long statements (array copies, range reads and writes) count the
    // elements they handle: every kWorkPerCheck of them ask the interrupt
    // check too, so a slow pass cannot hold Ctrl-C off for 256 passes.
    // Reading methods count their work too, so the interrupt bookkeeping is
    // mutable: it is no part of the workbook.
    inline Result<void> charge_work(uint64_t elements) const;
    static constexpr uint64_t kWorkPerCheck = uint64_t{1} << 16;
    // Bytes of text that count as one element of work when copied.
    static constexpr size_t kTextBytesPerUnit = 64;
    Result<void> poll_interrupt() const;
    // The interrupt check handed to formula evaluation (formulas.cpp).
    eval::InterruptCheck formula_interrupt();
    // One activation's walk over the compiled body: jumps, exits, On Error.
    // False with the message in `error_`.
    bool run_code_loop(const Proc& proc, size_t start = 0);
    // A statement failed with `error_`: On Error Resume Next, the armed
    // handler (run where the failure happened), or nothing takes it.
    Recovery on_failure(const vm::SCode& s);
    // on_failure for a statement of a nested body, running it again when the
    // handler asks to.
    bool recover(const vm::SCode& s);
    // Fills the Err object from the failure in `error_`.
    void record_error();
    // Clears the Err object (slots.h).
    [[gnu::always_inline]] inline void clear_error();
    // Makes `frame` the running activation with a fresh error scope, and
    // puts the caller's back (slots.h).
    [[gnu::always_inline]] inline ErrorScope enter_scope(const vm::Activation& frame);
    [[gnu::always_inline]] inline void leave_scope(ErrorScope& outer);
    // Moves the caller's label to `outer_labels_`, and back (or clears the
    // callee's).
    void push_label(ErrorScope& outer);
    void pop_label(const ErrorScope& outer);
    // Pushes a frame for `proc` on the frame stacks, each index pointing
    // where it starts (own slots undefined, typed scalars at their default).
    [[gnu::always_inline]] inline vm::Activation open_frame(const Proc& proc);
    // Clears the own slots of the top frame and pops it.
    [[gnu::always_inline]] inline void close_frame(const vm::Activation& frame);
    // Keeps the locals of the entry procedure's frame, readable by name
    // after the run.
    void keep_entry_vars(const vm::Activation& frame);
    // The declaration of `slot` in the procedure being compiled or run.
    const Declared* declared(uint32_t slot) const;
    // `value` converted to the declared type of `slot`, when it has one.
    Result<Variant> to_declared(uint32_t slot, Variant value) const;
    // Writes the values of by-reference parameters back to the caller.
    void write_back(const RefArgs& refs, std::vector<Variant>& values);
    // Takes the label out of `label` and finds it among the top-level
    // statements, for `at`; false (with `not_found` as the message) when
    // the body has no such label.
    bool take_jump(const Body& body, std::optional<std::string>& label, std::string_view not_found, size_t& at);
    // Runs a procedure on the `argc` arguments at the top of the argument
    // stack (from `base`), which it pops.
    // `missing` marks arguments left out (bit i for argument i); `refs`
    // names the caller's storage of arguments passed by reference.
    Result<Variant> invoke(const Proc& proc, size_t base, uint64_t missing = 0, const RefArgs* refs = nullptr);
    template <class Def>
    Result<Variant> call_def(const Def& def, bool is_function, std::vector<Variant> args);
    Result<Variant> call_with_args(const Proc& proc, std::vector<Variant> args);
    Result<void> bind_params(const Proc& proc, size_t base, size_t argc, uint64_t missing, uint64_t aliased);
    // "Out of stack space" past the depth limit or near the end of the
    // native stack. A call is also a check point: recursion without any
    // loop (fib(50)) must be interruptible too.
    inline Result<void> enter_call();
    static Result<void> out_of_stack();

    // stmt.cpp: the dispatcher (one arm per kind without a compiled function
    // of its own), error modes, jumps, variables, arrays, MsgBox. Control
    // flow, assignments, calls and exits run compiled (exec.cpp).
    Result<void> exec_stmt(const vm::SCode& c);
    // The compiled operand of `c` that came from `e`; one that fails with
    // "Unknown expression" if `c` has none.
    const vm::XCode& operand(const vm::SCode& c, const Expr& e) const;
    Result<void> exec_on_error(const Stmt::OnError& s);
    Result<void> exec_on_error_goto(const Stmt::OnErrorGoto& s);
    Result<void> exec_goto(const Stmt::GoTo& s);
    Result<void> exec_msgbox(const Stmt::MsgBox& s, const vm::SCode& c);
    Result<void> exec_dim_scalar(const Stmt::DimScalar& s);
    Result<void> exec_dim_list(const vm::SCode& c);
    Result<void> exec_dim_array(const Stmt::DimArray& s, const vm::SCode& c);
    Result<void> exec_redim(const Stmt::ReDim& s, const vm::SCode& c);
    Result<void> exec_index_assign(const Stmt::IndexAssign& s, const vm::SCode& c);
    Result<void> exec_resume(const Stmt::ResumeNext& s);
    Result<void> exec_err_raise(const Stmt::ErrRaise& s, const vm::SCode& c);
    Result<void> exec_erase(const Stmt::Erase& s);
    // A new array of `len` elements of the declared element type of `slot`.
    Variant new_array(uint32_t slot, uint64_t len, std::string_view type_name) const;
    // The Err object's properties (Number, Description, Source); none for
    // any other name.
    std::optional<Variant> err_property(std::string_view name) const;
    // Err.Number, Err.Description or Err.Source = value (Err = value sets
    // the Number); any other member fails.
    Result<void> set_err_property(std::string_view name, Variant value);
    // An array access takes one index: none fails with "requires index",
    // more with the multi-dimensional message.
    Result<void> check_one_index(std::string_view name, size_t count);
    // Element `index` of the array held by `slot`; fails when the slot holds
    // no array or the index is past its end.
    Result<Variant*> array_element(uint32_t slot, std::string_view name, uint64_t index);
    Result<uint64_t> eval_index(const vm::XCode& x);
    Result<uint64_t> eval_array_len(const std::string& name, const vm::SCode& c, const std::vector<Expr>& bounds);

    // records.cpp: user-defined Types
    Result<void> exec_field_assign(const Stmt::FieldAssign& s, const vm::SCode& c);
    Result<void> exec_dim_as(const Stmt::DimAs& s);
    Result<void> exec_dim_array_as(const Stmt::DimArrayAs& s, const vm::SCode& c);
    Result<void> exec_member_path_assign(const Stmt::MemberPathAssign& s, const vm::SCode& c);
    Result<void> exec_indexed_field_assign(const Stmt::IndexedFieldAssign& s, const vm::SCode& c);
    Result<Variant> to_field_type(uint32_t slot, std::string_view field, Variant value) const;

    // stmt_cells.cpp: cells and ranges, of the active sheet or a named one
    Result<void> check_active_not_protected() const;
    Result<void> exec_range_write(const Stmt::RangeWrite& s, const vm::SCode& c);
    Result<void> exec_range_offset_write(const Stmt::RangeOffsetWrite& s, const vm::SCode& c);
    Result<void> exec_range_clear(const Stmt::RangeClear& s);
    Result<void> exec_range_name(const Stmt::RangeName& s);
    Result<void> exec_range_delete(const Stmt::RangeDelete& s, const vm::SCode& c);
    Result<void> exec_range_insert(const Stmt::RangeInsert& s, const vm::SCode& c);
    Result<void> exec_sheet_cell_write(const Stmt::SheetCellWrite& s, const vm::SCode& c);
    Result<void> exec_sheet_range_write(const Stmt::SheetRangeWrite& s, const vm::SCode& c);
    // Deletes or inserts the cells of `area` on sheet `key` (whole rows,
    // whole columns, or the range's band by `shift`, an xlUp..xlToRight
    // code or Empty), and moves every formula's references with them.
    Result<void> move_cells(const std::string& key, CellRange area, bool insert, const Variant& shift,
                            std::string_view text);
    // Sorts the rows of an area of the active sheet by the keys; with a
    // header its first row stays, and none lets the rows decide (xlGuess).
    Result<void> sort_area(const CellRange& area, std::span<const vm::SortKey> keys, std::optional<bool> header);
    // Range.Sort with its arguments by position or name.
    Result<void> sort_call(const CellRange& area, const std::vector<MethodArg>& args);
    // Unprotects a sheet when `password` is the one it was protected with.
    Result<void> unprotect_sheet(const std::string& key, const std::string& password);

    // stmt_sheets.cpp: sheets and application settings
    Result<void> exec_add_sheet(const Stmt::AddSheet& s);
    // A new empty sheet after the last, named Sheet<n>, made active.
    Result<void> append_new_sheet();
    Result<void> exec_sheet_delete(const Stmt::SheetDelete& s, const vm::SCode& c);
    Result<void> exec_sheet_protect(const Stmt::SheetProtect& s, const vm::SCode& c);
    Result<void> exec_application_set(const Stmt::ApplicationSet& s, const vm::SCode& c);
    Result<void> exec_set_calculation(const Stmt::SetCalculation& s);

    // clipboard.cpp: copy and paste
    Result<void> exec_range_copy(const Stmt::RangeCopy& s);
    Result<void> exec_var_copy(const Stmt::VarCopy& s);
    Result<void> exec_range_paste(const Stmt::RangePaste& s, const vm::SCode& c);
    Result<void> exec_sheet_paste(const Stmt::SheetPaste& s, const vm::SCode& c);

    // Stores a number in a slot, in place when the slot already holds one.
    inline void store_num(uint32_t slot, const Num& n);

    // expr.cpp: the value of a compiled expression, and the members that
    // compiled nodes run through Exec::eval_with (minus, Not, names without
    // a variable, array elements, reads), each on its node's operands.
    Result<Variant> evaluate(const vm::XCode& x);
    Result<Variant> eval_neg(const vm::XCode& x);
    Result<Variant> eval_not(const vm::XCode& x);
    // A name without a variable: a constant, a clock built-in or undefined.
    Result<Variant> eval_name(const vm::XCode& x);
    // A name called with arguments that is no Function: an array element,
    // else a WorksheetFunction or an unknown name.
    Result<Variant> eval_index_call(const vm::XCode& x);
    Result<Variant> eval_range_value(const vm::XCode& x);
    Result<Variant> eval_offset_value(const vm::XCode& x);
    Result<Variant> eval_find(const vm::XCode& x);
    Result<Variant> eval_end(const vm::XCode& x);
    Result<Variant> eval_sheet_cells(const vm::XCode& x);
    Result<Variant> eval_sheet_range(const vm::XCode& x);
    Result<Variant> eval_workbook_sheet(const vm::XCode& x);
    Result<Variant> eval_active_sheet(const vm::XCode& x);
    Result<Variant> eval_sheet_var(const vm::XCode& x);
    Result<Variant> eval_field(const vm::XCode& x);
    Result<Variant> eval_member_path(const vm::XCode& x);
    Result<Variant> eval_indexed_field(const vm::XCode& x);
    Result<uint32_t> eval_cell_index(const vm::XCode& x, std::string_view label);
    // builtins.cpp
    // A name that is no built-in: WorksheetFunction ("wsf_" names) or unknown.
    Result<Variant> eval_vba_func(const std::string& name, const std::vector<vm::XCode>& args);
    // The arguments of a WorksheetFunction call; a Range variable gives its cells.
    Result<std::vector<Variant>> eval_wsf_args(const std::vector<vm::XCode>& args, std::vector<uint64_t>& widths);
    // The cells of every area of a range, row by row, area after area.
    Result<Array> range_cells(const RangeRef& range);

    // objects.cpp
    // The range bound at load when the text is a literal, else as
    // resolve_range_addr.
    std::optional<CellRange> resolve_range(std::string_view addr, const LiteralRange& literal) const;
    // One cell address (no names), taking the one bound at load if any.
    static std::optional<CellPos> literal_cell(std::string_view addr, const LiteralRange& literal);
    Result<void> exec_set_object(const Stmt::SetObject& s, const vm::SCode& c);
    // Comma-separated A1 areas, or a defined name standing for them.
    std::optional<std::vector<CellRange>> resolve_multi_area_addr(std::string_view addr) const;
    // (key, label) of the sheet an expression names, which must exist.
    Result<std::pair<std::string, std::string>> resolve_sheet_expr(const vm::XCode& sheet);
    // The same for a key already evaluated: a number counts in tab order.
    Result<std::pair<std::string, std::string>> sheet_by_value(const Variant& key) const;
    // The right-hand side of Set, and the bases of Union, Areas, SpecialCells;
    // the Areas indices are operands of the Set statement `c`.
    Result<ObjectRef> eval_object_expr(const ObjectExpr& object, const vm::SCode& c);
    // .Value of a Range object: one cell's value, or a flat row-major Array.
    Result<Variant> read_range_ref_value(const RangeRef& range);
    // Runs `fn` with the sheet `key` (which must exist) active, then makes
    // the sheet active before active again, on success and failure alike,
    // unless `fn` deleted it or activated another: then the current one stays.
    template <class Fn>
    Result<void> on_sheet(const std::string& key, Fn&& fn) {
        std::string previous = book_.active_sheet();
        TRY_VOID(book_.set_active_sheet(key));
        Result<void> r = fn();
        // It exists, so this cannot fail. A sheet `fn` activated stays active.
        if (book_.has_sheet(previous) && book_.active_sheet() == key) (void)book_.set_active_sheet(previous);
        return r;
    }

    // formulas.cpp
    // Manual -> Automatic recalculates; every other change only stores the mode.
    Result<void> set_calc_mode(CalcMode mode);
    // set_cell_formula for every cell of the area, row by row, the references
    // of each moved by its distance from the first cell, as filling does; the
    // first failure ends it, the cells written before keeping their formulas.
    Result<void> set_rect_formula(const CellRange& area, std::string_view formula);

    // clipboard.cpp
    // Replaces the clipboard with the values of `areas` on `sheet` (a missing
    // sheet reads empty); `source` names them in the too-large message.
    Result<void> copy_areas_to_clipboard(const std::string& sheet, const std::vector<CellRange>& areas,
                                         std::string_view source);
    // Pastes the clipboard at `dest` on the active sheet.
    // Pastes the clipboard at `dest` on the active sheet; `what` is
    // PasteSpecial's Paste argument (Empty: everything).
    Result<void> do_paste(std::string_view dest, bool transpose, const Variant& what = Variant());

    // paths.cpp: object-model paths (Range(...).Offset(...), ws.Name, r.Count, ...)
    Result<PathObj> walk_path(const std::vector<ObjStep>& steps, size_t count);
    Result<PathObj> path_root(const ObjStep& root);
    // The member `step` of `base`; `as` names it instead of the step's own
    // name (r(1, 2) is r.Item(1, 2)). The step's arguments are compiled
    // operands of the path: pass the step itself, never a copy.
    Result<PathObj> path_member(PathObj base, const ObjStep& step, std::string_view as = {});
    Result<Variant> path_value(const PathObj& obj, std::string_view what);
    Result<Variant> eval_obj_path(const vm::XCode& x);
    Result<void> exec_obj_call(const Stmt::ObjCall& s, const vm::SCode& c);
    // A path's argument, from the compiled operands of the path being walked.
    Result<Variant> path_arg(const Expr& e);
    const vm::XCode* find_op(const Expr& e) const;
    // Makes `ops` the operands of the path being walked, for its lifetime.
    struct PathOps {
        Vm& vm;
        const std::vector<vm::XCode>* saved;
        PathOps(Vm& v, const std::vector<vm::XCode>& ops) : vm(v), saved(v.path_ops_) { v.path_ops_ = &ops; }
        ~PathOps() { vm.path_ops_ = saved; }
        PathOps(const PathOps&) = delete;
        PathOps& operator=(const PathOps&) = delete;
    };
    // `member = value` on an object (a Range's Value, Formula or Name, a sheet's Name).
    Result<void> member_write(const PathObj& target, const std::string& member, const Variant& value);
    Result<void> member_call(const PathObj& target, const std::string& member, const std::vector<MethodArg>& args);
    // The object a name holds, as a path object; none when it holds none.
    Result<std::optional<PathObj>> object_of(const std::string& name) const;
    // The object variable `name`, null when it holds none; a Range whose
    // sheet was deleted, or whose cells all were, is no object any more
    // ("Object required"). Every use of an object variable looks it up here.
    Result<const ObjectRef*> object_var(const std::string& name) const;
    // Field reads and writes through an object variable (r.Count, ws.Name = "x").
    Result<Variant> object_field_read(const PathObj& obj, const std::vector<std::string>& path);
    Result<void> object_field_write(const std::string& var, const std::vector<std::string>& path,
                                    const vm::XCode& value);
    // Cell positions of one area of a range object, on its own sheet.
    Result<void> write_range_values(const RangeRef& range, const Variant& value);
    Result<void> select_range(const RangeRef& range);
    RangeRef selection_of(const std::string& sheet) const;
    // The object an argument names: a path walked, or an object variable;
    // none for any other argument.
    Result<std::optional<PathObj>> object_arg(const Expr& e);
    // The range an argument names (Range("B2") or a Range variable), for Destination:=.
    Result<RangeRef> range_arg(const Expr& e);
    // The key of the sheet an argument names (Sheets(1), ActiveSheet, a sheet
    // variable, a name or an index), for Before:= and After:=.
    Result<std::string> sheet_arg(const Expr& e);
    // Sheets.Add with its arguments by position or name (`names` empty when
    // none is named): the new sheet, active, placed Before or After the sheet
    // given, else after the last. Its key.
    Result<std::string> add_sheet(const std::vector<const Expr*>& args, const std::vector<std::string>& names);

    // ------------------------------------------------ state
    Workbook book_;
    // The compiled arguments of the path being walked (paths.cpp).
    const std::vector<vm::XCode>* path_ops_ = nullptr;
    // The selected range of each sheet that has one (A1 otherwise).
    std::unordered_map<std::string, RangeRef> selection_;
    // Names a Set or For Each of the loaded program binds: an assignment to
    // one of them checks for an object first (r = 5 writes r's cells).
    std::unordered_set<std::string> object_names_;
    // The password each protected sheet was given ("" for none).
    std::unordered_map<std::string, std::string> sheet_passwords_;
    // Held while a reading method brings values up to date: readers that
    // share the Vm may do so at the same time (formulas.cpp).
    std::mutex refresh_mutex_;

    std::unordered_map<std::string, SubDef> subs_;
    std::unordered_map<std::string, FuncDef> functions_;
    std::unordered_map<std::string, std::vector<TypeField>> user_types_;
    // What the last Copy took; none before any Copy and after CutCopyMode = False.
    std::optional<vm::ClipboardState> clipboard_;
    bool msgbox_error_ = false;
    // How the running activation treats a failure; saved and put back by
    // every call, with proc_ and vars_.
    ErrorMode err_mode_;
    // The procedure of the running activation; the one being compiled while
    // a program loads.
    const Proc* proc_ = nullptr;
    std::optional<std::string> on_error_label_;
    // The On Error GoTo labels of the callers that set one, innermost last.
    std::vector<std::string> outer_labels_;
    // The statement a failure no handler has taken started at, in the
    // procedure that ran it: the innermost one, so set once per failure.
    struct FailureSite {
        const Proc* proc = nullptr;
        uint32_t at = 0;
    } failure_site_;
    const Proc* compiling_ = nullptr;
    // What a Resume asked for (with exit_flag_ Resume) and its label.
    enum class ResumeKind : uint8_t { Next, Retry, Label };
    ResumeKind resume_ = ResumeKind::Next;
    std::string resume_label_;
    // The Err object.
    int64_t err_number_ = 0;
    std::string err_description_;
    std::string err_source_;
    // The last Err.Raise: its number and source go with its failure.
    int64_t raised_number_ = 0;
    std::string raised_source_;
    std::string raised_description_;
    std::optional<std::string> pending_goto_;
    ExitKind exit_flag_ = ExitKind::None;
    bool (*interrupt_check_)() = nullptr;
    // The module-level warnings of the program being run, and its skipped
    // statements by compiled node (SCode::slot), with whether each ran.
    std::vector<SkipNote> module_warnings_;
    std::vector<SkipNote> skipped_;
    std::vector<bool> skipped_ran_;

    // The running activation's frame (frame.h).
    vm::Cell* vars_ = nullptr;
    // The activations running, by depth from 1 to depth_: every variable a
    // run can reach is in one of their frames or in the module.
    std::unique_ptr<vm::Activation[]> active_ = std::make_unique<vm::Activation[]>(kMaxCallDepth + 1);
    vm::ChunkStack<vm::Cell> frames_;
    // The module variables; a deque, so that frames may point into it
    // while more are added.
    std::deque<Slot> module_;
    std::vector<std::string> module_names_;
    std::unordered_map<std::string, uint32_t> module_index_;
    std::unordered_map<uint32_t, Declared> module_declared_;
    // The module-level declarations of the loaded program, run once at
    // load for the module variables they make.
    Body module_decls_;
    std::unique_ptr<Proc> module_proc_;
    // The procedure whose names are being bound, and where the statement
    // being bound starts.
    Proc* binding_ = nullptr;
    uint32_t binding_at_ = 0;
    // Option Explicit of the program being loaded.
    bool option_explicit_ = false;
    // Why the program being loaded is refused, and where (characters of
    // the module text; UINT32_MAX when no one place).
    std::string load_error_;
    uint32_t load_error_at_ = UINT32_MAX;
    bool refused_ = false;
    // The locals the last entry procedure left, readable by name.
    std::vector<std::pair<std::string, Variant>> entry_vars_;
    std::unordered_map<std::string, const Proc*> function_procs_;
    std::unordered_map<std::string, const Proc*> sub_procs_;
    std::vector<Variant> arg_stack_;
    ArgPool arg_pool_;
    // The message of the latest failure inside compiled code, until the
    // procedure boundary returns it.
    std::string error_;
    std::vector<std::unique_ptr<Proc>> procs_;
    std::unordered_map<const void*, const Proc*> proc_of_;
    uint32_t depth_ = 0;
    uint64_t steps_ = 0;
    mutable uint64_t work_ = 0;
    mutable bool interrupted_ = false;
    // Lowest address the native stack may reach during a run; 0, which
    // every address passes, where the thread's stack is unknown.
    uintptr_t stack_limit_ = 0;
};

namespace vm {

// The default value a scalar Dim gives a variable of a built-in type.
Variant default_for_type(std::string_view type_name);
// The value of a name that reads as a constant (xlUp, vbCrLf, Nothing, ...)
// where no variable of that name holds one; null for any other name.
const Variant* find_constant(std::string_view name);
// The range an object reference holds, or "{operation}: expected a Range
// object, got a Worksheet reference" (or Workbook).
Result<RangeRef> expect_range_ref(ObjectRef object, std::string_view operation);

}  // namespace vm

}  // namespace morvane
