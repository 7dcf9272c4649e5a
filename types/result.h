// Result<T>: a value or a message text; the one error channel of the core.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace morvane {

template <class T>
using Result = std::expected<T, std::string>;

inline std::unexpected<std::string> fail(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

// Replace each "{}" in `pattern`, left to right, by the next argument.
template <class... Args>
std::string format_message(std::string_view pattern, const Args&... args) {
    std::string out;
    out.reserve(pattern.size() + 16);
    std::string_view parts[] = {std::string_view(args)...};
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}' && next < sizeof...(Args)) {
            out.append(parts[next++]);
            ++i;
        } else {
            out.push_back(pattern[i]);
        }
    }
    return out;
}
inline std::string format_message(std::string_view pattern) { return std::string(pattern); }

}  // namespace morvane

// TRY(expr): evaluate a Result; on a message return it from the enclosing
// function, otherwise yield the value (GNU statement expression, g++ only).
#define MORVANE_CAT2(a, b) a##b
#define MORVANE_CAT(a, b) MORVANE_CAT2(a, b)
#define TRY_IMPL(tmp, expr)                                                      \
    ({                                                                           \
        auto tmp = (expr);                                                       \
        if (!tmp) return ::std::unexpected<std::string>(std::move(tmp).error()); \
        std::move(tmp).value();                                                  \
    })
#define TRY(expr) TRY_IMPL(MORVANE_CAT(try_tmp_, __COUNTER__), expr)
// TRY_VOID(expr): the same for Result<void>.
#define TRY_VOID(expr)                                                                             \
    do {                                                                                           \
        auto try_void_tmp = (expr);                                                                \
        if (!try_void_tmp) return ::std::unexpected<std::string>(std::move(try_void_tmp).error()); \
    } while (0)
