#include "types/stack.h"

#include <pthread.h>

#include <algorithm>
#include <cstddef>

namespace morvane {

namespace {
// Sanitizer builds have much larger frames than the release build: the
// reserve is generous so that a check at each level always fires in time.
constexpr size_t kStackReserve = size_t{1} << 20;
}  // namespace

uintptr_t stack_limit_of_this_thread() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
    void* addr = nullptr;
    size_t size = 0;
    int rc = pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0 || addr == nullptr) return 0;
    return reinterpret_cast<uintptr_t>(addr) + std::min(kStackReserve, size / 4);
}

}  // namespace morvane
