// Range and sheet resolution: address texts and defined names to cell
// corners, sheet expressions to sheet keys, reads through Range objects_.
#include "types/address.h"
#include "types/text.h"
#include "vm/mod.h"

namespace morvane {

std::optional<Corners> Vm::resolve_range_addr(std::string_view addr) const {
    if (auto c = morvane_types::parse_range_addr(addr)) return c;
    // A defined name is followed one level only.
    auto it = book_.defined_names.find(text::to_lower(addr));
    if (it == book_.defined_names.end()) return std::nullopt;
    return morvane_types::parse_range_addr(it->second);
}

Result<std::pair<std::string, std::string>> Vm::resolve_sheet_expr(const Expr&) {
    return fail("Sheet references (Worksheets, Sheets) are not supported yet");
}

Result<Variant> Vm::read_range_ref_value(const RangeRef&) {
    return fail("Range object variables are not supported yet");
}

}  // namespace morvane
