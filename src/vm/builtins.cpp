// VBA built-in functions_: the merged look-up over the family tables (the
// loader resolves each name once), Range (the one built-in that reads the
// workbook), and the call paths: arguments first, then the built-in; for a
// name that is none, the WorksheetFunction subset for "wsf_" names or the
// unknown-name message.
#include <span>
#include <string_view>

#include "vm/builtins.h"
#include "vm/mod.h"
#include "vm/wsf.h"

namespace morvane {

namespace vm {

namespace {

constexpr std::string_view kUnknownFunction = "Unknown VBA function: '{}'";
constexpr std::string_view kRangeNeedsAddress = "Range: requires a string address argument";
constexpr std::string_view kRangeInvalid = "Range: invalid address '{}'";
constexpr std::string_view kWsfPrefix = "wsf_";

// Range(address): the cells of the active sheet, row by row, always as an
// Array; a reversed rectangle holds no cell.
Result<Variant> range(Vm& vm, std::string_view, std::vector<Variant>& args) {
    if (args.empty() || !args[0].is_str()) return fail(std::string(kRangeNeedsAddress));
    const std::string& addr = args[0].as_str();
    auto area = vm.resolve_range_addr(addr);
    if (!area) return fail(format_message(kRangeInvalid, addr));
    return Variant(TRY(vm.read_area(*area, addr)));
}

constexpr Builtin kOwnTable[] = {
    {"range", range},
};

}  // namespace

const Builtin* find_builtin(std::string_view name) {
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
    if (name.starts_with(vm::kWsfPrefix))
        return vm::eval_wsf(std::string_view(name).substr(vm::kWsfPrefix.size()), args);
    return fail(format_message(vm::kUnknownFunction, name));
}

}  // namespace morvane
