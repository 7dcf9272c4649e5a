// Procedures and run control: loading a program and running its Sub, one
// activation per call (parameters, GoTo, On Error, Exit), the recursion
// guard and the interrupt check point.
#include <algorithm>
#include <array>
#include <cstddef>
#include <expected>

#include "types/stack.h"
#include "types/text.h"
#include "vm/exec.h"
#include "vm/slots.h"
#include "vm/messages.h"

namespace morvane {

namespace {

constexpr std::string_view kSubNotFound = "Sub '{}' not found";
constexpr std::string_view kGotoLabelNotFound = "GoTo: label '{}' not found";
constexpr std::string_view kOnErrorLabelNotFound = "On Error GoTo: label '{}' not found";

constexpr std::string_view kOutOfStack = "Out of stack space";
std::optional<size_t> find_label(const Body& body, const std::string& label) {
    for (size_t i = 0; i < body.size(); ++i)
        if (auto l = body[i].stmt.get_if<Stmt::Label>(); l && l->name == label) return i;
    return std::nullopt;
}


}  // namespace

Result<void> Vm::poll_interrupt() const {
    if (interrupted_ || (interrupt_check_ && interrupt_check_())) {
        interrupted_ = true;
        return fail(std::string(vm::kInterrupted));
    }
    return {};
}

Result<void> Vm::run_sub(const Program& program, std::string_view name) {
    // A run starts clean: leftovers of an earlier run neither end this one
    // early nor swallow its errors.
    exit_flag_ = ExitKind::None;
    pending_goto_.reset();
    resume_next_ = false;
    on_error_label_.reset();
    interrupted_ = false;
    depth_ = 0;
    saved_.clear();
    saved_values_.clear();
    arg_stack_.clear();
    stack_limit_ = stack_limit_of_this_thread();

    // Own copies: binding writes slot numbers into the tree, and the
    // program may be run by another Vm too.
    functions_.clear();
    for (const FuncDef& f : program.functions) functions_.insert_or_assign(f.name, deep_copy(f));
    subs_.clear();
    for (const SubDef& s : program.subs) subs_.insert_or_assign(s.name, deep_copy(s));
    for (const TypeDef& t : program.types) user_types_.insert_or_assign(t.name, t.fields);
    module_warnings_.clear();
    for (const Warning& w : program.warnings) module_warnings_.push_back(SkipNote{w.span, w.message});
    skipped_.clear();
    skipped_ran_.clear();
    bind_program();

    auto it = subs_.find(text::to_lower(name));
    if (it == subs_.end()) return fail(format_message(kSubNotFound, name));
    auto result = call_sub_def(it->second, {});
    if (exit_flag_ == ExitKind::End) exit_flag_ = ExitKind::None;
    return result;
}

std::vector<Vm::SkipNote> Vm::skip_notes() const {
    std::vector<SkipNote> out = module_warnings_;
    for (size_t i = 0; i < skipped_.size(); ++i)
        if (skipped_ran_[i]) out.push_back(skipped_[i]);
    std::stable_sort(out.begin(), out.end(),
                     [](const SkipNote& a, const SkipNote& b) { return a.span.start < b.span.start; });
    // A statement compiled twice is still one statement.
    out.erase(std::unique(out.begin(), out.end(),
                          [](const SkipNote& a, const SkipNote& b) {
                              return a.span == b.span && a.message == b.message;
                          }),
              out.end());
    return out;
}

Result<void> Vm::out_of_stack() { return fail(std::string(kOutOfStack)); }

// take_slot for a value other than a number, which waits in saved_values_.
void Vm::take_slot_value(Slot& s, bool keep, Saved& out) {
    out.kind = Saved::Kind::Value;
    if (keep)
        saved_values_.push_back(s.value);
    else
        saved_values_.push_back(std::move(s.value));
}

void Vm::restore_from(Frame from) {
    size_t v = from.values;
    for (size_t i = from.saved; i < saved_.size(); ++i) put_back(saved_[i], v);
    drop_from(from);
}

// Binds each parameter in the shared table, saving what the name held.
Result<void> Vm::bind_params(const Proc& proc, size_t base, size_t argc) {
    const std::vector<Param>& params = *proc.params;
    for (size_t i = 0; i < params.size(); ++i) {
        const Param& p = params[i];
        const uint32_t slot = proc.param_slots[i];
        if (p.is_param_array) {
            Array rest;
            for (size_t k = i; k < argc; ++k) rest.push_back(std::move(arg_stack_[base + k]));
            save_slot(slot, false);
            set_slot(slot, Variant(std::move(rest)));
        } else if (i < argc) {
            save_slot(slot, false);
            set_slot(slot, std::move(arg_stack_[base + i]));
        } else if (p.is_optional) {
            // A missing Optional argument takes its default, or its type's.
            Variant value = p.default_value ? TRY(evaluate(proc.defaults[i])) : vm::default_for_type(p.type_name);
            save_slot(slot, false);
            set_slot(slot, std::move(value));
        } else {
            save_slot(slot, true);
        }
    }
    return {};
}

bool Vm::take_jump(const Body& body, std::optional<std::string>& label, std::string_view not_found, size_t& at) {
    std::string name = std::move(*label);
    label.reset();
    // Jumps count as loop steps so that a loop made of them can be interrupted.
    if (auto r = check_deadline(); !r) {
        error_ = std::move(r).error();
        return false;
    }
    auto found = find_label(body, name);
    if (!found) {
        error_ = format_message(not_found, name);
        return false;
    }
    at = *found;
    return true;
}

bool Vm::run_code_loop(const Proc& proc) {
    const vm::Code& code = proc.code;
    const size_t n = code.size();
    size_t i = 0;
    for (;;) {
        if (pending_goto_) [[unlikely]] {
            if (!take_jump(*proc.body, pending_goto_, kGotoLabelNotFound, i)) return false;
            continue;
        }
        if (exit_flag_ != ExitKind::None) {
            if (exit_flag_ == ExitKind::Sub || (proc.is_function && exit_flag_ == ExitKind::Function))
                exit_flag_ = ExitKind::None;
            return true;
        }
        if (i >= n) return true;
        const vm::SCode& s = code[i++];
        if (s.run(*this, s)) [[likely]]
            continue;
        if (interrupted_) return false;
        if (resume_next_) continue;
        if (!on_error_label_) return false;
        if (!take_jump(*proc.body, on_error_label_, kOnErrorLabelNotFound, i)) return false;
    }
}

Result<Variant> Vm::invoke(const Proc& proc, size_t base) {
    const size_t argc = arg_stack_.size() - base;
    const Frame mark = frame_mark();
    auto fail_with = [&](std::string message) -> Result<Variant> {
        arg_stack_.resize(base);
        drop_from(mark);
        return fail(std::move(message));
    };
    if (auto r = enter_call(); !r) return fail_with(std::move(r).error());
    vm::DepthGuard guard(depth_);
    if (auto r = bind_params(proc, base, argc); !r) return fail_with(std::move(r).error());
    arg_stack_.resize(base);
    if (!proc.is_function) {
        if (!run_code_loop(proc)) return fail_with(std::move(error_));
        restore_from(mark);
        return Variant();
    }
    // The variable named like the Function holds its result; the caller's
    // value of that name is put back afterwards, after the parameters.
    const uint32_t result_slot = proc.name_slot;
    save_slot(result_slot, false);
    clear_slot(result_slot);
    if (!run_code_loop(proc)) return fail_with(std::move(error_));
    Slot& s = slots_[result_slot];
    Variant result = s.defined ? std::move(s.value) : Variant();
    clear_slot(result_slot);
    restore_from(mark);
    return result;
}

Result<Variant> Vm::call_with_args(const Proc& proc, std::vector<Variant> args) {
    const size_t base = arg_stack_.size();
    for (Variant& v : args) arg_stack_.push_back(std::move(v));
    return invoke(proc, base);
}

// A definition of the loaded program runs as loaded. Any other (one the
// caller holds, or another interpreter's) runs as this Vm's own bound copy,
// for this call only: the caller's tree is never written.
template <class Def>
Result<Variant> Vm::call_def(const Def& def, bool is_function, std::vector<Variant> args) {
    if (const Proc* proc = proc_for(&def)) return call_with_args(*proc, std::move(args));
    const Def own = deep_copy(def);
    Proc proc = make_proc(own.params, own.body, own.name, is_function);
    bind_proc(proc);
    compile_proc(proc);
    return call_with_args(proc, std::move(args));
}

Result<void> Vm::call_sub_def(const SubDef& sub, std::vector<Variant> args) {
    TRY(call_def(sub, false, std::move(args)));
    return {};
}

Result<Variant> Vm::call_func_def(const FuncDef& func, std::vector<Variant> args) {
    return call_def(func, true, std::move(args));
}

}  // namespace morvane
