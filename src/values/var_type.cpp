#include "values/var_type.h"

#include <array>
#include <utility>

namespace morvane::vm {

std::optional<VarType> builtin_var_type(std::string_view type_name) {
    static constexpr std::array<std::pair<std::string_view, VarType>, 15> kNames = {{
        {"", VarType::Variant},
        {"variant", VarType::Variant},
        {"object", VarType::Variant},
        {"byte", VarType::Byte},
        {"integer", VarType::Integer},
        {"long", VarType::Long},
        {"longlong", VarType::LongLong},
        {"longptr", VarType::LongLong},
        {"single", VarType::Single},
        {"double", VarType::Double},
        {"currency", VarType::Currency},
        {"decimal", VarType::Decimal},
        {"string", VarType::String},
        {"boolean", VarType::Boolean},
        {"date", VarType::Date},
    }};
    for (const auto& [name, type] : kNames)
        if (name == type_name) return type;
    return std::nullopt;
}

Variant type_default(VarType type) {
    switch (type) {
        case VarType::Byte:
        case VarType::Integer:
        case VarType::Long:
        case VarType::LongLong: return Variant(int64_t{0});
        case VarType::Single:
        case VarType::Double:
        case VarType::Currency:
        case VarType::Decimal: return Variant(0.0);
        case VarType::String: return Variant(std::string());
        case VarType::Boolean: return Variant(false);
        case VarType::Date: return Variant(Date{0});
        case VarType::Variant: break;
    }
    return Variant();
}

}  // namespace morvane::vm
