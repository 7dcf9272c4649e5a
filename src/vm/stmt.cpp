// Statements: the per-statement wrapper, the dispatcher, and the arms for
// control flow, variables, arrays, calls and MsgBox. The arms that touch
// cells and sheets live in stmt_cells.cpp, those of user Types in records.cpp.
#include <cmath>
#include <cstddef>

#include "vm/dispatch.h"
#include "vm/fast_path.h"
#include "vm/values.h"

namespace morvane {

using vm::kStmt;

std::string Vm::array_oob_error(std::string_view name, uint64_t index, uint64_t len) {
    return format_message("Array '{}': index {} out of bounds (len={})", name, std::to_string(index),
                          std::to_string(len));
}

// The body rule: stop at a pending exit; a failure is dropped under Resume
// Next, otherwise it ends the enclosing statement. A pending GoTo does not
// stop a body.
Result<void> Vm::run_body(const Body& body) {
    for (const SpannedStmt& s : body) {
        if (exit_flag_ != ExitKind::None) break;
        auto r = exec_stmt_inner(s.stmt);
        if (!r && !swallows_error()) return r;
    }
    return {};
}

Result<void> Vm::exec_stmt_inner(const Stmt& stmt) {
    const auto& n = stmt.node;
    // The commonest kinds first, by plain branches: one shared indirect jump
    // for every statement predicts badly.
    if (auto s = std::get_if<Stmt::Assign>(&n)) return exec_assign(*s);
    if (auto s = std::get_if<Stmt::If>(&n)) return exec_if(*s);
    switch (n.index()) {
        case kStmt<Stmt::For>: return exec_for(*std::get_if<Stmt::For>(&n));
        case kStmt<Stmt::ForEach>: return exec_for_each(*std::get_if<Stmt::ForEach>(&n));
        case kStmt<Stmt::DoLoop>: return exec_do(*std::get_if<Stmt::DoLoop>(&n));
        case kStmt<Stmt::SelectCase>: return exec_select(*std::get_if<Stmt::SelectCase>(&n));
        case kStmt<Stmt::ExitFor>: exit_flag_ = ExitKind::For; return {};
        case kStmt<Stmt::ExitDo>: exit_flag_ = ExitKind::Do; return {};
        case kStmt<Stmt::ExitSub>: exit_flag_ = ExitKind::Sub; return {};
        case kStmt<Stmt::ExitFunction>: exit_flag_ = ExitKind::Function; return {};
        case kStmt<Stmt::End>: exit_flag_ = ExitKind::End; return {};
        case kStmt<Stmt::OnError>:
            resume_next_ = std::get_if<Stmt::OnError>(&n)->resume_next;
            on_error_label_.reset();
            return {};
        case kStmt<Stmt::OnErrorGoto>:
            on_error_label_ = std::get_if<Stmt::OnErrorGoto>(&n)->label;
            resume_next_ = false;
            return {};
        case kStmt<Stmt::ResumeNext>: on_error_label_.reset(); return {};
        case kStmt<Stmt::GoTo>: pending_goto_ = std::get_if<Stmt::GoTo>(&n)->label; return {};
        case kStmt<Stmt::Label>:
        case kStmt<Stmt::Nop>:
        case kStmt<Stmt::Skipped>: return {};
        case kStmt<Stmt::Call>: return exec_call(*std::get_if<Stmt::Call>(&n));
        case kStmt<Stmt::DimArray>: {
            const auto& s = *std::get_if<Stmt::DimArray>(&n);
            return exec_dim_array(s.name, slot_of(s.name, s.slot), s.bounds);
        }
        case kStmt<Stmt::ReDim>: return exec_redim(*std::get_if<Stmt::ReDim>(&n));
        case kStmt<Stmt::IndexAssign>: return exec_index_assign(*std::get_if<Stmt::IndexAssign>(&n));
        case kStmt<Stmt::DimScalar>: return exec_dim_scalar(*std::get_if<Stmt::DimScalar>(&n));
        case kStmt<Stmt::Block>: return run_body(std::get_if<Stmt::Block>(&n)->body);
        case kStmt<Stmt::WithVar>: return run_body(std::get_if<Stmt::WithVar>(&n)->body);
        case kStmt<Stmt::MsgBox>: {
            Variant prompt = TRY(eval_expr(*std::get_if<Stmt::MsgBox>(&n)->prompt));
            if (msgbox_error_) return fail(format_message("MsgBox: {}", prompt.to_string()));
            return {};
        }
        case kStmt<Stmt::DimList>:
            for (const Stmt& d : std::get_if<Stmt::DimList>(&n)->decls) TRY_VOID(exec_stmt_inner(d));
            return {};
        case kStmt<Stmt::FieldAssign>:
        case kStmt<Stmt::DimAs>:
        case kStmt<Stmt::DimArrayAs>:
        case kStmt<Stmt::MemberPathAssign>:
        case kStmt<Stmt::IndexedFieldAssign>: return exec_record_stmt(stmt);
        default: return exec_sheet_stmt(stmt);
    }
}

Result<void> Vm::exec_if(const Stmt::If& s) {
    bool truth;
    if (!fast_truth(*s.cond, truth)) truth = vm::is_truthy(TRY(eval_expr(*s.cond)));
    // run_body, spelled out here to save a call on every branch taken.
    for (const SpannedStmt& st : truth ? s.then_body : s.else_body) {
        if (exit_flag_ != ExitKind::None) break;
        auto r = exec_stmt_fast(st.stmt);
        if (!r && !swallows_error()) return r;
    }
    return {};
}

// ---------------------------------------------------------------- variables

Result<void> Vm::exec_assign(const Stmt::Assign& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    Num num;
    Variant value;
    // Arithmetic: the fast path, else the numeric path with calls; neither
    // is a concatenation.
    if (auto b = s.value->get_if<Expr::Binary>(); b && vm::is_arithmetic(b->op)) {
        if (fast_num_binary(*b, num) || TRY(eval_num_binary(*b, num, value)))
            store_num(slot, num);
        else
            set_slot(slot, std::move(value));
        return {};
    }
    if (fast_num(*s.value, num)) {
        store_num(slot, num);
        return {};
    }
    // s = s & x appends in place when nothing in x can run code or fail
    // differently, so building a long text stays linear.
    if (auto b = s.value->get_if<Expr::Binary>(); b && b->op == BinOp::Concat) {
        auto lhs = b->lhs->get_if<Expr::Var>();
        const Expr& rhs = *b->rhs;
        bool simple_rhs = rhs.is<Expr::Str>() || rhs.is<Expr::Var>() || rhs.is<Expr::Int>() ||
                          rhs.is<Expr::Float>();
        if (lhs && lhs->slot == slot && simple_rhs && slots_[slot].defined && slots_[slot].value.is_str()) {
            Variant tail = TRY(eval_expr(rhs));
            std::string& text = slots_[slot].value.as_str();
            return tail.is_str() ? vm::append_text(text, tail.as_str()) : vm::append_text(text, tail.to_string());
        }
    }
    if (TRY(eval_num(*s.value, num, value)))
        store_num(slot, num);
    else
        set_slot(slot, std::move(value));
    return {};
}

Result<void> Vm::exec_dim_scalar(const Stmt::DimScalar& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    if (!slots_[slot].defined) set_slot(slot, vm::default_for_type(s.type_name));
    return {};
}

// ---------------------------------------------------------------- loops

Result<bool> Vm::loop_pass(const Body& body, ExitKind kind) {
    TRY_VOID(run_body(body));
    if (exit_flag_ == ExitKind::None) return false;
    if (exit_flag_ == kind) exit_flag_ = ExitKind::None;
    return true;
}

Result<double> Vm::eval_f64(const Expr& e) {
    Num n;
    if (fast_num(e, n)) return n.as_double();
    return vm::to_f64(TRY(eval_expr(e)));
}

Result<void> Vm::exec_for(const Stmt::For& s) {
    const double start = TRY(eval_f64(*s.start));
    const double end = TRY(eval_f64(*s.end));
    const double step = s.step ? TRY(eval_f64(*s.step)) : 1.0;
    if (step == 0) return fail("For loop: step cannot be zero");
    const uint32_t slot = slot_of(s.var, s.slot);
    for (double v = start; (v <= end && step > 0) || (end <= v && step < 0); v += step) {
        TRY_VOID(check_deadline());
        // The counter follows the number_variant rule.
        store_num(slot, vm::num_of_double(v));
        if (TRY(loop_pass(s.body, ExitKind::For))) return {};
    }
    return {};
}

Result<void> Vm::exec_for_each(const Stmt::ForEach& s) {
    auto corners = resolve_range_addr(s.collection);
    if (!corners) return fail(format_message("ForEach: invalid range '{}'", s.collection));
    const auto [first, last] = *corners;
    const uint32_t slot = slot_of(s.var, s.slot);
    for (uint64_t r = first.first; r <= last.first; ++r) {
        for (uint64_t c = first.second; c <= last.second; ++c) {
            TRY_VOID(check_deadline());
            set_slot(slot, get_cell(static_cast<uint32_t>(r), static_cast<uint32_t>(c)));
            if (TRY(loop_pass(s.body, ExitKind::For))) return {};
        }
    }
    return {};
}

Result<void> Vm::exec_do(const Stmt::DoLoop& s) {
    auto holds = [&](const std::optional<LoopCond>& c) -> Result<bool> {
        if (!c) return true;
        bool truth;
        if (!fast_truth(*c->cond, truth)) truth = vm::is_truthy(TRY(eval_expr(*c->cond)));
        return c->until ? !truth : truth;
    };
    for (;;) {
        if (!TRY(holds(s.pre_cond))) return {};
        TRY_VOID(check_deadline());
        if (TRY(loop_pass(s.body, ExitKind::Do))) return {};
        if (!TRY(holds(s.post_cond))) return {};
    }
}

// ---------------------------------------------------------------- Select Case

Result<bool> Vm::case_matches(const Variant& subject, const CaseMatch& match) {
    if (auto m = match.get_if<CaseMatch::Value>()) return vm::vba_eq(subject, TRY(eval_expr(*m->value)));
    if (auto m = match.get_if<CaseMatch::Range>()) {
        Variant low = TRY(eval_expr(*m->low));
        Variant high = TRY(eval_expr(*m->high));
        if (TRY(vm::vba_cmp(subject, low)) == vm::Ordering::Less) return false;
        return TRY(vm::vba_cmp(subject, high)) != vm::Ordering::Greater;
    }
    const auto& m = match.as<CaseMatch::Is>();
    Variant value = TRY(eval_expr(*m.value));
    switch (m.op) {
        case BinOp::Eq: return vm::vba_eq(subject, value);
        case BinOp::Ne: return !vm::vba_eq(subject, value);
        default: break;
    }
    vm::Ordering o = TRY(vm::vba_cmp(subject, value));
    switch (m.op) {
        case BinOp::Lt: return o == vm::Ordering::Less;
        case BinOp::Le: return o != vm::Ordering::Greater;
        case BinOp::Gt: return o == vm::Ordering::Greater;
        default: return o != vm::Ordering::Less;
    }
}

Result<void> Vm::exec_select(const Stmt::SelectCase& s) {
    Variant subject = TRY(eval_expr(*s.subject));
    for (const CaseClause& c : s.cases)
        for (const CaseMatch& m : c.matches)
            if (TRY(case_matches(subject, m))) return run_body(c.body);
    return run_body(s.else_body);
}

// ---------------------------------------------------------------- calls

Result<void> Vm::exec_call(const Stmt::Call& s) {
    const uint32_t slot = slot_of(s.name, s.slot);
    // A bare line naming no procedure (DoEvents, Beep) does nothing.
    if (s.bare && !slots_[slot].func && !slots_[slot].sub) return {};
    const size_t base = arg_stack_.size();
    TRY_VOID(push_args(s.args));
    const Proc* proc = slots_[slot].func ? slots_[slot].func : slots_[slot].sub;
    if (!proc) {
        arg_stack_.resize(base);
        return fail(format_message("Sub/Function '{}' not found", s.name));
    }
    TRY(invoke(*proc, base));
    return {};
}

// ---------------------------------------------------------------- arrays

Result<uint64_t> Vm::eval_index(const Expr& e) {
    double x = TRY(vm::to_f64(TRY(eval_expr(e))));
    return saturate_u64(std::trunc(x));
}

Result<uint64_t> Vm::eval_array_len(const std::string& name, const std::vector<Expr>& bounds) {
    if (bounds.size() > 1) return fail(std::string(kMultiDim));
    uint64_t n = TRY(eval_index(bounds[0]));
    if (n >= kMaxArrayLen)
        return fail(format_message("Array '{}': upper bound {} is beyond the limit of {}", name, std::to_string(n),
                                   std::to_string(kMaxArrayLen - 1)));
    return n + 1;
}

Result<void> Vm::exec_dim_array(const std::string& name, uint32_t slot, const std::vector<Expr>& bounds) {
    // Dim a() declares an array without elements, to be sized by ReDim.
    if (bounds.empty()) {
        set_slot(slot, Variant(Array{}));
        return {};
    }
    uint64_t len = TRY(eval_array_len(name, bounds));
    set_slot(slot, Variant(Array(len)));
    return {};
}

Result<void> Vm::exec_redim(const Stmt::ReDim& s) {
    if (s.bounds.empty()) return fail(format_message("ReDim '{}' requires a bound", s.name));
    uint64_t len = TRY(eval_array_len(s.name, s.bounds));
    const uint32_t slot = slot_of(s.name, s.slot);
    Slot& v = slots_[slot];
    if (s.preserve && v.defined && v.value.is_array()) {
        v.value.as_array().resize(len);
        return {};
    }
    set_slot(slot, Variant(Array(len)));
    return {};
}

Result<void> Vm::exec_index_assign(const Stmt::IndexAssign& s) {
    if (s.indices.empty()) return fail(format_message("Array '{}' requires index", s.name));
    if (s.indices.size() > 1) return fail(std::string(kMultiDim));
    Variant value = TRY(eval_expr(*s.value));
    uint64_t index = TRY(eval_index(s.indices[0]));
    Slot& v = slots_[slot_of(s.name, s.slot)];
    if (!v.defined || !v.value.is_array()) return fail(format_message("'{}' is not an array", s.name));
    Array& arr = v.value.as_array();
    if (index >= arr.size()) return fail(array_oob_error(s.name, index, arr.size()));
    arr[index] = std::move(value);
    return {};
}

}  // namespace morvane
