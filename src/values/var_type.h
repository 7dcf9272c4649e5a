// The built-in VBA types a variable, parameter, array element, Type field
// or Function result may be declared with, the one table of their defaults,
// and the messages of conversions that do not fit. Pure; no state.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "types/variant.h"

namespace morvane::vm {

// Variant also stands for Object and for no type at all: such a name holds
// any value.
enum class VarType : uint8_t {
    Variant,
    Byte,
    Integer,
    Long,
    LongLong,
    Single,
    Double,
    Currency,
    Decimal,
    String,
    Boolean,
    Date,
};

inline constexpr std::string_view kOverflow = "Overflow";
// An argument or operand outside what the operation takes (a negative
// square root, a start before 1, zero to a negative power).
inline constexpr std::string_view kInvalidCall = "Invalid procedure call or argument";

// The whole numbers a variable of the type holds as they are, from `lo` to
// `hi`: any for Variant, none (lo > hi) for the fractional and other types.
struct WholeRange {
    int64_t lo;
    int64_t hi;
};
constexpr WholeRange whole_range(VarType type) {
    switch (type) {
        case VarType::Variant:
        case VarType::LongLong: return {INT64_MIN, INT64_MAX};
        case VarType::Byte: return {0, 255};
        case VarType::Integer: return {INT16_MIN, INT16_MAX};
        case VarType::Long: return {INT32_MIN, INT32_MAX};
        default: return {1, 0};
    }
}

// The built-in type of a lower-case type name ("" and "object" are
// Variant); none for any other name (a user-defined Type or a class).
std::optional<VarType> builtin_var_type(std::string_view type_name);

// What a variable of the type starts as: 0 for the whole types, 0.0 for the
// fractional ones, "" for String, False, the date serial 0, Empty.
Variant type_default(VarType type);

}  // namespace morvane::vm
