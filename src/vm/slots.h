// The inline bodies of the interpreter's hot paths: variable stores, the
// check points and the call guard.
// Included only by the units that run them; the declarations are in mod.h.
#pragma once

#include "vm/mod.h"
#include "values/num.h"

namespace morvane {

namespace vm {

// Counts one procedure activation for as long as it runs.
struct DepthGuard {
    uint32_t& depth;
    explicit DepthGuard(uint32_t& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
};

}  // namespace vm

inline void Vm::set_slot(uint32_t slot, Variant value) {
    Slot& s = var(slot);
    s.value = std::move(value);
    s.defined = true;
}

namespace vm {

// Stores a number in a slot, in place when the slot already holds one.
[[gnu::always_inline]] inline void store_num_in(Slot& s, const Num& n) {
    s.defined = true;
    if (n.is_int) {
        if (auto p = std::get_if<int64_t>(&s.value))
            *p = n.i;
        else
            s.value = Variant(n.i);
    } else {
        if (auto p = std::get_if<double>(&s.value))
            *p = n.d;
        else
            s.value = Variant(n.d);
    }
}

}  // namespace vm

namespace vm {

// An own slot at its type's default: numbers in place, without a Variant.
[[gnu::noinline]] inline void start_at_default_slow(Slot& s, VarType type) {
    switch (type) {
        case VarType::Byte:
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong: store_num_in(s, Num{true, 0, 0}); break;
        case VarType::Single:
        case VarType::Double: store_num_in(s, Num{false, 0, 0.0}); break;
        default: s.value = type_default(type); s.defined = true;
    }
}

// The commonest start inline, the rest out of line so that a frame's
// opening keeps its registers: a whole type over the whole number its
// slot's last activation left.
[[gnu::always_inline]] inline void start_at_default(Slot& s, VarType type) {
    if (type >= VarType::Byte && type <= VarType::LongLong) [[likely]]
        if (auto p = std::get_if<int64_t>(&s.value)) {
            *p = 0;
            s.defined = true;
            return;
        }
    start_at_default_slow(s, type);
}

}  // namespace vm

inline vm::Activation Vm::open_frame(const Proc& proc) {
    const uint32_t n = proc.frame_size();
    vm::Cell* cells = frames_.push(n);
    // Each cell already points at its own slot.
    if (!proc.plain_frame) [[unlikely]]
        for (uint32_t i = 0; i < n; ++i)
            if (const vm::FrameEntry& e = proc.entries[i]; e.shared) cells[i].var = e.shared;
    for (const Proc::Start& s : proc.starts_defined) vm::start_at_default(cells[s.index].own, s.type);
    return vm::Activation{&proc, cells};
}

inline void Vm::clear_error() {
    if (err_number_ == 0 && err_description_.empty()) [[likely]]
        return;
    err_number_ = 0;
    err_description_.clear();
    err_source_.clear();
}

inline Vm::ErrorScope Vm::enter_scope(const vm::Activation& frame) {
    ErrorScope outer{err_mode_, false, proc_, vars_};
    if (on_error_label_) [[unlikely]]
        push_label(outer);
    err_mode_ = ErrorMode{};
    proc_ = frame.proc;
    vars_ = frame.cells;
    active_[depth_] = frame;
    return outer;
}

inline void Vm::leave_scope(ErrorScope& outer) {
    err_mode_ = outer.mode;
    if (outer.has_label || on_error_label_) [[unlikely]]
        pop_label(outer);
    proc_ = outer.proc;
    vars_ = outer.vars;
}

inline void Vm::close_frame(const vm::Activation& frame) {
    const uint32_t n = frame.proc->frame_size();
    for (uint32_t i = 0; i < n; ++i) {
        vm::Cell& c = frame.cells[i];
        c.var = &c.own;
        c.own.clear();
    }
    frames_.pop(n);
}

inline Result<void> Vm::check_deadline() {
    if ((++steps_ & 255) != 0) return {};
    return poll_interrupt();
}

inline Result<void> Vm::charge_work(uint64_t elements) const {
    work_ += elements;
    if (work_ < kWorkPerCheck) return {};
    work_ = 0;
    return poll_interrupt();
}

inline Result<void> Vm::enter_call() {
    if (depth_ < kMaxCallDepth && reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) >= stack_limit_)
        return check_deadline();
    return out_of_stack();
}

[[gnu::always_inline]] inline void Vm::store_num(uint32_t slot, const Num& n) { vm::store_num_in(var(slot), n); }

}  // namespace morvane
