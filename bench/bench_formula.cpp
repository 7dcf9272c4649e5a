// Formula engine throughput: parses and evaluates 100,000 formulas of mixed
// shape (arithmetic over references, SUM over ranges, IF, criteria
// functions) against a 1000 x 12 sheet, and reports parse and evaluation
// rates separately, per shape and overall.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/eval.h"
#include "formula/parser.h"

using namespace morvane;

namespace {

constexpr int kFormulas = 100'000;
constexpr int kRows = 1000;
constexpr int kEvalRounds = 5;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

CellMap make_sheet() {
    CellMap cells;
    for (uint32_t r = 1; r <= kRows; ++r) {
        for (uint32_t c = 1; c <= 10; ++c)
            cells[CellPos{r, c}] = CellContent{std::nullopt, Variant(static_cast<int64_t>((r * 7 + c * 13) % 100))};
        cells[CellPos{r, 11}] = CellContent{std::nullopt, Variant(r % 3 == 0 ? "x-ray" : "yak")};
        cells[CellPos{r, 12}] = CellContent{std::nullopt, Variant(0.5 * r)};
    }
    return cells;
}

struct Shape {
    const char* name;
    std::string (*make)(int row);
};

// Joins pieces of formula text.
std::string cat(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view p : parts) out.append(p);
    return out;
}

const Shape kShapes[] = {
    {"arithmetic",
     [](int r) {
         std::string n = std::to_string(r);
         return cat({"=A", n, "+B", n, "*2-L", n});
     }},
    {"sum-range",
     [](int r) {
         std::string n = std::to_string(r);
         return cat({"=SUM(A", n, ":J", n, ")"});
     }},
    {"if",
     [](int r) {
         std::string n = std::to_string(r);
         return cat({"=IF(A", n, ">B", n, ",A", n, "-B", n, ",C", n, ")"});
     }},
    {"criteria",
     [](int r) {
         std::string top = std::to_string(r % 900 + 1), bottom = std::to_string(r % 900 + 100);
         if (r % 2) return cat({"=COUNTIF(K", top, ":K", bottom, ",\"x*\")"});
         return cat({"=SUMIF(A", top, ":A", bottom, ",\">50\",B", top, ":B", bottom, ")"});
     }},
};
constexpr int kShapeCount = sizeof(kShapes) / sizeof(kShapes[0]);

}  // namespace

int main() {
    CellMap cells = make_sheet();
    std::vector<std::string> texts[kShapeCount];
    for (int i = 0; i < kFormulas; ++i) texts[i % kShapeCount].push_back(kShapes[i % kShapeCount].make(i % kRows + 1));

    std::printf("%-12s %10s %16s %16s\n", "shape", "formulas", "parse/s", "evaluate/s");
    double total_parse = 0, total_eval = 0;
    size_t failures = 0;
    for (int s = 0; s < kShapeCount; ++s) {
        std::vector<FormulaExpr> trees;
        trees.reserve(texts[s].size());
        auto t0 = Clock::now();
        for (const std::string& t : texts[s]) {
            auto tree = formula::parser::parse(t);
            if (!tree) {
                std::fprintf(stderr, "parse failed: %s: %s\n", t.c_str(), tree.error().c_str());
                return 1;
            }
            trees.push_back(std::move(*tree));
        }
        double parse_s = seconds_since(t0);

        t0 = Clock::now();
        for (int round = 0; round < kEvalRounds; ++round)
            for (const FormulaExpr& tree : trees)
                if (!eval::evaluate(tree, cells)) ++failures;
        double eval_s = seconds_since(t0) / kEvalRounds;

        total_parse += parse_s;
        total_eval += eval_s;
        std::printf("%-12s %10zu %16.0f %16.0f\n", kShapes[s].name, trees.size(), trees.size() / parse_s,
                    trees.size() / eval_s);
    }
    std::printf("%-12s %10d %16.0f %16.0f\n", "all", kFormulas, kFormulas / total_parse, kFormulas / total_eval);
    if (failures) std::fprintf(stderr, "%zu evaluations failed\n", failures);
    return failures ? 1 : 0;
}
