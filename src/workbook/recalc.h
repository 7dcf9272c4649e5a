// Dependency order of a sheet's formulas for recalculation: which cells each
// formula reads (as rectangles, so a whole-sheet range costs nothing), and
// Kahn's order over the formula list with cycles placed last.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "formula/ast.h"

namespace morvane::vm {

// One formula of a recalculation pass, at its cell, with its parsed tree.
struct FormulaEntry {
    uint32_t row;
    uint32_t col;
    std::shared_ptr<const FormulaExpr> tree;
};

// The cells `expr` reads, as normalised rectangles: a reference is a 1x1
// rectangle and a range its rectangle, whichever corner is written first.
std::vector<CellRange> extract_cell_refs(const FormulaExpr& expr);

// Evaluation order (indices into `formulas`): each formula after the formula
// cells it reads, ties in list order (first-in, first-out); entries on a cycle
// or reading one follow in ascending index order.
std::vector<uint32_t> topo_sort_formulas(std::span<const FormulaEntry> formulas);

}  // namespace morvane::vm
