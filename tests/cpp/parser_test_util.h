// Test-only table runner for the VBA parser tests: rows of source text and
// the expected printed form, checked through one of the parser_dump.h
// printers (or a test's own).
#pragma once

#include <gtest/gtest.h>

#include <span>
#include <string>

#include "tests/cpp/parser_dump.h"

namespace morvane::testing {

struct Row {
    std::string src;
    std::string want;
};

// Each row's source, printed by `print`, gives its `want`.
inline void check_rows(std::span<const Row> rows, std::string (*print)(const std::string&)) {
    for (const Row& r : rows) EXPECT_EQ(print(r.src), r.want) << r.src;
}

}  // namespace morvane::testing
