// VBA built-in functions_: the merged look-up over the family tables (the
// loader resolves each name once), Range (the one built-in that reads the
// workbook), and the call paths: arguments first, then the built-in; for a
// name that is none, the WorksheetFunction subset for "wsf_" names or the
// unknown-name message.
#include <span>
#include <string_view>

#include "workbook/areas.h"
#include "vm/builtins/builtins.h"
#include "vm/messages.h"
#include "vm/mod.h"
#include "vm/builtins/wsf.h"

namespace morvane {

namespace vm {

namespace {

constexpr std::string_view kUnknownFunction = "Unknown VBA function: '{}'";
constexpr std::string_view kRangeNeedsAddress = "Range: requires a string address argument";
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
    for (auto family : {std::span<const Builtin>(kOwnTable), math_builtins(), conversion_builtins(), text_builtins(),
                        info_builtins(), datetime_builtins(), format_builtins()})
        for (const Builtin& b : family)
            if (b.name == name) return &b;
    return nullptr;
}

}  // namespace vm

Result<Variant> Vm::eval_vba_func(const std::string& name, const std::vector<vm::XCode>& args) {
    // Arguments first: their failure wins over an unknown name.
    if (name.starts_with(vm::kWsfPrefix)) {
        std::vector<uint64_t> widths;
        std::vector<Variant> values = TRY(eval_wsf_args(args, widths));
        return vm::eval_wsf(std::string_view(name).substr(vm::kWsfPrefix.size()), values, widths);
    }
    for (const vm::XCode& a : args) TRY(evaluate(a));
    return fail(format_message(vm::kUnknownFunction, name));
}

// A range named as a WorksheetFunction argument (a Range variable, whatever
// its Dim, or a path such as ws.Range("A1:B3")) stands for the cells of its
// areas, one flat Array row by row, as a range written in place does;
// `widths` gets its column count (0 for any other argument).
Result<std::vector<Variant>> Vm::eval_wsf_args(const std::vector<vm::XCode>& args, std::vector<uint64_t>& widths) {
    std::vector<Variant> out;
    out.reserve(args.size());
    widths.assign(args.size(), 0);
    for (size_t i = 0; i < args.size(); ++i) {
        const vm::XCode& a = args[i];
        std::optional<PathObj> object;
        if (const auto* var = a.src->get_if<Expr::Var>()) object = TRY(object_of(var->name));
        if (const auto* path = a.src->get_if<Expr::ObjPath>()) {
            PathOps ops(*this, a.kids);
            object = TRY(walk_path(path->steps, path->steps.size()));
        }
        if (const auto* call = a.src->get_if<Expr::Call>(); call && call->name == "range" && call->args.size() == 1)
            if (const auto* text = call->args[0].get_if<Expr::Str>())
                if (auto area = resolve_range_addr(text->value)) widths[i] = area->cols();
        if (object && object->kind == PathObj::Kind::Range) {
            const RangeRef& r = object->range;
            if (r.areas.size() == 1) widths[i] = r.areas.front().normalised().cols();
            out.push_back(Variant(TRY(range_cells(r))));
        } else if (object && object->kind == PathObj::Kind::Value) {
            out.push_back(std::move(object->value));
        } else if (object) {
            out.push_back(TRY(evaluate(a)));
        } else {
            out.push_back(TRY(evaluate(a)));
        }
    }
    return out;
}

Result<Array> Vm::range_cells(const RangeRef& range) {
    std::string text;
    for (const CellRange& area : range.areas) {
        if (!text.empty()) text += ',';
        text += vm::rect_text(area);
    }
    TRY_VOID(vm::check_range_size(text, vm::total_cells(range.areas), "read"));
    Array out;
    out.reserve(vm::total_cells(range.areas));
    for (const CellRange& area : range.areas) {
        Variant cells = TRY(read_range_ref_value(RangeRef::single(range.sheet, area)));
        if (!cells.is_array()) {
            out.push_back(std::move(cells));
            continue;
        }
        for (Variant& v : cells.as_array()) out.push_back(std::move(v));
    }
    return out;
}

}  // namespace morvane
