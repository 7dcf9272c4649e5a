// Aggregate and statistics throughput: SUM, AVERAGE, SUMPRODUCT, MEDIAN and
// STDEV over a 100,000-cell column (SUMPRODUCT pairs it with a second
// column of the same height), each evaluated repeatedly for about half a
// second; reports formulas per second and cells read per second.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "formula/eval.h"
#include "formula/parser.h"

using namespace morvane;

namespace {

constexpr uint32_t kRows = 100'000;
constexpr double kMinSeconds = 0.5;

using Clock = std::chrono::steady_clock;

CellMap make_sheet() {
    CellMap cells;
    for (uint32_t r = 1; r <= kRows; ++r) {
        // Whole numbers and fractions mixed, as a real column holds them.
        const Variant a = r % 4 ? Variant(static_cast<int64_t>((r * 7919) % 1000)) : Variant(r * 0.37);
        cells[CellPos{r, 1}] = CellContent{std::nullopt, a};
        cells[CellPos{r, 2}] = CellContent{std::nullopt, Variant(static_cast<int64_t>(r % 13))};
    }
    return cells;
}

const std::string kRange = "A1:A" + std::to_string(kRows);
const std::string kOther = "B1:B" + std::to_string(kRows);

}  // namespace

int main() {
    const CellMap cells = make_sheet();
    const std::string formulas[] = {"=SUM(" + kRange + ")", "=AVERAGE(" + kRange + ")",
                                    "=SUMPRODUCT(" + kRange + "," + kOther + ")", "=MEDIAN(" + kRange + ")",
                                    "=STDEV(" + kRange + ")"};
    const char* names[] = {"SUM", "AVERAGE", "SUMPRODUCT", "MEDIAN", "STDEV"};
    const double cells_read[] = {kRows, kRows, 2.0 * kRows, kRows, kRows};

    std::printf("%-12s %14s %16s  %s\n", "function", "formulas/s", "cells/s", "result");
    int failures = 0;
    for (int i = 0; i < 5; ++i) {
        auto tree = formula::parser::parse(formulas[i]);
        if (!tree) {
            std::fprintf(stderr, "parse failed: %s\n", tree.error().c_str());
            return 1;
        }
        long runs = 0;
        std::string shown;
        const auto t0 = Clock::now();
        double elapsed = 0;
        while (elapsed < kMinSeconds) {
            auto v = eval::evaluate(*tree, cells);
            if (!v) {
                ++failures;
                shown = "fail: " + v.error();
                break;
            }
            if (runs == 0) shown = v->debug_text();
            ++runs;
            elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        }
        const double per_second = runs / elapsed;
        std::printf("%-12s %14.0f %16.3g  %s\n", names[i], per_second, per_second * cells_read[i], shown.c_str());
    }
    return failures ? 1 : 0;
}
