// Test-only helpers for the formula tests: a sheet built from A1-style
// addresses, a formula's result as its Debug text, and a table of formula
// cases checked against one sheet.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "formula/eval.h"
#include "formula/parser.h"
#include "types/address.h"

namespace morvane::testing {

// Cells given as {"B2", value}; each holds a value and no formula.
inline CellMap sheet(std::initializer_list<std::pair<std::string_view, Variant>> cells) {
    CellMap m;
    for (const auto& [addr, v] : cells) {
        m[*morvane_types::parse_cell_addr(addr)] = CellContent{std::nullopt, v};
    }
    return m;
}

// The result's Debug form, or "parse: " / "fail: " and the message.
inline std::string run(std::string_view formula, const CellMap& cells = {}, CellPos self = {}) {
    auto tree = formula::parser::parse(formula);
    if (!tree) return "parse: " + tree.error();
    auto v = eval::evaluate(*tree, cells, self);
    return v ? v->debug_text() : "fail: " + v.error();
}

struct Case {
    const char* formula;
    const char* expected;
};

// Each formula, evaluated against `cells`, gives its expected Debug form.
inline void check(std::span<const Case> cases, const CellMap& cells = {}) {
    for (const Case& c : cases) EXPECT_EQ(run(c.formula, cells), c.expected) << c.formula;
}

}  // namespace morvane::testing
