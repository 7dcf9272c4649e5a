// VBA built-in functions_: argument evaluation, then the handler found by
// name in the table at the end of this file; "wsf_" names go to the
// WorksheetFunction subset.
#include <span>

#include "vm/mod.h"

namespace morvane {

namespace {

using Handler = Result<Variant> (*)(Vm& vm, std::string_view name, std::vector<Variant>& args);

struct Builtin {
    std::string_view name;
    Handler fn;
};

// A built-in whose handler has not landed yet.
Result<Variant> not_yet(Vm&, std::string_view name, std::vector<Variant>&) {
    return fail(format_message("VBA function '{}' is not supported yet", name));
}

Result<Variant> eval_wsf(std::string_view name, std::vector<Variant>&) {
    return fail(format_message("WorksheetFunction.{} is not supported yet", name));
}

constexpr Builtin kBuiltins[] = {
    {"int", not_yet},      {"fix", not_yet},       {"sgn", not_yet},     {"abs", not_yet},
    {"sqr", not_yet},      {"round", not_yet},     {"cint", not_yet},    {"clng", not_yet},
    {"cdbl", not_yet},     {"csng", not_yet},      {"cbool", not_yet},   {"str", not_yet},
    {"cstr", not_yet},     {"val", not_yet},       {"len", not_yet},     {"left", not_yet},
    {"right", not_yet},    {"mid", not_yet},       {"instr", not_yet},   {"replace", not_yet},
    {"trim", not_yet},     {"ltrim", not_yet},     {"rtrim", not_yet},   {"ucase", not_yet},
    {"lcase", not_yet},    {"chr", not_yet},       {"asc", not_yet},     {"split", not_yet},
    {"join", not_yet},     {"iif", not_yet},       {"isempty", not_yet}, {"isnull", not_yet},
    {"isarray", not_yet},  {"isnumeric", not_yet}, {"typename", not_yet}, {"vartype", not_yet},
    {"ubound", not_yet},   {"lbound", not_yet},    {"format", not_yet},  {"range", not_yet},
    {"now", not_yet},      {"date", not_yet},      {"time", not_yet},
};

Handler find_builtin(std::string_view name) {
    for (const Builtin& b : kBuiltins)
        if (b.name == name) return b.fn;
    return nullptr;
}

}  // namespace

Result<Variant> Vm::eval_vba_func(const std::string& name, const std::vector<Expr>& arg_exprs) {
    // Arguments first: their failure wins over an unknown name.
    std::vector<Variant> args = TRY(eval_expr_list(arg_exprs));
    if (Handler fn = find_builtin(name)) return fn(*this, name, args);
    if (name.starts_with("wsf_")) return eval_wsf(std::string_view(name).substr(4), args);
    return fail(format_message("Unknown VBA function: '{}'", name));
}

}  // namespace morvane
