// Running the compiled form: the functions the compiler puts into the nodes
// (code.h). A fast path declines to the general function of its own node,
// which gives exactly the same value or message.
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "types/text.h"
#include "vm/builtins/builtins.h"
#include "vm/exec.h"
#include "workbook/sheet_rows.h"
#include "vm/messages.h"
#include "values/values.h"

namespace morvane {

using vm::MatchCode;
using vm::Num;
using vm::NumResult;
using vm::SCode;
using vm::XCode;
using vm::XKind;

namespace {

constexpr std::string_view kBadForEachRange = "ForEach: invalid range '{}'";
constexpr std::string_view kBadCalculateRange = "Calculate: invalid range '{}'";
constexpr std::string_view kProcNotFound = "Sub/Function '{}' not found";
constexpr std::string_view kNotDefined = "Sub or Function not defined: '{}'";
constexpr std::string_view kNamedArgNotFound = "Named argument not found: '{}'";

// Bare statements of VBA that have nothing to do here.
constexpr std::string_view kNoOpStatements[] = {"doevents", "beep", "randomize", "close", "reset", "print", "write"};
constexpr std::string_view kUnknownExpression = "Unknown expression";

// Copies `n` bytes, from sizeof(T) to twice that, as two moves of a T that
// may overlap.
template <class T>
[[gnu::always_inline]] inline void copy_ends(char* to, const char* from, size_t n) {
    T head, tail;
    std::memcpy(&head, from, sizeof(T));
    std::memcpy(&tail, from + n - sizeof(T), sizeof(T));
    std::memcpy(to, &head, sizeof(T));
    std::memcpy(to + n - sizeof(T), &tail, sizeof(T));
}

// Copies a text of up to 16 bytes without a call.
[[gnu::always_inline]] inline void copy_short(char* to, std::string_view from) {
    const size_t n = from.size();
    if (n >= 8)
        copy_ends<uint64_t>(to, from.data(), n);
    else if (n >= 4)
        copy_ends<uint32_t>(to, from.data(), n);
    else if (n >= 2)
        copy_ends<uint16_t>(to, from.data(), n);
    else if (n == 1)
        to[0] = from[0];
}

// `text` becomes `a` followed by `b`, which must not lie in it. Short texts
// no longer than `text` are copied inline, since most texts a macro moves
// are a few bytes and a call costs more than the copy.
[[gnu::always_inline]] inline void set_text(std::string& text, std::string_view a, std::string_view b = {}) {
    const size_t size = a.size() + b.size();
    if (size <= text.size() && a.size() <= 16 && b.size() <= 16) {
        copy_short(text.data(), a);
        copy_short(text.data() + a.size(), b);
        text.resize(size);
    } else {
        text.assign(a).append(b);
    }
}

}  // namespace

// ---------------------------------------------------------------- check points

bool Vm::Exec::poll(Vm& vm) {
    auto r = vm.poll_interrupt();
    return take(vm, r);
}

bool Vm::Exec::no_stack(Vm& vm) {
    auto r = vm.out_of_stack();
    return take(vm, r);
}

// ---------------------------------------------------------------- expressions

bool Vm::Exec::eval_by_num(Vm& vm, const XCode& x, Variant& out) {
    Num n;
    switch (x.num(vm, x, n, out)) {
        case NumResult::Number: out = vm::num_variant(n); return true;
        case NumResult::Other: return true;
        default: return false;
    }
}

int Vm::Exec::truth_by_num(Vm& vm, const XCode& x) {
    Num n;
    Variant other;
    switch (x.num(vm, x, n, other)) {
        case NumResult::Number: return n.is_int ? n.i != 0 : n.d != 0.0;
        case NumResult::Other: {
            auto t = vm::is_truthy(other);
            return take(vm, t) ? *t : -1;
        }
        default: return -1;
    }
}

bool Vm::Exec::eval_missing(Vm& vm, const XCode&, Variant&) { return failed(vm, std::string(kUnknownExpression)); }

bool Vm::Exec::eval_const(Vm&, const XCode& x, Variant& out) {
    out = x.value;
    return true;
}

NumResult Vm::Exec::num_const(Vm&, const XCode& x, Num& n, Variant&) {
    n = x.k;
    return NumResult::Number;
}

// A copy of a defined variable's value. Copying an array counts its
// elements toward the next interrupt check.
bool Vm::Exec::copy_slot(Vm& vm, const Slot& s, Variant& out) {
    // Copies cost what they hold: a loop that copies a huge array or text
    // reaches the interrupt check by its work, not only by its passes.
    if (s.value.is_array()) {
        auto r = vm.charge_work(s.value.as_array().size());
        if (!take(vm, r)) return false;
    } else if (s.value.is_str() && !charge_text(vm, s.value.as_str().size())) {
        return false;
    }
    out = s.value;
    return true;
}

NumResult Vm::Exec::num_slot(Vm& vm, const XCode& x, Num& n, Variant& other) {
    const Slot& s = vm.var(x.slot);
    if (!s.defined) return num_by_eval(vm, x, n, other);
    if (vm::num_of(s.value, n)) return NumResult::Number;
    return copy_slot(vm, s, other) ? NumResult::Other : NumResult::Failed;
}

bool Vm::Exec::eval_slot(Vm& vm, const XCode& x, Variant& out) {
    const Slot& s = vm.var(x.slot);
    // Not a variable: a constant, a clock built-in or an undefined name.
    if (!s.defined) return eval_with<&Vm::eval_name>(vm, x, out);
    return copy_slot(vm, s, out);
}

namespace {

NumResult binop(const XCode& x, Variant lhs, Variant rhs, Num& n, Variant& other, std::string& error) {
    auto r = vm::eval_binop(x.op, std::move(lhs), std::move(rhs));
    if (!r) {
        error = std::move(r).error();
        return NumResult::Failed;
    }
    other = std::move(*r);
    return vm::num_of(other, n) ? NumResult::Number : NumResult::Other;
}

}  // namespace

inline NumResult Vm::Exec::num_arith_by(Vm& vm, const XCode& x, BinOp op, Num& n, Variant& other) {
    const XCode& l = x.kids[0];
    const XCode& r = x.kids[1];
    Num a, c;
    const NumResult ra = l.num(vm, l, a, other);
    if (ra == NumResult::Failed) return ra;
    if (ra == NumResult::Number) {
        // `other` is free for the right operand: two numbers build no Variant.
        const NumResult rc = r.num(vm, r, c, other);
        if (rc == NumResult::Failed) return rc;
        if (rc == NumResult::Number) {
            if (vm::num_arith(op, a, c, n)) return NumResult::Number;
            other = vm::num_variant(c);
        }
        return binop(x, vm::num_variant(a), std::move(other), n, other, vm.error_);
    }
    Variant lhs = std::move(other);
    Variant rhs;
    const NumResult rc = r.num(vm, r, c, rhs);
    if (rc == NumResult::Failed) return rc;
    if (rc == NumResult::Number) rhs = vm::num_variant(c);
    return binop(x, std::move(lhs), std::move(rhs), n, other, vm.error_);
}

NumResult Vm::Exec::num_arith(Vm& vm, const XCode& x, Num& n, Variant& other) {
    return num_arith_by(vm, x, x.op, n, other);
}

template <BinOp Op>
NumResult Vm::Exec::num_arith_as(Vm& vm, const XCode& x, Num& n, Variant& other) {
    return num_arith_by(vm, x, Op, n, other);
}

template NumResult Vm::Exec::num_arith_as<BinOp::Add>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_arith_as<BinOp::Sub>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_arith_as<BinOp::Mul>(Vm&, const XCode&, Num&, Variant&);

bool Vm::Exec::eval_binary(Vm& vm, const XCode& x, Variant& out) {
    Variant lhs, rhs;
    if (!x.kids[0].eval(vm, x.kids[0], lhs) || !x.kids[1].eval(vm, x.kids[1], rhs)) return false;
    auto r = vm::eval_binop(x.op, std::move(lhs), std::move(rhs));
    if (!take(vm, r)) return false;
    out = std::move(*r);
    return true;
}

[[gnu::always_inline]] inline bool Vm::Exec::text_arg(Vm& vm, const XCode& x, TextArg& a) {
    const Variant* v = in_place(vm, x);
    if (v) {
        a.source = v;
    } else {
        Num n;
        if (x.pure && x.pure(vm, x, n)) {
            if (n.is_int) {
                a.text = vm::int_text(n.i, a.digits);
                return true;
            }
            v = &a.held.emplace(n.d);
        } else {
            if (!x.eval(vm, x, a.held.emplace())) return false;
            v = &*a.held;
        }
    }
    if (v->is_str()) {
        a.text = v->as_str();
    } else if (v->is_int()) {
        a.text = vm::int_text(v->as_int(), a.digits);
    } else {
        // Showing an array costs what it holds, as copying it does.
        if (v->is_array()) {
            auto r = vm.charge_work(v->as_array().size());
            if (!take(vm, r)) return false;
        }
        Variant shown(vm::vba_display_text(*v));
        a.held = std::move(shown);
        a.text = a.held->as_str();
    }
    return true;
}

bool Vm::Exec::eval_concat(Vm& vm, const XCode& x, Variant& out) {
    if (!x.kids[0].eval(vm, x.kids[0], out)) return false;
    if (!out.is_str()) out = Variant(vm::vba_display_text(out));
    TextArg tail;
    if (!text_arg(vm, x.kids[1], tail) || !charge_text(vm, tail.text.size())) return false;
    auto r = vm::append_text(out.as_str(), tail.text);
    return take(vm, r);
}

int Vm::Exec::truth_compare(Vm& vm, const XCode& x) {
    const XCode& l = x.kids[0];
    const XCode& r = x.kids[1];
    // Constants and variables are compared where they are, texts without
    // copies: the right operand always, the left one when nothing is
    // evaluated after it.
    auto compared = [&vm, op = x.op](const Variant& a, const Variant& b) {
        auto t = vm::compare_values(op, a, b);
        return take(vm, t) ? int{*t} : -1;
    };
    if (const Variant* b = in_place(vm, r)) {
        if (const Variant* a = in_place(vm, l)) return compared(*a, *b);
    }
    Num a, c;
    Variant lhs, rhs;
    const NumResult ra = l.num(vm, l, a, lhs);
    if (ra == NumResult::Failed) return -1;
    const Variant* b = in_place(vm, r);
    const NumResult rc = b ? (vm::num_of(*b, c) ? NumResult::Number : NumResult::Other) : r.num(vm, r, c, rhs);
    if (rc == NumResult::Failed) return -1;
    bool t;
    if (ra == NumResult::Number && rc == NumResult::Number && vm::num_compare(x.op, a, c, t)) return t;
    if (ra == NumResult::Number) lhs = vm::num_variant(a);
    if (!b) {
        if (rc == NumResult::Number) rhs = vm::num_variant(c);
        b = &rhs;
    }
    return compared(lhs, *b);
}

bool Vm::Exec::eval_compare(Vm& vm, const XCode& x, Variant& out) {
    // A comparison always gives a Boolean.
    const int t = x.truth(vm, x);
    if (t < 0) return false;
    out = Variant(t == 1);
    return true;
}

NumResult Vm::Exec::num_call(Vm& vm, const XCode& x, Num& n, Variant& other) {
    return call(vm, *x.proc, x.kids, x.refs, x.alias, n, other);
}

bool Vm::Exec::eval_err(Vm& vm, const XCode& x, Variant& out) {
    const Slot& s = vm.var(x.slot);
    auto value = s.defined && s.value.is_record() ? std::nullopt : vm.err_property(x.src->as<Expr::Field>().field);
    if (!value) return eval_with<&Vm::eval_field>(vm, x, out);
    out = std::move(*value);
    return true;
}

bool Vm::Exec::eval_err_var(Vm& vm, const XCode& x, Variant& out) {
    const Slot& s = vm.var(x.slot);
    out = s.defined ? s.value : Variant(vm.err_number_);
    return true;
}

bool Vm::Exec::eval_result(Vm& vm, const XCode& x, Variant& out) {
    const Slot& s = vm.var(x.slot);
    if (!s.defined) {
        out = Variant();
        return true;
    }
    return copy_slot(vm, s, out);
}

bool Vm::Exec::run_err_assign(Vm& vm, const SCode& s) {
    Variant value;
    if (!s.x[0].eval(vm, s.x[0], value)) return false;
    auto r = vm.set_err_property("number", std::move(value));
    return take(vm, r);
}

namespace {

// The values computed for one call's arguments, built only for the
// arguments that need one.
class ArgValues {
public:
    ArgValues() = default;
    ArgValues(const ArgValues&) = delete;
    ArgValues& operator=(const ArgValues&) = delete;
    ~ArgValues() {
        for (size_t i = 0; i < used_; ++i) at(i).~Variant();
    }
    Variant& add() { return *new (raw_[used_++]) Variant(); }

private:
    Variant& at(size_t i) { return *std::launder(reinterpret_cast<Variant*>(raw_[i])); }
    alignas(Variant) unsigned char raw_[Vm::Exec::kInPlaceArgs][sizeof(Variant)];
    size_t used_ = 0;
};

}  // namespace

bool Vm::Exec::eval_builtin_in_place(Vm& vm, const XCode& x, Variant& out) {
    const size_t argc = x.kids.size();
    std::array<const Variant*, kInPlaceArgs> refs;
    ArgValues values;
    for (size_t i = 0; i < argc; ++i) {
        const XCode& a = x.kids[i];
        if (a.kind == XKind::Const || a.kind == XKind::Number) {
            refs[i] = &a.value;
        } else if (a.kind == XKind::Var && vm.var(a.slot).defined) {
            refs[i] = &vm.var(a.slot).value;
        } else {
            Variant& v = values.add();
            if (!a.eval(vm, a, v)) return false;
            refs[i] = &v;
        }
    }
    auto r = x.builtin->reads(std::span(refs.data(), argc), out);
    return take(vm, r);
}

namespace {

// A count argument with a pure path, as the text built-ins read it: a
// whole number within 2^53, negative ones giving 0.
bool pure_count(const Vm& vm, const XCode& x, uint64_t& out) {
    Num n;
    if (!x.pure(vm, x, n) || !n.is_int || n.i > vm::k2p53) return false;
    out = n.i < 0 ? 0 : static_cast<uint64_t>(n.i);
    return true;
}

}  // namespace

template <Vm::Exec::TextPart P>
bool Vm::Exec::pure_len(const Vm& vm, const XCode& x, Num& n) {
    auto holds_array = [](const Slot& s) { return s.defined && s.value.is_array(); };
    // The text a leaf holds, when it holds one.
    auto leaf_text = [&vm](const XCode& x) -> const std::string* {
        const Variant* v = nullptr;
        if (x.kind == XKind::Const)
            v = &x.value;
        else if (x.kind == XKind::Var && vm.var(x.slot).defined)
            v = &vm.var(x.slot).value;
        return v && v->is_str() ? &v->as_str() : nullptr;
    };
    // Characters are the bytes that continue none: counted here, inline,
    // as text::char_count counts them.
    auto char_count = [](std::string_view t) {
        size_t n = 0;
        for (unsigned char c : t) n += (c & 0xC0) != 0x80;
        return n;
    };
    if (holds_array(vm.var(x.slot))) return false;
    const XCode& arg = x.kids[0];
    if constexpr (P == TextPart::Whole) {
        const std::string* s = leaf_text(arg);
        if (!s) return false;
        n = Num{true, static_cast<int64_t>(char_count(*s)), 0};
        return true;
    } else {
        if (holds_array(vm.var(arg.slot))) return false;
        const std::string* s = leaf_text(arg.kids[0]);
        uint64_t a, b = UINT64_MAX;
        if (!s || !pure_count(vm, arg.kids[1], a)) return false;
        if (P == TextPart::Mid && arg.kids.size() > 2 && !pure_count(vm, arg.kids[2], b)) return false;
        const uint64_t total = char_count(*s);
        uint64_t count = std::min(a, total);
        if constexpr (P == TextPart::Mid) {
            const uint64_t skip = std::max<uint64_t>(a, 1) - 1;
            count = std::min(b, total - std::min(skip, total));
        }
        n = Num{true, static_cast<int64_t>(count), 0};
        return true;
    }
}

template bool Vm::Exec::pure_len<Vm::Exec::TextPart::Whole>(const Vm&, const XCode&, Num&);
template bool Vm::Exec::pure_len<Vm::Exec::TextPart::Left>(const Vm&, const XCode&, Num&);
template bool Vm::Exec::pure_len<Vm::Exec::TextPart::Right>(const Vm&, const XCode&, Num&);
template bool Vm::Exec::pure_len<Vm::Exec::TextPart::Mid>(const Vm&, const XCode&, Num&);

bool Vm::Exec::eval_builtin(Vm& vm, const XCode& x, Variant& out) {
    // An array variable of that name is indexed instead.
    const Slot& s = vm.var(x.slot);
    if (s.defined && s.value.is_array()) return eval_with<&Vm::eval_index_call>(vm, x, out);
    if (x.reads_in_place) return eval_builtin_in_place(vm, x, out);
    ArgList list(vm);
    for (const XCode& a : x.kids) {
        // Constants and defined variables other than arrays are copied in
        // place, the rest evaluated into their entry.
        if (a.kind == XKind::Const || a.kind == XKind::Number) {
            list.args.push_back(a.value);
        } else if (a.kind == XKind::Var && vm.var(a.slot).defined && !vm.var(a.slot).value.is_array()) {
            list.args.push_back(vm.var(a.slot).value);
        } else if (!a.eval(vm, a, list.args.emplace_back())) {
            return false;
        }
    }
    const auto& call = x.src->as<Expr::Call>();
    auto r = x.builtin->fn(vm, call.name, list.args);
    if (!take(vm, r)) return false;
    out = std::move(*r);
    return true;
}

bool Vm::Exec::cell_index_general(Vm& vm, const XCode& x, std::string_view label, uint32_t& out) {
    Num n;
    Variant other;
    const NumResult r = x.num(vm, x, n, other);
    if (r == NumResult::Failed) return false;
    uint32_t index = 0;
    if (r == NumResult::Number && n.is_int && n.i >= 1) {
        index = static_cast<uint32_t>(std::min<int64_t>(n.i, UINT32_MAX));
    } else {
        auto got = vm::to_cell_index(r == NumResult::Number ? vm::num_variant(n) : other, label);
        if (!take(vm, got)) return false;
        index = *got;
    }
    if (index > (label.front() == 'r' ? kMaxRow : kMaxCol)) return failed(vm, format_message(vm::kOffSheet, "Cells"));
    out = index;
    return true;
}

bool Vm::Exec::pure_cells(const Vm& vm, const XCode& x, Num& n) {
    CellPos at;
    if (!pure_index(vm, x.kids[0], kMaxRow, at.row) || !pure_index(vm, x.kids[1], kMaxCol, at.col)) return false;
    // A formula value still to be computed is no pure read.
    if (!vm.book_.up_to_date(vm.book_.active_sheet())) return false;
    auto it = vm.cells().find(at);
    return it != vm.cells().end() && vm::num_of(it->second.value, n);
}

NumResult Vm::Exec::num_cells(Vm& vm, const XCode& x, Num& n, Variant& other) {
    uint32_t row, col;
    if (!cell_index(vm, x.kids[0], "row", row) || !cell_index(vm, x.kids[1], "col", col)) return NumResult::Failed;
    if (auto r = vm.book_.update_active(); !take(vm, r)) return NumResult::Failed;
    const CellMap& cells = vm.cells();
    auto it = cells.find(CellPos{row, col});
    if (it == cells.end()) {
        other = Variant();
        return NumResult::Other;
    }
    if (vm::num_of(it->second.value, n)) return NumResult::Number;
    other = it->second.value;
    return NumResult::Other;
}

// ---------------------------------------------------------------- calls

namespace {

// A variable, a record field, or what may be an array element.
bool may_be_storage(const Vm::Exec::XCode& a) {
    if (!a.eval || !a.src) return false;
    // Err alone reads the Err object, which no call writes back to.
    if (a.src->is<Expr::Var>()) return a.kind == vm::XKind::Var;
    if (a.src->is<Expr::Field>()) return true;
    // A name that is no Function: an element when it holds an array.
    return (a.kind == vm::XKind::Index || a.kind == vm::XKind::Builtin) && a.kids.size() == 1;
}

}  // namespace

uint64_t Vm::Exec::ref_args(Vm&, const Proc& proc, const std::vector<XCode>& args) {
    const std::vector<Param>& params = *proc.params;
    uint64_t refs = 0;
    for (size_t i = 0; i < args.size() && i < params.size() && i < 64; ++i) {
        const Param& p = params[i];
        if (p.is_param_array) break;
        if (!p.by_val && may_be_storage(args[i])) refs |= uint64_t{1} << i;
    }
    return refs;
}

uint64_t Vm::Exec::alias_args(Vm& vm, const Proc& proc, const std::vector<XCode>& args, uint64_t refs) {
    uint64_t alias = 0;
    for (uint64_t r = refs; r; r &= r - 1) {
        const size_t i = static_cast<size_t>(std::countr_zero(r));
        const XCode& a = args[i];
        if (a.kind != XKind::Var || !a.src->is<Expr::Var>()) continue;
        const Declared* d = vm.declared(a.slot);
        const vm::VarType type = d && !d->array && d->user_type.empty() ? d->type : vm::VarType::Variant;
        if (type == proc.param_types[i]) alias |= uint64_t{1} << i;
    }
    return alias;
}

bool Vm::Exec::push_ref(Vm& vm, const XCode& a, uint32_t i, RefArgs& refs) {
    if (auto e = a.src->get_if<Expr::Call>()) {
        // An element of an array variable, its index evaluated once.
        const Slot& s = vm.var(a.src->as<Expr::Call>().slot);
        if (s.defined && s.value.is_array()) {
            auto index = vm.eval_index(a.kids[0]);
            if (!take(vm, index)) return false;
            auto element = vm.array_element(e->slot, e->name, *index);
            if (!take(vm, element)) return false;
            vm.arg_stack_.push_back(**element);
            refs.push_back(RefArg{i, RefArg::Kind::Element, e->slot, *index, nullptr, nullptr});
            return true;
        }
    }
    Variant value;
    if (!a.eval(vm, a, value)) return false;
    vm.arg_stack_.push_back(std::move(value));
    if (auto v = a.src->get_if<Expr::Var>())
        refs.push_back(RefArg{i, RefArg::Kind::Var, vm.slot_of(v->name, v->slot), 0, nullptr, nullptr});
    else if (auto f = a.src->get_if<Expr::Field>(); f && f->var != "err")
        refs.push_back(RefArg{i, RefArg::Kind::Field, vm.slot_of(f->var, f->slot), 0, &f->field, nullptr});
    return true;
}

namespace {

// Every argument is there.
bool lean_fits_all(const std::vector<Vm::Exec::XCode>& args) {
    for (const Vm::Exec::XCode& a : args)
        if (!a.eval) return false;
    return true;
}

}  // namespace

NumResult Vm::Exec::call(Vm& vm, const Proc& proc, const std::vector<XCode>& args, uint64_t refs, uint64_t alias,
                         Num& n, Variant& other) {
    // The common call: a Function whose arguments all have a pure path
    // (evaluating them twice changes nothing when one gives no number).
    if (lean_fits(proc, args, refs)) {
        std::array<Num, kLeanArgs> nums;
        size_t k = 0;
        while (k < args.size() && (is_alias(vm, args, alias, k) || arg_number(vm, args[k], nums[k]))) ++k;
        if (k == args.size()) return call_lean<kLeanArgs>(vm, proc, nums.data(), k, args.data(), alias, n, other);
    }
    return call_general(vm, proc, args, refs, alias, n, other);
}

bool Vm::Exec::lean_fits(const Proc& proc, const std::vector<XCode>& args, uint64_t refs) {
    return proc.num_call && refs == 0 && args.size() == proc.param_slots.size() && args.size() <= kLeanArgs &&
           lean_fits_all(args);
}

template <size_t N, Vm::Exec::ParamTypes P>
NumResult Vm::Exec::num_call_lean(Vm& vm, const XCode& x, Num& n, Variant& other) {
    const XCode* args = x.kids.data();
    std::array<Num, N + 1> nums;
    // Unrolled: each argument's shape test is a branch of its own, which
    // the call site's fixed shapes make predictable.
#pragma GCC unroll 4
    for (size_t k = 0; k < N; ++k)
        if (!is_alias(vm, x.kids, x.alias, k) && !arg_number(vm, args[k], nums[k])) [[unlikely]]
            return call_general(vm, *x.proc, x.kids, x.refs, x.alias, n, other);
    return call_lean<N, P>(vm, *x.proc, nums.data(), N, args, x.alias, n, other);
}

template NumResult Vm::Exec::num_call_lean<0, Vm::Exec::ParamTypes::Untyped>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_call_lean<1, Vm::Exec::ParamTypes::Untyped>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_call_lean<2, Vm::Exec::ParamTypes::Untyped>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_call_lean<3, Vm::Exec::ParamTypes::Untyped>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_call_lean<4, Vm::Exec::ParamTypes::Untyped>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_call_lean<1, Vm::Exec::ParamTypes::Typed>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_call_lean<2, Vm::Exec::ParamTypes::Typed>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_call_lean<3, Vm::Exec::ParamTypes::Typed>(Vm&, const XCode&, Num&, Variant&);
template NumResult Vm::Exec::num_call_lean<4, Vm::Exec::ParamTypes::Typed>(Vm&, const XCode&, Num&, Variant&);

bool Vm::Exec::fit_param(Vm& vm, const Proc& proc, size_t k, Num& num) {
    const vm::VarType type = proc.param_types[k];
    if (type == vm::VarType::Variant) return true;
    if (type == vm::VarType::Double) {
        num = Num{false, 0, num.as_double()};
        return true;
    }
    auto r = vm::convert_to(type, vm::num_variant(num));
    if (!take(vm, r)) return false;
    if (!vm::num_of(*r, num)) return failed(vm, std::string(vm::kTypeMismatch));
    return true;
}

template <size_t N, Vm::Exec::ParamTypes P>
[[gnu::always_inline]] inline NumResult Vm::Exec::call_lean(Vm& vm, const Proc& proc, Num* nums, size_t argc,
                                                            const XCode* args, uint64_t alias, Num& n, Variant& other) {
    // A typed parameter takes its argument as its type holds it; only a
    // number it does not hold as it is gets converted, in place. An
    // aliased argument's number is never read.
    if (P == ParamTypes::Typed || (P == ParamTypes::Unknown && !proc.plain_types)) {
        const vm::WholeRange* fits = proc.param_fits.data();
        for (size_t k = 0; k < N && k < argc; ++k)
            if (!(alias >> k & 1) && !(nums[k].is_int && nums[k].i >= fits[k].lo && nums[k].i <= fits[k].hi))
                [[unlikely]]
                if (!fit_param(vm, proc, k, nums[k])) return NumResult::Failed;
    }
    if (!enter(vm)) [[unlikely]]
        return NumResult::Failed;
    vm::DepthGuard guard(vm.depth_);
    const vm::Activation frame = vm.open_frame(proc);
    const uint32_t* params = proc.param_slots.data();
    // The caller's variables are taken before its frame gives way.
    for (size_t k = 0; k < N && k < argc; ++k) {
        if (alias >> k & 1) [[unlikely]]
            frame.cells[params[k]].var = &vm.var(args[k].slot);
        else
            vm::store_num_in(frame.cells[params[k]].own, nums[k]);
    }
    ErrorScope outer = vm.enter_scope(frame);
    const bool ok = run_proc(vm, proc);
    bool is_num = false;
    if (ok) [[likely]] {
        // The result is always the activation's own slot.
        Slot& s = frame.cells[proc.name_slot].own;
        is_num = s.defined && vm::num_of(s.value, n);
        if (!is_num) other = s.defined ? std::move(s.value) : Variant();
    }
    vm.leave_scope(outer);
    vm.close_frame(frame);
    if (!ok) [[unlikely]]
        return NumResult::Failed;
    vm.clear_error();
    return is_num ? NumResult::Number : NumResult::Other;
}

NumResult Vm::Exec::call_general(Vm& vm, const Proc& proc, const std::vector<XCode>& args, uint64_t refs,
                                 uint64_t alias, Num& n, Variant& other) {
    const size_t argc = args.size();
    // A variable not yet defined passes what its name reads as instead.
    uint64_t aliased = 0;
    for (uint64_t r = alias; r; r &= r - 1)
        if (is_alias(vm, args, alias, static_cast<size_t>(std::countr_zero(r)))) aliased |= r & -r;
    alias = aliased;
    std::array<Num, kMaxNumArgs> nums{};
    size_t numbers = 0;
    bool stopped = false;  // `other` holds argument `numbers`, which is no number
    if (proc.num_call && argc == proc.param_slots.size() && refs == 0 && lean_fits_all(args)) {
        for (; numbers < argc && !stopped; ++numbers) {
            if (alias >> numbers & 1) continue;
            const XCode& a = args[numbers];
            if (a.pure && a.pure(vm, a, nums[numbers])) continue;
            const NumResult r = a.num(vm, a, nums[numbers], other);
            if (r == NumResult::Failed) return r;
            stopped = r == NumResult::Other;
        }
        if (!stopped) return call_lean<kMaxNumArgs>(vm, proc, nums.data(), argc, args.data(), alias, n, other);
        --numbers;
    }
    // The argument stack: the numbers evaluated so far, the value that
    // stopped them, then the rest; nothing is read for an aliased variable.
    const size_t base = vm.arg_stack_.size();
    RefArgs targets;
    for (size_t k = 0; k < numbers; ++k) vm.arg_stack_.push_back(vm::num_variant(nums[k]));
    size_t next = numbers;
    if (stopped) vm.arg_stack_.push_back(std::move(other)), ++next;
    for (uint64_t r = alias; r; r &= r - 1) {
        const auto k = static_cast<uint32_t>(std::countr_zero(r));
        targets.push_back(RefArg{k, RefArg::Kind::Alias, args[k].slot, 0, nullptr, &vm.var(args[k].slot)});
    }
    // Both masks cover the first 64 arguments: an omitted one further on
    // passes Empty, and one further on is passed by value.
    uint64_t missing = 0;
    for (; next < argc; ++next) {
        const XCode& a = args[next];
        if (!a.eval) {
            if (next < 64) missing |= uint64_t{1} << next;
            vm.arg_stack_.emplace_back();
            continue;
        }
        if (next < 64 && (alias >> next & 1)) {
            vm.arg_stack_.emplace_back();
            continue;
        }
        if (next < 64 && (refs >> next & 1)) {
            if (!push_ref(vm, a, static_cast<uint32_t>(next), targets)) {
                vm.arg_stack_.resize(base);
                return NumResult::Failed;
            }
            continue;
        }
        // Evaluated aside, then pushed: an argument that calls a procedure
        // grows the argument stack, which would move an entry taken first.
        Variant value;
        if (!a.eval(vm, a, value)) {
            vm.arg_stack_.resize(base);
            return NumResult::Failed;
        }
        vm.arg_stack_.push_back(std::move(value));
    }
    auto r = vm.invoke(proc, base, missing, targets.empty() ? nullptr : &targets);
    if (!take(vm, r)) return NumResult::Failed;
    other = std::move(*r);
    return vm::num_of(other, n) ? NumResult::Number : NumResult::Other;
}

// ---------------------------------------------------------------- statements

bool Vm::Exec::run_dispatched(Vm& vm, const SCode& s) {
    auto r = vm.exec_stmt(s);
    return take(vm, r);
}

bool Vm::Exec::run_nothing(Vm&, const SCode&) { return true; }

bool Vm::Exec::run_skipped(Vm& vm, const SCode& s) {
    vm.skipped_ran_[s.slot] = true;
    return true;
}

bool Vm::Exec::run_unsupported(Vm& vm, const SCode& s) { return failed(vm, s.src->as<Stmt::Skipped>().message); }

bool Vm::Exec::run_exit(Vm& vm, const SCode& s) {
    vm.exit_flag_ = s.exit;
    return true;
}

bool Vm::Exec::run_assign(Vm& vm, const SCode& s) {
    const XCode& x = s.x[0];
    Num n;
    vm::Scratch other;
    switch (x.num(vm, x, n, *other)) {
        case NumResult::Number: vm.store_num(s.slot, n); return true;
        case NumResult::Other: vm.set_slot(s.slot, std::move(*other)); return true;
        default: return false;
    }
}

template <vm::VarType T>
bool Vm::Exec::run_assign_typed(Vm& vm, const SCode& s) {
    const XCode& x = s.x[0];
    const auto type = static_cast<vm::VarType>(s.flags);
    Num n;
    vm::Scratch other;
    switch (x.num(vm, x, n, *other)) {
        case NumResult::Number:
            if (n.is_int && fits_as<T>(s, n.i)) [[likely]] {
                store_int(vm, s.slot, n.i);
                return true;
            }
            return store_typed(vm, s.slot, type, n);
        case NumResult::Other: break;
        default: return false;
    }
    auto r = vm::convert_to(type, std::move(*other));
    if (!take(vm, r)) return false;
    vm.set_slot(s.slot, std::move(*r));
    return true;
}

template bool Vm::Exec::run_assign_typed<vm::VarType::Variant>(Vm&, const SCode&);
template bool Vm::Exec::run_assign_typed<vm::VarType::Byte>(Vm&, const SCode&);
template bool Vm::Exec::run_assign_typed<vm::VarType::Integer>(Vm&, const SCode&);
template bool Vm::Exec::run_assign_typed<vm::VarType::Long>(Vm&, const SCode&);
template bool Vm::Exec::run_assign_typed<vm::VarType::LongLong>(Vm&, const SCode&);

bool Vm::Exec::store_typed(Vm& vm, uint32_t slot, vm::VarType type, const Num& n) {
    // A Double without a Variant; the rest converts (and may overflow).
    if (type == vm::VarType::Double) {
        vm.store_num(slot, Num{false, 0, n.as_double()});
        return true;
    }
    auto r = vm::convert_to(type, vm::num_variant(n));
    if (!take(vm, r)) return false;
    vm.set_slot(slot, std::move(*r));
    return true;
}

bool Vm::Exec::run_assign_object(Vm& vm, const SCode& s) {
    const auto& a = s.src->as<Stmt::Assign>();
    auto found = vm.object_of(a.name);
    if (!take(vm, found)) return false;
    auto& object = *found;
    if (!object) return run_assign(vm, s);
    Variant value;
    if (!s.x[0].eval(vm, s.x[0], value)) return false;
    if (object->kind != PathObj::Kind::Range)
        return failed(vm, format_message("Object variable '{}' holds a {}: use Set to change it", a.name,
                                         object->kind == PathObj::Kind::Sheet ? "Worksheet" : "Workbook"));
    auto r = vm.write_range_values(object->range, value);
    return take(vm, r);
}

[[gnu::always_inline]] inline bool Vm::Exec::append_parts(Vm& vm, uint32_t slot, std::span<TextArg> parts) {
    Variant& value = vm.var(slot).value;
    size_t size = 0;
    for (TextArg& t : parts) {
        // s's own text is copied before s grows.
        if (t.source == &value) {
            t.held = Variant(std::string(t.text));
            t.text = t.held->as_str();
        }
        size += t.text.size();
    }
    std::string& text = value.as_str();
    // Checked whole, so that s grows by all parts or by none.
    if (size > vm::kMaxTextLen - std::min(text.size(), vm::kMaxTextLen))
        return failed(vm, std::string(vm::kOutOfStringSpace));
    if (!charge_text(vm, size)) return false;
    for (const TextArg& t : parts) text += t.text;
    return true;
}

bool Vm::Exec::run_append(Vm& vm, const SCode& s) {
    if (!vm.var(s.slot).defined || !vm.var(s.slot).value.is_str())
        return s.flags ? run_assign_typed(vm, s) : run_assign(vm, s);
    const XCode& x = s.x[0];
    if (x.kids[0].kind != XKind::Var) return append_many(vm, s);
    // s = s & a, the commonest, reads its one part alone.
    TextArg part;
    return text_arg(vm, x.kids[1], part) && append_parts(vm, s.slot, std::span(&part, 1));
}

bool Vm::Exec::append_many(Vm& vm, const SCode& s) {
    // The parts, innermost first: ((s & a) & b) & c gives a, b, c.
    std::array<const XCode*, kAppendParts> parts;
    size_t count = 0;
    for (const XCode* k = &s.x[0]; k->kind == XKind::Binary; k = &k->kids[0]) parts[count++] = &k->kids[1];
    std::array<TextArg, kAppendParts> texts;
    for (size_t i = 0; i < count; ++i)
        if (!text_arg(vm, *parts[count - 1 - i], texts[i])) return false;
    return append_parts(vm, s.slot, std::span(texts.data(), count));
}

bool Vm::Exec::run_assign_text(Vm& vm, const SCode& s) {
    const Variant* from = in_place(vm, s.x[0]);
    if (!from || !from->is_str()) return s.flags ? run_assign_typed(vm, s) : run_assign(vm, s);
    if (!charge_text(vm, from->as_str().size())) return false;
    Slot& to = vm.var(s.slot);
    // Assigned as a string, x keeps its buffer.
    if (to.value.is_str() && from != &to.value)
        set_text(to.value.as_str(), from->as_str());
    else
        to.value = *from;
    to.defined = true;
    return true;
}

bool Vm::Exec::run_assign_concat(Vm& vm, const SCode& s) {
    const XCode& x = s.x[0];
    TextArg head, tail;
    if (!text_arg(vm, x.kids[0], head) || !text_arg(vm, x.kids[1], tail)) return false;
    const size_t size = head.text.size() + tail.text.size();
    if (size > vm::kMaxTextLen) return failed(vm, std::string(vm::kOutOfStringSpace));
    if (!charge_text(vm, size)) return false;
    Slot& to = vm.var(s.slot);
    if (to.value.is_str() && head.source != &to.value && tail.source != &to.value) {
        set_text(to.value.as_str(), head.text, tail.text);
    } else {
        std::string text;
        text.reserve(size);
        text.append(head.text).append(tail.text);
        to.value = std::move(text);
    }
    to.defined = true;
    return true;
}

bool Vm::Exec::run_if(Vm& vm, const SCode& s) {
    const int t = s.x[0].truth(vm, s.x[0]);
    if (t < 0) return condition_failed(vm, s);
    return run_block(vm, t ? s.body : s.other);
}

bool Vm::Exec::condition_failed(Vm& vm, const SCode& s) {
    if (!vm.err_mode_.resume_next || vm.err_mode_.handling || vm.interrupted_) return false;
    vm.record_error();
    vm.failure_site_ = {};
    return run_block(vm, s.body);
}

namespace {

bool to_double(Vm& vm, const XCode& x, double& out, std::string& error) {
    Num n;
    Variant other;
    const NumResult r = x.num(vm, x, n, other);
    if (r == NumResult::Failed) return false;
    if (r == NumResult::Number) {
        out = n.as_double();
        return true;
    }
    auto d = vm::to_f64(other);
    if (!d) {
        error = std::move(d).error();
        return false;
    }
    out = *d;
    return true;
}

bool whole_within(double x, double limit) { return x - std::trunc(x) == 0 && std::fabs(x) <= limit; }

// A For bound or step as the counter's whole type holds it, as the matching
// conversion function gives it; false with Overflow when it does not fit.
bool to_counter_type(vm::VarType type, double& x, std::string& error) {
    auto r = vm::convert_to(type, Variant(x));
    if (!r) {
        error = std::move(r).error();
        return false;
    }
    Num n;
    if (vm::num_of(*r, n)) x = n.as_double();
    return true;
}

}  // namespace

template <bool One, bool Up, bool Watch>
int Vm::Exec::count_passes(Vm& vm, const SCode& s, int64_t& counter, int64_t di, double end) {
    // The last value the loop takes: while i is an exact double, comparing
    // it with this integer gives what comparing it with `end` gives.
    constexpr double kFar = 4611686018427387904.0;  // 2^62, past any counter here
    int64_t last;
    if (std::isnan(end))
        last = Up ? INT64_MIN : INT64_MAX;
    else if (std::fabs(end) >= kFar)
        last = end > 0 ? int64_t{1} << 62 : -(int64_t{1} << 62);
    else
        last = static_cast<int64_t>(Up ? std::floor(end) : std::ceil(end));
    const uint32_t slot = s.slot;
    // Counted in a register while the body leaves the counter as it was
    // given; a body that moves it (an assignment, a ByRef call, a callee
    // writing a module counter) moves the loop, as Next reads it back.
    int64_t i = counter;
    for (; i >= -vm::k2p53 && i <= vm::k2p53; i += di) {
        if (Up ? i > last : i < last) {
            store_int(vm, slot, i);
            return 1;
        }
        if (!tick(vm)) return -1;
        store_int(vm, slot, i);
        const int k = One ? loop_pass_one(vm, s.body[0], ExitKind::For) : loop_pass(vm, s.body, ExitKind::For);
        if (k != 0) return k;
        if constexpr (Watch) {
            const Slot& c = vm.var(slot);
            const int64_t* now = c.defined ? std::get_if<int64_t>(&c.value) : nullptr;
            if (!now || *now != i) [[unlikely]] {
                if (!now) return kCounterMoved;
                i = *now;
            }
        }
    }
    counter = i;
    return 0;
}

bool Vm::Exec::read_counter(Vm& vm, uint32_t slot, double& v) {
    const Slot& c = vm.var(slot);
    Num n;
    if (c.defined && vm::num_of(c.value, n)) {
        v = n.as_double();
        return true;
    }
    auto d = vm::to_f64(c.defined ? c.value : Variant());
    if (!take(vm, d)) return false;
    v = *d;
    return true;
}

bool Vm::Exec::run_for(Vm& vm, const SCode& s) {
    double start, end, step = 1.0;
    if (!to_double(vm, s.x[0], start, vm.error_) || !to_double(vm, s.x[1], end, vm.error_)) return false;
    if (s.x.size() > 2 && !to_double(vm, s.x[2], step, vm.error_)) return false;
    const auto type = static_cast<vm::VarType>(s.flags);
    if (type != vm::VarType::Variant) {
        if (!to_counter_type(type, start, vm.error_) || !to_counter_type(type, end, vm.error_) ||
            !to_counter_type(type, step, vm.error_))
            return false;
    }
    if (step == 0) return failed(vm, std::string(vm::kZeroStep));
    if (type == vm::VarType::Variant) return run_for_counted(vm, s, start, end, step);
    if (!run_for_counted(vm, s, start, end, step)) return false;
    // The value past the end must fit the type too, as in VBA (For b = 0 To
    // 255 with a Byte overflows); the counter keeps its last value.
    Num n;
    const Slot& c = vm.var(s.slot);
    if (c.defined && vm::num_of(c.value, n) && n.is_int && !whole_fits(type, n.i)) {
        vm.store_num(s.slot, Num{true, n.i - static_cast<int64_t>(step), 0});
        return failed(vm, std::string(vm::kOverflow));
    }
    return true;
}

bool Vm::Exec::run_for_counted(Vm& vm, const SCode& s, double start, double end, double step) {
    const uint32_t slot = s.slot;
    double v = start;
    // Whole counters count in integers while every value is an exact
    // double, which is what the float loop would compute. A loop that runs
    // out leaves its counter at the first value past the end (its start
    // when it never ran).
    constexpr double k2p52 = 4503599627370496.0;
    if (whole_within(start, k2p52) && whole_within(step, k2p52)) {
        int64_t i = static_cast<int64_t>(start);
        const int64_t di = static_cast<int64_t>(step);
        const bool one = s.body.size() == 1;
        int k;
        if (s.watch_counter)
            k = step > 0 ? (one ? count_passes<true, true, true>(vm, s, i, di, end)
                                : count_passes<false, true, true>(vm, s, i, di, end))
                         : (one ? count_passes<true, false, true>(vm, s, i, di, end)
                                : count_passes<false, false, true>(vm, s, i, di, end));
        else
            k = step > 0 ? (one ? count_passes<true, true, false>(vm, s, i, di, end)
                                : count_passes<false, true, false>(vm, s, i, di, end))
                         : (one ? count_passes<true, false, false>(vm, s, i, di, end)
                                : count_passes<false, false, false>(vm, s, i, di, end));
        if (k == kCounterMoved) {
            if (!read_counter(vm, slot, v)) return false;
            v += step;
        } else if (k != 0) {
            return k > 0;
        } else {
            v = static_cast<double>(i);
        }
    }
    for (; (v <= end && step > 0) || (end <= v && step < 0); v += step) {
        if (!tick(vm)) return false;
        vm.store_num(slot, vm::num_of_double(v));
        const int k = loop_pass(vm, s.body, ExitKind::For);
        if (k != 0) return k > 0;
        if (s.watch_counter && !read_counter(vm, slot, v)) return false;
    }
    vm.store_num(slot, vm::num_of_double(v));
    return true;
}

bool Vm::Exec::run_do(Vm& vm, const SCode& s) {
    const XCode* pre = (s.flags & SCode::kPre) ? &s.x[0] : nullptr;
    const XCode* post = (s.flags & SCode::kPost) ? &s.x.back() : nullptr;
    // 1 when the condition lets the loop go on, 0 when not, -1 on failure.
    auto holds = [&](const XCode* c, bool until) {
        if (!c) return 1;
        const int t = c->truth(vm, *c);
        return t < 0 ? t : (until ? !t : t);
    };
    for (;;) {
        const int go = holds(pre, s.flags & SCode::kPreUntil);
        if (go <= 0) return go == 0;
        if (!tick(vm)) return false;
        const int k = loop_pass(vm, s.body, ExitKind::Do);
        if (k != 0) return k > 0;
        const int again = holds(post, s.flags & SCode::kPostUntil);
        if (again <= 0) return again == 0;
    }
}

// Over a range, the loop variable is each cell in turn (area by area, row
// by row): `c` reads the cell's value, and c.Value, c.Offset(...), c.Row
// reach the cell itself. Over the sheet collection it is each sheet.
bool Vm::Exec::run_for_each(Vm& vm, const SCode& s) {
    const auto& f = s.src->as<Stmt::ForEach>();
    RangeRef range;
    if (!f.path.empty()) {
        Result<PathObj> walked;
        {
            PathOps ops(vm, s.x);
            walked = vm.walk_path(f.path, f.path.size());
        }
        if (!take(vm, walked)) return false;
        if (walked->kind == PathObj::Kind::Sheets) {
            const std::vector<std::string> keys = vm.book_.sheet_names();
            for (const std::string& key : keys) {
                if (!vm.book_.has_sheet(key)) continue;
                if (!tick(vm)) return false;
                set_object(vm.var(s.slot), ObjectRef{ObjectRef::Worksheet{key}});
                const int k = loop_pass(vm, s.body, ExitKind::For);
                if (k != 0) return k > 0;
            }
            return true;
        }
        if (walked->kind != PathObj::Kind::Range)
            return failed(vm, format_message(kBadForEachRange, f.path.back().name));
        range = std::move(walked->range);
    } else if (!f.source_var.empty()) {
        auto found = vm.object_of(f.source_var);
        if (!take(vm, found)) return false;
        auto& object = *found;
        if (!object || object->kind != PathObj::Kind::Range)
            return failed(vm, format_message(kBadForEachRange, f.source_var));
        range = std::move(object->range);
    } else {
        auto areas =
            f.range ? std::optional<std::vector<CellRange>>({*f.range}) : vm.resolve_multi_area_addr(f.collection);
        if (!areas) return failed(vm, format_message(kBadForEachRange, f.collection));
        range = RangeRef{vm.book_.active_sheet(), std::move(*areas)};
    }
    for (const CellRange& area0 : range.areas) {
        const CellRange area = area0.normalised();
        for (uint64_t r = area.first.row; r <= area.last.row; ++r) {
            for (uint64_t c = area.first.col; c <= area.last.col; ++c) {
                if (!tick(vm)) return false;
                const CellPos p{static_cast<uint32_t>(r), static_cast<uint32_t>(c)};
                if (auto fresh = vm.book_.update(range.sheet); !take(vm, fresh)) return false;
                const CellMap* cells = vm.book_.sheet_by_key(range.sheet);
                if (!cells) return failed(vm, format_message(vm::kNoSuchSheet, range.sheet));
                auto it = cells->find(p);
                set_object(vm.var(s.slot),
                           ObjectRef{ObjectRef::Range{RangeRef::single(range.sheet, CellRange::single(p))}});
                vm.set_slot(s.slot, it == cells->end() ? Variant() : it->second.value);
                const int k = loop_pass(vm, s.body, ExitKind::For);
                if (k != 0) return k > 0;
            }
        }
    }
    return true;
}

int Vm::Exec::case_matches(Vm& vm, const Variant& subject, const MatchCode& m) {
    // Constants, the commonest matches, are compared where they are.
    auto value = [&vm](const XCode& x, Variant& held) -> const Variant* {
        if (x.kind == XKind::Const || x.kind == XKind::Number) return &x.value;
        return x.eval(vm, x, held) ? &held : nullptr;
    };
    Variant held_a, held_b;
    const Variant* a = value(m.values[0], held_a);
    if (!a) return -1;
    if (m.kind == MatchCode::Kind::Value) return vm::vba_eq(subject, *a);
    if (m.kind == MatchCode::Kind::Range) {
        // Both bounds are evaluated before either comparison.
        const Variant* b = value(m.values[1], held_b);
        if (!b) return -1;
        auto low = vm::vba_cmp(subject, *a);
        if (!take(vm, low)) return -1;
        if (*low == vm::Ordering::Less) return 0;
        auto high = vm::vba_cmp(subject, *b);
        if (!take(vm, high)) return -1;
        return *high != vm::Ordering::Greater;
    }
    auto t = vm::compare_values(m.op, subject, *a);
    return take(vm, t) ? *t : -1;
}

// The first case with a matching match runs; later matches and cases are
// not evaluated.
bool Vm::Exec::run_select(Vm& vm, const SCode& s) {
    Variant subject;
    if (!s.x[0].eval(vm, s.x[0], subject)) return false;
    for (const SCode& c : s.body) {
        for (const MatchCode& m : c.matches) {
            const int hit = case_matches(vm, subject, m);
            if (hit < 0) return false;
            if (hit) return run_block(vm, c.body);
        }
    }
    return run_block(vm, s.other);
}

// The block's dotted lines name its sheet themselves; the active sheet stays.
bool Vm::Exec::run_with_sheet(Vm& vm, const SCode& s) {
    const std::string& name = s.src->as<Stmt::WithSheet>().sheet;
    if (!vm.book_.has_sheet(text::to_lower(name))) return failed(vm, format_message(vm::kNoSuchSheet, name));
    return run_block(vm, s.body);
}

// The first named argument of the call that names no parameter.
bool Vm::Exec::bad_name(Vm& vm, const SCode& s) {
    for (const std::string& name : s.src->as<Stmt::Call>().arg_names) {
        bool found = name.empty();
        for (const Param& p : *s.proc->params) found = found || p.name == name;
        if (!found) return failed(vm, format_message(kNamedArgNotFound, name));
    }
    return true;
}

bool Vm::Exec::run_call(Vm& vm, const SCode& s) {
    Num n;
    Variant dropped;
    if (s.proc) {
        if (s.flags == kBadName) return bad_name(vm, s);
        return call(vm, *s.proc, s.x, s.refs, s.alias, n, dropped) != NumResult::Failed;
    }
    const auto& c = s.src->as<Stmt::Call>();
    // A Call of a name that is no procedure evaluates its arguments before
    // it fails.
    if (!c.bare) {
        for (const XCode& a : s.x)
            if (!a.eval(vm, a, dropped)) return false;
        return failed(vm, format_message(kProcNotFound, c.name));
    }
    // Calculate and Application.Calculate compute every formula of the
    // workbook, Range(...).Calculate those of the range.
    if (s.x.empty() && (c.name == "calculate" || c.name == "application.calculate")) {
        auto r = vm.book_.recalculate_all();
        return take(vm, r);
    }
    if (c.name == "range.calculate" && s.x.size() == 1) {
        if (!s.x[0].eval(vm, s.x[0], dropped)) return false;
        const std::string addr = vm::vba_to_str(dropped);
        auto area = vm.resolve_range_addr(addr);
        if (!area) return failed(vm, format_message(kBadCalculateRange, addr));
        auto r = vm.book_.recalculate_area(area->normalised());
        return take(vm, r);
    }
    // A bare line: a statement of VBA that has nothing to do here, a
    // built-in whose result is dropped, or a name nothing defines.
    for (std::string_view word : kNoOpStatements)
        if (word == c.name) return true;
    if (const vm::Builtin* builtin = vm::find_builtin(c.name); builtin && c.arg_names.empty()) {
        ArgList list(vm);
        for (const XCode& a : s.x)
            if (!a.eval(vm, a, list.args.emplace_back())) return false;
        auto r = builtin->fn(vm, c.name, list.args);
        return take(vm, r);
    }
    return failed(vm, format_message(kNotDefined, c.name));
}

bool Vm::Exec::run_cell_write(Vm& vm, const SCode& s) {
    if (auto r = vm.check_active_not_protected(); !take(vm, r)) return false;
    uint32_t row, col;
    if (!cell_index(vm, s.x[0], "row", row) || !cell_index(vm, s.x[1], "col", col)) return false;
    Num n;
    if (s.x[2].pure && s.x[2].pure(vm, s.x[2], n)) {
        vm.book_.set_cell_value(row, col, vm::num_variant(n));
        return true;
    }
    Variant value;
    switch (s.x[2].num(vm, s.x[2], n, value)) {
        case NumResult::Number: value = vm::num_variant(n); break;
        case NumResult::Other: break;
        default: return false;
    }
    if (vm::is_formula_text(value)) {
        auto r = vm.set_cell_formula(row, col, value.as_str());
        return take(vm, r);
    }
    const CellPos at{row, col};
    vm::enter_value(vm.book_.cells_mut(CellRange::single(at)), at, std::move(value));
    return true;
}

}  // namespace morvane
