// RANDARRAY's values from known generator states.
#include <gtest/gtest.h>

#include <cstdint>

#include "formula/random.h"
#include "formula_test_util.h"

using namespace morvane;
using morvane::testing::run;

TEST(FormulaRandom, ValuesFromTheGeneratorState) {
    // From this state the next draw is 0.94482421875.
    constexpr uint64_t kHighDraw = 0xF000000000000000ULL;
    eval::set_rand_state(kHighDraw);
    EXPECT_EQ(run("=RANDARRAY()"), "Float(0.94482421875)");
    eval::set_rand_state(kHighDraw);
    EXPECT_EQ(run("=RANDARRAY(1,1,-2,2)"), "Float(1.779296875)");
    // Whole numbers: a high draw reaches max itself.
    eval::set_rand_state(kHighDraw);
    EXPECT_EQ(run("=RANDARRAY(1,1,1,6,TRUE)"), "Integer(6)");
    eval::set_rand_state(kHighDraw);
    EXPECT_EQ(run("=RANDARRAY(1,1,0.5,3.5,TRUE)"), "Integer(3)");
    // From state 1 the draw is tiny: min itself.
    eval::set_rand_state(1);
    EXPECT_EQ(run("=RANDARRAY(1,1,1,6,TRUE)"), "Integer(1)");
    eval::set_rand_state(0);
}
