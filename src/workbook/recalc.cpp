#include "workbook/recalc.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <utility>

#include "formula/parser.h"
#include "types/address.h"

namespace morvane::vm {

namespace {

// Functions whose reference arguments give a position, not values: ROW(A1)
// in A1 reads nothing, so it is no cycle. OFFSET's base is where it starts;
// what it reads is found only when it runs.
bool position_only(std::string_view name, size_t arg) {
    return name == "ROW" || name == "COLUMN" || name == "ROWS" || name == "COLUMNS" || (name == "OFFSET" && arg == 0);
}

bool is_reference(const FormulaExpr& e) {
    return e.kind() == FormulaExpr::Kind::CellRef || e.kind() == FormulaExpr::Kind::Range;
}

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
        case FormulaExpr::Kind::Func: {
            const auto& f = *e.get<FormulaExpr::Func>();
            for (size_t i = 0; i < f.args.size(); ++i)
                if (!(is_reference(f.args[i]) && position_only(f.name, i))) collect_rects(f.args[i], out);
            break;
        }
        default: break;
    }
}

bool dynamic_name(std::string_view name) {
    return name == "INDIRECT" || name == "OFFSET" || name == "RAND" || name == "RANDBETWEEN" || name == "RANDARRAY" ||
           name == "NOW" || name == "TODAY";
}

// Where the formula cells are: by position for single cells, and by column
// (rows sorted) for rectangles, so a range query visits formula cells only.
class FormulaIndex {
public:
    explicit FormulaIndex(std::span<const FormulaEntry> formulas) {
        by_pos_.reserve(formulas.size());
        for (uint32_t i = 0; i < formulas.size(); ++i) by_pos_.emplace(CellPos{formulas[i].row, formulas[i].col}, i);
        std::unordered_map<uint32_t, std::vector<std::pair<uint32_t, uint32_t>>> by_col;
        for (uint32_t i = 0; i < formulas.size(); ++i) by_col[formulas[i].col].push_back({formulas[i].row, i});
        for (const auto& [col, cells] : by_col) sorted_cols_.push_back(col);
        std::sort(sorted_cols_.begin(), sorted_cols_.end());
        columns_.reserve(sorted_cols_.size());
        for (uint32_t col : sorted_cols_) {
            auto& cells = by_col[col];
            std::sort(cells.begin(), cells.end());
            bool dense = true;
            for (size_t k = 1; k < cells.size() && dense; ++k) dense = cells[k].first == cells[k - 1].first + 1;
            dense_.push_back(dense);
            columns_.push_back(std::move(cells));
        }
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
            const size_t at = static_cast<size_t>(c - sorted_cols_.begin());
            const auto& cells = columns_[at];
            // A column holding every row from its top to its bottom finds
            // the first row sought by its distance from the top, with no search.
            const uint32_t top = cells.front().first, bottom = cells.back().first;
            auto lo = cells.begin();
            if (r.first.row > top) {
                if (dense_[at])
                    lo = r.first.row > bottom ? cells.end() : cells.begin() + (r.first.row - top);
                else
                    lo = std::lower_bound(cells.begin(), cells.end(), std::pair<uint32_t, uint32_t>{r.first.row, 0});
            }
            for (auto it = lo; it != cells.end() && it->first <= r.last.row; ++it) fn(it->second);
        }
    }

private:
    std::unordered_map<CellPos, uint32_t, CellPosHash> by_pos_;
    // The formula columns in order, and beside each its (row, index) pairs by row.
    std::vector<uint32_t> sorted_cols_;
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> columns_;
    std::vector<bool> dense_;  // the column's rows follow one another
};

// The rectangles of entry `i`, from the entry or its tree.
const std::vector<CellRange>& reads_of(const FormulaEntry& f, std::vector<CellRange>& scratch) {
    if (f.reads) return *f.reads;
    scratch.clear();
    collect_rects(*f.tree, scratch);
    return scratch;
}

// Strongly connected components of the formulas Kahn's pass could not
// place (`rest`), each emitted after the components it reads: the order in
// which they can be computed. A component of more than one formula is a cycle.
Result<void> order_cycles(std::span<const FormulaEntry> formulas, const FormulaIndex& index,
                          const std::vector<uint32_t>& rest, EvalOrder& out, eval::InterruptCheck interrupt) {
    const auto n = static_cast<uint32_t>(rest.size());
    std::unordered_map<uint32_t, uint32_t> local;  // formula index -> position in rest
    for (uint32_t k = 0; k < n; ++k) local.emplace(rest[k], k);
    // What each reads among the rest (itself excluded: that is flagged already).
    std::vector<uint32_t> first(n + 1, 0), reads;
    std::vector<CellRange> scratch;
    for (uint32_t k = 0; k < n; ++k) {
        uint64_t visits = 1;
        for (const CellRange& r : reads_of(formulas[rest[k]], scratch))
            index.for_each_in(r, [&](uint32_t j) {
                ++visits;
                auto it = local.find(j);
                if (it != local.end() && it->second != k) reads.push_back(it->second);
            });
        first[k + 1] = static_cast<uint32_t>(reads.size());
        TRY_VOID(eval::charge_work(interrupt, visits));
    }
    // Tarjan's algorithm without recursion: a cycle may be 100,000 cells long.
    constexpr uint32_t kUnseen = UINT32_MAX;
    std::vector<uint32_t> number(n, kUnseen), low(n, 0), stack;
    std::vector<bool> on_stack(n, false);
    std::vector<std::pair<uint32_t, uint32_t>> calls;  // (node, next edge)
    uint32_t counter = 0;
    for (uint32_t root = 0; root < n; ++root) {
        if (number[root] != kUnseen) continue;
        calls.push_back({root, first[root]});
        number[root] = low[root] = counter++;
        stack.push_back(root);
        on_stack[root] = true;
        while (!calls.empty()) {
            auto& [v, edge] = calls.back();
            if (edge < first[v + 1]) {
                const uint32_t w = reads[edge++];
                if (number[w] == kUnseen) {
                    number[w] = low[w] = counter++;
                    stack.push_back(w);
                    on_stack[w] = true;
                    calls.push_back({w, first[w]});
                } else if (on_stack[w]) {
                    low[v] = std::min(low[v], number[w]);
                }
                continue;
            }
            const uint32_t done = v;
            calls.pop_back();
            if (!calls.empty()) low[calls.back().first] = std::min(low[calls.back().first], low[done]);
            if (low[done] != number[done]) continue;
            // `done` roots a component: it is what the stack holds above it.
            auto from = std::find(stack.rbegin(), stack.rend(), done).base() - 1;
            const bool cycle = stack.end() - from > 1;
            for (auto it = from; it != stack.end(); ++it) {
                on_stack[*it] = false;
                out.order.push_back(rest[*it]);
                if (cycle) out.on_cycle[rest[*it]] = true;
            }
            stack.erase(from, stack.end());
        }
    }
    return {};
}

}  // namespace

std::vector<CellRange> extract_cell_refs(const FormulaExpr& expr) {
    std::vector<CellRange> out;
    collect_rects(expr, out);
    return out;
}

bool is_dynamic(const FormulaExpr& expr) {
    switch (expr.kind()) {
        case FormulaExpr::Kind::Binary: {
            const auto& b = *expr.get<FormulaExpr::Binary>();
            return is_dynamic(*b.lhs) || is_dynamic(*b.rhs);
        }
        case FormulaExpr::Kind::Neg: return is_dynamic(*expr.get<FormulaExpr::Neg>()->operand);
        case FormulaExpr::Kind::Func: {
            const auto& f = *expr.get<FormulaExpr::Func>();
            if (dynamic_name(f.name)) return true;
            return std::any_of(f.args.begin(), f.args.end(), [](const FormulaExpr& a) { return is_dynamic(a); });
        }
        default: return false;
    }
}

Result<EvalOrder> topo_sort_formulas(std::span<const FormulaEntry> formulas, eval::InterruptCheck interrupt) {
    const auto n = static_cast<uint32_t>(formulas.size());
    FormulaIndex index(formulas);
    EvalOrder out;
    out.on_cycle.assign(n, false);
    std::vector<uint32_t> pending(n, 0);
    // Edges (read formula j -> reader i), generated with i ascending; a
    // stable bucket pass by j then gives each j its readers in ascending order.
    std::vector<std::pair<uint32_t, uint32_t>> edges;
    // seen[j] == i + 1 when formula j was already counted as a read of i.
    std::vector<uint32_t> seen(n, 0);
    std::vector<CellRange> scratch;
    for (uint32_t i = 0; i < n; ++i) {
        // The rectangles of each formula live apart from the list: fetch a
        // few formulas ahead so that the walk does not wait on each.
        constexpr uint32_t kAhead = 8;
        if (i + kAhead < n && formulas[i + kAhead].reads) __builtin_prefetch(formulas[i + kAhead].reads->data());
        uint64_t visits = 1;
        for (const CellRange& r : reads_of(formulas[i], scratch)) {
            index.for_each_in(r, [&](uint32_t j) {
                ++visits;
                if (seen[j] == i + 1) return;
                seen[j] = i + 1;
                // Reading one's own cell is a cycle of one; it holds up nothing.
                if (j == i) {
                    out.on_cycle[i] = true;
                    return;
                }
                edges.emplace_back(j, i);
                ++pending[i];
            });
        }
        // Formulas over ranges full of formulas make many edges.
        TRY_VOID(eval::charge_work(interrupt, visits));
    }
    std::vector<uint32_t> first(n + 1, 0);  // dependents of j: readers[first[j] .. first[j+1])
    for (const auto& e : edges) ++first[e.first + 1];
    for (uint32_t j = 0; j < n; ++j) first[j + 1] += first[j];
    std::vector<uint32_t> readers(edges.size());
    {
        std::vector<uint32_t> fill(first.begin(), first.end() - 1);
        for (const auto& [j, i] : edges) readers[fill[j]++] = i;
    }
    std::vector<uint32_t>& order = out.order;
    order.reserve(n);
    // Dynamic formulas wait until nothing else is ready: what they read is
    // unknown, so as much as possible is computed before them.
    std::vector<uint32_t> later;
    size_t later_head = 0;
    // The flags side by side: the pass below visits formulas out of list order.
    std::vector<uint8_t> dynamic(n);
    for (uint32_t i = 0; i < n; ++i) dynamic[i] = formulas[i].dynamic;
    auto ready = [&](uint32_t i) {
        if (dynamic[i])
            later.push_back(i);
        else
            order.push_back(i);
    };
    for (uint32_t i = 0; i < n; ++i)
        if (pending[i] == 0) ready(i);
    // `order` doubles as the FIFO queue: its unread tail is the queue.
    for (size_t head = 0;; ++head) {
        if (head == order.size()) {
            if (later_head == later.size()) break;
            order.push_back(later[later_head++]);
        }
        const uint32_t j = order[head];
        for (uint32_t k = first[j]; k < first[j + 1]; ++k)
            if (--pending[readers[k]] == 0) ready(readers[k]);
    }
    if (order.size() < n) {
        std::vector<bool> placed(n, false);
        for (uint32_t i : order) placed[i] = true;
        std::vector<uint32_t> rest;
        for (uint32_t i = 0; i < n; ++i)
            if (!placed[i]) rest.push_back(i);
        TRY_VOID(order_cycles(formulas, index, rest, out, interrupt));
    }
    return out;
}

void settle_cell_value(Result<Variant>& result, const eval::EvalCtx& ctx) {
    if (result) {
        if (result->is_empty()) *result = Variant(int64_t{0});
    } else {
        result = eval::failure_as_error(std::move(result), ctx);
    }
}

// ---------------------------------------------------------------- ReaderIndex

namespace {

// The finest level at which the span [lo, hi] (counted from 0) covers at
// most two grid cells.
int level_of(uint64_t lo, uint64_t hi) {
    int a = 0;
    while ((hi >> a) - (lo >> a) > 1) ++a;
    return a;
}

// `r` normalised and cut to the sheet; false when nothing of it is on the sheet.
bool on_sheet_part(const CellRange& r, CellRange& out) {
    out = r.normalised();
    out.first.row = std::max<uint32_t>(out.first.row, 1);
    out.first.col = std::max<uint32_t>(out.first.col, 1);
    out.last.row = std::min(out.last.row, kMaxRow);
    out.last.col = std::min(out.last.col, kMaxCol);
    return out.first.row <= out.last.row && out.first.col <= out.last.col;
}

}  // namespace

void ReaderIndex::count_level(int a, int b, int delta) {
    uint32_t& use = level_use_[a][b];
    const bool was = use != 0;
    use = static_cast<uint32_t>(static_cast<int64_t>(use) + delta);
    if (was == (use != 0)) return;
    levels_.clear();
    for (int i = 0; i < kRowLevels; ++i)
        for (int j = 0; j < kColLevels; ++j)
            if (level_use_[i][j]) levels_.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(j)});
}

void ReaderIndex::insert(const CellRange& rect, uint32_t id) {
    const uint64_t r1 = rect.first.row - uint64_t{1}, r2 = rect.last.row - uint64_t{1};
    const uint64_t c1 = rect.first.col - uint64_t{1}, c2 = rect.last.col - uint64_t{1};
    const int a = level_of(r1, r2), b = level_of(c1, c2);
    for (uint64_t br = r1 >> a; br <= r2 >> a; ++br)
        for (uint64_t bc = c1 >> b; bc <= c2 >> b; ++bc) bucket(key(a, b, br, bc)).push_back({rect, id});
    count_level(a, b, 1);
}

void ReaderIndex::erase_ids(const std::vector<bool>& dead) {
    auto is_dead = [&](const Item& x) { return x.id < dead.size() && dead[x.id]; };
    bool emptied = false;
    for (Bucket& b : buckets_) {
        if (b.key == kNoKey) continue;
        for (const Item& x : b.items) {
            if (!is_dead(x)) continue;
            // A rectangle counts toward its level once, in its first grid cell.
            const uint64_t r1 = x.rect.first.row - uint64_t{1}, r2 = x.rect.last.row - uint64_t{1};
            const uint64_t c1 = x.rect.first.col - uint64_t{1}, c2 = x.rect.last.col - uint64_t{1};
            const int a = level_of(r1, r2), lb = level_of(c1, c2);
            if (key(a, lb, r1 >> a, c1 >> lb) == b.key) count_level(a, lb, -1);
        }
        std::erase_if(b.items, is_dead);
        emptied = emptied || b.items.empty();
    }
    if (!emptied) return;
    // Emptied buckets go, and the rest are placed again without them.
    std::vector<Bucket> kept;
    for (Bucket& b : buckets_)
        if (b.key != kNoKey && !b.items.empty()) kept.push_back(std::move(b));
    buckets_.clear();
    bucket_count_ = 0;
    for (Bucket& b : kept) bucket(b.key) = std::move(b.items);
}

std::vector<ReaderIndex::Item>& ReaderIndex::bucket(uint64_t k) {
    if ((bucket_count_ + 1) * 2 > buckets_.size()) {
        std::vector<Bucket> old = std::move(buckets_);
        buckets_.assign(std::max<size_t>(16, old.size() * 2), Bucket{kNoKey, {}});
        const size_t mask = buckets_.size() - 1;
        for (Bucket& b : old) {
            if (b.key == kNoKey) continue;
            size_t i = home(b.key, mask);
            while (buckets_[i].key != kNoKey) i = (i + 1) & mask;
            buckets_[i] = std::move(b);
        }
    }
    const size_t mask = buckets_.size() - 1;
    size_t i = home(k, mask);
    for (; buckets_[i].key != kNoKey; i = (i + 1) & mask)
        if (buckets_[i].key == k) return buckets_[i].items;
    buckets_[i].key = k;
    ++bucket_count_;
    return buckets_[i].items;
}

void PosIds::set(CellPos p, uint32_t id) {
    if ((count_ + 1) * 2 > slots_.size()) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(std::max<size_t>(16, old.size() * 2), Slot{{}, kNone});
        const size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (s.id == kNone) continue;
            size_t i = home(s.pos, mask);
            while (slots_[i].id != kNone) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }
    const size_t mask = slots_.size() - 1;
    size_t i = home(p, mask);
    for (; slots_[i].id != kNone; i = (i + 1) & mask) {
        if (slots_[i].pos == p) {
            slots_[i].id = id;
            return;
        }
    }
    slots_[i] = Slot{p, id};
    ++count_;
}

void PosIds::erase(CellPos p) {
    if (slots_.empty()) return;
    const size_t mask = slots_.size() - 1;
    size_t hole = home(p, mask);
    for (; slots_[hole].id != kNone; hole = (hole + 1) & mask)
        if (slots_[hole].pos == p) break;
    if (slots_[hole].id == kNone) return;
    slots_[hole].id = kNone;
    --count_;
    // Later members of the probe run move back into the hole when their home
    // allows, so that every look-up still finds them without tombstones.
    for (size_t i = (hole + 1) & mask; slots_[i].id != kNone; i = (i + 1) & mask) {
        const size_t h = home(slots_[i].pos, mask);
        const bool movable = hole <= i ? (h <= hole || h > i) : (h <= hole && h > i);
        if (movable) {
            slots_[hole] = slots_[i];
            slots_[i].id = kNone;
            hole = i;
        }
    }
}

void ReaderIndex::clear() {
    buckets_.clear();
    bucket_count_ = 0;
    levels_.clear();
    for (auto& row : level_use_)
        for (auto& use : row) use = 0;
}

}  // namespace morvane::vm

namespace morvane {

namespace {

// What a formula on a cycle holds: no value can be computed for it.
constexpr ExcelError kCycleError = ExcelError::Ref;

}  // namespace

uint32_t SheetFormulas::add_node(CellPos pos, std::string text, std::shared_ptr<const FormulaExpr> tree,
                                 std::vector<CellRange> reads, bool dynamic) {
    uint32_t id;
    if (!free_.empty()) {
        id = free_.back();
        free_.pop_back();
    } else {
        id = static_cast<uint32_t>(nodes_.size());
        nodes_.emplace_back();
    }
    ++shape_;
    Node& n = nodes_[id];
    n = Node{pos, std::move(text), std::move(tree), std::move(reads), dynamic, false, true};
    for (const CellRange& r : n.reads) readers_.insert(r, id);
    auto widen = [&](const CellRange& r) {
        reach_.first = {std::min(reach_.first.row, r.first.row), std::min(reach_.first.col, r.first.col)};
        reach_.last = {std::max(reach_.last.row, r.last.row), std::max(reach_.last.col, r.last.col)};
    };
    widen(CellRange::single(pos));
    for (const CellRange& r : n.reads) widen(r);
    if (dynamic) dynamic_.push_back(id);
    by_pos_.set(pos, id);
    return id;
}

void SheetFormulas::remove_node(uint32_t id) {
    ++shape_;
    Node& n = nodes_[id];
    by_pos_.erase(n.pos);
    n = Node{};
    // Its rectangles stay filed, read past as dead, until as many are dead
    // as live: then one sweep drops them all, so removing formulas costs
    // what they were, however many share a grid cell.
    retired_.push_back(id);
    if (retired_.size() >= std::max(kMinSweep, by_pos_.size())) sweep();
}

void SheetFormulas::sweep() {
    std::vector<bool> dead(nodes_.size(), false);
    for (uint32_t id : retired_) dead[id] = true;
    readers_.erase_ids(dead);
    std::erase_if(dynamic_, [&](uint32_t id) { return dead[id]; });
    std::erase_if(dirty_, [&](uint32_t id) { return dead[id]; });
    // Only now may the ids name other formulas.
    free_.insert(free_.end(), retired_.begin(), retired_.end());
    retired_.clear();
}

Result<void> SheetFormulas::rebuild(eval::InterruptCheck interrupt) {
    // Trees of texts that did not change are kept.
    std::unordered_map<CellPos, Node, CellPosHash> old;
    old.reserve(by_pos_.size());
    by_pos_.for_each([&](CellPos pos, uint32_t id) { old.emplace(pos, std::move(nodes_[id])); });
    nodes_.clear();
    free_.clear();
    retired_.clear();
    // Every id now names another formula, or none: a kept order is void.
    ++shape_;
    by_pos_.clear();
    readers_.clear();
    reach_ = CellRange{{UINT32_MAX, UINT32_MAX}, {0, 0}};
    dynamic_.clear();
    dirty_.clear();
    pending_.clear();
    for (const auto& [pos, cell] : *cells_) {
        if (!cell.formula) continue;
        // Stopped here, the record stays stale and is built again next time.
        TRY_VOID(eval::charge_work(interrupt, 16));
        auto it = old.find(pos);
        if (it != old.end() && it->second.text == *cell.formula) {
            Node& o = it->second;
            add_node(pos, std::move(o.text), std::move(o.tree), std::move(o.reads), o.dynamic);
            continue;
        }
        auto tree = formula::parser::parse(*cell.formula, formula::parser::Refs::OnSheet);
        if (!tree) continue;  // no longer parses: the cell keeps its value
        auto shared = std::make_shared<const FormulaExpr>(std::move(*tree));
        std::vector<CellRange> reads;
        for (const CellRange& r : vm::extract_cell_refs(*shared)) {
            CellRange part;
            if (vm::on_sheet_part(r, part)) reads.push_back(part);
        }
        const bool dynamic = vm::is_dynamic(*shared);
        add_node(pos, *cell.formula, std::move(shared), std::move(reads), dynamic);
    }
    stale_ = false;
    return {};
}

template <class Fn>
void SheetFormulas::for_each_node_in(const CellRange& area, Fn&& fn) const {
    const CellRange r = area.normalised();
    if (r.cell_count() <= by_pos_.size()) {
        r.for_each_cell([&](CellPos p) {
            if (const uint32_t id = by_pos_.find(p); id != vm::PosIds::kNone) fn(id);
        });
        return;
    }
    std::vector<uint32_t> inside;
    by_pos_.for_each([&](CellPos pos, uint32_t id) {
        if (r.contains(pos)) inside.push_back(id);
    });
    for (uint32_t id : inside) fn(id);
}

void SheetFormulas::changed(const CellRange& area, eval::InterruptCheck interrupt) {
    if (stale_) return;
    const CellRange a = area.normalised();
    if (dynamic_.empty() && (a.last.row < reach_.first.row || a.first.row > reach_.last.row ||
                             a.last.col < reach_.first.col || a.first.col > reach_.last.col))
        return;
    // Stopped there, the caller's own check point reports the stop.
    if (pending_.size() >= kMaxPending) (void)propagate(interrupt);
    pending_.push_back(area);
}

void SheetFormulas::mark(uint32_t id, std::vector<CellPos>& queue) {
    Node& n = nodes_[id];
    if (n.dirty || !n.live) return;
    n.dirty = true;
    dirty_.push_back(id);
    queue.push_back(n.pos);
}

Result<void> SheetFormulas::propagate(eval::InterruptCheck interrupt) {
    if (pending_.empty()) return {};
    // Stopped halfway, what the changes reach is not known: every formula
    // is looked at again at the next update.
    auto stopped = [&](Result<void> r) {
        if (!r) stale_ = true;
        return r;
    };
    std::vector<CellPos> queue;
    for (const CellRange& area : pending_) {
        // Formula cells overwritten or cleared there are formulas no more.
        std::vector<uint32_t> gone;
        for_each_node_in(area, [&](uint32_t id) {
            auto cell = cells_->find(nodes_[id].pos);
            if (cell == cells_->end() || cell->second.formula != nodes_[id].text) gone.push_back(id);
        });
        for (uint32_t id : gone) remove_node(id);
        uint64_t reached = 0;
        CellRange part;
        if (vm::on_sheet_part(area, part))
            readers_.for_each_overlapping(part, [&](uint32_t id) {
                ++reached;
                mark(id, queue);
            });
        TRY_VOID(stopped(eval::charge_work(interrupt, gone.size() + reached + 1)));
    }
    pending_.clear();
    // Formulas that read cells they do not name may read any changed cell.
    for (uint32_t id : dynamic_) mark(id, queue);
    return spread(queue, interrupt);
}

Result<void> SheetFormulas::spread(std::vector<CellPos>& queue, eval::InterruptCheck interrupt) {
    while (!queue.empty()) {
        const CellPos p = queue.back();
        queue.pop_back();
        if (p.row == 0 || p.col == 0 || p.row > kMaxRow || p.col > kMaxCol) continue;
        uint64_t reached = 1;
        readers_.for_each_reader(p, [&](uint32_t id) {
            ++reached;
            mark(id, queue);
        });
        if (auto r = eval::charge_work(interrupt, reached); !r) {
            stale_ = true;
            return r;
        }
    }
    return {};
}

bool SheetFormulas::reads_stale(const std::vector<CellRange>& reads, bool dynamic) const {
    if (dirty_.empty()) return false;
    if (dynamic) return true;
    for (const CellRange& r : reads) {
        if (r.cell_count() <= dirty_.size()) {
            bool hit = false;
            for_each_node_in(r, [&](uint32_t id) { hit = hit || nodes_[id].dirty; });
            if (hit) return true;
        } else {
            for (uint32_t id : dirty_)
                if (nodes_[id].live && nodes_[id].dirty && r.contains(nodes_[id].pos)) return true;
        }
    }
    return false;
}

Result<void> SheetFormulas::compute(const std::vector<uint32_t>& ids, eval::InterruptCheck interrupt) {
    std::vector<vm::FormulaEntry> entries;
    entries.reserve(ids.size());
    for (uint32_t id : ids) {
        const Node& n = nodes_[id];
        // The order needs only the rectangles: no tree is shared for it.
        entries.push_back({n.pos.row, n.pos.col, nullptr, n.dynamic, &n.reads});
    }
    const vm::EvalOrder plan = TRY(vm::topo_sort_formulas(entries, interrupt));
    for (uint32_t id : ids) nodes_[id].dirty = false;
    return run_plan(ids, plan, interrupt);
}

Result<void> SheetFormulas::compute_all(eval::InterruptCheck interrupt) {
    if (full_shape_ != shape_) {
        full_ids_.clear();
        for (uint32_t id = 0; id < nodes_.size(); ++id)
            if (nodes_[id].live) full_ids_.push_back(id);
        std::vector<vm::FormulaEntry> entries;
        entries.reserve(full_ids_.size());
        for (uint32_t id : full_ids_) {
            const Node& n = nodes_[id];
            entries.push_back({n.pos.row, n.pos.col, nullptr, n.dynamic, &n.reads});
        }
        full_plan_ = TRY(vm::topo_sort_formulas(entries, interrupt));
        full_shape_ = shape_;
    }
    // Every formula is computed now: no pass marks them all first; the
    // marks left by changes go, and a failure marks what it leaves.
    for (uint32_t id : dirty_) nodes_[id].dirty = false;
    dirty_.clear();
    return run_plan(full_ids_, full_plan_, interrupt);
}

Result<void> SheetFormulas::run_plan(const std::vector<uint32_t>& ids, const vm::EvalOrder& plan,
                                     eval::InterruptCheck interrupt) {
    const size_t count = plan.order.size();
    for (size_t k = 0; k < count; ++k) {
        // The order jumps about the list of formulas: fetch the records of
        // those coming next, and their trees a little later, ahead of use.
        // The cells each reads and its own are fetched likewise: slots first, entries next.
        if (k + 16 < count) __builtin_prefetch(&nodes_[ids[plan.order[k + 16]]]);
        if (k + 8 < count) {
            const Node& next = nodes_[ids[plan.order[k + 8]]];
            __builtin_prefetch(next.tree.get());
            cells_->prefetch(next.pos);
            for (size_t r = 0; r < next.reads.size() && r < 2; ++r) cells_->prefetch(next.reads[r].first);
        }
        if (k + 4 < count) {
            const Node& next = nodes_[ids[plan.order[k + 4]]];
            cells_->prefetch_entry(next.pos);
            for (size_t r = 0; r < next.reads.size() && r < 2; ++r) cells_->prefetch_entry(next.reads[r].first);
        }
        const uint32_t i = plan.order[k];
        const Node& n = nodes_[ids[i]];
        if (plan.on_cycle[i]) {
            auto cell = cells_->find(n.pos);
            if (cell != cells_->end()) cell->second.value = Variant(kCycleError);
            continue;
        }
        eval::EvalCtx ctx{*cells_, n.pos, interrupt};
        // Each formula counts, so that a pass over many that read nothing
        // reaches the check too.
        Result<Variant> v = Variant();
        if (auto go_on = eval::charge_work(interrupt, 1); !go_on) {
            v = fail(std::move(go_on).error());
        } else {
            v = eval::evaluate(*n.tree, ctx);
            vm::settle_cell_value(v, ctx);
        }
        if (!v) {
            // What was not computed stays to be computed.
            dirty_.clear();
            for (size_t rest = k; rest < count; ++rest) {
                const uint32_t id = ids[plan.order[rest]];
                nodes_[id].dirty = true;
                dirty_.push_back(id);
            }
            return fail(std::move(v).error());
        }
        auto cell = cells_->find(n.pos);
        if (cell != cells_->end()) cell->second.value = std::move(*v);
    }
    dirty_.clear();
    return {};
}

void SheetFormulas::mark_all() {
    dirty_.clear();
    for (uint32_t id = 0; id < nodes_.size(); ++id) {
        if (!nodes_[id].live) continue;
        nodes_[id].dirty = true;
        dirty_.push_back(id);
    }
}

Result<void> SheetFormulas::update(eval::InterruptCheck interrupt) {
    if (!stale_) TRY_VOID(propagate(interrupt));
    // A propagation stopped halfway leaves the record stale, too.
    if (stale_) {
        TRY_VOID(rebuild(interrupt));
        return compute_all(interrupt);
    }
    if (dirty_.empty()) return {};
    std::vector<uint32_t> ids;
    ids.reserve(dirty_.size());
    for (uint32_t id : dirty_)
        if (nodes_[id].live && nodes_[id].dirty) ids.push_back(id);
    return compute(ids, interrupt);
}

Result<void> SheetFormulas::recalculate(eval::InterruptCheck interrupt) {
    if (!stale_) TRY_VOID(propagate(interrupt));
    if (stale_) TRY_VOID(rebuild(interrupt));
    return compute_all(interrupt);
}

Result<void> SheetFormulas::recalculate_area(const CellRange& area, eval::InterruptCheck interrupt) {
    if (!stale_) TRY_VOID(propagate(interrupt));
    if (stale_) {
        TRY_VOID(rebuild(interrupt));
        // Every value may be stale; the next update computes them all.
        mark_all();
    }
    std::vector<uint32_t> ids;
    for_each_node_in(area, [&](uint32_t id) { ids.push_back(id); });
    // Those computed here keep their marks: what they read may itself be stale.
    std::vector<uint32_t> saved = dirty_;
    std::vector<bool> was(ids.size());
    for (size_t k = 0; k < ids.size(); ++k) was[k] = nodes_[ids[k]].dirty;
    auto r = compute(ids, interrupt);
    dirty_ = std::move(saved);
    for (size_t k = 0; k < ids.size(); ++k) nodes_[ids[k]].dirty = was[k];
    return r;
}

Result<void> SheetFormulas::store(CellPos pos, std::string_view text, bool automatic, eval::InterruptCheck interrupt) {
    std::shared_ptr<const FormulaExpr> tree;
    std::vector<CellRange> reads;
    bool dynamic = false;
    uint32_t at = by_pos_.find(pos);
    if (!stale_ && at != vm::PosIds::kNone && nodes_[at].text == text) {
        const Node& n = nodes_[at];
        tree = n.tree;
        reads = n.reads;
        dynamic = n.dynamic;
    } else {
        auto parsed = formula::parser::parse(text, formula::parser::Refs::OnSheet);
        if (!parsed) return fail(std::move(parsed).error());
        tree = std::make_shared<const FormulaExpr>(std::move(*parsed));
        for (const CellRange& r : vm::extract_cell_refs(*tree)) {
            CellRange part;
            if (vm::on_sheet_part(r, part)) reads.push_back(part);
        }
        dynamic = vm::is_dynamic(*tree);
    }
    if (automatic) {
        if (stale_) {
            TRY_VOID(update(interrupt));
        } else {
            TRY_VOID(propagate(interrupt));
            if (stale_ || reads_stale(reads, dynamic)) TRY_VOID(update(interrupt));
        }
    }
    // The target still holds its previous content while the formula runs.
    eval::EvalCtx ctx{*cells_, pos, interrupt};
    auto evaluated = eval::evaluate(*tree, ctx);
    vm::settle_cell_value(evaluated, ctx);
    Variant value = TRY(std::move(evaluated));
    cells_->insert_or_assign(pos, CellContent{std::string(text), std::move(value)});
    // Stopped from here on, the record is left stale (all is looked at
    // again); the caller's own check point reports the stop.
    if (stale_ || !propagate(interrupt)) return {};
    // A formula stored over another one replaces it; its readers (and the
    // formula itself, when it reads its own cell) are now stale.
    at = by_pos_.find(pos);
    if (at != vm::PosIds::kNone) remove_node(at);
    add_node(pos, std::string(text), std::move(tree), std::move(reads), dynamic);
    // Its readers are marked at once: the cell holds the formula just added,
    // so there is nothing for a later propagate to check there.
    std::vector<CellPos> queue;
    readers_.for_each_reader(pos, [&](uint32_t id) { mark(id, queue); });
    for (uint32_t id : dynamic_) mark(id, queue);
    (void)spread(queue, interrupt);
    return {};
}

}  // namespace morvane
