// The functions that run the compiled form (exec.cpp) and the compiler that
// picks them (compile.cpp), as members of Vm::Exec so that they reach the
// interpreter's state directly. Included only by interpreter units.
#pragma once

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "values/values.h"
#include "vm/code.h"
#include "vm/slots.h"

namespace morvane {

namespace vm {

// A Variant that mostly holds a number or nothing: its destructor runs only
// when it holds memory to free. Skipping it otherwise is sound (every other
// alternative is trivially destructible) and spares the hot paths the
// variant's out-of-line visit.
class Scratch {
public:
    Scratch() { new (&v_) Variant(); }
    ~Scratch() {
        if (v_.owns_memory()) [[unlikely]]
            v_.~Variant();
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    Variant& operator*() { return v_; }

private:
    union {
        Variant v_;
    };
};

}  // namespace vm

struct Vm::Exec {
    using XCode = vm::XCode;
    using SCode = vm::SCode;
    using Code = vm::Code;
    using MatchCode = vm::MatchCode;
    using NumResult = vm::NumResult;
    using XKind = vm::XKind;

    // ------------------------------------------------ compiling (compile.cpp)
    static Code compile_body(Vm& vm, const Body& body);
    static SCode compile_stmt(Vm& vm, const Stmt& stmt);
    static XCode compile_expr(Vm& vm, const Expr& expr);
    // Drops the start of what the compiled body of `proc` always assigns
    // before it can be read.
    static void skip_needless_starts(Proc& proc);
    // compile_expr's node before its shape as an argument is set.
    static XCode compile_node(Vm& vm, const Expr& expr);
    static MatchCode compile_match(Vm& vm, const CaseMatch& match);
    // The operands of a statement the dispatcher runs, each compiled.
    static void compile_operands(Vm& vm, const Stmt& stmt, SCode& s);

    // ------------------------------------------------ failures
    static bool failed(Vm& vm, std::string message) {
        vm.error_ = std::move(message);
        return false;
    }
    template <class T>
    static bool take(Vm& vm, Result<T>& r) {
        if (r) return true;
        vm.error_ = std::move(r).error();
        return false;
    }

    // ------------------------------------------------ check points
    // check_deadline (tick) and enter_call (enter), the rare ends out of line.
    [[gnu::always_inline]] static bool tick(Vm& vm) {
        if ((++vm.steps_ & 255) != 0) [[likely]]
            return true;
        return poll(vm);
    }
    [[gnu::always_inline]] static bool enter(Vm& vm) {
        if (vm.depth_ < kMaxCallDepth && reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) >= vm.stack_limit_)
            [[likely]]
            return tick(vm);
        return no_stack(vm);
    }
    [[gnu::noinline]] static bool poll(Vm& vm);
    [[gnu::noinline]] static bool no_stack(Vm& vm);

    // ------------------------------------------------ bodies and statements
    // The body rule: stop at a pending exit, jump or Resume; a failure goes
    // to On Error (Resume Next or the handler), otherwise it ends the
    // enclosing statement.
    [[gnu::always_inline]] static bool run_block(Vm& vm, const Code& body) {
        for (const SCode& s : body) {
            if (vm.exit_flag_ != ExitKind::None) break;
            if (!s.run(vm, s)) [[unlikely]]
                if (!vm.recover(s)) return false;
        }
        return true;
    }
    // A procedure's body as run_code_loop runs it, the plain statements in
    // a tight loop: a failure, an exit or a jump goes on in run_code_loop
    // from where it happened. A pending GoTo always comes with exit_flag_
    // GoTo, so the flag alone tells when to hand over.
    [[gnu::always_inline]] static bool run_proc(Vm& vm, const Proc& proc) {
        const SCode* const begin = proc.code.data();
        const SCode* const end = begin + proc.code.size();
        if (vm.exit_flag_ != ExitKind::None) [[unlikely]]
            return vm.run_code_loop(proc);
        for (const SCode* s = begin; s != end; ++s) {
            if (!s->run(vm, *s)) [[unlikely]] {
                const size_t i = static_cast<size_t>(s - begin);
                switch (vm.on_failure(*s)) {
                    case Recovery::Fail: return false;
                    case Recovery::Next: return vm.run_code_loop(proc, i + 1);
                    case Recovery::Retry: return vm.run_code_loop(proc, i);
                }
            }
            if (vm.exit_flag_ != ExitKind::None) [[unlikely]]
                return vm.run_code_loop(proc, static_cast<size_t>(s - begin) + 1);
        }
        return true;
    }
    // One pass of a loop body: 1 when an exit ends the loop (using up an Exit
    // of the loop's own kind), 0 to go on, -1 for a failure.
    [[gnu::always_inline]] static int loop_pass(Vm& vm, const Code& body, ExitKind kind) {
        if (!run_block(vm, body)) return -1;
        if (vm.exit_flag_ == ExitKind::None) return 0;
        if (vm.exit_flag_ == kind) vm.exit_flag_ = ExitKind::None;
        return 1;
    }
    // The same for a body of one statement.
    [[gnu::always_inline]] static int loop_pass_one(Vm& vm, const SCode& only, ExitKind kind) {
        if (!only.run(vm, only)) [[unlikely]]
            if (!vm.recover(only)) return -1;
        if (vm.exit_flag_ == ExitKind::None) return 0;
        if (vm.exit_flag_ == kind) vm.exit_flag_ = ExitKind::None;
        return 1;
    }
    // Stores an Integer, in place when the slot holds one; the rest out of
    // line so that the hot callers keep no frame for it.
    [[gnu::always_inline]] static void store_int(Vm& vm, uint32_t slot, int64_t v) {
        Slot& s = vm.var(slot);
        if (int64_t* p = std::get_if<int64_t>(&s.value)) [[likely]] {
            *p = v;
            s.defined = true;
            return;
        }
        store_int_slow(vm, slot, v);
    }
    [[gnu::noinline]] static void store_int_slow(Vm& vm, uint32_t slot, int64_t v) {
        vm.store_num(slot, vm::Num{true, v, 0});
    }
    // The passes of a For loop counting in integers from `counter` by `di`
    // (upward when `Up`) while it is within `end` and an exact double:
    // 1 when the loop is done, its counter stored, -1 for a failure, 0 to
    // go on in floating point from `counter`, kCounterMoved to go on from
    // the counter's value.
    template <bool One, bool Up, bool Watch>
    static int count_passes(Vm& vm, const SCode& s, int64_t& counter, int64_t di, double end);
    // What count_passes gives when the body left the counter holding no
    // Integer: the loop goes on from the counter's value.
    static constexpr int kCounterMoved = 2;
    // The counter's value as a number, after the body may have set it.
    static bool read_counter(Vm& vm, uint32_t slot, double& v);
    // A statement without a function of its own: the dispatcher (stmt.cpp).
    static bool run_dispatched(Vm& vm, const SCode& s);
    static bool run_assign(Vm& vm, const SCode& s);
    // An assignment to a variable declared with a type: the whole type `T`
    // when the compiler fixed it, else the one in `flags`.
    template <vm::VarType T = vm::VarType::Variant>
    static bool run_assign_typed(Vm& vm, const SCode& s);
    template <vm::VarType T>
    [[gnu::always_inline]] static bool fits_as(const SCode& s, int64_t r) {
        return whole_fits(T == vm::VarType::Variant ? static_cast<vm::VarType>(s.flags) : T, r);
    }
    // Stores `n`, which is no whole number `type` holds as it is (the
    // callers store those inline), as the type holds it; false with the
    // message when it does not fit.
    static bool store_typed(Vm& vm, uint32_t slot, vm::VarType type, const vm::Num& n);
    // A whole number that a whole type holds as it is.
    [[gnu::always_inline]] static bool whole_fits(vm::VarType type, int64_t r) {
        const vm::WholeRange w = vm::whole_range(type);
        return type != vm::VarType::Variant && r >= w.lo && r <= w.hi;
    }
    // An assignment to a name that may hold an object: r = 5 writes r's cells.
    static bool run_assign_object(Vm& vm, const SCode& s);
    // s = s & a (& b ...): the parts' texts, all read first, appended to s's
    // own text.
    static bool run_append(Vm& vm, const SCode& s);
    static constexpr size_t kAppendParts = 4;
    // x = a text constant or variable: the text copied into x's own text
    // when x holds one; any other value the general way.
    static bool run_assign_text(Vm& vm, const SCode& s);
    // x = a & b, where b runs no procedure: the joined text written into
    // x's own text when x holds one, the operands read where they are.
    static bool run_assign_concat(Vm& vm, const SCode& s);
    static bool run_if(Vm& vm, const SCode& s);
    static bool run_for(Vm& vm, const SCode& s);
    // Whether the body of the For loop `s` may write its counter: then
    // each pass reads it back instead of counting in a register.
    static bool counter_may_change(Vm& vm, const SCode& s);
    // The passes of a For loop once its start, end and step are known (not
    // zero); the counter is left past the end when the loop runs out.
    static bool run_for_counted(Vm& vm, const SCode& s, double start, double end, double step);
    static bool run_do(Vm& vm, const SCode& s);
    static bool run_call(Vm& vm, const SCode& s);
    // A Call statement's flag: a named argument names no parameter.
    static constexpr uint8_t kBadName = 1;
    static bool bad_name(Vm& vm, const SCode& s);
    static bool run_cell_write(Vm& vm, const SCode& s);
    static bool run_for_each(Vm& vm, const SCode& s);
    static bool run_select(Vm& vm, const SCode& s);
    // 1 when `m` matches the subject, 0 when not, -1 for a failure.
    static int case_matches(Vm& vm, const Variant& subject, const MatchCode& m);
    static bool run_with_sheet(Vm& vm, const SCode& s);
    static bool run_body_stmt(Vm& vm, const SCode& s) { return run_block(vm, s.body); }
    static bool run_exit(Vm& vm, const SCode& s);
    static bool run_nothing(Vm& vm, const SCode& s);
    static bool run_skipped(Vm& vm, const SCode& s);
    // A line not modelled that may change what the macro reads: its message.
    static bool run_unsupported(Vm& vm, const SCode& s);

    // ------------------------------------------------ expressions
    // A node whose value comes from a Vm member returning a Result (the
    // reads of expr.cpp, the rarer operators and names).
    template <Result<Variant> (Vm::*F)(const XCode&)>
    static bool eval_with(Vm& vm, const XCode& x, Variant& out) {
        auto r = (vm.*F)(x);
        if (!take(vm, r)) return false;
        out = std::move(*r);
        return true;
    }
    static NumResult num_by_eval(Vm& vm, const XCode& x, vm::Num& n, Variant& other) {
        if (!x.eval(vm, x, other)) return NumResult::Failed;
        return vm::num_of(other, n) ? NumResult::Number : NumResult::Other;
    }
    static bool eval_by_num(Vm& vm, const XCode& x, Variant& out);
    static int truth_by_num(Vm& vm, const XCode& x);
    static bool eval_const(Vm& vm, const XCode& x, Variant& out);
    // An operand the dispatcher asked for that its statement does not hold.
    static bool eval_missing(Vm& vm, const XCode& x, Variant& out);
    static NumResult num_const(Vm& vm, const XCode& x, vm::Num& n, Variant& other);
    static NumResult num_slot(Vm& vm, const XCode& x, vm::Num& n, Variant& other);
    static bool eval_slot(Vm& vm, const XCode& x, Variant& out);
    static bool copy_slot(Vm& vm, const Slot& s, Variant& out);
    static NumResult num_arith(Vm& vm, const XCode& x, vm::Num& n, Variant& other);
    // The same with the operator fixed (Add, Sub, Mul): Fib(n - 1) + Fib(n - 2).
    template <BinOp Op>
    static NumResult num_arith_as(Vm& vm, const XCode& x, vm::Num& n, Variant& other);
    [[gnu::always_inline]] static NumResult num_arith_by(Vm& vm, const XCode& x, BinOp op, vm::Num& n, Variant& other);
    static bool eval_binary(Vm& vm, const XCode& x, Variant& out);
    // The text an operand of `&` gives: where it is for a constant or a
    // variable, else built. `source` is the value read in place, if any.
    struct TextArg {
        std::string_view text;
        const Variant* source = nullptr;
        std::optional<Variant> held;
        vm::IntText digits;
    };
    static bool text_arg(Vm& vm, const XCode& x, TextArg& a);
    // Appends the parts of run_append to the text variable `slot`; more
    // than one part are read by append_many.
    static bool append_parts(Vm& vm, uint32_t slot, std::span<TextArg> parts);
    [[gnu::noinline]] static bool append_many(Vm& vm, const SCode& s);
    // Copying `bytes` of text counts toward the next interrupt check.
    static bool charge_text(Vm& vm, size_t bytes) {
        if (bytes < kTextBytesPerUnit) [[likely]]
            return true;
        auto r = vm.charge_work(bytes / kTextBytesPerUnit);
        return take(vm, r);
    }
    // `&`: the left operand's text extended in place by the right one's.
    static bool eval_concat(Vm& vm, const XCode& x, Variant& out);
    // A constant or a defined variable, read where it is; null otherwise.
    static const Variant* in_place(const Vm& vm, const XCode& x) {
        if (x.kind == XKind::Const || x.kind == XKind::Number) return &x.value;
        if (x.kind == XKind::Var && vm.var(x.slot).defined) return &vm.var(x.slot).value;
        return nullptr;
    }
    static int truth_compare(Vm& vm, const XCode& x);
    static bool eval_compare(Vm& vm, const XCode& x, Variant& out);
    static NumResult num_call(Vm& vm, const XCode& x, vm::Num& n, Variant& other);
    static bool eval_builtin(Vm& vm, const XCode& x, Variant& out);
    // Len of a variable's or a constant's text (Whole), or of Left, Right or
    // Mid of one with whole counts: the length counted without building any
    // text. Declines for anything else, and where a name of these built-ins
    // holds an array.
    enum class TextPart : uint8_t { Whole, Left, Right, Mid };
    template <TextPart P>
    static bool pure_len(const Vm& vm, const XCode& x, vm::Num& n);
    static XCode::Pure len_of(const XCode& arg);
    // A built-in reading its arguments in place (`reads_in_place`), up to
    // this many of them.
    static constexpr size_t kInPlaceArgs = 8;
    static bool eval_builtin_in_place(Vm& vm, const XCode& x, Variant& out);
    static NumResult num_cells(Vm& vm, const XCode& x, vm::Num& n, Variant& other);
    // Err.Number, Err.Description, Err.Source, unless a record variable
    // named err is there.
    static bool eval_err(Vm& vm, const XCode& x, Variant& out);
    // Err alone is Err.Number, unless a variable named err holds a value.
    static bool eval_err_var(Vm& vm, const XCode& x, Variant& out);
    // A Function's result read in its body: Empty before it is assigned.
    static bool eval_result(Vm& vm, const XCode& x, Variant& out);
    // Err = value sets Err.Number where no variable err is declared.
    static bool run_err_assign(Vm& vm, const SCode& s);

    // Operands whose value needs no call: a slot or a numeric constant.
    enum class Leaf : uint8_t { Slot, Const };
    template <Leaf L>
    [[gnu::always_inline]] static bool leaf(const Vm& vm, const XCode& x, vm::Num& n) {
        if constexpr (L == Leaf::Const) {
            n = x.k;
            return true;
        } else {
            const Slot& s = vm.var(x.slot);
            return s.defined && vm::num_of(s.value, n);
        }
    }
    // Arithmetic on two leaves; the general path when either is no number
    // or the rule declines.
    template <Leaf L, Leaf R>
    static NumResult num_arith_leaves(Vm& vm, const XCode& x, vm::Num& n, Variant& other) {
        vm::Num a, c;
        if (leaf<L>(vm, x.kids[0], a) && leaf<R>(vm, x.kids[1], c) && vm::num_arith(x.op, a, c, n))
            return NumResult::Number;
        return num_arith(vm, x, n, other);
    }
    template <Leaf L, Leaf R>
    [[gnu::always_inline]] static bool pure_arith_leaves(const Vm& vm, const XCode& x, vm::Num& n) {
        vm::Num a, c;
        return leaf<L>(vm, x.kids[0], a) && leaf<R>(vm, x.kids[1], c) && vm::num_arith(x.op, a, c, n);
    }
    static bool pure_const(const Vm& vm, const XCode& x, vm::Num& n) { return leaf<Leaf::Const>(vm, x, n); }
    static bool pure_slot(const Vm& vm, const XCode& x, vm::Num& n) { return leaf<Leaf::Slot>(vm, x, n); }
    static bool pure_arith(const Vm& vm, const XCode& x, vm::Num& n) {
        vm::Num a, c;
        return x.kids[0].pure(vm, x.kids[0], a) && x.kids[1].pure(vm, x.kids[1], c) && vm::num_arith(x.op, a, c, n);
    }
    // Arithmetic on a leaf (the left operand when `LeafFirst`) and an
    // operand with a pure path.
    template <Leaf L, bool LeafFirst>
    static bool pure_arith_leaf(const Vm& vm, const XCode& x, vm::Num& n) {
        vm::Num a, c;
        if constexpr (LeafFirst)
            return leaf<L>(vm, x.kids[0], a) && x.kids[1].pure(vm, x.kids[1], c) && vm::num_arith(x.op, a, c, n);
        else
            return x.kids[0].pure(vm, x.kids[0], a) && leaf<L>(vm, x.kids[1], c) && vm::num_arith(x.op, a, c, n);
    }
    static bool pure_cells(const Vm& vm, const XCode& x, vm::Num& n);
    // Mod or the backslash by a constant divisor, kids[1], by multiplication,
    // of a variable (`Slot`) or of any dividend with a pure path; a dividend
    // too large for it, or no Integer, takes the division.
    template <bool Slot>
    [[gnu::always_inline]] static bool pure_div_const(const Vm& vm, const XCode& x, vm::Num& n) {
        int64_t a, r;
        if constexpr (Slot) {
            if (leaf_int<Leaf::Slot>(vm, x.kids[0], a) && vm::magic_div_mod(x.op, a, x.kids[1].k.i, x.magic, r)) {
                n = vm::Num{true, r, 0};
                return true;
            }
            return pure_div_by_division(vm, x, n);
        } else {
            vm::Num v;
            if (!x.kids[0].pure(vm, x.kids[0], v)) return false;
            if (v.is_int && vm::magic_div_mod(x.op, v.i, x.kids[1].k.i, x.magic, r)) {
                n = vm::Num{true, r, 0};
                return true;
            }
            return vm::num_arith(x.op, v, x.kids[1].k, n);
        }
    }
    [[gnu::noinline]] static bool pure_div_by_division(const Vm& vm, const XCode& x, vm::Num& n) {
        return pure_arith_leaves<Leaf::Slot, Leaf::Const>(vm, x, n);
    }
    // A node with a pure path: that first, then the general one.
    template <XCode::EvalNum General>
    static NumResult num_pure_first(Vm& vm, const XCode& x, vm::Num& n, Variant& other) {
        if (x.pure(vm, x, n)) return NumResult::Number;
        return General(vm, x, n, other);
    }
    static int truth_compare_pure(Vm& vm, const XCode& x) {
        vm::Num a, c;
        bool t;
        if (x.kids[0].pure(vm, x.kids[0], a) && x.kids[1].pure(vm, x.kids[1], c) && vm::num_compare(x.op, a, c, t))
            return t;
        return truth_compare(vm, x);
    }
    // A comparison of an operand with a pure path to a numeric constant
    // (`i Mod 3 = 0`); `DivConst` when the operand is Mod or the backslash
    // of a variable by a constant, read inline.
    template <bool DivConst, bool ModZero = false>
    static int truth_compare_pure_const(Vm& vm, const XCode& x) {
        vm::Num a;
        bool t;
        if constexpr (ModZero) {
            // i Mod k = 0 (or <> 0) asks only whether k divides i.
            const XCode& mod = x.kids[0];
            int64_t i;
            bool fits;
            if (leaf_int<Leaf::Slot>(vm, mod.kids[0], i)) {
                const bool divides = vm::magic_divides(i, mod.magic, fits);
                if (fits) return divides == (x.op == BinOp::Eq);
            }
        }
        const bool got = DivConst ? pure_div_const<true>(vm, x.kids[0], a) : x.kids[0].pure(vm, x.kids[0], a);
        if (got) {
            const vm::Num& c = x.kids[1].k;
            if (a.is_int && c.is_int && vm::int_compare(x.op, a.i, c.i, t)) return t;
            if (vm::num_compare(x.op, a, c, t)) return t;
        }
        return truth_compare(vm, x);
    }
    // x = an expression with a pure path.
    static bool run_assign_pure(Vm& vm, const SCode& s) {
        vm::Num n;
        if (s.x[0].pure(vm, s.x[0], n)) {
            vm.store_num(s.slot, n);
            return true;
        }
        return run_assign(vm, s);
    }
    // x = y, a number copied inline.
    static bool run_assign_slot(Vm& vm, const SCode& s) {
        vm::Num n;
        if (leaf<Leaf::Slot>(vm, s.x[0], n)) [[likely]] {
            vm.store_num(s.slot, n);
            return true;
        }
        return run_assign_text(vm, s);
    }
    // The same into a variable declared with a type (`T` as for
    // run_assign_typed).
    template <vm::VarType T = vm::VarType::Variant>
    static bool run_assign_typed_pure(Vm& vm, const SCode& s) {
        vm::Num n;
        if (s.x[0].pure(vm, s.x[0], n)) [[likely]] {
            if (n.is_int && fits_as<T>(s, n.i)) {
                store_int(vm, s.slot, n.i);
                return true;
            }
            return store_typed(vm, s.slot, static_cast<vm::VarType>(s.flags), n);
        }
        return run_assign_typed<T>(vm, s);
    }
    // The same from a variable holding a whole number, read inline into a
    // variable holding one; everything else out of line, so that this path
    // keeps no stack frame.
    template <vm::VarType T = vm::VarType::Variant>
    static bool run_assign_typed_slot(Vm& vm, const SCode& s) {
        int64_t v;
        if (leaf_int<Leaf::Slot>(vm, s.x[0], v) && fits_as<T>(s, v)) [[likely]] {
            Slot& d = vm.var(s.slot);
            if (int64_t* p = std::get_if<int64_t>(&d.value)) [[likely]] {
                *p = v;
                d.defined = true;
                return true;
            }
        }
        return run_assign_typed_slot_slow<T>(vm, s);
    }
    template <vm::VarType T>
    [[gnu::noinline]] static bool run_assign_typed_slot_slow(Vm& vm, const SCode& s) {
        return run_assign_typed_pure<T>(vm, s);
    }
    // Integer arithmetic with the operator fixed when the compiler knows it
    // is an addition (the commonest), else chosen at run time.
    template <bool Add>
    [[gnu::always_inline]] static bool leaves_int_arith(BinOp op, int64_t a, int64_t c, int64_t& r) {
        if constexpr (Add) {
            if (!vm::is_exact(a) || !vm::is_exact(c)) return false;
            r = a + c;
            return vm::is_exact(r);
        } else {
            return vm::int_arith(op, a, c, r);
        }
    }
    // Integers stay in registers; any other numbers take the pure path.
    template <Leaf L, Leaf R, bool Add = false>
    static bool run_assign_leaves(Vm& vm, const SCode& s) {
        const XCode& x = s.x[0];
        int64_t a, c, r;
        if (leaf_int<L>(vm, x.kids[0], a) && leaf_int<R>(vm, x.kids[1], c) && leaves_int_arith<Add>(x.op, a, c, r)) {
            vm.store_num(s.slot, vm::Num{true, r, 0});
            return true;
        }
        return run_assign_pure(vm, s);
    }
    // Integer arithmetic on two leaves into a variable of a whole type: the
    // type `T` when the compiler fixed it, else the one in `flags`.
    template <Leaf L, Leaf R, bool Add = false, vm::VarType T = vm::VarType::Variant>
    static bool run_assign_typed_leaves(Vm& vm, const SCode& s) {
        const XCode& x = s.x[0];
        int64_t a, c, r;
        if (leaf_int<L>(vm, x.kids[0], a) && leaf_int<R>(vm, x.kids[1], c) && leaves_int_arith<Add>(x.op, a, c, r) &&
            fits_as<T>(s, r)) {
            store_int(vm, s.slot, r);
            return true;
        }
        return run_assign_typed<T>(vm, s);
    }
    template <Leaf L, Leaf R>
    [[gnu::always_inline]] static int truth_compare_leaves(Vm& vm, const XCode& x) {
        int64_t i, j;
        bool t;
        if (leaf_int<L>(vm, x.kids[0], i) && leaf_int<R>(vm, x.kids[1], j) && vm::int_compare(x.op, i, j, t)) return t;
        vm::Num a, c;
        if (compared_leaf<L>(vm, x.kids[0], a) && compared_leaf<R>(vm, x.kids[1], c) && vm::num_compare(x.op, a, c, t))
            return t;
        return truth_compare(vm, x);
    }
    // A leaf as a comparison with a number reads it: a blank (Empty) is 0
    // there, for = as for the orderings.
    template <Leaf L>
    [[gnu::always_inline]] static bool compared_leaf(const Vm& vm, const XCode& x, vm::Num& n) {
        if constexpr (L == Leaf::Slot) {
            const Slot& s = vm.var(x.slot);
            if (s.defined && s.value.is_empty()) {
                n = vm::Num{true, 0, 0};
                return true;
            }
        }
        return leaf<L>(vm, x, n);
    }
    // A leaf holding an Integer, read without a Num.
    template <Leaf L>
    [[gnu::always_inline]] static bool leaf_int(const Vm& vm, const XCode& x, int64_t& v) {
        if constexpr (L == Leaf::Const) {
            v = x.k.i;
            return x.k.is_int;
        } else {
            const Slot& s = vm.var(x.slot);
            const int64_t* p = s.defined ? std::get_if<int64_t>(&s.value) : nullptr;
            if (!p) return false;
            v = *p;
            return true;
        }
    }

    // A branch of an If whose condition ran no procedure (so no exit is
    // pending): `Short` when it holds at most one statement.
    template <bool Short>
    [[gnu::always_inline]] static bool run_branch(Vm& vm, const Code& branch) {
        if constexpr (Short) {
            if (branch.empty()) return true;
            const SCode& only = branch.front();
            if (!only.run(vm, only)) [[unlikely]]
                return vm.recover(only);
            return true;
        } else {
            return run_block(vm, branch);
        }
    }
    // An If on a variable compared by `Op` with a whole constant within
    // 2^53 (If n < 2 Then), the comparison inline; any other value takes
    // the general comparison. `Short` as for run_branch, of both branches.
    template <BinOp Op, bool Short>
    static bool run_if_slot_int(Vm& vm, const SCode& s) {
        const XCode& c = s.x[0];
        int64_t v;
        int t;
        if (leaf_int<Leaf::Slot>(vm, c.kids[0], v) && vm::is_exact(v)) [[likely]] {
            const int64_t k = c.kids[1].k.i;
            if constexpr (Op == BinOp::Eq)
                t = v == k;
            else if constexpr (Op == BinOp::Ne)
                t = v != k;
            else if constexpr (Op == BinOp::Lt)
                t = v < k;
            else if constexpr (Op == BinOp::Le)
                t = v <= k;
            else if constexpr (Op == BinOp::Gt)
                t = v > k;
            else
                t = v >= k;
        } else {
            t = truth_compare(vm, c);
            if (t < 0) [[unlikely]]
                return condition_failed(vm, s);
        }
        return run_branch<Short>(vm, t ? s.body : s.other);
    }
    // An If on a comparison of two leaves, the comparison inline.
    template <Leaf L, Leaf R, bool Short>
    static bool run_if_leaves(Vm& vm, const SCode& s) {
        const int t = truth_compare_leaves<L, R>(vm, s.x[0]);
        if (t < 0) [[unlikely]]
            return condition_failed(vm, s);
        return run_branch<Short>(vm, t ? s.body : s.other);
    }
    // A block If whose condition failed: under On Error Resume Next the
    // next statement is the first of its Then branch, which runs; any
    // other failure is the If's.
    [[gnu::noinline]] static bool condition_failed(Vm& vm, const SCode& s);

    // ------------------------------------------------ calls
    // Runs `proc` on the arguments `args`, binding them straight into its
    // frame when they are all numbers; the result as for num. `refs` are
    // the arguments written back when the call ends, `alias` the variables
    // the parameters in their place are.
    static NumResult call(Vm& vm, const Proc& proc, const std::vector<XCode>& args, uint64_t refs, uint64_t alias,
                          vm::Num& n, Variant& other);
    // Most arguments of a lean call.
    static constexpr size_t kLeanArgs = 4;
    // A Function on the numbers `nums` (one per argument; an aliased one
    // is not read, a typed one is converted in place), its frame filled
    // without the argument stack. `P`: what the compiler knows of the
    // parameters' types.
    enum class ParamTypes : uint8_t { Untyped, Typed, Unknown };
    template <size_t N, ParamTypes P = ParamTypes::Unknown>
    [[gnu::always_inline]] static NumResult call_lean(Vm& vm, const Proc& proc, vm::Num* nums, size_t argc,
                                                      const XCode* args, uint64_t alias, vm::Num& n, Variant& other);
    // Converts argument k's number, in place, to what its parameter's type
    // holds (an untyped parameter takes it as it is); false with the
    // message when it does not fit.
    [[gnu::noinline]] static bool fit_param(Vm& vm, const Proc& proc, size_t k, vm::Num& num);
    // Whether a call of `proc` on `args` may take the lean road: the
    // compiler gives such a Function call node num_call_lean.
    static bool lean_fits(const Proc& proc, const std::vector<XCode>& args, uint64_t refs);
    // A call node of N arguments that fits the lean road, its arguments
    // read inline; the general call when one is no number.
    template <size_t N, ParamTypes P>
    static NumResult num_call_lean(Vm& vm, const XCode& x, vm::Num& n, Variant& other);
    // An argument's number without a call where it is a constant, a
    // variable or a variable plus or minus a constant; else its pure path.
    // False when it has none or gives no number.
    [[gnu::always_inline]] static bool arg_number(const Vm& vm, const XCode& a, vm::Num& out) {
        switch (a.shape) {
            case XCode::Shape::Slot: return leaf<Leaf::Slot>(vm, a, out);
            case XCode::Shape::SlotPlus: {
                // Both within 2^53: the sum cannot overflow.
                int64_t v;
                if (leaf_int<Leaf::Slot>(vm, a.kids[0], v) && vm::is_exact(v) && vm::is_exact(v + a.offset)) {
                    out = vm::Num{true, v + a.offset, 0};
                    return true;
                }
                break;
            }
            case XCode::Shape::Number: out = a.k; return true;
            case XCode::Shape::Other: break;
        }
        return a.pure && a.pure(vm, a, out);
    }
    // The shape arg_number reads `x` by.
    static XCode::Shape shape_of(const XCode& x) {
        if (x.kind == XKind::Number) return XCode::Shape::Number;
        if (x.pure == &pure_slot) return XCode::Shape::Slot;
        if (x.pure == &pure_arith_leaves<Leaf::Slot, Leaf::Const> && (x.op == BinOp::Add || x.op == BinOp::Sub) &&
            x.kids[1].k.is_int && vm::is_exact(x.kids[1].k.i))
            return XCode::Shape::SlotPlus;
        return XCode::Shape::Other;
    }
    // Argument `k` is among `alias` and its variable holds a value or an
    // object: the parameter is that variable. One that holds neither
    // passes what its name reads as (a constant, or the undefined-variable
    // failure).
    [[gnu::always_inline]] static bool is_alias(const Vm& vm, const std::vector<XCode>& args, uint64_t alias,
                                                size_t k) {
        if (!(alias >> k & 1)) return false;
        const Slot& s = vm.var(args[k].slot);
        return s.defined || s.object;
    }
    // Any call: the argument stack, write-back, ParamArray, defaults.
    [[gnu::noinline]] static NumResult call_general(Vm& vm, const Proc& proc, const std::vector<XCode>& args,
                                                    uint64_t refs, uint64_t alias, vm::Num& n, Variant& other);
    // The arguments of a call passed by reference to `proc`.
    static uint64_t ref_args(Vm& vm, const Proc& proc, const std::vector<XCode>& args);
    // Of those, the variables a parameter may alias: of the parameter's own
    // type (Variant for both, or one built-in type).
    static uint64_t alias_args(Vm& vm, const Proc& proc, const std::vector<XCode>& args, uint64_t refs);
    // Evaluates argument `i`, passed by reference, onto the argument stack
    // and notes where it writes back.
    static bool push_ref(Vm& vm, const XCode& a, uint32_t i, RefArgs& refs);
    // A reused argument list for one built-in call.
    struct ArgList {
        Vm& vm;
        std::vector<Variant>& args;
        explicit ArgList(Vm& v) : vm(v), args(take(v.arg_pool_)) {}
        ~ArgList() { vm.arg_pool_.lists[--vm.arg_pool_.used]->clear(); }
        ArgList(const ArgList&) = delete;
        ArgList& operator=(const ArgList&) = delete;
        static std::vector<Variant>& take(ArgPool& pool) {
            if (pool.used == pool.lists.size()) pool.lists.push_back(std::make_unique<std::vector<Variant>>());
            return *pool.lists[pool.used++];
        }
    };
    // A row or column argument with a pure path as a cell index, when it is
    // a whole number from 1 to `limit`; leaves are read inline.
    static bool pure_index(const Vm& vm, const XCode& x, uint32_t limit, uint32_t& out) {
        vm::Num n;
        const bool got = x.kind == XKind::Var      ? leaf<Leaf::Slot>(vm, x, n)
                         : x.kind == XKind::Number ? leaf<Leaf::Const>(vm, x, n)
                                                   : x.pure(vm, x, n);
        if (!got || !n.is_int || n.i < 1 || n.i > limit) return false;
        out = static_cast<uint32_t>(n.i);
        return true;
    }
    // A row ("row") or column ("col") argument as a cell index on the
    // sheet, or its message.
    static bool cell_index(Vm& vm, const XCode& x, std::string_view label, uint32_t& out) {
        if (x.pure && pure_index(vm, x, label.front() == 'r' ? kMaxRow : kMaxCol, out)) return true;
        return cell_index_general(vm, x, label, out);
    }
    static bool cell_index_general(Vm& vm, const XCode& x, std::string_view label, uint32_t& out);
};

}  // namespace morvane
