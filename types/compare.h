// Primitives the formula engine's and the interpreter's comparison rules are
// built from: the three-way Ordering, numeric kinds, ASCII case folding and
// the kind rules both equalities share. The rules themselves stay apart
// (eval::variant_eq, vm::vba_eq and the orderings), since they are meant to
// differ in how they fold text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "types/variant.h"

namespace morvane {

enum class Ordering : int8_t { Less = -1, Equal = 0, Greater = 1 };

// Both orderings fail with this when either side is NaN.
inline constexpr std::string_view kCompareNaN = "Cannot compare NaN values";

// The Ordering of a comparison result's sign.
constexpr Ordering order_of(int c) { return c < 0 ? Ordering::Less : c > 0 ? Ordering::Greater : Ordering::Equal; }
// The Ordering of a < b; values that are neither less nor greater (NaN
// included) are Equal.
template <class T>
constexpr Ordering order_values(T a, T b) {
    return a < b ? Ordering::Less : b < a ? Ordering::Greater : Ordering::Equal;
}

constexpr char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal texts when only ASCII letters are folded.
constexpr bool ascii_ieq(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// Integer, Float and Date: the kinds that are numbers without conversion.
inline bool is_numeric_kind(const Variant& v) { return v.is_int() || v.is_float() || v.is_date(); }

// The number of a value of a numeric kind (a Date its serial).
inline double numeric_value(const Variant& v) {
    if (v.is_int()) return static_cast<double>(v.as_int());
    if (v.is_float()) return v.as_float();
    return v.as_date().value();
}

// Equality without conversion: Integer equals Integer, Float or Date by
// number, Float never equals Date, Boolean equals Boolean, Empty equals
// Empty, texts by `text_eq`; any other pair is unequal.
template <class TextEq>
bool equal_without_conversion(const Variant& a, const Variant& b, TextEq&& text_eq) {
    switch (a.kind()) {
        case Kind::Integer:
            if (b.is_int()) return a.as_int() == b.as_int();
            if (b.is_date()) return b.as_date().time == 0 && a.as_int() == b.as_date().serial;
            if (b.is_float()) return static_cast<double>(a.as_int()) == b.as_float();
            return false;
        case Kind::Float:
            if (b.is_float()) return a.as_float() == b.as_float();
            if (b.is_int()) return a.as_float() == static_cast<double>(b.as_int());
            return false;
        case Kind::Date:
            if (b.is_date()) return a.as_date() == b.as_date();
            if (b.is_int()) return a.as_date().time == 0 && a.as_date().serial == b.as_int();
            return false;
        case Kind::Str: return b.is_str() && text_eq(a.as_str(), b.as_str());
        case Kind::Boolean: return b.is_bool() && a.as_bool() == b.as_bool();
        case Kind::Empty: return b.is_empty();
        default: return false;
    }
}

}  // namespace morvane
