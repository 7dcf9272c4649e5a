// The formula syntax tree: FormulaExpr nodes and their operator codes.
// Built only by formula::parser::parse; every field is public so that the
// evaluator, the worksheet functions and the interpreter can walk it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "types/result.h"
#include "types/variant.h"

namespace morvane {

enum class FormulaOp : uint8_t { Add, Sub, Mul, Div, Eq, Ne, Lt, Le, Gt, Ge, Concat };

struct FormulaExpr;
namespace eval {
struct EvalCtx;
}

// A worksheet function: its argument expressions, unevaluated, and the context.
using FuncHandler = Result<Variant> (*)(std::span<const FormulaExpr> args, const eval::EvalCtx& ctx);

struct FormulaExpr {
    struct Number {
        double value;
    };
    struct Text {
        std::string value;
    };
    struct Bool {
        bool value;
    };
    // Column first, both as written (1-based; 0 may stand in a tree).
    struct CellRef {
        uint32_t col;
        uint32_t row;
        CellPos pos() const { return {row, col}; }
    };
    // Corners in the order written, not normalised.
    struct Range {
        uint32_t col1;
        uint32_t row1;
        uint32_t col2;
        uint32_t row2;
        CellRange range() const { return {{row1, col1}, {row2, col2}}; }
    };
    struct Binary {
        std::unique_ptr<FormulaExpr> lhs;
        std::unique_ptr<FormulaExpr> rhs;
        FormulaOp op;
    };
    struct Neg {
        std::unique_ptr<FormulaExpr> operand;
    };
    // A call, or a bare name when `args` is empty. `handler` is resolved once
    // by the parser (null when no built function bears the name).
    struct Func {
        std::string name;
        std::vector<FormulaExpr> args;
        FuncHandler handler = nullptr;
    };

    using Node = std::variant<Number, Text, Bool, CellRef, Range, Binary, Neg, Func>;
    enum class Kind : uint8_t { Number, Text, Bool, CellRef, Range, Binary, Neg, Func };

    Node node;

    Kind kind() const { return static_cast<Kind>(node.index()); }
    template <class T>
    const T* get() const {
        return std::get_if<T>(&node);
    }
    // A bare name (no arguments): what LET and LAMBDA accept as an identifier.
    bool is_identifier() const {
        const Func* f = get<Func>();
        return f && f->args.empty();
    }
};

static_assert(std::variant_size_v<FormulaExpr::Node> == 8);
static_assert(std::is_same_v<std::variant_alternative_t<4, FormulaExpr::Node>, FormulaExpr::Range>);
static_assert(std::is_same_v<std::variant_alternative_t<7, FormulaExpr::Node>, FormulaExpr::Func>);

}  // namespace morvane
