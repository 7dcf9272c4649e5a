// Cell formulas: storing a formula with its computed value, recalculating
// the active sheet in dependency order, and the calculation mode.
#include <unordered_map>

#include "formula/eval.h"
#include "formula/parser.h"
#include "vm/mod.h"
#include "vm/recalc.h"

namespace morvane {

// Trees are reused only while the cell still holds the very text they were
// parsed from, so results are exactly those of parsing again.
struct FormulaCache {
    struct Entry {
        std::string text;
        std::shared_ptr<const FormulaExpr> tree;
    };
    std::unordered_map<CellPos, Entry, CellPosHash> by_cell;

    // The tree of `text` at `pos`: cached, or parsed now; null when it fails.
    std::shared_ptr<const FormulaExpr> tree_for(CellPos pos, const std::string& text) {
        auto it = by_cell.find(pos);
        if (it != by_cell.end() && it->second.text == text) return it->second.tree;
        auto parsed = formula::parser::parse(text);
        if (!parsed) return nullptr;
        return std::make_shared<const FormulaExpr>(std::move(*parsed));
    }
};

namespace {

FormulaCache& cache_of(std::shared_ptr<FormulaCache>& cache) {
    if (!cache) cache = std::make_shared<FormulaCache>();
    return *cache;
}

}  // namespace

Result<void> Vm::set_cell_formula(uint32_t row, uint32_t col, std::string_view formula) {
    const CellPos pos{row, col};
    std::string text(formula);
    FormulaCache& cache = cache_of(formula_cache_);
    std::shared_ptr<const FormulaExpr> tree;
    if (auto it = cache.by_cell.find(pos); it != cache.by_cell.end() && it->second.text == text) {
        tree = it->second.tree;
    } else {
        // Parse again here (not through the cache) to report the parser's message.
        FormulaExpr parsed = TRY(formula::parser::parse(text));
        tree = std::make_shared<const FormulaExpr>(std::move(parsed));
    }
    // The target still holds its previous content while the formula runs.
    Variant value = TRY(eval::evaluate(*tree, cells(), pos));
    cells_mut()[pos] = CellContent{text, std::move(value)};
    cache.by_cell[pos] = FormulaCache::Entry{std::move(text), std::move(tree)};
    return {};
}

Result<void> Vm::recalculate_all() {
    FormulaCache& cache = cache_of(formula_cache_);
    std::vector<vm::FormulaEntry> formulas;
    for (const auto& [pos, content] : cells()) {
        if (!content.formula) continue;
        auto it = cache.by_cell.find(pos);
        if (it == cache.by_cell.end() || it->second.text != *content.formula) {
            auto parsed = formula::parser::parse(*content.formula);
            if (!parsed) continue;  // no longer parses: the cell keeps its value
            FormulaCache::Entry entry{*content.formula, std::make_shared<const FormulaExpr>(std::move(*parsed))};
            it = cache.by_cell.insert_or_assign(pos, std::move(entry)).first;
        }
        formulas.push_back({pos.row, pos.col, it->second.tree});
    }
    // Drop the trees of cells that no longer hold their formula.
    if (cache.by_cell.size() > formulas.size()) {
        std::erase_if(cache.by_cell, [&](const auto& item) {
            auto cell = cells().find(item.first);
            return cell == cells().end() || cell->second.formula != item.second.text;
        });
    }
    const std::vector<uint32_t> order = vm::topo_sort_formulas(formulas);
    CellMap& live = cells_mut();
    for (uint32_t i : order) {
        const vm::FormulaEntry& f = formulas[i];
        const CellPos pos{f.row, f.col};
        Variant value = TRY(eval::evaluate(*f.tree, live, pos));
        live[pos].value = std::move(value);
    }
    return {};
}

Result<void> Vm::set_calc_mode(CalcMode mode) {
    const CalcMode previous = calc_mode;
    calc_mode = mode;
    if (mode == CalcMode::Automatic && previous != CalcMode::Automatic) return recalculate_all();
    return {};
}

}  // namespace morvane
