// Formulas of a sheet and their recalculation: which cells each formula
// reads (as rectangles, so a whole-sheet range costs nothing), the
// evaluation order over a list of formulas (Kahn's, with cycles found and
// placed after what they read), and `SheetFormulas`, the per-sheet record of
// formula cells that knows which formulas a changed cell reaches and brings
// exactly those up to date when their values are next read.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formula/ast.h"
#include "formula/eval.h"
#include "types/cell_map.h"
#include "types/result.h"

namespace morvane::vm {

// One formula of a recalculation pass, at its cell, with its parsed tree.
struct FormulaEntry {
    uint32_t row;
    uint32_t col;
    std::shared_ptr<const FormulaExpr> tree;
    // Reads cells it does not name (INDIRECT, OFFSET) or changes on its own
    // (RAND, NOW): ordered after the formulas that are ready with it.
    bool dynamic = false;
    // The rectangles it reads, when already known (the tree may then be
    // null); else taken from the tree.
    const std::vector<CellRange>* reads = nullptr;
};

// The cells `expr` reads, as normalised rectangles: a reference is a 1x1
// rectangle and a range its rectangle, whichever corner is written first. A
// reference that only gives a position (ROW(A1), ROWS(A1:A9), the base of
// OFFSET) reads nothing.
std::vector<CellRange> extract_cell_refs(const FormulaExpr& expr);

// True when the formula reads cells it does not name, or its value changes
// without any cell changing.
bool is_dynamic(const FormulaExpr& expr);

struct EvalOrder {
    // Indices into the formula list: each formula after the formula cells it
    // reads, ties in list order (first-in, first-out), dynamic formulas after
    // the others that are ready; formulas on a cycle or reading one follow,
    // each after what it reads outside its cycle.
    std::vector<uint32_t> order;
    // By index: the formula reads itself, directly or through others.
    std::vector<bool> on_cycle;
};

// Fails only when `interrupt` says stop.
Result<EvalOrder> topo_sort_formulas(std::span<const FormulaEntry> formulas, eval::InterruptCheck interrupt = {});

// Turns a formula's evaluation, in place, into the value its cell keeps: a
// blank shows as 0, and a failure that describes the value becomes an error
// value (the one it names, else #VALUE!). Failures that stop the whole run
// (an interrupt, a bound of the evaluation) stay failures.
void settle_cell_value(Result<Variant>& result, const eval::EvalCtx& ctx);

// Which formulas read a cell: every formula's rectangles, filed in a grid
// whose cell size fits the rectangle, so finding the readers of one cell
// costs a lookup per size in use.
class ReaderIndex {
public:
    void insert(const CellRange& rect, uint32_t id);
    // Removes every rectangle of the ids marked in `dead` (indexed by id), in
    // one pass over all that is filed: a rectangle is not found by itself,
    // since a coarse grid cell may hold most of them.
    void erase_ids(const std::vector<bool>& dead);
    void clear();
    // Calls fn(id) for each rectangle holding `p` (an id may come twice).
    template <class Fn>
    void for_each_reader(CellPos p, Fn&& fn) const;
    // Calls fn(id) for each rectangle meeting `r` (an id may come more than once).
    template <class Fn>
    void for_each_overlapping(const CellRange& r, Fn&& fn) const;

private:
    struct Item {
        CellRange rect;
        uint32_t id;
    };
    static constexpr int kRowLevels = 21;  // 2^20 rows
    static constexpr int kColLevels = 15;  // 2^14 columns
    static uint64_t key(int a, int b, uint64_t br, uint64_t bc) {
        return static_cast<uint64_t>(a) | (static_cast<uint64_t>(b) << 5) | (br << 9) | (bc << 29);
    }
    void count_level(int a, int b, int delta);

    // The buckets by key, in open addressing with linear probing, at most
    // half full: a change that reaches no formula still looks up every level
    // in use, and a chained map pays a pointer chase for each.
    struct Bucket {
        uint64_t key;
        std::vector<Item> items;
    };
    static constexpr uint64_t kNoKey = UINT64_MAX;  // key() stays below 2^44
    static size_t home(uint64_t k, size_t mask) {
        return static_cast<size_t>((k * 0x9E3779B97F4A7C15ULL) >> 32) & mask;
    }
    const std::vector<Item>* find(uint64_t k) const {
        if (buckets_.empty()) return nullptr;
        const size_t mask = buckets_.size() - 1;
        for (size_t i = home(k, mask);; i = (i + 1) & mask) {
            if (buckets_[i].key == k) return &buckets_[i].items;
            if (buckets_[i].key == kNoKey) return nullptr;
        }
    }
    // The bucket of `k`, made empty when absent.
    std::vector<Item>& bucket(uint64_t k);

    std::vector<Bucket> buckets_;
    size_t bucket_count_ = 0;
    uint32_t level_use_[kRowLevels][kColLevels] = {};
    // The levels with at least one rectangle, as (a, b).
    std::vector<std::pair<uint8_t, uint8_t>> levels_;
};

template <class Fn>
void ReaderIndex::for_each_reader(CellPos p, Fn&& fn) const {
    const uint64_t r = p.row - uint64_t{1}, c = p.col - uint64_t{1};
    for (auto [a, b] : levels_) {
        const std::vector<Item>* items = find(key(a, b, r >> a, c >> b));
        if (!items) continue;
        for (const Item& item : *items)
            if (item.rect.contains(p)) fn(item.id);
    }
}

template <class Fn>
void ReaderIndex::for_each_overlapping(const CellRange& r, Fn&& fn) const {
    auto meets = [&](const CellRange& x) {
        return x.first.row <= r.last.row && r.first.row <= x.last.row && x.first.col <= r.last.col &&
               r.first.col <= x.last.col;
    };
    const uint64_t r1 = r.first.row - uint64_t{1}, r2 = r.last.row - uint64_t{1};
    const uint64_t c1 = r.first.col - uint64_t{1}, c2 = r.last.col - uint64_t{1};
    bool scan_all = false;
    for (auto [a, b] : levels_) {
        const uint64_t rows = (r2 >> a) - (r1 >> a) + 1, cols = (c2 >> b) - (c1 >> b) + 1;
        if (rows * cols > 64) {
            scan_all = true;
            continue;
        }
        for (uint64_t br = r1 >> a; br <= r2 >> a; ++br)
            for (uint64_t bc = c1 >> b; bc <= c2 >> b; ++bc) {
                const std::vector<Item>* items = find(key(a, b, br, bc));
                if (!items) continue;
                for (const Item& item : *items)
                    if (meets(item.rect)) fn(item.id);
            }
    }
    // A wide area over fine levels: every filed rectangle is cheaper to test
    // than every grid cell of the area.
    if (scan_all)
        for (const Bucket& bucket : buckets_)
            for (const Item& item : bucket.items)
                if (meets(item.rect)) fn(item.id);
}

// Formula ids by cell position, in open addressing with linear probing, at
// most half full: every stored formula and every changed cell asks, and a
// chained map pays a pointer chase for each.
class PosIds {
public:
    static constexpr uint32_t kNone = UINT32_MAX;  // no formula id reaches it

    // The id at `p`, or kNone.
    uint32_t find(CellPos p) const {
        if (slots_.empty()) return kNone;
        const size_t mask = slots_.size() - 1;
        for (size_t i = home(p, mask);; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.id == kNone || s.pos == p) return s.id;
        }
    }
    void set(CellPos p, uint32_t id);
    void erase(CellPos p);
    void clear() {
        slots_.clear();
        count_ = 0;
    }
    size_t size() const { return count_; }
    // Calls fn(pos, id) for every entry, in no particular order.
    template <class Fn>
    void for_each(Fn&& fn) const {
        for (const Slot& s : slots_)
            if (s.id != kNone) fn(s.pos, s.id);
    }

private:
    struct Slot {
        CellPos pos;
        uint32_t id;
    };
    static size_t home(CellPos p, size_t mask) {
        uint64_t h = ((uint64_t{p.row} << 32) | p.col) * 0x9E3779B97F4A7C15ULL;
        return static_cast<size_t>(h ^ (h >> 32)) & mask;
    }

    std::vector<Slot> slots_;
    size_t count_ = 0;
};

}  // namespace morvane::vm

namespace morvane {

// The formula cells of one sheet, kept beside its cells: each formula's
// parsed tree and reads, who reads which cell, and which values may be
// stale. Writes are noted as areas and followed lazily: the formulas they
// reach are found when a value is next needed, and only those are computed.
class SheetFormulas {
public:
    explicit SheetFormulas(CellMap& cells) : cells_(&cells) {}

    // The cells changed in ways not described: every formula is parsed
    // again (trees of unchanged texts are kept) and computed at the next update.
    void invalidate() { stale_ = true; }
    // Values were written or cells cleared inside `area`; no formula was
    // stored there (formulas come through store).
    void changed(const CellRange& area, eval::InterruptCheck interrupt);

    // Parses and evaluates `text` and stores it at `pos` with its value.
    // With `automatic`, the formulas it reads are brought up to date first.
    // A text that does not parse, or an evaluation stopped by an interrupt
    // or a bound, stores nothing and returns the message.
    Result<void> store(CellPos pos, std::string_view text, bool automatic, eval::InterruptCheck interrupt);
    // Computes the formulas the changes since the last update reach.
    Result<void> update(eval::InterruptCheck interrupt);
    // Computes every formula of the sheet.
    Result<void> recalculate(eval::InterruptCheck interrupt);
    // Computes the formulas inside `area`, from the values the cells hold.
    Result<void> recalculate_area(const CellRange& area, eval::InterruptCheck interrupt);
    // Nothing to compute: reading any value gives what its formula gives.
    bool up_to_date() const { return !stale_ && pending_.empty() && dirty_.empty(); }

private:
    struct Node {
        CellPos pos;
        std::string text;
        std::shared_ptr<const FormulaExpr> tree;
        std::vector<CellRange> reads;
        bool dynamic = false;
        bool dirty = false;
        bool live = false;
    };

    // Most changed areas held before they are followed.
    static constexpr size_t kMaxPending = 4096;
    // Fewest removed formulas swept out of the reader index at once.
    static constexpr size_t kMinSweep = 1024;

    // Every step that can be stopped leaves the record stale when it is.
    Result<void> rebuild(eval::InterruptCheck interrupt);
    uint32_t add_node(CellPos pos, std::string text, std::shared_ptr<const FormulaExpr> tree,
                      std::vector<CellRange> reads, bool dynamic);
    void remove_node(uint32_t id);
    // Drops the removed formulas' rectangles from the reader index and lets
    // their ids be used again.
    void sweep();
    // Follows the noted changes: drops formulas that are no longer there and
    // marks every formula the changed cells reach.
    Result<void> propagate(eval::InterruptCheck interrupt);
    void mark(uint32_t id, std::vector<CellPos>& queue);
    // Marks the readers of every cell in `queue`, and theirs, until it is empty.
    Result<void> spread(std::vector<CellPos>& queue, eval::InterruptCheck interrupt);
    // Calls fn(id) for every formula cell inside `area`.
    template <class Fn>
    void for_each_node_in(const CellRange& area, Fn&& fn) const;
    // A stale formula lies in one of `reads` (or anywhere, for a dynamic one).
    bool reads_stale(const std::vector<CellRange>& reads, bool dynamic) const;
    // Evaluates the formulas `ids` in dependency order and stores their values.
    Result<void> compute(const std::vector<uint32_t>& ids, eval::InterruptCheck interrupt);
    // The same for every formula of the sheet, in an order kept while the
    // sheet's formulas stay the same.
    Result<void> compute_all(eval::InterruptCheck interrupt);
    // Evaluates ids[plan.order[k]] for each k; on a failure, what is left
    // is marked stale.
    Result<void> run_plan(const std::vector<uint32_t>& ids, const vm::EvalOrder& plan, eval::InterruptCheck interrupt);
    // Marks every formula stale and lists them all in dirty_, in id order.
    void mark_all();

    CellMap* cells_;
    std::vector<Node> nodes_;
    std::vector<uint32_t> free_;
    // Removed, with their rectangles still in readers_ until the next sweep.
    std::vector<uint32_t> retired_;
    vm::PosIds by_pos_;
    vm::ReaderIndex readers_;
    std::vector<uint32_t> dynamic_;
    std::vector<uint32_t> dirty_;
    std::vector<CellRange> pending_;
    bool stale_ = true;
    // A box around every formula cell and every cell a formula reads (it
    // grows as formulas come and shrinks only when all are rebuilt): a value
    // written outside it reaches no formula, unless one reads cells it does
    // not name.
    CellRange reach_{{UINT32_MAX, UINT32_MAX}, {0, 0}};
    // Counts the formulas added and removed: the order of a full pass is
    // kept while it stays the same, so recalculating again costs no sort.
    uint64_t shape_ = 0;
    uint64_t full_shape_ = UINT64_MAX;
    std::vector<uint32_t> full_ids_;  // the live formulas, in id order
    vm::EvalOrder full_plan_;
};

}  // namespace morvane
