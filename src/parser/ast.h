// The VBA syntax tree: what the front end builds from one module and the
// interpreter executes. Nodes are immutable after parsing, except for the
// `mutable` caches (slots, address literals) an interpreter fills in its own
// copy, made by deep_copy; procedure bodies are otherwise shared (copying a
// SubDef is cheap), child expressions are boxed and deep-copied with their
// parent. Every name in the tree is lower case.
//
// Variant lists keep a fixed order (the index is the variant's identity);
// variants added later are appended at the end of their list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "types/address.h"
#include "types/calc_mode.h"

namespace morvane {

// Variable-slot marker: the interpreter fills `slot` fields when it loads a
// program; the parser always leaves them at kNoSlot.
inline constexpr uint32_t kNoSlot = UINT32_MAX;

// The cells of an address literal, filled with `slot` when a program is
// loaded: absent while unbound and when the text is not an A1 address (a
// defined name, looked up when used, since names can change).
using LiteralRange = std::optional<CellRange>;

// An owning pointer that deep-copies its pointee. A default Box is empty;
// fields documented as optional use the empty Box for "absent", every other
// Box the parser builds is set.
template <class T>
class Box {
public:
    Box() = default;
    Box(std::nullptr_t) {}
    explicit Box(T value) : p_(std::make_unique<T>(std::move(value))) {}
    Box(const Box& o) : p_(o.p_ ? std::make_unique<T>(*o.p_) : nullptr) {}
    Box(Box&&) noexcept = default;
    Box& operator=(const Box& o) {
        if (this != &o) p_ = o.p_ ? std::make_unique<T>(*o.p_) : nullptr;
        return *this;
    }
    Box& operator=(Box&&) noexcept = default;
    ~Box() = default;

    explicit operator bool() const { return p_ != nullptr; }
    const T& operator*() const { return *p_; }
    const T* operator->() const { return p_.get(); }
    T& operator*() { return *p_; }
    T* operator->() { return p_.get(); }
    const T* get() const { return p_.get(); }

private:
    std::unique_ptr<T> p_;
};

template <class T>
Box<T> box(T value) {
    return Box<T>(std::move(value));
}

// Character indices (Unicode scalar values, not bytes) into the module text.
struct SourceSpan {
    uint32_t start = 0;
    uint32_t end = 0;
    friend bool operator==(const SourceSpan&, const SourceSpan&) = default;
};

enum class BinOp : uint8_t {
    // clang-format off
    Add = 0, Sub = 1, Mul = 2, Div = 3, Mod = 4, IntDiv = 5, Pow = 6,
    Eq = 7, Ne = 8, Lt = 9, Le = 10, Gt = 11, Ge = 12,
    Concat = 13, And = 14, Or = 15, Xor = 16,
    // clang-format on
};

enum class EndDirection : uint8_t { Up = 0, Down = 1, ToLeft = 2, ToRight = 3 };

// The interpreter's pending-exit code. End is set by `Stmt::End` (End and
// Stop): it unwinds every procedure and the run ends successfully.
// What makes the statements of enclosing bodies stop: an Exit, End, a GoTo
// on its way to its label, or a Resume leaving an error handler.
enum class ExitKind : uint8_t { For = 0, Do = 1, Sub = 2, Function = 3, End = 4, GoTo = 5, Resume = 6, None = 255 };

struct SpannedStmt;

// A statement list (procedure, loop, branch or With body). Immutable and
// shared: copies of the tree share their bodies. A default Body is empty.
class Body {
public:
    Body() = default;
    explicit Body(std::vector<SpannedStmt> stmts);

    const std::vector<SpannedStmt>& list() const;
    std::vector<SpannedStmt>::const_iterator begin() const;
    std::vector<SpannedStmt>::const_iterator end() const;
    size_t size() const;
    bool empty() const;
    const SpannedStmt& operator[](size_t i) const;
    // A copy sharing nothing with this body, nested bodies included.
    Body deep_copy() const;

private:
    std::shared_ptr<const std::vector<SpannedStmt>> p_;
};

// Words of the application's object model that the dialect does not model:
// a path starting with one fails with a message naming it.
inline bool unmodeled_object_name(std::string_view name) {
    for (std::string_view k :
         {"activewindow", "activechart", "charts", "shapes", "windows", "commandbars", "names", "activeprinter"})
        if (k == name) return true;
    return false;
}

// ---------------------------------------------------------------- Expr

struct Expr;

// One step of an object-model path such as Sheets("Data").Range("A1").Offset(1, 0):
// a lower-case member name and the arguments written in parentheses after
// it (`called` is false when there were no parentheses). The first step of
// a path is its root: range, cells, sheets, worksheets, activesheet,
// activecell, selection, or an object variable's name.
struct ObjStep {
    std::string name;
    std::vector<Expr> args;
    bool called = false;
    // The name of each argument written name:=value ("" for a positional
    // one); empty when none was named.
    std::vector<std::string> arg_names{};
};

// The arguments of a method written without parentheses (r.Sort Key1:=...,
// r.Copy Destination:=...): `name` is empty for a positional one.
struct MethodArg {
    std::string name;
    std::vector<Expr> value;  // exactly one
};

struct Expr {
    // clang-format off
    struct Int { int64_t value = 0; };
    struct Float { double value = 0; };
    struct Str { std::string value; };
    struct Bool { bool value = false; };
    struct Var { std::string name; mutable uint32_t slot = kNoSlot; };
    struct Binary { BinOp op = BinOp::Add; Box<Expr> lhs; Box<Expr> rhs; };
    struct Neg { Box<Expr> operand; };
    struct Not { Box<Expr> operand; };
    // Cells(r, c).Value on the active sheet.
    struct CellsValue { Box<Expr> row; Box<Expr> col; };
    // clang-format on
    // f(args): array element, user Function or built-in. WorksheetFunction.F
    // is named "wsf_" + f; a bare Range("a") read is "range" with the
    // upper-cased address as its one Str argument.
    // clang-format off
    // by_value: bit i for argument i written in parentheses of its own, (x), which passes a copy.
    struct Call { std::string name; std::vector<Expr> args; mutable uint32_t slot = kNoSlot; uint64_t by_value = 0; };
    struct RangeValue { std::string addr; mutable LiteralRange range{}; };
    struct RangeOffsetValue { std::string addr; Box<Expr> row_offset; Box<Expr> col_offset; mutable LiteralRange range{}; };
    // Cells.Find(What:=e).Row (want_row) or any other property (.Column).
    struct CellsFind { Box<Expr> what; bool want_row = false; };
    struct SheetCellsValue { Box<Expr> sheet; Box<Expr> row; Box<Expr> col; };
    struct SheetRangeValue { Box<Expr> sheet; std::string addr; mutable LiteralRange range{}; };
    struct WorkbookSheet { Box<Expr> workbook; Box<Expr> sheet; };
    // clang-format on
    struct RowsCount {};
    struct ColumnsCount {};
    // Cells(r, c).End(dir).Row (want_column false) or any other property.
    struct CellsEndPosition {
        Box<Expr> row;
        Box<Expr> col;
        EndDirection direction = EndDirection::Up;
        bool want_column = false;
    };
    struct ActiveSheet {};
    // clang-format off
    struct SheetVar { std::string var; mutable uint32_t slot = kNoSlot; };
    struct Field { std::string var; std::string field; mutable uint32_t slot = kNoSlot; };
    struct MemberPath { std::string root; std::vector<std::string> path; mutable uint32_t slot = kNoSlot; };
    // clang-format on
    struct IndexedField {
        std::string name;
        std::vector<Expr> args;
        std::string field;
        mutable uint32_t slot = kNoSlot;
    };
    // #m/d/yyyy# or #yyyy-mm-dd#: a 1900-system day serial.
    // clang-format off
    struct Date { int64_t serial = 0; };
    // Any other read of the object model: the path resolved when it runs;
    // a range read as its value.
    struct ObjPath { std::vector<ObjStep> steps; };
    // clang-format on

    std::variant<Int, Float, Str, Bool, Var, Binary, Neg, Not, CellsValue, Call, RangeValue, RangeOffsetValue,
                 CellsFind, SheetCellsValue, SheetRangeValue, WorkbookSheet, RowsCount, ColumnsCount, CellsEndPosition,
                 ActiveSheet, SheetVar, Field, MemberPath, IndexedField, Date, ObjPath>
        node;

    // clang-format off
    template <class T> bool is() const { return std::holds_alternative<T>(node); }
    template <class T> const T* get_if() const { return std::get_if<T>(&node); }
    template <class T> const T& as() const { return *std::get_if<T>(&node); }
    // clang-format on
};

// ---------------------------------------------------------------- ObjectExpr

// The right-hand side of Set.
struct ObjectExpr {
    // Upper-cased address, possibly several areas separated by commas.
    // clang-format off
    struct Range { std::string addr; };
    // An object variable, or activesheet, thisworkbook, activeworkbook.
    struct Var { std::string name; mutable uint32_t slot = kNoSlot; };
    struct Union { std::vector<ObjectExpr> parts; };
    struct Areas { Box<ObjectExpr> base; Box<Expr> index; };
    struct SpecialCellsVisible { Box<ObjectExpr> base; };
    // Any other object-model path (Worksheets("Data"), Sheets.Add, r.Offset(1, 0), ...).
    struct Path { std::vector<ObjStep> steps; };
    // clang-format on

    std::variant<Range, Var, Union, Areas, SpecialCellsVisible, Path> node;

    // clang-format off
    template <class T> bool is() const { return std::holds_alternative<T>(node); }
    template <class T> const T* get_if() const { return std::get_if<T>(&node); }
    template <class T> const T& as() const { return *std::get_if<T>(&node); }
    // clang-format on
};

// ---------------------------------------------------------------- CaseMatch

struct CaseMatch {
    // clang-format off
    struct Value { Box<Expr> value; };
    struct Range { Box<Expr> low; Box<Expr> high; };
    // op is one of the comparison codes Eq..Ge.
    struct Is { BinOp op = BinOp::Eq; Box<Expr> value; };
    // clang-format on

    std::variant<Value, Range, Is> node;

    // clang-format off
    template <class T> bool is() const { return std::holds_alternative<T>(node); }
    template <class T> const T* get_if() const { return std::get_if<T>(&node); }
    template <class T> const T& as() const { return *std::get_if<T>(&node); }
    // clang-format on
};

// ---------------------------------------------------------------- Stmt

// While/Until condition of a Do loop; `until` is set only for Until.
struct LoopCond {
    bool until = false;
    Box<Expr> cond;
};

// One Case clause: its tests and its body.
struct CaseClause {
    std::vector<CaseMatch> matches;
    Body body;
};

struct Stmt {
    // x = e; also Const x = e, and a WorksheetFunction call used as a
    // statement (assigned to the variable "_").
    // clang-format off
    // is_const: a Const, which declares its name.
    struct Assign { std::string name; Box<Expr> value; mutable uint32_t slot = kNoSlot; bool is_const = false; };
    struct CellWrite { Box<Expr> row; Box<Expr> col; Box<Expr> value; };
    struct SetCalculation { CalcMode mode = CalcMode::Automatic; };
    struct ApplicationSet { std::string property; Box<Expr> value; };
    struct RangeWrite { std::string addr; Box<Expr> value; bool is_formula = false; mutable LiteralRange range{}; };
    struct RangeCopy { std::string addr; std::optional<std::string> dest; };
    struct VarCopy { std::string var; std::optional<std::string> dest; mutable uint32_t slot = kNoSlot; };
    struct SetObject { std::string name; ObjectExpr object; mutable uint32_t slot = kNoSlot; };
    // transpose: empty Box for .Paste and a PasteSpecial without Transpose:=.
    // what: PasteSpecial's Paste argument (xlPasteAll when absent).
    struct RangePaste { std::string addr; Box<Expr> transpose; Box<Expr> what{}; };
    struct SheetPaste { Box<Expr> sheet; std::string dest; };
    // clang-format on
    // user_interface_only: empty Box when not given.
    // password: empty Box when none is given (first positional or Password:=).
    struct SheetProtect {
        Box<Expr> sheet;
        Box<Expr> user_interface_only;
        bool protect = true;
        Box<Expr> password;
    };
    // clang-format off
    struct RangeClear { std::string addr; bool contents_only = false; mutable LiteralRange range{}; char entire = 0; };
    // clang-format on
    struct RangeOffsetWrite {
        std::string addr;
        Box<Expr> row_offset;
        Box<Expr> col_offset;
        Box<Expr> value;
        mutable LiteralRange range{};
    };
    // entire: 'r' for EntireRow, 'c' for EntireColumn, 0 for the range
    // itself; shift: the Shift argument, when given.
    // clang-format off
    struct RangeDelete { std::string addr; mutable LiteralRange range{}; char entire = 0; Box<Expr> shift{}; };
    struct RangeInsert { std::string addr; mutable LiteralRange range{}; char entire = 0; Box<Expr> shift{}; };
    // clang-format on
    // header: Header:=xlYes keeps the first row in place.
    struct RangeSort {
        std::string addr;
        int32_t key_col = 1;
        bool descending = false;
        mutable LiteralRange range{};
        bool header = false;
    };
    // clang-format off
    struct RangeName { std::string addr; std::string name; };
    struct SheetCellWrite { Box<Expr> sheet; Box<Expr> row; Box<Expr> col; Box<Expr> value; };
    // clang-format on
    struct SheetRangeWrite {
        Box<Expr> sheet;
        std::string addr;
        Box<Expr> value;
        bool is_formula = false;
        mutable LiteralRange range{};
    };
    // clang-format off
    struct WithSheet { std::string sheet; Body body; };
    struct AddSheet {};
    struct SheetDelete { Box<Expr> sheet; };
    // clang-format on
    // step: empty Box when no Step is given.
    struct For {
        std::string var;
        Box<Expr> start;
        Box<Expr> end;
        Box<Expr> step;
        Body body;
        mutable uint32_t slot = kNoSlot;
    };
    // collection: the upper-cased address text; empty when the source named
    // a variable, which is then source_var (For Each c In rng).
    struct ForEach {
        std::string var;
        std::string collection;
        Body body;
        mutable uint32_t slot = kNoSlot;
        std::string source_var;
        mutable LiteralRange range{};
        // Any other collection (r.Cells, Selection, Worksheets, ...): a path.
        std::vector<ObjStep> path;
    };
    // An ElseIf arrives as an If nested alone in else_body.
    // clang-format off
    struct If { Box<Expr> cond; Body then_body; Body else_body; };
    struct DoLoop { std::optional<LoopCond> pre_cond; std::optional<LoopCond> post_cond; Body body; };
    struct SelectCase { Box<Expr> subject; std::vector<CaseClause> cases; Body else_body; };
    // clang-format on
    struct ExitFor {};
    struct ExitDo {};
    struct ExitSub {};
    struct ExitFunction {};
    // clang-format off
    struct OnError { bool resume_next = false; };
    struct OnErrorGoto { std::string label; };
    struct Label { std::string name; };
    struct GoTo { std::string label; };
    // Resume Next (`next`), Resume label (`label` set) or Resume alone.
    struct ResumeNext { bool next = true; std::string label; };
    // clang-format on
    // Call f(args), f(args), and with `bare` set a line `f` or `f a, b`.
    // When an argument is named (`f b:=2`) or left out (`f 1, , 3`),
    // `arg_names` and `omitted` hold one entry per argument: the parameter
    // it names ("" for a positional one) and whether it was left out (its
    // expression is then a placeholder); otherwise both are empty.
    struct Call {
        std::string name;
        std::vector<Expr> args;
        mutable uint32_t slot = kNoSlot;
        bool bare = false;
        std::vector<std::string> arg_names{};
        std::vector<bool> omitted{};
        // Bit i for argument i written in parentheses of its own: a copy is passed.
        uint64_t by_value = 0;
    };
    // Private/Public/Static/Friend lines inside a body that are not Dim or
    // Const. (Scalar Dims are DimScalar.)
    struct Nop {};
    // Every bound is kept, in order (Dim m(3, 4) has two).
    // type_name: the elements' built-in type, "" when none was given.
    struct DimArray {
        std::string name;
        std::vector<Expr> bounds;
        mutable uint32_t slot = kNoSlot;
        std::string type_name;
    };
    struct ReDim {
        std::string name;
        std::vector<Expr> bounds;
        bool preserve = false;
        mutable uint32_t slot = kNoSlot;
        std::string type_name;
    };
    // Every subscript is kept, in order.
    struct IndexAssign {
        std::string name;
        std::vector<Expr> indices;
        Box<Expr> value;
        mutable uint32_t slot = kNoSlot;
    };
    // The body of With Range("a") ... End With, already rewritten.
    // clang-format off
    struct Block { Body body; };
    struct MsgBox { Box<Expr> prompt; };
    struct FieldAssign { std::string var; std::string field; Box<Expr> value; mutable uint32_t slot = kNoSlot; };
    // type_name is never a built-in type name.
    struct DimAs { std::string name; std::string type_name; mutable uint32_t slot = kNoSlot; };
    // clang-format on
    struct DimArrayAs {
        std::string name;
        std::vector<Expr> bounds;
        std::string type_name;
        mutable uint32_t slot = kNoSlot;
    };
    // One Dim line with several declarators; the inner statements have no spans.
    // clang-format off
    // is_static: a Static line, whose variables keep their values between calls.
    struct DimList { std::vector<Stmt> decls; bool is_static = false; };
    // clang-format on
    struct MemberPathAssign {
        std::string root;
        std::vector<std::string> path;
        Box<Expr> value;
        mutable uint32_t slot = kNoSlot;
    };
    struct IndexedFieldAssign {
        std::string name;
        std::vector<Expr> indices;
        std::string field;
        Box<Expr> value;
        mutable uint32_t slot = kNoSlot;
    };
    // With v ... End With; the body is already rewritten.
    // clang-format off
    struct WithVar { std::string var; Body body; };
    // A recognised form that is not modelled: no run-time effect, or with
    // `fails` a run-time failure with its message, for a line that may
    // change what a macro reads.
    struct Skipped { std::string message; bool fails = false; };
    // clang-format on

    // --- added variants ---

    // Dim x, or Dim x As T with T built in: declares x with the type's
    // default when x does not exist yet. type_name is the lower-case
    // built-in name ("long", "string", ...) or "" when no type was given.
    // clang-format off
    struct DimScalar { std::string name; std::string type_name; mutable uint32_t slot = kNoSlot; };
    // End or Stop: ends the whole run successfully (ExitKind::End).
    struct End { bool is_stop = false; };
    // clang-format on
    // Any other object-model statement: an assignment to the last step of
    // the path (`value` set) or a method call with its arguments.
    struct ObjCall {
        std::vector<ObjStep> steps;
        Box<Expr> value;
        std::vector<MethodArg> args;
    };
    // Err.Raise number[, source[, description]]; absent ones are empty Boxes.
    // clang-format off
    struct ErrRaise { Box<Expr> number; Box<Expr> source; Box<Expr> description; };
    struct ErrClear {};
    // Erase a, b: fixed arrays back to their defaults, dynamic ones emptied.
    struct Erase { std::vector<std::string> names; mutable std::vector<uint32_t> slots; };
    // clang-format on

    std::variant<Assign, CellWrite, SetCalculation, ApplicationSet, RangeWrite, RangeCopy, VarCopy, SetObject,
                 RangePaste, SheetPaste, SheetProtect, RangeClear, RangeOffsetWrite, RangeDelete, RangeInsert,
                 RangeSort, RangeName, SheetCellWrite, SheetRangeWrite, WithSheet, AddSheet, SheetDelete, For, ForEach,
                 If, DoLoop, SelectCase, ExitFor, ExitDo, ExitSub, ExitFunction, OnError, OnErrorGoto, Label, GoTo,
                 ResumeNext, Call, Nop, DimArray, ReDim, IndexAssign, Block, MsgBox, FieldAssign, DimAs, DimArrayAs,
                 DimList, MemberPathAssign, IndexedFieldAssign, WithVar, Skipped, DimScalar, End, ObjCall, ErrRaise,
                 ErrClear, Erase>
        node;

    // clang-format off
    template <class T> bool is() const { return std::holds_alternative<T>(node); }
    template <class T> const T* get_if() const { return std::get_if<T>(&node); }
    template <class T> const T& as() const { return *std::get_if<T>(&node); }
    // clang-format on
};

struct SpannedStmt {
    Stmt stmt;
    SourceSpan span;
};

// ---------------------------------------------------------------- procedures

// One parameter. Optional/ParamArray/ByVal are flags; a parameter without
// ByVal is passed by reference.
struct Param {
    std::string name;
    // Lower-case type after As, "" when none.
    std::string type_name;
    // The `= default` of an Optional parameter; null when none.
    std::shared_ptr<const Expr> default_value;
    bool is_optional = false;
    bool is_param_array = false;
    bool is_array = false;  // written name()
    bool by_val = false;

    // A parameter reads as its name where a name is wanted.
    operator const std::string&() const { return name; }
};

struct SubDef {
    std::string name;
    std::vector<Param> params;
    Body body;
};

struct FuncDef {
    std::string name;
    std::vector<Param> params;
    Body body;
    // Lower-case result type after As, "" when none.
    std::string type_name;
};

struct TypeField {
    std::string name;
    std::string type_name;  // "variant" when written without As
};

struct TypeDef {
    std::string name;
    std::vector<TypeField> fields;
};

struct Warning {
    std::string message;
    SourceSpan span;
};

// Copies sharing no body or default value with the original: an
// interpreter binds its caches into its own copy, so one parsed tree can be
// run by several interpreters.
SubDef deep_copy(const SubDef& sub);
FuncDef deep_copy(const FuncDef& func);

struct Program {
    std::vector<SubDef> subs;
    std::vector<FuncDef> functions;
    std::vector<TypeDef> types;
    std::vector<Warning> warnings;
    std::optional<std::string> name;
    // The module variables: the declarator statements of the module-level
    // Dim, Private, Public and Global lines, in order.
    Body variables;
    // Option Explicit: every name a procedure uses must be declared.
    bool option_explicit = false;
};

// ---------------------------------------------------------------- Body

inline Body::Body(std::vector<SpannedStmt> stmts)
    : p_(stmts.empty() ? nullptr : std::make_shared<const std::vector<SpannedStmt>>(std::move(stmts))) {}

inline const std::vector<SpannedStmt>& Body::list() const {
    static const std::vector<SpannedStmt> kEmpty;
    return p_ ? *p_ : kEmpty;
}
inline std::vector<SpannedStmt>::const_iterator Body::begin() const { return list().begin(); }
inline std::vector<SpannedStmt>::const_iterator Body::end() const { return list().end(); }
inline size_t Body::size() const { return p_ ? p_->size() : 0; }
inline bool Body::empty() const { return size() == 0; }
inline const SpannedStmt& Body::operator[](size_t i) const { return (*p_)[i]; }

// Variant positions are part of the contract with the interpreter.
static_assert(std::variant_size_v<decltype(Expr::node)> == 26);
static_assert(std::is_same_v<std::variant_alternative_t<23, decltype(Expr::node)>, Expr::IndexedField>);
static_assert(std::is_same_v<std::variant_alternative_t<24, decltype(Expr::node)>, Expr::Date>);
static_assert(std::variant_size_v<decltype(Stmt::node)> == 57);
static_assert(std::is_same_v<std::variant_alternative_t<36, decltype(Stmt::node)>, Stmt::Call>);
static_assert(std::is_same_v<std::variant_alternative_t<50, decltype(Stmt::node)>, Stmt::Skipped>);
static_assert(std::is_same_v<std::variant_alternative_t<52, decltype(Stmt::node)>, Stmt::End>);
static_assert(std::variant_size_v<decltype(ObjectExpr::node)> == 6);
static_assert(std::variant_size_v<decltype(CaseMatch::node)> == 3);

}  // namespace morvane
