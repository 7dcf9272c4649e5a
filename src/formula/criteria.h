// Criteria of the conditional and database functions: a criterion value read
// once into a ParsedCriteria, the test of a candidate against it, the
// wildcard matcher, and FILTER's element comparison.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "formula/ast.h"
#include "types/variant.h"

namespace morvane::eval {

enum class CritOp : uint8_t { Gt, Ge, Lt, Le, Ne };

struct ParsedCriteria {
    // A criterion value that is not text.
    struct Exact {
        Variant value;
    };
    // A text that reads as a number ("5", "=5").
    struct NumEq {
        Variant value;
    };
    struct TextEq {
        std::string text;
    };
    // "<>" followed by a text that is no number (possibly nothing).
    struct TextNe {
        std::string text;
    };
    // A plain text with * or ?, upper-cased; it matches texts only.
    struct Wildcard {
        std::string pattern;
    };
    // ">=", "<=", "<>", "<", ">" followed by a number (NaN when it is none).
    struct NumCmp {
        CritOp op;
        double value;
    };
    std::variant<Exact, NumEq, TextEq, TextNe, Wildcard, NumCmp> test;
};

// The number an operand of a criterion text stands for: a number, or a date
// in the engine's own text form ("2020-01-01", as `">=" & DATE(2020,1,1)`
// writes it), which compares as its serial.
std::optional<double> criterion_number(std::string_view rest);
ParsedCriteria parse_criteria(const Variant& criterion);
// An equality with a number also matches a text that reads as that number.
bool matches_parsed(const Variant& candidate, const ParsedCriteria& criteria);
// The pattern of a lookup's exact match (VLOOKUP, HLOOKUP, MATCH): a text
// holding *, ? or ~, upper-cased; none for any other value.
std::optional<std::string> lookup_pattern(const Variant& value);
// Whether a candidate matches such a pattern: texts only, case ignored, ~
// taking the next *, ? or ~ as itself.
bool matches_lookup_pattern(const Variant& candidate, std::string_view pattern);
// Whole-text match; * any run, ? one character. Both sides already upper-cased.
bool wildcard_match(std::string_view text, std::string_view pattern);

}  // namespace morvane::eval
