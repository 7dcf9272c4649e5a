// How much native stack the running thread has left. Every recursive
// descent (the VBA parser, the formula parser and evaluator, nested
// procedure calls) stops with its own "too deep" message while a reserve is
// still free, whatever stack size the thread was made with, instead of
// running off the end of it.
#pragma once

#include <cstdint>

namespace morvane {

// Lowest usable address of this thread's stack plus the reserve (a quarter
// of the stack, at most 1 MiB); 0 when the platform does not say.
uintptr_t stack_limit_of_this_thread();

namespace detail {
inline thread_local uintptr_t t_stack_limit = 1;  // 1: not measured yet
}

// True once the current frame lies within the reserve.
inline bool stack_nearly_exhausted() {
    uintptr_t limit = detail::t_stack_limit;
    if (limit == 1) limit = detail::t_stack_limit = stack_limit_of_this_thread();
    return limit != 0 && reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < limit;
}

}  // namespace morvane
