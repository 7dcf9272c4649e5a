// Fuzz target: a formula's text, parsed and evaluated against a small sheet
// of numbers, texts, booleans, blanks and error values, then stored and
// recalculated in a Vm.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formula/eval.h"
#include "formula/parser.h"
#include "vm/mod.h"

namespace {

morvane::CellMap make_sheet() {
    using morvane::Variant;
    morvane::CellMap cells;
    // clang-format off
    const Variant values[] = {Variant(int64_t{1}),  Variant(2.5),        Variant(std::string("abc")),
                              Variant(true),        Variant(int64_t{-7}), Variant(morvane::ExcelError::NA),
                              Variant(std::string("10")), Variant(int64_t{0}), Variant(1e300)};
    // clang-format on
    uint32_t i = 0;
    for (uint32_t row = 1; row <= 6; ++row)
        for (uint32_t col = 1; col <= 3; ++col)
            cells[morvane::CellPos{row, col}] = morvane::CellContent{std::nullopt, values[i++ % std::size(values)]};
    return cells;
}

// Interrupt checks come as the work of a formula accrues: a few hundred of
// them bound every evaluation.
constexpr int kChecks = 20;
thread_local int t_checks_left = 0;
bool budget_spent() { return --t_checks_left < 0; }
bool budget_spent_arg(void*) { return budget_spent(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const morvane::CellMap kSheet = make_sheet();
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto tree = morvane::formula::parser::parse(text);
    t_checks_left = kChecks;
    // Failures are the expected outcome of most inputs; only crashes,
    // sanitizer reports and hangs are findings.
    if (tree) (void)morvane::eval::evaluate(*tree, kSheet, morvane::CellPos{10, 10}, {budget_spent_arg, nullptr});
    // The same text through the interpreter's store-and-recalculate road.
    morvane::Vm vm;
    t_checks_left = kChecks;
    vm.set_interrupt_check(budget_spent);
    for (const auto& [pos, cell] : kSheet) vm.set_cell_value(pos.row, pos.col, cell.value);
    if (vm.set_cell_formula(10, 10, text)) (void)vm.recalculate_all();
    return 0;
}
