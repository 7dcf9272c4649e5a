// The inline bodies of the interpreter's hot paths: slot stores and saves,
// the check points and the call guard.
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
    slots_[slot].value = std::move(value);
    slots_[slot].defined = true;
}

inline void Vm::clear_slot(uint32_t slot) {
    Slot& s = slots_[slot];
    s.defined = false;
    // A number or other plain value may stay behind: nothing reads it.
    if (s.value.is_str() || s.value.is_array() || s.value.is_record()) [[unlikely]]
        free_slot_value(s);
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

inline void Vm::take_slot(uint32_t slot, bool keep, Saved& out) {
    Slot& s = slots_[slot];
    out.slot = slot;
    if (!s.defined)
        out.kind = Saved::Kind::Undefined;
    else if (vm::num_of(s.value, out.num))
        out.kind = Saved::Kind::Number;
    else
        take_slot_value(s, keep, out);
}

inline void Vm::save_slot(uint32_t slot, bool keep) { take_slot(slot, keep, saved_.emplace_back()); }

inline void Vm::put_back(const Saved& s, size_t& value_at) {
    switch (s.kind) {
        case Saved::Kind::Undefined: clear_slot(s.slot); break;
        case Saved::Kind::Number: store_num(s.slot, s.num); break;
        case Saved::Kind::Value: set_slot(s.slot, std::move(saved_values_[value_at++])); break;
    }
}

inline Result<void> Vm::enter_call() {
    if (depth_ < kMaxCallDepth &&
        (stack_limit_ == 0 || reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) >= stack_limit_))
        return check_deadline();
    return out_of_stack();
}

[[gnu::always_inline]] inline void Vm::store_num(uint32_t slot, const Num& n) {
    Slot& s = slots_[slot];
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

}  // namespace morvane
