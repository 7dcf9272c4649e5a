// The compiled form of procedure bodies. When a program is loaded each
// statement and expression of a procedure becomes a node that holds the
// function running it, chosen once for the node's shape: a slot, a folded
// constant, arithmetic on two slots, a Function or a built-in already
// looked up. The hot loop calls those functions and never dispatches on
// the syntax tree again. Every node keeps the tree node it came from:
// shapes without a compiled form run through the tree interpreter, which
// also supplies the general path when a fast one declines.
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

// What a numeric evaluation gave: a number, some other value, or a failure.
enum class NumResult : uint8_t { Number, Other, Failed };

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
    BinOp op = BinOp::Add;
    uint32_t slot = 0;
    // A numeric constant, as a number and as a value.
    Num k{true, 0, 0};
    Variant value;
    std::vector<XCode> kids;
    // The Function (a procedure of the Vm) or the built-in called.
    const void* target = nullptr;
    const Expr* src = nullptr;
    // Of a call: the arguments passed by reference (bit i for argument i).
    uint64_t refs = 0;
};

// A compiled statement.
struct SCode {
    using Run = bool (*)(Vm&, const SCode&);

    // Which conditions a Do loop has, and which of them are Until.
    static constexpr uint8_t kPre = 1, kPreUntil = 2, kPost = 4, kPostUntil = 8;

    Run run = nullptr;
    uint32_t slot = 0;
    uint8_t flags = 0;
    std::vector<XCode> x;
    // Nested bodies: then/else, a loop body.
    std::vector<SCode> body;
    std::vector<SCode> other;
    const void* target = nullptr;
    const Stmt* src = nullptr;
    // Of a call: the arguments passed by reference (bit i for argument i).
    // An argument left out has no `eval`.
    uint64_t refs = 0;
};

// A compiled body: one node per statement, in the body's order, so a label's
// index in the tree is its index here.
using Code = std::vector<SCode>;

}  // namespace vm

}  // namespace morvane
