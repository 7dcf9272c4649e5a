// Range and sheet resolution: address texts and defined names to cell
// ranges, sheet expressions to sheet keys, reads through Range objects, and
// the Set statement. Sheet expressions, Range objects and Set are not built
// yet and report so.
#include "types/address.h"
#include "types/text.h"
#include "vm/messages.h"
#include "vm/mod.h"

namespace morvane {

namespace {

constexpr std::string_view kSheetRefsNotYet = "Sheet references (Worksheets, Sheets) are not supported yet";
constexpr std::string_view kRangeVarsNotYet = "Range object variables are not supported yet";

}  // namespace

std::optional<CellRange> Vm::resolve_range_addr(std::string_view addr) const {
    if (auto c = morvane_types::parse_range_addr(addr)) return c;
    // A defined name is followed one level only.
    auto it = book_.defined_names.find(text::to_lower(addr));
    if (it == book_.defined_names.end()) return std::nullopt;
    return morvane_types::parse_range_addr(it->second);
}

std::optional<CellRange> Vm::resolve_range(std::string_view addr, const LiteralRange& literal) const {
    if (literal) return literal;
    return resolve_range_addr(addr);
}

std::optional<CellPos> Vm::literal_cell(std::string_view addr, const LiteralRange& literal) {
    if (literal) return literal->first;
    return morvane_types::parse_cell_addr(addr);
}

Result<std::pair<std::string, std::string>> Vm::resolve_sheet_expr(const Expr&) {
    return fail(std::string(kSheetRefsNotYet));
}

Result<Variant> Vm::read_range_ref_value(const RangeRef&) { return fail(std::string(kRangeVarsNotYet)); }

Result<void> Vm::exec_set_object(const Stmt::SetObject&) { return vm::not_yet("Set (object variables)"); }

}  // namespace morvane
