// Compiling a procedure body: each statement and expression to the node
// whose function fits its shape (see code.h). Anything without a compiled
// form becomes a node that runs the tree.
#include "vm/exec.h"

namespace morvane {

using vm::SCode;
using vm::XCode;

namespace {

bool is_leaf(const XCode& x) { return x.eval == &Vm::Exec::eval_slot || x.num == &Vm::Exec::num_const; }

}  // namespace

vm::Code Vm::Exec::compile_body(Vm& vm, const Body& body) {
    vm::Code code;
    code.reserve(body.size());
    for (const SpannedStmt& s : body) code.push_back(compile_stmt(vm, s.stmt));
    return code;
}

namespace {

// A numeric constant node.
XCode number(const Expr& src, vm::Num k) {
    XCode x;
    x.src = &src;
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
SCode::Run assign_with(bool rhs_slot) {
    using Leaf = Vm::Exec::Leaf;
    return rhs_slot ? &Vm::Exec::run_assign_leaves<L, Leaf::Slot> : &Vm::Exec::run_assign_leaves<L, Leaf::Const>;
}

template <Vm::Exec::Leaf L>
XCode::Truth compare_with(bool rhs_slot) {
    using Leaf = Vm::Exec::Leaf;
    return rhs_slot ? &Vm::Exec::truth_compare_leaves<L, Leaf::Slot>
                    : &Vm::Exec::truth_compare_leaves<L, Leaf::Const>;
}

}  // namespace

XCode Vm::Exec::compile_expr(Vm& vm, const Expr& expr) {
    XCode x;
    x.src = &expr;
    // The defaults: the tree evaluates, numbers and truth follow from it.
    x.eval = &eval_tree;
    x.num = &num_by_eval;
    x.truth = &truth_by_num;
    if (auto e = expr.get_if<Expr::Int>()) return number(expr, {true, e->value, 0});
    if (auto e = expr.get_if<Expr::Float>()) return number(expr, {false, 0, e->value});
    if (auto e = expr.get_if<Expr::Str>()) return constant(expr, Variant(e->value));
    if (auto e = expr.get_if<Expr::Bool>()) return constant(expr, Variant(e->value));
    if (auto e = expr.get_if<Expr::Date>()) return constant(expr, Variant(Date{e->serial}));
    if (auto e = expr.get_if<Expr::Var>()) {
        x.slot = vm.slot_of(e->name, e->slot);
        x.eval = &eval_slot;
        x.num = &num_slot;
        x.pure = &pure_slot;
        return x;
    }
    if (auto e = expr.get_if<Expr::Neg>()) {
        // The minus of a literal is a literal; any other goes the long way.
        if (auto k = e->operand->get_if<Expr::Int>(); k && k->value != INT64_MIN)
            return number(expr, {true, -k->value, 0});
        if (auto k = e->operand->get_if<Expr::Float>()) return number(expr, {false, 0, -k->value});
        return x;
    }
    if (auto e = expr.get_if<Expr::Binary>()) {
        x.op = e->op;
        x.kids.push_back(compile_expr(vm, *e->lhs));
        x.kids.push_back(compile_expr(vm, *e->rhs));
        const XCode& l = x.kids[0];
        const XCode& r = x.kids[1];
        const bool leaves = is_leaf(l) && is_leaf(r);
        const bool l_slot = l.eval == &eval_slot, r_slot = r.eval == &eval_slot;
        if (vm::is_arithmetic(e->op)) {
            vm::Num folded;
            if (l.num == &num_const && r.num == &num_const && arith(e->op, l.k, r.k, folded))
                return number(expr, folded);
            x.eval = &eval_by_num;
            if (leaves) {
                x.num = l_slot ? arith_with<Leaf::Slot>(r_slot) : arith_with<Leaf::Const>(r_slot);
                x.pure = l_slot ? pure_arith_with<Leaf::Slot>(r_slot) : pure_arith_with<Leaf::Const>(r_slot);
            } else if (l.pure && r.pure) {
                x.num = &num_pure_first<&num_arith>;
                x.pure = &pure_arith;
            } else {
                x.num = &num_arith;
            }
            return x;
        }
        if (vm::is_comparison(e->op)) {
            x.truth = leaves          ? (l_slot ? compare_with<Leaf::Slot>(r_slot) : compare_with<Leaf::Const>(r_slot))
                      : l.pure && r.pure ? &truth_compare_pure
                                         : &truth_compare;
            x.eval = &eval_compare;
            return x;
        }
        x.eval = &eval_binary;
        return x;
    }
    if (auto e = expr.get_if<Expr::Call>()) {
        x.slot = vm.slot_of(e->name, e->slot);
        // Copied out: compiling the arguments may add slots.
        const Proc* func = vm.slots_[x.slot].func;
        const vm::Builtin* builtin = vm.slots_[x.slot].builtin;
        if (!func && !builtin) return x;
        for (const Expr& a : e->args) x.kids.push_back(compile_expr(vm, a));
        if (func) {
            x.target = func;
            x.num = &num_call;
            x.eval = &eval_by_num;
            x.refs = ref_args(vm, *func, x.kids);
        } else {
            x.target = builtin;
            x.eval = &eval_builtin;
        }
        return x;
    }
    if (auto e = expr.get_if<Expr::Field>(); e && e->var == "err") {
        x.slot = vm.slot_of(e->var, e->slot);
        x.eval = &eval_err;
        return x;
    }
    if (auto e = expr.get_if<Expr::CellsValue>()) {
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
    return x;
}

XCode Vm::Exec::compile_match(Vm& vm, const CaseMatch& match) {
    XCode m;
    if (auto v = match.get_if<CaseMatch::Value>()) {
        m.slot = kMatchValue;
        m.kids.push_back(compile_expr(vm, *v->value));
    } else if (auto r = match.get_if<CaseMatch::Range>()) {
        m.slot = kMatchRange;
        m.kids.push_back(compile_expr(vm, *r->low));
        m.kids.push_back(compile_expr(vm, *r->high));
    } else {
        const auto& is = match.as<CaseMatch::Is>();
        m.slot = kMatchIs;
        m.op = is.op;
        m.kids.push_back(compile_expr(vm, *is.value));
    }
    return m;
}

SCode Vm::Exec::compile_stmt(Vm& vm, const Stmt& stmt) {
    SCode s;
    s.src = &stmt;
    s.run = &run_tree;
    if (auto a = stmt.get_if<Stmt::Assign>()) {
        s.slot = vm.slot_of(a->name, a->slot);
        s.x.push_back(compile_expr(vm, *a->value));
        const XCode& v = s.x[0];
        if (const Declared* d = vm.declared(s.slot); d && !d->array && d->type != vm::VarType::Variant) {
            s.flags = static_cast<uint8_t>(d->type);
            s.run = &run_assign_typed;
            if (d->type == vm::VarType::String && v.op == BinOp::Concat && v.eval == &eval_binary &&
                v.kids[0].eval == &eval_slot && v.kids[0].slot == s.slot &&
                (is_leaf(v.kids[1]) || v.kids[1].eval == &eval_const))
                s.run = &run_append;
            return s;
        }
        // Arithmetic on two leaves, whole in this statement's function.
        const bool leaf_arith = v.pure && v.num != &num_const && v.src->is<Expr::Binary>() &&
                                is_leaf(v.kids[0]) && is_leaf(v.kids[1]);
        if (leaf_arith) {
            const bool r_slot = v.kids[1].eval == &eval_slot;
            s.run = v.kids[0].eval == &eval_slot ? assign_with<Leaf::Slot>(r_slot) : assign_with<Leaf::Const>(r_slot);
        } else {
            s.run = v.pure ? &run_assign_pure : &run_assign;
        }
        // s = s & x appends in place when x cannot run code.
        if (v.op == BinOp::Concat && v.eval == &eval_binary && v.kids[0].eval == &eval_slot &&
            v.kids[0].slot == s.slot && (is_leaf(v.kids[1]) || v.kids[1].eval == &eval_const))
            s.run = &run_append;
        return s;
    }
    if (auto i = stmt.get_if<Stmt::If>()) {
        s.x.push_back(compile_expr(vm, *i->cond));
        s.body = compile_body(vm, i->then_body);
        s.other = compile_body(vm, i->else_body);
        s.run = &run_if;
        return s;
    }
    if (auto f = stmt.get_if<Stmt::For>()) {
        s.slot = vm.slot_of(f->var, f->slot);
        s.x.push_back(compile_expr(vm, *f->start));
        s.x.push_back(compile_expr(vm, *f->end));
        if (f->step) s.x.push_back(compile_expr(vm, *f->step));
        s.body = compile_body(vm, f->body);
        s.run = &run_for;
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
        s.body = compile_body(vm, f->body);
        s.run = &run_for_each;
        return s;
    }
    if (auto c = stmt.get_if<Stmt::SelectCase>()) {
        // x[0] the subject; one node per case in `body`, its matches in x.
        s.x.push_back(compile_expr(vm, *c->subject));
        for (const CaseClause& clause : c->cases) {
            SCode& k = s.body.emplace_back();
            k.src = &stmt;
            for (const CaseMatch& m : clause.matches) k.x.push_back(compile_match(vm, m));
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
        const Slot& slot = vm.slots_[vm.slot_of(c->name, c->slot)];
        const Proc* proc = slot.func ? slot.func : slot.sub;
        if (!proc) return s;
        if (c->arg_names.empty()) {
            for (const Expr& a : c->args) s.x.push_back(compile_expr(vm, a));
        } else {
            // Arguments in parameter order; a named one that names no
            // parameter leaves the call to the tree, which reports it.
            const std::vector<Param>& params = *proc->params;
            for (size_t i = 0; i < c->args.size(); ++i) {
                size_t at = i;
                if (!c->arg_names[i].empty()) {
                    at = params.size();
                    for (size_t k = 0; k < params.size(); ++k)
                        if (params[k].name == c->arg_names[i]) at = k;
                    if (at == params.size()) return s;
                }
                if (at >= s.x.size()) s.x.resize(at + 1);
                if (!c->omitted[i]) s.x[at] = compile_expr(vm, c->args[i]);
            }
            // Trailing arguments left out are no arguments.
            while (!s.x.empty() && !s.x.back().eval) s.x.pop_back();
        }
        s.target = proc;
        s.refs = ref_args(vm, *proc, s.x);
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
    // The exit kind waits in `slot`.
    auto exit = [&](ExitKind kind) {
        s.slot = static_cast<uint32_t>(kind);
        s.run = &run_exit;
        return s;
    };
    if (stmt.is<Stmt::ExitFor>()) return exit(ExitKind::For);
    if (stmt.is<Stmt::ExitDo>()) return exit(ExitKind::Do);
    if (stmt.is<Stmt::ExitSub>()) return exit(ExitKind::Sub);
    if (stmt.is<Stmt::ExitFunction>()) return exit(ExitKind::Function);
    if (stmt.is<Stmt::Label>() || stmt.is<Stmt::Nop>() || stmt.is<Stmt::Skipped>()) s.run = &run_nothing;
    return s;
}

}  // namespace morvane
