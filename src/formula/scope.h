// The per-thread stack of LET and LAMBDA scopes: the names a formula binds
// while it evaluates, innermost first. Each thread has its own stack, so
// formulas evaluating at the same time on different threads never see each
// other's names.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "types/variant.h"

namespace morvane::eval {

// One scope of name -> value bindings. Scopes hold a handful of names, so a
// vector searched linearly beats hashing.
class Scope {
public:
    // Binds `name`, replacing an earlier value of the same name.
    void set(std::string name, Variant value);
    const Variant* find(std::string_view name) const;
    bool empty() const { return entries_.empty(); }

private:
    std::vector<std::pair<std::string, Variant>> entries_;
};

void push_bindings(Scope scope);
void pop_bindings();
// Binds a name in the innermost scope (LET binds names one after another).
void bind_innermost(std::string name, Variant value);
std::optional<Variant> lookup_binding(std::string_view name);
size_t binding_depth();

// Pushes a scope on construction and pops it on destruction, so every push
// is matched by exactly one pop whatever the outcome.
class ScopeGuard {
public:
    explicit ScopeGuard(Scope scope) { push_bindings(std::move(scope)); }
    ~ScopeGuard() { pop_bindings(); }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
};

// True while any scope is open on this thread: the evaluator's cheap test
// before it looks a bare name up.
bool has_bindings();
// The innermost binding of `name`, read in place; null when unbound.
const Variant* find_binding(std::string_view name);

}  // namespace morvane::eval
