// Compiling a procedure body: each statement and expression to the node
// whose function fits its shape (see code.h). A statement without a
// function of its own gets its operands compiled for the dispatcher.
#include <algorithm>
#include <initializer_list>
#include <type_traits>
#include <variant>

#include "types/address.h"
#include "vm/builtins/builtins.h"
#include "vm/exec.h"

namespace morvane {

using vm::SCode;
using vm::XCode;

namespace {

template <class T, class... Kinds>
inline constexpr bool is_one_of = (std::is_same_v<T, Kinds> || ...);

bool is_leaf(const XCode& x) { return x.kind == vm::XKind::Var || x.kind == vm::XKind::Number; }

// An expression that runs no procedure of the macro: constants, variables,
// operators, built-ins (none calls back into the macro) and cell reads on
// such operands.
bool runs_no_procedure(const XCode& x) {
    switch (x.kind) {
        case vm::XKind::Call:
        case vm::XKind::Index:
        case vm::XKind::Read: return false;
        default: break;
    }
    for (const XCode& k : x.kids)
        if (!runs_no_procedure(k)) return false;
    return true;
}

bool is_text_leaf(const XCode& x) {
    return x.kind == vm::XKind::Var || (x.kind == vm::XKind::Const && x.value.is_str());
}

// s = s & a (& b ...) appends in place: up to Vm::Exec::kAppendParts parts,
// none of which can run code.
bool appends_to(const XCode& v, uint32_t slot) {
    const XCode* x = &v;
    for (size_t parts = 1; parts <= Vm::Exec::kAppendParts; ++parts) {
        if (x->kind != vm::XKind::Binary || x->op != BinOp::Concat || !runs_no_procedure(x->kids[1])) return false;
        x = &x->kids[0];
        if (x->kind == vm::XKind::Var) return x->slot == slot;
    }
    return false;
}

// The assignment of a value that is text by its shape (a text constant or
// variable, a join whose right side runs no procedure), else `other`.
SCode::Run text_assign(const XCode& v, SCode::Run other) {
    if (is_text_leaf(v)) return &Vm::Exec::run_assign_text;
    if (v.kind == vm::XKind::Binary && v.op == BinOp::Concat && runs_no_procedure(v.kids[1]))
        return &Vm::Exec::run_assign_concat;
    return other;
}

}  // namespace

// The pure path of Len on `arg`, for the shapes Len counts without
// building a text; null for any other.
XCode::Pure Vm::Exec::len_of(const XCode& arg) {
    if (is_text_leaf(arg)) return &pure_len<TextPart::Whole>;
    if (arg.kind != XKind::Builtin || arg.kids.empty() || !is_text_leaf(arg.kids[0])) return nullptr;
    for (size_t i = 1; i < arg.kids.size(); ++i)
        if (!arg.kids[i].pure) return nullptr;
    const std::string_view name = arg.builtin->name;
    const size_t argc = arg.kids.size();
    if (name == "left" && argc == 2) return &pure_len<TextPart::Left>;
    if (name == "right" && argc == 2) return &pure_len<TextPart::Right>;
    if (name == "mid" && (argc == 2 || argc == 3)) return &pure_len<TextPart::Mid>;
    return nullptr;
}

namespace {

// Whether `x` may change the variable at `slot`: a call given it (by
// reference, maybe), or with `shared` any call or read that may run one.
bool expr_may_write(const XCode& x, uint32_t slot, bool shared) {
    if (x.kind == vm::XKind::Call || x.kind == vm::XKind::Read) {
        if (shared) return true;
        for (const XCode& k : x.kids)
            if (k.kind == vm::XKind::Var && k.slot == slot) return true;
    }
    for (const XCode& k : x.kids)
        if (expr_may_write(k, slot, shared)) return true;
    return false;
}

// The same for statements: one that names the variable, a call given it,
// and with `shared` any call.
bool code_may_write(const vm::Code& code, uint32_t slot, bool shared) {
    for (const SCode& s : code) {
        const bool names_it = std::visit(
            [&](const auto& n) {
                if constexpr (requires { n.slot; }) return n.slot == slot;
                return false;
            },
            s.src->node);
        if (names_it || (s.proc && shared)) return true;
        for (const XCode& x : s.x)
            if ((s.proc && x.kind == vm::XKind::Var && x.slot == slot) || expr_may_write(x, slot, shared)) return true;
        for (const vm::MatchCode& m : s.matches)
            for (const XCode& x : m.values)
                if (expr_may_write(x, slot, shared)) return true;
        if (code_may_write(s.body, slot, shared) || code_may_write(s.other, slot, shared)) return true;
    }
    return false;
}

// Whether a body holds a statement of one of the kinds `Kinds`, at any depth.
template <class... Kinds>
bool holds_any(const Body& body) {
    for (const SpannedStmt& s : body) {
        if ((s.stmt.is<Kinds>() || ...)) return true;
        const bool inner = std::visit(
            [](const auto& n) {
                bool found = false;
                if constexpr (requires { n.body; }) found = found || holds_any<Kinds...>(n.body);
                if constexpr (requires { n.then_body; }) found = found || holds_any<Kinds...>(n.then_body);
                if constexpr (requires { n.else_body; }) found = found || holds_any<Kinds...>(n.else_body);
                if constexpr (requires { n.cases; })
                    for (const CaseClause& c : n.cases) found = found || holds_any<Kinds...>(c.body);
                return found;
            },
            s.stmt.node);
        if (inner) return true;
    }
    return false;
}

// Whether a body holds an On Error GoTo: its handler may run in the middle
// of a loop and change anything.
bool has_handler(const Body& body) { return holds_any<Stmt::OnErrorGoto>(body); }

// Whether `x` may read the variable at `slot`. Only shapes whose operands
// are all among the kids can say no.
bool may_read(const XCode& x, uint32_t slot) {
    switch (x.kind) {
        case vm::XKind::Number:
        case vm::XKind::Const:
        case vm::XKind::Arith:
        case vm::XKind::Compare:
        case vm::XKind::Binary:
        case vm::XKind::Neg:
        case vm::XKind::Not:
        case vm::XKind::Call:
        case vm::XKind::Cells: break;
        case vm::XKind::Var:
        case vm::XKind::Builtin:
            if (x.slot == slot) return true;
            break;
        case vm::XKind::Index:
        case vm::XKind::Read: return true;
    }
    for (const XCode& k : x.kids)
        if (may_read(k, slot)) return true;
    return false;
}

// Whether the first thing `code` does is give `slot` a value it does not
// read first: an assignment to it, or an If whose two branches both start
// so.
bool assigns_first(const vm::Code& code, uint32_t slot) {
    if (code.empty()) return false;
    const SCode& s = code.front();
    if (s.src->is<Stmt::Assign>()) return s.slot == slot && !may_read(s.x[0], slot);
    if (s.src->is<Stmt::If>())
        return !may_read(s.x[0], slot) && assigns_first(s.body, slot) && assigns_first(s.other, slot);
    return false;
}

}  // namespace

void Vm::Exec::skip_needless_starts(Proc& proc) {
    // A typed variable (a Function result, most often) starts at its type's
    // default only for a body that could read it first. Without an error
    // trap, no statement runs after a failure, so one that assigns it first
    // leaves nothing to read.
    if (proc.starts_defined.empty()) return;
    if (holds_any<Stmt::OnError, Stmt::OnErrorGoto, Stmt::ResumeNext>(*proc.body)) return;
    std::erase_if(proc.starts_defined, [&](const Proc::Start& s) { return assigns_first(proc.code, s.index); });
}

bool Vm::Exec::counter_may_change(Vm& vm, const SCode& s) {
    const Proc* proc = vm.compiling_;
    if (!proc || s.slot >= proc->frame_size() || has_handler(*proc->body)) return true;
    // A module or Static counter, or a parameter that may be a caller's
    // variable, may change in any procedure the body calls.
    const bool param = std::ranges::find(proc->param_slots, s.slot) != proc->param_slots.end();
    const bool shared = proc->entries[s.slot].shared != nullptr || param;
    return code_may_write(s.body, s.slot, shared);
}

vm::Code Vm::Exec::compile_body(Vm& vm, const Body& body) {
    vm::Code code;
    code.reserve(body.size());
    for (const SpannedStmt& s : body) {
        code.push_back(compile_stmt(vm, s.stmt));
        code.back().at = s.span.start;
        // A skipped statement does nothing but note that it ran; one that
        // may change what the macro reads fails instead.
        if (const auto* skipped = s.stmt.get_if<Stmt::Skipped>(); skipped && !skipped->fails) {
            code.back().slot = static_cast<uint32_t>(vm.skipped_.size());
            code.back().run = &run_skipped;
            vm.skipped_.push_back(SkipNote{s.span, skipped->message});
            vm.skipped_ran_.push_back(false);
        }
    }
    return code;
}

namespace {

// A numeric constant node.
XCode number(const Expr& src, vm::Num k) {
    XCode x;
    x.src = &src;
    x.kind = vm::XKind::Number;
    x.k = k;
    x.value = vm::num_variant(k);
    x.eval = &Vm::Exec::eval_const;
    x.num = &Vm::Exec::num_const;
    x.truth = &Vm::Exec::truth_by_num;
    x.pure = &Vm::Exec::pure_const;
    return x;
}

// Any other constant: a text, a truth value, a date.
XCode constant(const Expr& src, Variant value) {
    XCode x;
    x.src = &src;
    x.kind = vm::XKind::Const;
    x.value = std::move(value);
    x.eval = &Vm::Exec::eval_const;
    x.num = &Vm::Exec::num_by_eval;
    x.truth = &Vm::Exec::truth_by_num;
    return x;
}

template <Vm::Exec::Leaf L>
XCode::EvalNum arith_with(bool rhs_slot) {
    using Leaf = Vm::Exec::Leaf;
    return rhs_slot ? &Vm::Exec::num_arith_leaves<L, Leaf::Slot> : &Vm::Exec::num_arith_leaves<L, Leaf::Const>;
}

template <Vm::Exec::Leaf L>
XCode::Pure pure_arith_with(bool rhs_slot) {
    using Leaf = Vm::Exec::Leaf;
    return rhs_slot ? &Vm::Exec::pure_arith_leaves<L, Leaf::Slot> : &Vm::Exec::pure_arith_leaves<L, Leaf::Const>;
}

template <Vm::Exec::Leaf L>
SCode::Run assign_with(bool rhs_slot, bool add) {
    using Leaf = Vm::Exec::Leaf;
    if (add)
        return rhs_slot ? &Vm::Exec::run_assign_leaves<L, Leaf::Slot, true>
                        : &Vm::Exec::run_assign_leaves<L, Leaf::Const, true>;
    return rhs_slot ? &Vm::Exec::run_assign_leaves<L, Leaf::Slot> : &Vm::Exec::run_assign_leaves<L, Leaf::Const>;
}

// A sum into a Long or a LongLong (the commonest) has its type's bounds
// fixed in its function.
template <Vm::Exec::Leaf L, vm::VarType T>
SCode::Run typed_add_with(bool rhs_slot) {
    using Leaf = Vm::Exec::Leaf;
    return rhs_slot ? &Vm::Exec::run_assign_typed_leaves<L, Leaf::Slot, true, T>
                    : &Vm::Exec::run_assign_typed_leaves<L, Leaf::Const, true, T>;
}

template <Vm::Exec::Leaf L>
SCode::Run typed_assign_with(bool rhs_slot, bool add, vm::VarType type) {
    using Leaf = Vm::Exec::Leaf;
    if (add && type == vm::VarType::Long) return typed_add_with<L, vm::VarType::Long>(rhs_slot);
    if (add && type == vm::VarType::LongLong) return typed_add_with<L, vm::VarType::LongLong>(rhs_slot);
    if (add)
        return rhs_slot ? &Vm::Exec::run_assign_typed_leaves<L, Leaf::Slot, true>
                        : &Vm::Exec::run_assign_typed_leaves<L, Leaf::Const, true>;
    return rhs_slot ? &Vm::Exec::run_assign_typed_leaves<L, Leaf::Slot>
                    : &Vm::Exec::run_assign_typed_leaves<L, Leaf::Const>;
}

template <vm::VarType T>
SCode::Run typed_assign_as(const XCode& v) {
    using Exec = Vm::Exec;
    return v.pure == &Exec::pure_slot ? &Exec::run_assign_typed_slot<T>
           : v.pure                   ? &Exec::run_assign_typed_pure<T>
                                      : &Exec::run_assign_typed<T>;
}

// An assignment of `v` to a variable of the type `type`, a whole type's
// bounds fixed in its function.
SCode::Run typed_assign(vm::VarType type, const XCode& v) {
    switch (type) {
        case vm::VarType::Byte: return typed_assign_as<vm::VarType::Byte>(v);
        case vm::VarType::Integer: return typed_assign_as<vm::VarType::Integer>(v);
        case vm::VarType::Long: return typed_assign_as<vm::VarType::Long>(v);
        case vm::VarType::LongLong: return typed_assign_as<vm::VarType::LongLong>(v);
        default: return typed_assign_as<vm::VarType::Variant>(v);
    }
}

template <bool Short>
SCode::Run if_leaves_with(bool l_slot, bool r_slot) {
    using Exec = Vm::Exec;
    using Leaf = Exec::Leaf;
    return l_slot ? (r_slot ? &Exec::run_if_leaves<Leaf::Slot, Leaf::Slot, Short>
                            : &Exec::run_if_leaves<Leaf::Slot, Leaf::Const, Short>)
                  : (r_slot ? &Exec::run_if_leaves<Leaf::Const, Leaf::Slot, Short>
                            : &Exec::run_if_leaves<Leaf::Const, Leaf::Const, Short>);
}

// An If on a variable compared with a whole constant; null for an operator
// that is no comparison.
template <bool Short>
SCode::Run if_slot_int_with(BinOp op) {
    using Exec = Vm::Exec;
    switch (op) {
        case BinOp::Eq: return &Exec::run_if_slot_int<BinOp::Eq, Short>;
        case BinOp::Ne: return &Exec::run_if_slot_int<BinOp::Ne, Short>;
        case BinOp::Lt: return &Exec::run_if_slot_int<BinOp::Lt, Short>;
        case BinOp::Le: return &Exec::run_if_slot_int<BinOp::Le, Short>;
        case BinOp::Gt: return &Exec::run_if_slot_int<BinOp::Gt, Short>;
        case BinOp::Ge: return &Exec::run_if_slot_int<BinOp::Ge, Short>;
        default: return nullptr;
    }
}

template <Vm::Exec::Leaf L>
XCode::Truth compare_with(bool rhs_slot) {
    using Leaf = Vm::Exec::Leaf;
    return rhs_slot ? &Vm::Exec::truth_compare_leaves<L, Leaf::Slot> : &Vm::Exec::truth_compare_leaves<L, Leaf::Const>;
}

}  // namespace

namespace {

// A node whose value a Vm member gives, on the operands `kids`.
template <Result<Variant> (Vm::*F)(const XCode&)>
XCode read(Vm& vm, const Expr& src, vm::XKind kind, std::initializer_list<const Box<Expr>*> kids) {
    XCode x;
    x.src = &src;
    x.kind = kind;
    x.eval = &Vm::Exec::eval_with<F>;
    x.num = &Vm::Exec::num_by_eval;
    x.truth = &Vm::Exec::truth_by_num;
    for (const Box<Expr>* k : kids) x.kids.push_back(Vm::Exec::compile_expr(vm, **k));
    return x;
}

}  // namespace

XCode Vm::Exec::compile_expr(Vm& vm, const Expr& expr) {
    XCode x = compile_node(vm, expr);
    x.shape = shape_of(x);
    if (x.shape == XCode::Shape::SlotPlus) x.offset = x.op == BinOp::Add ? x.kids[1].k.i : -x.kids[1].k.i;
    return x;
}

XCode Vm::Exec::compile_node(Vm& vm, const Expr& expr) {
    XCode x;
    x.src = &expr;
    // The defaults: numbers and truth follow from the value.
    x.num = &num_by_eval;
    x.truth = &truth_by_num;
    if (auto e = expr.get_if<Expr::Int>()) return number(expr, {true, e->value, 0});
    if (auto e = expr.get_if<Expr::Float>()) return number(expr, {false, 0, e->value});
    if (auto e = expr.get_if<Expr::Str>()) return constant(expr, Variant(e->value));
    if (auto e = expr.get_if<Expr::Bool>()) return constant(expr, Variant(e->value));
    if (auto e = expr.get_if<Expr::Date>()) return constant(expr, Variant(Date{e->serial}));
    if (expr.is<Expr::RowsCount>()) return number(expr, {true, int64_t{kMaxRow}, 0});
    if (expr.is<Expr::ColumnsCount>()) return number(expr, {true, int64_t{kMaxCol}, 0});
    if (auto e = expr.get_if<Expr::Var>()) {
        x.kind = XKind::Var;
        x.slot = vm.slot_of(e->name, e->slot);
        if (e->name == "err" && !vm.declared(x.slot)) {
            x.kind = XKind::Read;
            x.eval = &eval_err_var;
            return x;
        }
        // A Function's own name reads its result, Empty until assigned.
        if (vm.compiling_ && vm.compiling_->is_function && x.slot == vm.compiling_->name_slot) {
            x.eval = &eval_result;
            x.num = &num_slot;
            x.pure = &pure_slot;
            return x;
        }
        x.eval = &eval_slot;
        x.num = &num_slot;
        x.pure = &pure_slot;
        return x;
    }
    if (auto e = expr.get_if<Expr::Neg>()) {
        // The minus of a literal is a literal.
        if (auto k = e->operand->get_if<Expr::Int>(); k && k->value != INT64_MIN)
            return number(expr, {true, -k->value, 0});
        if (auto k = e->operand->get_if<Expr::Float>()) return number(expr, {false, 0, -k->value});
        return read<&Vm::eval_neg>(vm, expr, XKind::Neg, {&e->operand});
    }
    if (auto e = expr.get_if<Expr::Not>()) return read<&Vm::eval_not>(vm, expr, XKind::Not, {&e->operand});
    if (auto e = expr.get_if<Expr::Binary>()) {
        x.op = e->op;
        x.kids.push_back(compile_expr(vm, *e->lhs));
        x.kids.push_back(compile_expr(vm, *e->rhs));
        const XCode& l = x.kids[0];
        const XCode& r = x.kids[1];
        const bool leaves = is_leaf(l) && is_leaf(r);
        const bool l_slot = l.kind == XKind::Var, r_slot = r.kind == XKind::Var;
        if (vm::is_arithmetic(e->op)) {
            vm::Num folded;
            if (l.kind == XKind::Number && r.kind == XKind::Number && vm::num_arith(e->op, l.k, r.k, folded))
                return number(expr, folded);
            x.kind = XKind::Arith;
            x.eval = &eval_by_num;
            const bool by_const = (e->op == BinOp::Mod || e->op == BinOp::IntDiv) && r.kind == XKind::Number &&
                                  r.k.is_int && vm::is_magic_divisor(r.k.i) && l.pure;
            if (by_const) {
                x.magic = vm::divisor_magic(r.k.i);
                x.pure = l_slot ? &pure_div_const<true> : &pure_div_const<false>;
                x.num = &num_pure_first<&num_arith>;
            } else if (leaves) {
                x.num = l_slot ? arith_with<Leaf::Slot>(r_slot) : arith_with<Leaf::Const>(r_slot);
                x.pure = l_slot ? pure_arith_with<Leaf::Slot>(r_slot) : pure_arith_with<Leaf::Const>(r_slot);
            } else if (l.pure && r.pure) {
                x.num = &num_pure_first<&num_arith>;
                // A leaf on either side is read inline.
                x.pure = l_slot                    ? &pure_arith_leaf<Leaf::Slot, true>
                         : l.kind == XKind::Number ? &pure_arith_leaf<Leaf::Const, true>
                         : r_slot                  ? &pure_arith_leaf<Leaf::Slot, false>
                         : r.kind == XKind::Number ? &pure_arith_leaf<Leaf::Const, false>
                                                   : &pure_arith;
            } else {
                x.num = e->op == BinOp::Add   ? &num_arith_as<BinOp::Add>
                        : e->op == BinOp::Sub ? &num_arith_as<BinOp::Sub>
                        : e->op == BinOp::Mul ? &num_arith_as<BinOp::Mul>
                                              : &num_arith;
            }
            return x;
        }
        if (vm::is_comparison(e->op)) {
            x.kind = XKind::Compare;
            x.truth =
                leaves ? (l_slot ? compare_with<Leaf::Slot>(r_slot) : compare_with<Leaf::Const>(r_slot))
                : l.pure && r.kind == XKind::Number
                    ? (l.pure != &pure_div_const<true> ? &truth_compare_pure_const<false>
                       : l.op == BinOp::Mod && r.k.is_int && r.k.i == 0 && (e->op == BinOp::Eq || e->op == BinOp::Ne)
                           ? &truth_compare_pure_const<true, true>
                           : &truth_compare_pure_const<true>)
                : l.pure && r.pure ? &truth_compare_pure
                                   : &truth_compare;
            x.eval = &eval_compare;
            return x;
        }
        x.kind = XKind::Binary;
        x.eval = e->op == BinOp::Concat ? &eval_concat : &eval_binary;
        return x;
    }
    if (auto e = expr.get_if<Expr::Call>()) {
        const Proc* func = vm.function_named(e->name);
        const vm::Builtin* builtin = func ? nullptr : vm::find_builtin(e->name);
        if (!func) x.slot = vm.slot_of(e->name, e->slot);
        for (const Expr& a : e->args) x.kids.push_back(compile_expr(vm, a));
        if (func) {
            x.kind = XKind::Call;
            x.proc = func;
            x.eval = &eval_by_num;
            x.refs = ref_args(vm, *func, x.kids) & ~e->by_value;
            x.alias = alias_args(vm, *func, x.kids, x.refs);
            x.refs &= ~x.alias;
            x.num = &num_call;
            if (lean_fits(*func, x.kids, x.refs)) {
                using enum ParamTypes;
                constexpr std::array<XCode::EvalNum, kLeanArgs + 1> lean = {
                    &num_call_lean<0, Untyped>, &num_call_lean<1, Untyped>, &num_call_lean<2, Untyped>,
                    &num_call_lean<3, Untyped>, &num_call_lean<4, Untyped>};
                constexpr std::array<XCode::EvalNum, kLeanArgs + 1> lean_typed = {
                    &num_call_lean<0, Untyped>, &num_call_lean<1, Typed>, &num_call_lean<2, Typed>,
                    &num_call_lean<3, Typed>, &num_call_lean<4, Typed>};
                x.num = (func->plain_types ? lean : lean_typed)[x.kids.size()];
            }
        } else if (builtin) {
            x.kind = XKind::Builtin;
            x.builtin = builtin;
            x.eval = &eval_builtin;
            x.reads_in_place = builtin->reads && x.kids.size() <= kInPlaceArgs && runs_no_procedure(x);
            if (builtin->name == "len" && x.kids.size() == 1) {
                x.pure = len_of(x.kids[0]);
                if (x.pure) x.num = &num_pure_first<&num_by_eval>;
            }
        } else {
            x.kind = XKind::Index;
            x.eval = &eval_with<&Vm::eval_index_call>;
        }
        return x;
    }
    if (auto e = expr.get_if<Expr::CellsValue>()) {
        x.kind = XKind::Cells;
        x.kids.push_back(compile_expr(vm, *e->row));
        x.kids.push_back(compile_expr(vm, *e->col));
        x.num = &num_cells;
        x.eval = &eval_by_num;
        if (x.kids[0].pure && x.kids[1].pure) {
            x.num = &num_pure_first<&num_cells>;
            x.pure = &pure_cells;
        }
        return x;
    }
    constexpr XKind kRead = XKind::Read;
    if (expr.is<Expr::RangeValue>()) return read<&Vm::eval_range_value>(vm, expr, kRead, {});
    if (auto e = expr.get_if<Expr::RangeOffsetValue>())
        return read<&Vm::eval_offset_value>(vm, expr, kRead, {&e->row_offset, &e->col_offset});
    if (auto e = expr.get_if<Expr::CellsFind>()) return read<&Vm::eval_find>(vm, expr, kRead, {&e->what});
    if (auto e = expr.get_if<Expr::SheetCellsValue>())
        return read<&Vm::eval_sheet_cells>(vm, expr, kRead, {&e->sheet, &e->row, &e->col});
    if (auto e = expr.get_if<Expr::SheetRangeValue>()) return read<&Vm::eval_sheet_range>(vm, expr, kRead, {&e->sheet});
    if (auto e = expr.get_if<Expr::WorkbookSheet>())
        return read<&Vm::eval_workbook_sheet>(vm, expr, kRead, {&e->workbook, &e->sheet});
    if (auto e = expr.get_if<Expr::CellsEndPosition>()) return read<&Vm::eval_end>(vm, expr, kRead, {&e->row, &e->col});
    if (expr.is<Expr::ActiveSheet>()) return read<&Vm::eval_active_sheet>(vm, expr, kRead, {});
    if (expr.is<Expr::SheetVar>()) return read<&Vm::eval_sheet_var>(vm, expr, kRead, {});
    if (auto e = expr.get_if<Expr::Field>()) {
        x = read<&Vm::eval_field>(vm, expr, kRead, {});
        if (e->var == "err") {
            x.slot = vm.slot_of(e->var, e->slot);
            x.eval = &eval_err;
        }
        return x;
    }
    if (expr.is<Expr::MemberPath>()) return read<&Vm::eval_member_path>(vm, expr, kRead, {});
    if (auto e = expr.get_if<Expr::ObjPath>()) {
        // Every argument of every step, found again by its source when the path is walked.
        x = read<&Vm::eval_obj_path>(vm, expr, kRead, {});
        for (const ObjStep& st : e->steps)
            for (const Expr& a : st.args) x.kids.push_back(compile_expr(vm, a));
        return x;
    }
    const auto& f = expr.as<Expr::IndexedField>();
    x = read<&Vm::eval_indexed_field>(vm, expr, kRead, {});
    for (const Expr& a : f.args) x.kids.push_back(compile_expr(vm, a));
    return x;
}

vm::MatchCode Vm::Exec::compile_match(Vm& vm, const CaseMatch& match) {
    MatchCode m;
    if (auto v = match.get_if<CaseMatch::Value>()) {
        m.kind = MatchCode::Kind::Value;
        m.values.push_back(compile_expr(vm, *v->value));
    } else if (auto r = match.get_if<CaseMatch::Range>()) {
        m.kind = MatchCode::Kind::Range;
        m.values.push_back(compile_expr(vm, *r->low));
        m.values.push_back(compile_expr(vm, *r->high));
    } else {
        const auto& is = match.as<CaseMatch::Is>();
        m.kind = MatchCode::Kind::Is;
        m.op = is.op;
        m.values.push_back(compile_expr(vm, *is.value));
    }
    return m;
}

namespace {

// Every expression an object expression holds (the indices of Areas).
void object_operands(Vm& vm, const ObjectExpr& object, std::vector<XCode>& out) {
    if (auto u = object.get_if<ObjectExpr::Union>()) {
        for (const ObjectExpr& part : u->parts) object_operands(vm, part, out);
    } else if (auto a = object.get_if<ObjectExpr::Areas>()) {
        if (a->base) object_operands(vm, *a->base, out);
        if (a->index) out.push_back(Vm::Exec::compile_expr(vm, *a->index));
    } else if (auto v = object.get_if<ObjectExpr::SpecialCellsVisible>()) {
        if (v->base) object_operands(vm, *v->base, out);
    } else if (auto p = object.get_if<ObjectExpr::Path>()) {
        for (const ObjStep& st : p->steps)
            for (const Expr& a : st.args) out.push_back(Vm::Exec::compile_expr(vm, a));
    }
}

}  // namespace

void Vm::Exec::compile_operands(Vm& vm, const Stmt& stmt, SCode& s) {
    auto add = [&](const Box<Expr>& e) {
        if (e) s.x.push_back(compile_expr(vm, *e));
    };
    auto add_list = [&](const std::vector<Expr>& list) {
        for (const Expr& e : list) s.x.push_back(compile_expr(vm, e));
    };
    std::visit(
        [&](const auto& n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (is_one_of<T, Stmt::ApplicationSet, Stmt::RangeWrite, Stmt::FieldAssign,
                                    Stmt::MemberPathAssign>) {
                add(n.value);
            } else if constexpr (is_one_of<T, Stmt::SheetPaste, Stmt::SheetDelete>) {
                add(n.sheet);
            } else if constexpr (std::is_same_v<T, Stmt::SheetProtect>) {
                add(n.sheet), add(n.user_interface_only), add(n.password);
            } else if constexpr (std::is_same_v<T, Stmt::ObjCall>) {
                for (const ObjStep& st : n.steps) add_list(st.args);
                for (const MethodArg& a : n.args) add_list(a.value);
                add(n.value);
            } else if constexpr (std::is_same_v<T, Stmt::RangePaste>) {
                add(n.transpose), add(n.what);
            } else if constexpr (is_one_of<T, Stmt::RangeDelete, Stmt::RangeInsert>) {
                add(n.shift);
            } else if constexpr (std::is_same_v<T, Stmt::RangeOffsetWrite>) {
                add(n.row_offset), add(n.col_offset), add(n.value);
            } else if constexpr (std::is_same_v<T, Stmt::SheetCellWrite>) {
                add(n.sheet), add(n.row), add(n.col), add(n.value);
            } else if constexpr (std::is_same_v<T, Stmt::SheetRangeWrite>) {
                add(n.sheet), add(n.value);
            } else if constexpr (std::is_same_v<T, Stmt::SetObject>) {
                object_operands(vm, n.object, s.x);
            } else if constexpr (is_one_of<T, Stmt::DimArray, Stmt::ReDim, Stmt::DimArrayAs>) {
                add_list(n.bounds);
            } else if constexpr (is_one_of<T, Stmt::IndexAssign, Stmt::IndexedFieldAssign>) {
                add_list(n.indices), add(n.value);
            } else if constexpr (std::is_same_v<T, Stmt::MsgBox>) {
                add(n.prompt);
            } else if constexpr (std::is_same_v<T, Stmt::ErrRaise>) {
                add(n.number), add(n.source), add(n.description);
            } else if constexpr (std::is_same_v<T, Stmt::DimList>) {
                for (const Stmt& d : n.decls) s.body.push_back(compile_stmt(vm, d));
            }
        },
        stmt.node);
}

SCode Vm::Exec::compile_stmt(Vm& vm, const Stmt& stmt) {
    SCode s;
    s.src = &stmt;
    if (auto a = stmt.get_if<Stmt::Assign>()) {
        s.slot = vm.slot_of(a->name, a->slot);
        s.x.push_back(compile_expr(vm, *a->value));
        if (a->name == "err" && !vm.declared(s.slot)) {
            s.run = &run_err_assign;
            return s;
        }
        const XCode& v = s.x[0];
        if (const Declared* d = vm.declared(s.slot); d && !d->array && d->type != vm::VarType::Variant) {
            s.flags = static_cast<uint8_t>(d->type);
            s.run = typed_assign(d->type, v);
            if (v.kind == XKind::Arith && is_leaf(v.kids[0]) && is_leaf(v.kids[1]) && whole_fits(d->type, 0)) {
                const bool r_slot = v.kids[1].kind == XKind::Var;
                const bool add = v.op == BinOp::Add;
                s.run = v.kids[0].kind == XKind::Var ? typed_assign_with<Leaf::Slot>(r_slot, add, d->type)
                                                     : typed_assign_with<Leaf::Const>(r_slot, add, d->type);
            }
            if (d->type == vm::VarType::String) s.run = text_assign(v, s.run);
            if (d->type == vm::VarType::String && appends_to(v, s.slot)) s.run = &run_append;
            return s;
        }
        // Arithmetic on two leaves, whole in this statement's function.
        const bool leaf_arith = v.kind == XKind::Arith && is_leaf(v.kids[0]) && is_leaf(v.kids[1]);
        if (leaf_arith) {
            const bool r_slot = v.kids[1].kind == XKind::Var;
            const bool add = v.op == BinOp::Add;
            s.run = v.kids[0].kind == XKind::Var ? assign_with<Leaf::Slot>(r_slot, add)
                                                 : assign_with<Leaf::Const>(r_slot, add);
        } else {
            s.run = v.kind == XKind::Var && v.pure == &pure_slot ? &run_assign_slot
                    : v.pure                                     ? &run_assign_pure
                                                                 : text_assign(v, &run_assign);
        }
        if (vm.object_names_.contains(a->name)) {
            s.run = &run_assign_object;
            return s;
        }
        if (appends_to(v, s.slot)) s.run = &run_append;
        return s;
    }
    if (auto i = stmt.get_if<Stmt::If>()) {
        s.x.push_back(compile_expr(vm, *i->cond));
        s.body = compile_body(vm, i->then_body);
        s.other = compile_body(vm, i->else_body);
        s.run = &run_if;
        const XCode& c = s.x[0];
        if (c.kind == XKind::Compare && is_leaf(c.kids[0]) && is_leaf(c.kids[1])) {
            const bool l_slot = c.kids[0].kind == XKind::Var, r_slot = c.kids[1].kind == XKind::Var;
            const bool short_branches = s.body.size() <= 1 && s.other.size() <= 1;
            s.run = short_branches ? if_leaves_with<true>(l_slot, r_slot) : if_leaves_with<false>(l_slot, r_slot);
            const vm::Num& k = c.kids[1].k;
            if (l_slot && !r_slot && k.is_int && vm::is_exact(k.i))
                if (SCode::Run run = short_branches ? if_slot_int_with<true>(c.op) : if_slot_int_with<false>(c.op))
                    s.run = run;
        }
        return s;
    }
    if (auto f = stmt.get_if<Stmt::For>()) {
        s.slot = vm.slot_of(f->var, f->slot);
        s.x.push_back(compile_expr(vm, *f->start));
        s.x.push_back(compile_expr(vm, *f->end));
        if (f->step) s.x.push_back(compile_expr(vm, *f->step));
        s.body = compile_body(vm, f->body);
        s.run = &run_for;
        s.watch_counter = counter_may_change(vm, s);
        // A counter declared with a whole type counts in that type.
        if (const Declared* d = vm.declared(s.slot); d && !d->array && whole_fits(d->type, 0))
            s.flags = static_cast<uint8_t>(d->type);
        return s;
    }
    if (auto d = stmt.get_if<Stmt::DoLoop>()) {
        // x[0] and x[1]: the conditions before and after, when there are.
        if (d->pre_cond) {
            s.flags |= SCode::kPre | (d->pre_cond->until ? SCode::kPreUntil : 0);
            s.x.push_back(compile_expr(vm, *d->pre_cond->cond));
        }
        if (d->post_cond) {
            s.flags |= SCode::kPost | (d->post_cond->until ? SCode::kPostUntil : 0);
            s.x.push_back(compile_expr(vm, *d->post_cond->cond));
        }
        s.body = compile_body(vm, d->body);
        s.run = &run_do;
        return s;
    }
    if (auto f = stmt.get_if<Stmt::ForEach>()) {
        s.slot = vm.slot_of(f->var, f->slot);
        for (const ObjStep& st : f->path)
            for (const Expr& a : st.args) s.x.push_back(compile_expr(vm, a));
        s.body = compile_body(vm, f->body);
        s.run = &run_for_each;
        return s;
    }
    if (auto c = stmt.get_if<Stmt::SelectCase>()) {
        // x[0] the subject; one node per case in `body`, with its matches.
        s.x.push_back(compile_expr(vm, *c->subject));
        for (const CaseClause& clause : c->cases) {
            SCode& k = s.body.emplace_back();
            k.src = &stmt;
            for (const CaseMatch& m : clause.matches) k.matches.push_back(compile_match(vm, m));
            k.body = compile_body(vm, clause.body);
        }
        s.other = compile_body(vm, c->else_body);
        s.run = &run_select;
        return s;
    }
    if (auto w = stmt.get_if<Stmt::WithSheet>()) {
        s.body = compile_body(vm, w->body);
        s.run = &run_with_sheet;
        return s;
    }
    if (auto c = stmt.get_if<Stmt::Call>()) {
        s.proc = vm.procedure_named(c->name);
        // Arguments in parentheses of their own, by parameter position.
        uint64_t by_value = c->by_value;
        if (!s.proc || c->arg_names.empty()) {
            for (const Expr& a : c->args) s.x.push_back(compile_expr(vm, a));
        } else {
            by_value = 0;
            // Arguments in parameter order; one left out has no `eval`.
            const std::vector<Param>& params = *s.proc->params;
            for (size_t i = 0; i < c->args.size() && !s.flags; ++i) {
                size_t at = i;
                if (!c->arg_names[i].empty()) {
                    at = params.size();
                    for (size_t k = 0; k < params.size(); ++k)
                        if (params[k].name == c->arg_names[i]) at = k;
                    // A name that is no parameter fails when the call runs.
                    if (at == params.size()) s.flags = kBadName;
                }
                if (at >= s.x.size()) s.x.resize(at + 1);
                if (!s.flags && !c->omitted[i]) s.x[at] = compile_expr(vm, c->args[i]);
                if (i < 64 && at < 64 && (c->by_value >> i & 1)) by_value |= uint64_t{1} << at;
            }
            // Trailing arguments left out are no arguments.
            while (!s.x.empty() && !s.x.back().eval) s.x.pop_back();
        }
        if (s.proc) {
            s.refs = ref_args(vm, *s.proc, s.x) & ~by_value;
            s.alias = alias_args(vm, *s.proc, s.x, s.refs);
            s.refs &= ~s.alias;
        }
        s.run = &run_call;
        return s;
    }
    if (auto w = stmt.get_if<Stmt::CellWrite>()) {
        s.x.push_back(compile_expr(vm, *w->row));
        s.x.push_back(compile_expr(vm, *w->col));
        s.x.push_back(compile_expr(vm, *w->value));
        s.run = &run_cell_write;
        return s;
    }
    if (auto b = stmt.get_if<Stmt::Block>()) {
        s.body = compile_body(vm, b->body);
        s.run = &run_body_stmt;
        return s;
    }
    if (auto b = stmt.get_if<Stmt::WithVar>()) {
        s.body = compile_body(vm, b->body);
        s.run = &run_body_stmt;
        return s;
    }
    auto exit = [&](ExitKind kind) {
        s.exit = kind;
        s.run = &run_exit;
        return s;
    };
    if (stmt.is<Stmt::ExitFor>()) return exit(ExitKind::For);
    if (stmt.is<Stmt::ExitDo>()) return exit(ExitKind::Do);
    if (stmt.is<Stmt::ExitSub>()) return exit(ExitKind::Sub);
    if (stmt.is<Stmt::ExitFunction>()) return exit(ExitKind::Function);
    if (stmt.is<Stmt::End>()) return exit(ExitKind::End);
    if (auto skipped = stmt.get_if<Stmt::Skipped>(); skipped && skipped->fails) {
        s.run = &run_unsupported;
        return s;
    }
    if (stmt.is<Stmt::Label>() || stmt.is<Stmt::Nop>() || stmt.is<Stmt::Skipped>()) {
        s.run = &run_nothing;
        return s;
    }
    s.run = &run_dispatched;
    compile_operands(vm, stmt, s);
    return s;
}

}  // namespace morvane
