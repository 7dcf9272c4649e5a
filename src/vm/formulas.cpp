// Cell formulas: storing a formula with its computed value, recalculating
// the active sheet in dependency order, and the calculation mode.
#include <unordered_map>

#include "formula/eval.h"
#include "formula/parser.h"
#include "vm/mod.h"
#include "workbook/recalc.h"

namespace morvane {

// Trees are reused only while the cell still holds the very text they were
// parsed from, so results are exactly those of parsing again.
struct FormulaCache {
    struct Entry {
        std::string text;
        std::shared_ptr<const FormulaExpr> tree;
    };
    std::unordered_map<CellPos, Entry, CellPosHash> by_cell;

    // The entry for `text` at `pos`: the cached one while the cell's text is
    // the same, else parsed now and stored; the parser's message on failure.
    Result<const Entry*> entry_for(CellPos pos, const std::string& text) {
        auto it = by_cell.find(pos);
        if (it == by_cell.end() || it->second.text != text) {
            FormulaExpr parsed = TRY(formula::parser::parse(text));
            Entry entry{text, std::make_shared<const FormulaExpr>(std::move(parsed))};
            it = by_cell.insert_or_assign(pos, std::move(entry)).first;
        }
        return &it->second;
    }
};

// Defined here, where the cache type is complete.
Vm::Vm() = default;
Vm::~Vm() = default;

namespace {

FormulaCache& cache_of(std::unique_ptr<FormulaCache>& cache) {
    if (!cache) cache = std::make_unique<FormulaCache>();
    return *cache;
}

}  // namespace

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
    const CellPos pos{row, col};
    std::string text(formula);
    const FormulaCache::Entry* entry = TRY(cache_of(formula_cache_).entry_for(pos, text));
    // The target still holds its previous content while the formula runs.
    Variant value = TRY(eval::evaluate(*entry->tree, cells(), pos, formula_interrupt()));
    book_.cells_mut()[pos] = CellContent{std::move(text), std::move(value)};
    return {};
}

Result<void> Vm::set_rect_formula(const CellRange& area, std::string_view formula) {
    // No reference is adjusted from cell to cell: every cell gets the same text.
    for (uint64_t r = area.first.row; r <= area.last.row; ++r)
        for (uint64_t c = area.first.col; c <= area.last.col; ++c)
            TRY_VOID(set_cell_formula(static_cast<uint32_t>(r), static_cast<uint32_t>(c), formula));
    return {};
}

Result<void> Vm::recalculate_all() {
    FormulaCache& cache = cache_of(formula_cache_);
    std::vector<vm::FormulaEntry> formulas;
    for (const auto& [pos, content] : cells()) {
        if (!content.formula) continue;
        auto entry = cache.entry_for(pos, *content.formula);
        if (!entry) continue;  // no longer parses: the cell keeps its value
        formulas.push_back({pos.row, pos.col, (*entry)->tree});
    }
    // Drop the trees of cells that no longer hold their formula.
    if (cache.by_cell.size() > formulas.size()) {
        std::erase_if(cache.by_cell, [&](const auto& item) {
            auto cell = cells().find(item.first);
            return cell == cells().end() || cell->second.formula != item.second.text;
        });
    }
    const std::vector<uint32_t> order = vm::topo_sort_formulas(formulas);
    CellMap& live = book_.cells_mut();
    for (uint32_t i : order) {
        const vm::FormulaEntry& f = formulas[i];
        const CellPos pos{f.row, f.col};
        Variant value = TRY(eval::evaluate(*f.tree, live, pos, formula_interrupt()));
        live[pos].value = std::move(value);
    }
    return {};
}

Result<void> Vm::set_calc_mode(CalcMode mode) {
    const CalcMode previous = book_.calc_mode;
    book_.calc_mode = mode;
    if (mode == CalcMode::Automatic && previous != CalcMode::Automatic) return recalculate_all();
    return {};
}

}  // namespace morvane
