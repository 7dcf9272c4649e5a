// VBA built-in functions: argument evaluation, then the handler found by
// name in the merged family tables; "wsf_" names go to the WorksheetFunction
// subset, and Range, the one built-in that reads the workbook, is a member.
#include <span>
#include <string_view>
#include <unordered_map>

#include "vm/builtins.h"
#include "vm/mod.h"
#include "vm/wsf.h"

namespace morvane {

namespace {

constexpr std::string_view kUnknownFunction = "Unknown VBA function: '{}'";
constexpr std::string_view kRangeNeedsAddress = "Range: requires a string address argument";
constexpr std::string_view kRangeInvalid = "Range: invalid address '{}'";
constexpr std::string_view kWsfPrefix = "wsf_";

using Table = std::unordered_map<std::string_view, vm::BuiltinFn>;

const Table& builtins() {
    static const Table table = [] {
        Table t;
        for (auto family : {vm::math_builtins(), vm::convert_builtins(), vm::text_builtins(), vm::info_builtins(),
                            vm::clock_builtins()})
            for (const vm::BuiltinEntry& e : family) t.emplace(e.name, e.fn);
        return t;
    }();
    return table;
}

}  // namespace

namespace vm {

BuiltinFn find_builtin(std::string_view name) {
    auto it = builtins().find(name);
    return it == builtins().end() ? nullptr : it->second;
}

}  // namespace vm

Result<Variant> Vm::eval_vba_func(const std::string& name, const std::vector<Expr>& arg_exprs) {
    // Arguments first: their failure wins over an unknown name.
    std::vector<Variant> args = TRY(eval_expr_list(arg_exprs));
    if (vm::BuiltinFn fn = vm::find_builtin(name)) return fn(args);
    if (name == "range") return eval_range_builtin(args);
    if (name.starts_with(kWsfPrefix)) return vm::eval_wsf(std::string_view(name).substr(kWsfPrefix.size()), args);
    return fail(format_message(kUnknownFunction, name));
}

// Range(address): the cells of the active sheet, row by row, always as an
// Array; a reversed rectangle holds no cell.
Result<Variant> Vm::eval_range_builtin(vm::BuiltinArgs args) {
    if (args.empty() || !args[0].is_str()) return fail(std::string(kRangeNeedsAddress));
    const std::string& addr = args[0].as_str();
    auto corners = resolve_range_addr(addr);
    if (!corners) return fail(format_message(kRangeInvalid, addr));
    return Variant(TRY(read_corners(*corners, addr)));
}

}  // namespace morvane
