#include "formula/scope.h"

namespace morvane::eval {

namespace {
thread_local std::vector<Scope> t_bindings;
}  // namespace

void Scope::set(std::string name, Variant value) {
    for (auto& [n, v] : entries_) {
        if (n == name) {
            v = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::move(name), std::move(value));
}

const Variant* Scope::find(std::string_view name) const {
    for (const auto& [n, v] : entries_)
        if (n == name) return &v;
    return nullptr;
}

void push_bindings(Scope scope) { t_bindings.push_back(std::move(scope)); }

void pop_bindings() {
    if (!t_bindings.empty()) t_bindings.pop_back();
}

void bind_innermost(std::string name, Variant value) {
    if (t_bindings.empty()) t_bindings.emplace_back();
    t_bindings.back().set(std::move(name), std::move(value));
}

std::optional<Variant> lookup_binding(std::string_view name) {
    if (const Variant* v = find_binding(name)) return *v;
    return std::nullopt;
}

size_t binding_depth() { return t_bindings.size(); }

bool has_bindings() { return !t_bindings.empty(); }

const Variant* find_binding(std::string_view name) {
    for (auto it = t_bindings.rbegin(); it != t_bindings.rend(); ++it)
        if (const Variant* v = it->find(name)) return v;
    return nullptr;
}

}  // namespace morvane::eval
