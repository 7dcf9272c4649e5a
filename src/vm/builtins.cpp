// VBA built-in functions: the merged look-up over the family tables, and
// the call path for names that are no built-in ("wsf_" names go to the
// WorksheetFunction subset, anything else is unknown).
#include "vm/builtins.h"

#include "vm/mod.h"

namespace morvane {

namespace vm {

namespace {

constexpr std::string_view kBuiltinNotYet = "VBA function '{}' is not supported yet";
constexpr std::string_view kWsfNotYet = "WorksheetFunction.{} is not supported yet";
constexpr std::string_view kUnknownFunction = "Unknown VBA function: '{}'";

// A bare Range("a") read; it names the cells in its one argument.
constexpr Builtin kOwnTable[] = {
    {"range", builtin_not_yet},
};

Result<Variant> eval_wsf(std::string_view name, std::vector<Variant>&) {
    return fail(format_message(kWsfNotYet, name));
}

}  // namespace

Result<Variant> builtin_not_yet(Vm&, std::string_view name, std::vector<Variant>&) {
    return fail(format_message(kBuiltinNotYet, name));
}

const Builtin* find_builtin(std::string_view name) {
    // Called once per distinct name when a program is loaded, never per call.
    for (auto family : {std::span<const Builtin>(kOwnTable), math_builtins(), conversion_builtins(),
                        text_builtins(), info_builtins(), datetime_builtins(), format_builtins()})
        for (const Builtin& b : family)
            if (b.name == name) return &b;
    return nullptr;
}

}  // namespace vm

Result<Variant> Vm::call_builtin(const vm::Builtin& builtin, const std::string& name, const std::vector<Expr>& args) {
    std::vector<Variant> values = TRY(eval_expr_list(args));
    return builtin.fn(*this, name, values);
}

Result<Variant> Vm::eval_vba_func(const std::string& name, const std::vector<Expr>& arg_exprs) {
    // Arguments first: their failure wins over an unknown name.
    std::vector<Variant> args = TRY(eval_expr_list(arg_exprs));
    if (name.starts_with("wsf_")) return vm::eval_wsf(std::string_view(name).substr(4), args);
    return fail(format_message(vm::kUnknownFunction, name));
}

}  // namespace morvane
