// Array and type information built-ins: IIf, IsEmpty, IsNull, IsArray,
// IsNumeric, TypeName, VarType, UBound and LBound. Null is held as Empty,
// so IsNull tests for Empty.
#include <cstdint>
#include <iterator>
#include <string_view>
#include <utility>
#include <variant>

#include "types/text.h"
#include "vm/builtins/builtins.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kIIfArgs = "IIf requires 3 arguments";
constexpr std::string_view kTypeNameArgs = "TypeName requires 1 argument";
constexpr std::string_view kVarTypeArgs = "VarType requires 1 argument";
constexpr std::string_view kUBoundArgs = "UBound requires 1 argument";
constexpr std::string_view kLBoundArgs = "LBound requires 1 argument";
constexpr std::string_view kUBoundNotArray = "UBound: argument is not an array";
constexpr std::string_view kLBoundNotArray = "LBound: argument is not an array";
constexpr std::string_view kSubscriptOutOfRange = "Subscript out of range";

// TypeName and VarType by kind, in the order of Kind.
constexpr std::string_view kTypeNames[] = {"Long",  "Double", "String",    "Boolean", "Date",
                                           "Error", "Empty",  "Variant()", "Object"};
constexpr int64_t kVarTypes[] = {3, 5, 8, 11, 7, 10, 0, 8204, 0};
static_assert(std::size(kTypeNames) == std::variant_size_v<VariantBase>);
static_assert(std::size(kVarTypes) == std::variant_size_v<VariantBase>);

// Both branches were evaluated before the call, as VBA does.
Result<Variant> iif(BuiltinArgs a) {
    TRY_VOID(need_args(a, 3, kIIfArgs));
    return std::move(a[TRY(is_truthy(a[0])) ? 1 : 2]);
}

Result<Variant> is_empty(BuiltinArgs a) { return Variant(a.empty() || a[0].is_empty()); }
Result<Variant> is_array(BuiltinArgs a) { return Variant(!a.empty() && a[0].is_array()); }

// What CDbl, CLng and CInt convert: numbers, Booleans, Empty, and texts
// that read as a number (read_vba_number); Dates, errors and arrays not.
Result<Variant> is_numeric(BuiltinArgs a) {
    if (a.empty()) return Variant(false);
    const Variant& v = a[0];
    if (v.is_str()) return Variant(read_vba_number(v.as_str()).has_value());
    return Variant(v.is_number() || v.is_bool() || v.is_empty());
}

Result<Variant> type_name(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kTypeNameArgs));
    return Variant(kTypeNames[static_cast<size_t>(a[0].kind())]);
}

Result<Variant> var_type(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kVarTypeArgs));
    return Variant(kVarTypes[static_cast<size_t>(a[0].kind())]);
}

// Arrays have one dimension: a dimension argument other than 1 is out of
// range.
Result<void> check_dimension(BuiltinArgs a) {
    if (a.size() < 2) return {};
    if (TRY(to_whole(a[1])) != 1) return fail(std::string(kSubscriptOutOfRange));
    return {};
}

Result<Variant> ubound(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kUBoundArgs));
    if (!a[0].is_array()) return fail(std::string(kUBoundNotArray));
    TRY_VOID(check_dimension(a));
    const Array& items = a[0].as_array();
    return Variant(items.lower + static_cast<int64_t>(items.size()) - 1);
}

Result<Variant> lbound(BuiltinArgs a) {
    TRY_VOID(need_args(a, 1, kLBoundArgs));
    if (!a[0].is_array()) return fail(std::string(kLBoundNotArray));
    TRY_VOID(check_dimension(a));
    return Variant(a[0].as_array().lower);
}

constexpr Builtin kTable[] = {
    {"iif", pure<iif>},
    {"isarray", pure<is_array>},
    {"isempty", pure<is_empty>},
    {"isnull", pure<is_empty>},
    {"isnumeric", pure<is_numeric>},
    {"lbound", pure<lbound>},
    {"typename", pure<type_name>},
    {"ubound", pure<ubound>},
    {"vartype", pure<var_type>},
};

}  // namespace

std::span<const Builtin> info_builtins() { return kTable; }

}  // namespace morvane::vm
