#include "workbook/recalc.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <utility>

namespace morvane::vm {

namespace {

void collect_rects(const FormulaExpr& e, std::vector<CellRange>& out) {
    switch (e.kind()) {
        case FormulaExpr::Kind::CellRef: {
            out.push_back(CellRange::single(e.get<FormulaExpr::CellRef>()->pos()));
            break;
        }
        case FormulaExpr::Kind::Range: {
            out.push_back(e.get<FormulaExpr::Range>()->range().normalised());
            break;
        }
        case FormulaExpr::Kind::Binary: {
            const auto& b = *e.get<FormulaExpr::Binary>();
            collect_rects(*b.lhs, out);
            collect_rects(*b.rhs, out);
            break;
        }
        case FormulaExpr::Kind::Neg: collect_rects(*e.get<FormulaExpr::Neg>()->operand, out); break;
        case FormulaExpr::Kind::Func:
            for (const FormulaExpr& arg : e.get<FormulaExpr::Func>()->args) collect_rects(arg, out);
            break;
        default: break;
    }
}

// Where the formula cells are: by position for single cells, and by column
// (rows sorted) for rectangles, so a range query visits formula cells only.
class FormulaIndex {
public:
    explicit FormulaIndex(std::span<const FormulaEntry> formulas) {
        by_pos_.reserve(formulas.size());
        for (uint32_t i = 0; i < formulas.size(); ++i) {
            by_pos_.emplace(CellPos{formulas[i].row, formulas[i].col}, i);
            columns_[formulas[i].col].push_back({formulas[i].row, i});
        }
        for (auto& [col, cells] : columns_) {
            std::sort(cells.begin(), cells.end());
            sorted_cols_.push_back(col);
        }
        std::sort(sorted_cols_.begin(), sorted_cols_.end());
    }

    // Calls fn(index) for every formula cell inside `r`.
    template <class Fn>
    void for_each_in(const CellRange& r, Fn&& fn) const {
        if (r.is_single()) {
            auto it = by_pos_.find(r.first);
            if (it != by_pos_.end()) fn(it->second);
            return;
        }
        auto first = std::lower_bound(sorted_cols_.begin(), sorted_cols_.end(), r.first.col);
        for (auto c = first; c != sorted_cols_.end() && *c <= r.last.col; ++c) {
            const auto& cells = columns_.at(*c);
            auto lo = std::lower_bound(cells.begin(), cells.end(), std::pair<uint32_t, uint32_t>{r.first.row, 0});
            for (auto it = lo; it != cells.end() && it->first <= r.last.row; ++it) fn(it->second);
        }
    }

private:
    std::unordered_map<CellPos, uint32_t, CellPosHash> by_pos_;
    std::unordered_map<uint32_t, std::vector<std::pair<uint32_t, uint32_t>>> columns_;
    std::vector<uint32_t> sorted_cols_;
};

}  // namespace

std::vector<CellRange> extract_cell_refs(const FormulaExpr& expr) {
    std::vector<CellRange> out;
    collect_rects(expr, out);
    return out;
}

std::vector<uint32_t> topo_sort_formulas(std::span<const FormulaEntry> formulas) {
    const auto n = static_cast<uint32_t>(formulas.size());
    FormulaIndex index(formulas);
    std::vector<uint32_t> pending(n, 0);
    // Edges (read formula j -> reader i), generated with i ascending; a
    // stable bucket pass by j then gives each j its readers in ascending order.
    std::vector<std::pair<uint32_t, uint32_t>> edges;
    // seen[j] == i + 1 when formula j was already counted as a read of i.
    std::vector<uint32_t> seen(n, 0);
    std::vector<CellRange> rects;
    for (uint32_t i = 0; i < n; ++i) {
        rects.clear();
        collect_rects(*formulas[i].tree, rects);
        for (const CellRange& r : rects) {
            index.for_each_in(r, [&](uint32_t j) {
                if (j == i || seen[j] == i + 1) return;
                seen[j] = i + 1;
                edges.emplace_back(j, i);
                ++pending[i];
            });
        }
    }
    std::vector<uint32_t> first(n + 1, 0);  // dependents of j: readers[first[j] .. first[j+1])
    for (const auto& e : edges) ++first[e.first + 1];
    for (uint32_t j = 0; j < n; ++j) first[j + 1] += first[j];
    std::vector<uint32_t> readers(edges.size());
    {
        std::vector<uint32_t> fill(first.begin(), first.end() - 1);
        for (const auto& [j, i] : edges) readers[fill[j]++] = i;
    }
    std::vector<uint32_t> order;
    order.reserve(n);
    for (uint32_t i = 0; i < n; ++i)
        if (pending[i] == 0) order.push_back(i);
    // `order` doubles as the FIFO queue: its unread tail is the queue.
    for (size_t head = 0; head < order.size(); ++head) {
        const uint32_t j = order[head];
        for (uint32_t k = first[j]; k < first[j + 1]; ++k)
            if (--pending[readers[k]] == 0) order.push_back(readers[k]);
    }
    if (order.size() < n) {
        std::vector<bool> placed(n, false);
        for (uint32_t i : order) placed[i] = true;
        for (uint32_t i = 0; i < n; ++i)
            if (!placed[i]) order.push_back(i);
    }
    return order;
}

}  // namespace morvane::vm
