// Procedures and run control: loading a program and running its Sub, one
// activation per call (parameters, GoTo, On Error, Exit), the recursion
// guard and the interrupt check point.
#include <algorithm>
#include <array>
#include <cstddef>
#include <expected>
#include <type_traits>

#include "formula/sort.h"
#include "types/stack.h"
#include "values/nesting.h"
#include "vm/builtins/builtins.h"
#include "types/text.h"
#include "vm/exec.h"
#include "vm/slots.h"
#include "vm/messages.h"

namespace morvane {

namespace {

constexpr std::string_view kSubNotFound = "Sub '{}' not found";
constexpr std::string_view kAmbiguousName = "Ambiguous name detected: '{}'";
constexpr std::string_view kGotoLabelNotFound = "GoTo: label '{}' not found";
constexpr std::string_view kOnErrorLabelNotFound = "On Error GoTo: label '{}' not found";

constexpr std::string_view kOutOfStack = "Out of stack space";
// Err.Source of a failure that names none, as VBA names the project.
constexpr std::string_view kErrSource = "VBAProject";
// The VBA error number of a failure, from its message: the failures that
// have one in VBA get it, the object model's 1004, any other 5.
int64_t error_number(std::string_view message) {
    struct Known {
        std::string_view prefix;
        int64_t number;
    };
    static constexpr Known kKnown[] = {
        {"Overflow", 6},
        {"Integer division overflow", 6},
        {"Subscript out of range", 9},
        {"Division by zero", 11},
        {"Type mismatch", 13},
        {"Cannot convert", 13},
        {"Unary minus on non-numeric", 13},
        {"Out of string space", 14},
        {"Out of stack space", 28},
        {"Sub or Function not defined", 35},
        {"Object variable", 91},
        {"Object required", 424},
        {"Range", 1004},
        {"Sheet", 1004},
        {"Workbook '", 1004},
        {"Cell", 1004},
        {"Union:", 1004},
        {"Areas:", 1004},
        {"Sort:", 1004},
        {"SpecialCells:", 1004},
        {"Paste error:", 1004},
        {"Cannot edit: sheet", 1004},
        {"ForEach: invalid range", 1004},
    };
    for (const Known& k : kKnown)
        if (message.starts_with(k.prefix)) return k.number;
    // "Array 'a': index 5 out of bounds (len=3)"
    if (message.starts_with("Array '") && message.find("out of bounds") != std::string_view::npos) return 9;
    if (message.ends_with("is Nothing — Set was never called")) return 91;
    return 5;
}

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
    err_mode_.resume_next = false;
    on_error_label_.reset();
    outer_labels_.clear();
    err_mode_.handling = false;
    proc_ = nullptr;
    vars_ = nullptr;
    failure_site_ = {};
    clear_error();
    raised_description_.clear();
    interrupted_ = false;
    depth_ = 0;
    arg_stack_.clear();
    stack_limit_ = stack_limit_of_this_thread();

    if (auto loaded = load_program(program); !loaded) {
        refused_ = true;
        return loaded;
    }
    auto it = subs_.find(text::to_lower(name));
    if (it == subs_.end()) return fail(format_message(kSubNotFound, name));
    // The module variables a declaration makes start before the entry.
    if (module_proc_) TRY(call_with_args(*module_proc_, {}));
    auto result = call_sub_def(it->second, {});
    if (exit_flag_ == ExitKind::End) exit_flag_ = ExitKind::None;
    return result;
}

Result<void> Vm::load_program(const Program& program) {
    refused_ = false;
    load_error_.clear();
    load_error_at_ = UINT32_MAX;
    // Own copies: binding writes slot numbers into the tree, and the
    // program may be run by another Vm too. Two procedures of one name
    // leave no way to tell which one a call means.
    functions_.clear();
    subs_.clear();
    auto ambiguous = [&](const std::string& proc) {
        if (!functions_.contains(proc) && !subs_.contains(proc)) return false;
        load_error_ = format_message(kAmbiguousName, proc);
        // Nothing of the refused program stays callable.
        functions_.clear();
        subs_.clear();
        bind_procedures();
        return true;
    };
    for (const FuncDef& f : program.functions) {
        if (ambiguous(f.name)) return fail(load_error_);
        functions_.emplace(f.name, deep_copy(f));
    }
    for (const SubDef& s : program.subs) {
        if (ambiguous(s.name)) return fail(load_error_);
        subs_.emplace(s.name, deep_copy(s));
    }
    for (const TypeDef& t : program.types) user_types_.insert_or_assign(t.name, t.fields);
    module_warnings_.clear();
    for (const Warning& w : program.warnings) module_warnings_.push_back(SkipNote{w.span, w.message});
    skipped_.clear();
    skipped_ran_.clear();
    option_explicit_ = program.option_explicit;
    declare_module_vars(program.variables);
    bind_program();
    if (!load_error_.empty()) return fail(load_error_);
    return {};
}

std::vector<Vm::SkipNote> Vm::skip_notes() const {
    std::vector<SkipNote> out = module_warnings_;
    for (size_t i = 0; i < skipped_.size(); ++i)
        if (skipped_ran_[i]) out.push_back(skipped_[i]);
    eval::stable_merge_sort(out, [](const SkipNote& a, const SkipNote& b) { return a.span.start < b.span.start; });
    // A statement compiled twice is still one statement.
    out.erase(
        std::unique(out.begin(), out.end(),
                    [](const SkipNote& a, const SkipNote& b) { return a.span == b.span && a.message == b.message; }),
        out.end());
    return out;
}

Result<void> Vm::out_of_stack() { return fail(std::string(kOutOfStack)); }

void Vm::push_label(ErrorScope& outer) {
    outer_labels_.push_back(std::move(*on_error_label_));
    on_error_label_.reset();
    outer.has_label = true;
}

void Vm::pop_label(const ErrorScope& outer) {
    if (outer.has_label) {
        on_error_label_ = std::move(outer_labels_.back());
        outer_labels_.pop_back();
    } else {
        on_error_label_.reset();
    }
}

// Binds each parameter the caller did not alias to its variable. A typed
// parameter converts its argument; a missing one takes its default.
Result<void> Vm::bind_params(const Proc& proc, size_t base, size_t argc, uint64_t missing, uint64_t aliased) {
    const std::vector<Param>& params = *proc.params;
    for (size_t i = 0; i < params.size(); ++i) {
        if (i < 64 && (aliased >> i & 1)) continue;
        const Param& p = params[i];
        const bool given = i < argc && !(i < 64 && (missing >> i & 1));
        Variant value;
        if (p.is_param_array) {
            Array rest;
            for (size_t k = i; k < argc; ++k) {
                TRY_VOID(vm::check_nesting(arg_stack_[base + k]));
                rest.push_back(std::move(arg_stack_[base + k]));
            }
            value = Variant(std::move(rest));
        } else if (given) {
            value = std::move(arg_stack_[base + i]);
            if (proc.param_types[i] != vm::VarType::Variant)
                value = TRY(vm::convert_to(proc.param_types[i], std::move(value)));
        } else if (p.is_optional && p.default_value) {
            value = TRY(evaluate(proc.defaults[i]));
            if (proc.param_types[i] != vm::VarType::Variant)
                value = TRY(vm::convert_to(proc.param_types[i], std::move(value)));
        } else {
            value = vm::type_default(proc.param_types[i]);
        }
        set_slot(proc.param_slots[i], std::move(value));
    }
    return {};
}

void Vm::keep_entry_vars(const vm::Activation& frame) {
    const Proc& proc = *frame.proc;
    entry_vars_.clear();
    std::vector<bool> param(proc.frame_size(), false);
    for (uint32_t p : proc.param_slots) param[p] = true;
    for (uint32_t i = 0; i < proc.frame_size(); ++i) {
        const Slot& s = *frame.cells[i].var;
        if (param[i] || proc.entries[i].module || !s.defined) continue;
        entry_vars_.emplace_back(proc.names[i], s.value);
    }
}

const Vm::Declared* Vm::declared(uint32_t slot) const {
    const Proc* proc = compiling_ ? compiling_ : proc_;
    if (!proc) return nullptr;
    auto it = proc->declared.find(slot);
    return it == proc->declared.end() ? nullptr : &it->second;
}

Result<Variant> Vm::to_declared(uint32_t slot, Variant value) const {
    const Declared* d = declared(slot);
    if (!d || d->array || d->type == vm::VarType::Variant) return value;
    return vm::convert_to(d->type, std::move(value));
}

void Vm::write_back(const RefArgs& refs, std::vector<Variant>& values) {
    for (size_t k = 0; k < refs.size(); ++k) {
        const RefArg& r = refs[k];
        Slot& target = var(r.slot);
        Variant& value = values[k];
        switch (r.kind) {
            case RefArg::Kind::Alias: break;
            case RefArg::Kind::Var: set_slot(r.slot, std::move(value)); break;
            case RefArg::Kind::Element:
                // The array may have changed shape meanwhile: only an element
                // still there is written.
                if (target.defined && target.value.is_array() && r.index < target.value.as_array().size() &&
                    vm::check_nesting(value))
                    target.value.as_array()[r.index] = std::move(value);
                break;
            case RefArg::Kind::Field:
                if (target.defined && target.value.is_record() && vm::check_nesting(value))
                    target.value.as_record().set(*r.field, std::move(value));
                break;
        }
    }
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

bool Vm::run_code_loop(const Proc& proc, size_t start) {
    const vm::Code& code = proc.code;
    const size_t n = code.size();
    size_t i = start;
    for (;;) {
        if (pending_goto_) [[unlikely]] {
            if (exit_flag_ == ExitKind::GoTo) exit_flag_ = ExitKind::None;
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
        switch (on_failure(s)) {
            case Recovery::Fail: return false;
            case Recovery::Next: break;
            case Recovery::Retry: --i; break;
        }
    }
}

void Vm::record_error() {
    if (!raised_description_.empty() && raised_description_ == error_) {
        err_number_ = raised_number_;
        err_source_ = raised_source_;
        raised_description_.clear();
    } else {
        err_number_ = error_number(error_);
        err_source_ = kErrSource;
    }
    err_description_ = error_;
}

std::optional<Vm::FailurePlace> Vm::failure_place() const {
    if (!failure_site_.proc) return std::nullopt;
    return FailurePlace{failure_site_.proc->name, failure_site_.at};
}

Vm::Recovery Vm::on_failure(const vm::SCode& s) {
    // The innermost statement sees the failure first; the statements that
    // hold it, and the callers, keep its place.
    if (!failure_site_.proc) failure_site_ = FailureSite{proc_, s.at};
    // A failure inside the handler itself goes to the caller.
    if (interrupted_ || err_mode_.handling) return Recovery::Fail;
    if (err_mode_.resume_next) {
        record_error();
        failure_site_ = {};
        return Recovery::Next;
    }
    if (!on_error_label_ || !proc_) return Recovery::Fail;
    const Proc& proc = *proc_;
    // Taking the handler counts as a jump: a handler that resumes the
    // failing statement for ever can be interrupted.
    if (auto r = check_deadline(); !r) {
        error_ = std::move(r).error();
        return Recovery::Fail;
    }
    auto at = find_label(*proc.body, *on_error_label_);
    if (!at) {
        error_ = format_message(kOnErrorLabelNotFound, *on_error_label_);
        return Recovery::Fail;
    }
    record_error();
    failure_site_ = {};
    // The handler runs here, where the failure happened, so that Resume
    // Next and Resume find every enclosing loop as it was.
    err_mode_.handling = true;
    const bool ok = run_code_loop(proc, *at);
    err_mode_.handling = false;
    if (!ok) return Recovery::Fail;
    if (exit_flag_ == ExitKind::Resume) {
        exit_flag_ = ExitKind::None;
        switch (resume_) {
            case ResumeKind::Next: return Recovery::Next;
            case ResumeKind::Retry: return Recovery::Retry;
            case ResumeKind::Label:
                pending_goto_ = std::move(resume_label_);
                exit_flag_ = ExitKind::GoTo;
                return Recovery::Next;
        }
    }
    // The handler ran to the end of the procedure or left it: the
    // activation ends with it.
    if (exit_flag_ == ExitKind::None) exit_flag_ = proc.is_function ? ExitKind::Function : ExitKind::Sub;
    return Recovery::Next;
}

bool Vm::recover(const vm::SCode& s) {
    for (;;) {
        switch (on_failure(s)) {
            case Recovery::Fail: return false;
            case Recovery::Next: return true;
            case Recovery::Retry:
                // A statement retried for ever can still be interrupted.
                if (auto r = check_deadline(); !r) {
                    error_ = std::move(r).error();
                    return false;
                }
                if (s.run(*this, s)) return true;
        }
    }
}

Result<Variant> Vm::invoke(const Proc& proc, size_t base, uint64_t missing, const RefArgs* refs) {
    const size_t argc = arg_stack_.size() - base;
    if (auto r = enter_call(); !r) {
        arg_stack_.resize(base);
        return fail(std::move(r).error());
    }
    vm::DepthGuard guard(depth_);
    // The locals of the procedure a run or a caller outside starts stay
    // readable after it.
    const bool keep = depth_ == 1;
    vm::Activation frame = open_frame(proc);
    // A parameter passed a variable by reference is that variable.
    uint64_t aliased = 0;
    if (refs)
        for (const RefArg& ref : *refs)
            if (ref.kind == RefArg::Kind::Alias) {
                frame.cells[proc.param_slots[ref.param]].var = ref.target;
                if (ref.param < 64) aliased |= uint64_t{1} << ref.param;
            }
    ErrorScope outer = enter_scope(frame);
    auto r = bind_params(proc, base, argc, missing, aliased);
    arg_stack_.resize(base);
    bool ok = static_cast<bool>(r);
    if (!ok) error_ = std::move(r).error();
    Variant result;
    if (ok) {
        ok = run_code_loop(proc);
        if (proc.is_function) {
            Slot& s = var(proc.name_slot);
            if (s.defined) result = std::move(s.value);
        }
    }
    // Arguments written back go to the caller however the call ended.
    std::vector<Variant> out;
    if (refs && !refs->empty()) {
        out.reserve(refs->size());
        for (const RefArg& ref : *refs) {
            Slot& s = var(proc.param_slots[ref.param]);
            out.push_back(ref.kind != RefArg::Kind::Alias && s.defined ? std::move(s.value) : Variant());
        }
    }
    if (keep) keep_entry_vars(frame);
    leave_scope(outer);
    close_frame(frame);
    if (refs && !refs->empty()) write_back(*refs, out);
    if (!ok) return fail(std::move(error_));
    clear_error();
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
    std::string_view result_type;
    if constexpr (std::is_same_v<Def, FuncDef>) result_type = own.type_name;
    Proc proc = make_proc(own.params, own.body, own.name, is_function, result_type);
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
