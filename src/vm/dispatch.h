// Statement kinds as constants: the position of each kind in the variant of
// a statement node, so that the dispatcher can switch on `node.index()` with
// a named case per kind.
#pragma once

#include <cstddef>
#include <type_traits>
#include <variant>

#include "parser/ast.h"

namespace morvane::vm {

template <class T, class V>
struct index_in;
template <class T, class... Ts>
struct index_in<T, std::variant<Ts...>> {
    static constexpr size_t value = [] {
        size_t i = 0;
        (void)((std::is_same_v<T, Ts> ? true : (++i, false)) || ...);
        return i;
    }();
    static_assert(value < sizeof...(Ts), "not a kind of this node");
};

template <class T>
inline constexpr size_t kStmt = index_in<T, decltype(Stmt::node)>::value;

// The node of kind K, once a case on kStmt<K> has chosen it.
template <class K, class Node>
const K& node_as(const Node& node) {
    return *std::get_if<K>(&node);
}

}  // namespace morvane::vm
