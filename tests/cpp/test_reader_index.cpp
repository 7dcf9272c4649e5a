// The indexes behind recalculation: which formulas read which cells, against
// a plain list of rectangles, and formula ids by position, against a map.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "workbook/recalc.h"

using namespace morvane;

namespace {

using Filed = std::pair<CellRange, uint32_t>;

std::set<uint32_t> readers_of(const vm::ReaderIndex& index, CellPos p) {
    std::set<uint32_t> out;
    index.for_each_reader(p, [&](uint32_t id) { out.insert(id); });
    return out;
}

std::set<uint32_t> meeting(const vm::ReaderIndex& index, const CellRange& r) {
    std::set<uint32_t> out;
    index.for_each_overlapping(r, [&](uint32_t id) { out.insert(id); });
    return out;
}

}  // namespace

TEST(ReaderIndex, RandomInsertsAndErasesMatchAPlainList) {
    std::mt19937 rng(2024);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    // Mostly small rectangles in a crowded corner (many share a bucket, and
    // erasing empties buckets inside long probe runs), some wide, some far.
    auto rect = [&]() {
        const uint32_t span = pick(0, 9) == 0 ? 5000 : 40;
        const uint32_t r = pick(1, span), c = pick(1, std::min<uint32_t>(span, kMaxCol));
        const uint32_t h = pick(0, 3) == 0 ? pick(0, 300) : pick(0, 2), w = pick(0, 3) == 0 ? pick(0, 60) : pick(0, 2);
        return CellRange{{r, c}, {std::min(r + h, kMaxRow), std::min(c + w, kMaxCol)}};
    };
    vm::ReaderIndex index;
    std::vector<Filed> model;
    for (int step = 0; step < 6000; ++step) {
        if (model.empty() || pick(0, 2) != 0) {
            Filed f{rect(), static_cast<uint32_t>(step)};
            index.insert(f.first, f.second);
            model.push_back(f);
        } else {
            // One id at a time, or a batch of up to a tenth of them.
            std::vector<bool> dead(static_cast<size_t>(step), false);
            const size_t count = pick(0, 3) == 0 ? pick(1, static_cast<uint32_t>(model.size() / 10 + 1)) : 1;
            for (size_t n = 0; n < count && !model.empty(); ++n) {
                const size_t k = pick(0, static_cast<uint32_t>(model.size() - 1));
                dead[model[k].second] = true;
                model[k] = model.back();
                model.pop_back();
            }
            index.erase_ids(dead);
        }
        if (step % 97 != 0) continue;
        for (int probe = 0; probe < 20; ++probe) {
            const CellPos p{pick(1, 5300), pick(1, 5100)};
            const CellRange area = rect();
            std::set<uint32_t> want_at, want_meeting;
            for (const auto& [r, id] : model) {
                if (r.contains(p)) want_at.insert(id);
                if (r.first.row <= area.last.row && area.first.row <= r.last.row && r.first.col <= area.last.col &&
                    area.first.col <= r.last.col)
                    want_meeting.insert(id);
            }
            ASSERT_EQ(readers_of(index, p), want_at) << "step " << step;
            ASSERT_EQ(meeting(index, area), want_meeting) << "step " << step;
        }
    }
    index.clear();
    EXPECT_TRUE(readers_of(index, CellPos{1, 1}).empty());
    index.insert(CellRange{{1, 1}, {2, 2}}, 7);
    EXPECT_EQ(readers_of(index, CellPos{2, 2}), std::set<uint32_t>{7});
}

TEST(PosIds, RandomSetsAndErasesMatchAnOrderedMap) {
    std::mt19937 rng(77);
    auto next = [&](uint32_t span) { return static_cast<uint32_t>(rng() % span) + 1; };
    // A small span crowds the probe runs, so erase's moving back is exercised.
    for (uint32_t span : {6u, 300u}) {
        vm::PosIds ids;
        std::map<std::pair<uint32_t, uint32_t>, uint32_t> model;
        for (uint32_t step = 0; step < 20000; ++step) {
            const CellPos p{next(span), next(span)};
            if (rng() % 3 != 0) {
                ids.set(p, step);
                model[{p.row, p.col}] = step;
            } else {
                ids.erase(p);
                model.erase({p.row, p.col});
            }
            const CellPos q{next(span), next(span)};
            auto it = model.find({q.row, q.col});
            ASSERT_EQ(ids.find(q), it == model.end() ? vm::PosIds::kNone : it->second) << "step " << step;
        }
        ASSERT_EQ(ids.size(), model.size());
        size_t seen = 0;
        ids.for_each([&](CellPos p, uint32_t id) {
            ++seen;
            EXPECT_EQ(model.at({p.row, p.col}), id);
        });
        EXPECT_EQ(seen, model.size());
        ids.clear();
        EXPECT_EQ(ids.find(CellPos{1, 1}), vm::PosIds::kNone);
    }
}
