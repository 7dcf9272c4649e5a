// Cell formulas: storing a formula with its computed value, recalculation
// and the calculation mode. The formulas themselves, what they read and
// which are stale, belong to the workbook (workbook/recalc.h).
#include "formula/eval.h"
#include "formula/shift.h"
#include "vm/mod.h"
#include "vm/slots.h"

namespace morvane {

namespace {

// A formula stored (parsed, evaluated and filed) counts as this many
// elements of a long statement's work toward the interrupt check.
constexpr uint64_t kStoredFormulaWork = 64;

}  // namespace

Vm::Vm() { book_.set_formula_interrupt(formula_interrupt()); }

Vm::~Vm() = default;

eval::InterruptCheck Vm::formula_interrupt() {
    // A stop asked for inside a formula stops the macro too: the Vm's own
    // check point records it, so no On Error handler swallows it.
    return {[](void* arg) {
                auto* vm = static_cast<Vm*>(arg);
                if (!vm->interrupt_check_ || !vm->interrupt_check_()) return false;
                vm->interrupted_ = true;
                return true;
            },
            this};
}

Result<void> Vm::set_cell_formula(uint32_t row, uint32_t col, std::string_view formula) {
    return book_.set_formula(CellPos{row, col}, formula);
}

Result<void> Vm::set_rect_formula(const CellRange& area, std::string_view formula) {
    // As filling does: the first cell gets the text as written, every other
    // one with its references moved by that cell's distance from the first.
    for (uint64_t r = area.first.row; r <= area.last.row; ++r)
        for (uint64_t c = area.first.col; c <= area.last.col; ++c) {
            const int64_t dr = static_cast<int64_t>(r - area.first.row), dc = static_cast<int64_t>(c - area.first.col);
            const std::string text =
                dr == 0 && dc == 0 ? std::string(formula) : formula::shift_references(formula, dr, dc);
            TRY_VOID(charge_work(kStoredFormulaWork));
            TRY_VOID(set_cell_formula(static_cast<uint32_t>(r), static_cast<uint32_t>(c), text));
        }
    return {};
}

Result<void> Vm::recalculate_all() { return book_.recalculate_all(); }

Result<void> Vm::refresh(const std::string& key) {
    std::lock_guard lock(refresh_mutex_);
    return key.empty() ? book_.update_all() : book_.update(key);
}

Result<Variant> Vm::read_cell(uint32_t row, uint32_t col) {
    TRY_VOID(book_.update_active());
    return book_.get_cell(row, col);
}

Result<void> Vm::set_calc_mode(CalcMode mode) {
    const CalcMode previous = book_.calc_mode;
    book_.calc_mode = mode;
    if (mode == CalcMode::Automatic && previous != CalcMode::Automatic) return recalculate_all();
    return {};
}

}  // namespace morvane
