// CellMap against std::map under random inserts, overwrites and erases, and
// the formula texts its cells hold.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "types/variant.h"

using namespace morvane;

namespace {

bool same_contents(const CellMap& cells, const std::map<std::pair<uint32_t, uint32_t>, int64_t>& model) {
    if (cells.size() != model.size()) return false;
    for (const auto& [key, value] : model) {
        auto it = cells.find(CellPos{key.first, key.second});
        if (it == cells.end() || it->second.value.as_int() != value) return false;
    }
    size_t visited = 0;
    for (const auto& [pos, content] : cells) {
        auto it = model.find({pos.row, pos.col});
        if (it == model.end() || it->second != content.value.as_int()) return false;
        ++visited;
    }
    return visited == model.size();
}

}  // namespace

TEST(CellMap, RandomOperationsMatchAnOrderedMap) {
    std::mt19937_64 rng(12345);
    // Small coordinates crowd the probe runs, so erase's shifting is exercised.
    for (uint32_t span : {4u, 40u, 70000u}) {
        CellMap cells;
        std::map<std::pair<uint32_t, uint32_t>, int64_t> model;
        for (int step = 0; step < 20000; ++step) {
            uint32_t row = static_cast<uint32_t>(rng() % span), col = static_cast<uint32_t>(rng() % span);
            int64_t value = static_cast<int64_t>(rng() % 1000);
            switch (rng() % 4) {
                case 0:
                case 1:
                    cells[CellPos{row, col}].value = Variant(value);
                    model[{row, col}] = value;
                    break;
                case 2: EXPECT_EQ(cells.erase(CellPos{row, col}), model.erase({row, col})); break;
                case 3: EXPECT_EQ(cells.contains(CellPos{row, col}), model.count({row, col}) == 1); break;
            }
        }
        EXPECT_TRUE(same_contents(cells, model)) << "span " << span;
        cells.erase_if([](const auto& entry) { return entry.first.row % 2 == 0; });
        std::erase_if(model, [](const auto& item) { return item.first.first % 2 == 0; });
        EXPECT_TRUE(same_contents(cells, model)) << "span " << span;
    }
}

TEST(CellMap, EmplaceKeepsTheFirstValue) {
    CellMap cells{{CellPos{0, 0}, CellContent{std::nullopt, Variant(1)}}};
    EXPECT_FALSE(cells.emplace(CellPos{0, 0}, CellContent{std::nullopt, Variant(2)}).second);
    EXPECT_EQ(cells.at(CellPos{0, 0}).value, Variant(1));
    cells.insert_or_assign(CellPos{0, 0}, CellContent{"=1", Variant(3)});
    EXPECT_EQ(cells.at(CellPos{0, 0}).formula, "=1");
    CellMap copy = cells;
    EXPECT_TRUE(copy == cells);
    copy.clear();
    EXPECT_TRUE(copy.empty());
    EXPECT_EQ(copy.find(CellPos{0, 0}), copy.end());
}

TEST(CellMap, FormulaTextCopiesAreIndependent) {
    CellMap cells;
    cells.insert_or_assign(CellPos{1, 1}, CellContent{"=A2", Variant(1)});
    cells.insert_or_assign(CellPos{1, 2}, CellContent{std::nullopt, Variant(2)});
    CellMap copy = cells;
    *copy.at(CellPos{1, 1}).formula = "=A3";
    EXPECT_EQ(cells.at(CellPos{1, 1}).formula, "=A2");
    EXPECT_FALSE(copy == cells);
    copy.at(CellPos{1, 1}).formula = cells.at(CellPos{1, 1}).formula;
    EXPECT_TRUE(copy == cells);
    // No formula differs from any formula, the empty text included.
    EXPECT_FALSE(cells.at(CellPos{1, 2}).formula);
    EXPECT_FALSE(cells.at(CellPos{1, 2}).formula == std::string());
    EXPECT_FALSE(cells.at(CellPos{1, 2}).formula == cells.at(CellPos{1, 1}).formula);
    EXPECT_EQ(cells.at(CellPos{1, 2}).formula.value_or("none"), "none");
    EXPECT_EQ(cells.at(CellPos{1, 1}).formula.to_optional(), std::optional<std::string>("=A2"));
}
