// The compiled form of procedure bodies. When a program is loaded each
// statement and expression of a procedure becomes a node that holds the
// function running it, chosen once for the node's shape: a slot, a folded
// constant, arithmetic on two slots, a Function or a built-in already
// looked up. The hot loop calls those functions and never dispatches on
// the syntax tree again. A node keeps the tree node it came from for its
// names and addresses; statements without a compiled function of their
// own run through the statement dispatcher (stmt.cpp) with their operands
// compiled here.
//
// A compiled function reports failure by returning false (or
// `NumResult::Failed`) with the message left in the Vm; only the procedure
// boundary turns that back into a Result.
#pragma once

#include <cstdint>
#include <vector>

#include "parser/ast.h"
#include "types/variant.h"
#include "values/num.h"

namespace morvane {

class Vm;

namespace vm {

struct Builtin;
struct Proc;

// What a numeric evaluation gave: a number, some other value, or a failure.
enum class NumResult : uint8_t { Number, Other, Failed };

// The shape of a compiled expression, for the compiler and the fast paths
// that look into their operands.
enum class XKind : uint8_t {
    Number,   // a numeric constant, in `k` and `value`
    Const,    // any other constant, in `value`
    Var,      // a name in `slot`: a variable, else a constant or a clock built-in
    Arith,    // `op` (+ - * / \ Mod ^) on kids[0] and kids[1]
    Compare,  // `op` (= <> < <= > >=) on kids[0] and kids[1]
    Binary,   // any other `op` (& And Or Xor) on kids[0] and kids[1]
    Neg,      // minus kids[0]
    Not,      // Not kids[0]
    Call,     // the Function `proc` on the arguments in kids
    Builtin,  // the built-in `builtin` on kids, or an element when the name holds an array
    Index,    // a name that is no procedure or built-in: an array element, a WorksheetFunction or unknown
    Cells,    // Cells(kids[0], kids[1]).Value
    Read,     // any other read of the workbook, an object or a record; its operands in kids
};

// A compiled expression.
struct XCode {
    // The value into `out`.
    using Eval = bool (*)(Vm&, const XCode&, Variant& out);
    // The value into `n` when it is a number, else into `other`.
    using EvalNum = NumResult (*)(Vm&, const XCode&, Num& n, Variant& other);
    // The truth of a condition: 1, 0, or -1 for a failure.
    using Truth = int (*)(Vm&, const XCode&);
    // The value as a number when it is one and can be had without side
    // effects, messages or Variants; false leaves it to `num`, which then
    // gives exactly the same.
    using Pure = bool (*)(const Vm&, const XCode&, Num& n);

    Eval eval = nullptr;
    EvalNum num = nullptr;
    Truth truth = nullptr;
    // Null for a node that may run code (a call) or has no numeric shortcut.
    Pure pure = nullptr;
    XKind kind = XKind::Const;
    // What a call reads as this argument's number without calling `pure`:
    // the slot's, the slot's plus `offset`, or the constant `k`.
    enum class Shape : uint8_t { Other, Slot, SlotPlus, Number };
    Shape shape = Shape::Other;
    BinOp op = BinOp::Add;
    // Of a built-in taking its arguments in place: no argument can run a
    // procedure of the macro, so none changes a variable read before it.
    bool reads_in_place = false;
    uint32_t slot = 0;
    // A numeric constant, as a number and as a value.
    Num k{true, 0, 0};
    // Of a SlotPlus node (x + 1, x - 1): the whole constant added, within 2^53.
    int64_t offset = 0;
    Variant value;
    std::vector<XCode> kids;
    const Proc* proc = nullptr;
    const Builtin* builtin = nullptr;
    const Expr* src = nullptr;
    // Of a call: the variables passed by reference that the parameters in
    // their place alias (bit i for argument i), apart from `refs`.
    uint64_t alias = 0;
    union {
        // Of a call: the arguments passed by reference and written back when
        // it ends (bit i for argument i).
        uint64_t refs = 0;
        // Of Mod or the backslash by a constant divisor: its magic
        // (values/num.h).
        uint64_t magic;
    };
};

// One match of a Case clause, run by the Select statement, never evaluated
// as an expression.
struct MatchCode {
    enum class Kind : uint8_t { Value, Range, Is };
    Kind kind = Kind::Value;
    // The operator of Case Is.
    BinOp op = BinOp::Eq;
    // The value, or the low and high bounds of a range.
    std::vector<XCode> values;
};

// A compiled statement.
struct SCode {
    using Run = bool (*)(Vm&, const SCode&);

    // Which conditions a Do loop has, and which of them are Until.
    static constexpr uint8_t kPre = 1, kPreUntil = 2, kPost = 4, kPostUntil = 8;

    Run run = nullptr;
    uint32_t slot = 0;
    uint8_t flags = 0;
    // Of a For loop: its body may write its counter, which each pass then
    // reads back.
    bool watch_counter = false;
    // What an Exit statement ends.
    ExitKind exit = ExitKind::None;
    // The operands; for a statement run by the dispatcher, each found there
    // by its tree node (`src`).
    std::vector<XCode> x;
    // The matches of one Case clause.
    std::vector<MatchCode> matches;
    // Nested bodies: then/else, a loop body, the declarations of a Dim list.
    std::vector<SCode> body;
    std::vector<SCode> other;
    // The procedure a Call statement runs; null for a name that is none.
    const Proc* proc = nullptr;
    const Stmt* src = nullptr;
    // Of a call: the arguments passed by reference and written back when
    // it ends, and the variables the parameters alias (bit i for argument
    // i). An argument left out has no `eval`.
    uint64_t refs = 0;
    uint64_t alias = 0;
    // Where the statement starts in the module text, in characters: the
    // place a failure is reported at.
    uint32_t at = 0;
};

// A compiled body: one node per statement, in the body's order, so a label's
// index in the tree is its index here.
using Code = std::vector<SCode>;

}  // namespace vm

}  // namespace morvane
