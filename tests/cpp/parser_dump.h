// Test-only printer of the VBA syntax tree: a compact one-line text per
// node, so parser tests compare trees as strings.
//   literals   5  1.5  "s"  True  #45000      names   x
//   binary     (a + b)                        calls   f(1, 2)
//   statements Name(field, ...)               bodies  [s1; s2]
#pragma once

#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "parser/ast.h"
#include "parser/mod.h"

namespace morvane::testing {

inline std::string dump_steps(const std::vector<ObjStep>& steps);
inline std::string dump(const Expr& e);
inline std::string dump(const Stmt& s);
inline std::string dump(const Body& b);
inline std::string dump(const ObjectExpr& o);

// Appends `piece`, after `sep` unless `out` is still empty.
inline void append_sep(std::string& out, const char* sep, const std::string& piece) {
    if (!out.empty()) out += sep;
    out += piece;
}

inline std::string quote(const std::string& s) { return "\"" + s + "\""; }

inline std::string dump_float(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".en") == std::string::npos) s += ".0";
    return s;
}

inline const char* op_text(BinOp op) {
    static const char* kOps[] = {"+", "-",  "*", "/",  "mod", "\\",  "^",  "=",  "<>",
                                 "<", "<=", ">", ">=", "&",   "and", "or", "xor"};
    return kOps[static_cast<int>(op)];
}

inline std::string dump_list(const std::vector<Expr>& xs) {
    std::string out;
    for (const auto& x : xs) append_sep(out, ", ", dump(x));
    return out;
}

inline std::string dump_path(const std::vector<std::string>& path) {
    std::string out;
    for (const auto& p : path) out += "." + p;
    return out;
}

inline std::string opt(const Box<Expr>& e) { return e ? dump(*e) : "-"; }
inline std::string opt(const std::optional<std::string>& s) { return s ? quote(*s) : "-"; }
inline std::string flag(bool b) { return b ? "1" : "0"; }

inline std::string dump_steps(const std::vector<ObjStep>& steps) {
    std::string out;
    for (const auto& st : steps) {
        if (!out.empty()) out += '.';
        out += st.name;
        if (st.called) out += "(" + dump_list(st.args) + ")";
    }
    return out;
}

inline std::string dump(const Expr& e) {
    using E = Expr;
    return std::visit(
        [](const auto& n) -> std::string {
            using T = std::decay_t<decltype(n)>;
            // clang-format off
            if constexpr (std::is_same_v<T, E::Int>) return std::to_string(n.value);
            else if constexpr (std::is_same_v<T, E::Float>) return dump_float(n.value);
            else if constexpr (std::is_same_v<T, E::Str>) return quote(n.value);
            else if constexpr (std::is_same_v<T, E::Bool>) return n.value ? "True" : "False";
            else if constexpr (std::is_same_v<T, E::Var>) return n.name;
            else if constexpr (std::is_same_v<T, E::Binary>)
                return "(" + dump(*n.lhs) + " " + op_text(n.op) + " " + dump(*n.rhs) + ")";
            else if constexpr (std::is_same_v<T, E::Neg>) return "Neg(" + dump(*n.operand) + ")";
            else if constexpr (std::is_same_v<T, E::Not>) return "Not(" + dump(*n.operand) + ")";
            else if constexpr (std::is_same_v<T, E::CellsValue>) return "Cells(" + dump(*n.row) + ", " + dump(*n.col) + ")";
            else if constexpr (std::is_same_v<T, E::Call>) return n.name + "(" + dump_list(n.args) + ")";
            else if constexpr (std::is_same_v<T, E::RangeValue>) return "RangeValue(" + quote(n.addr) + ")";
            else if constexpr (std::is_same_v<T, E::RangeOffsetValue>)
                return "RangeOffsetValue(" + quote(n.addr) + ", " + dump(*n.row_offset) + ", " + dump(*n.col_offset) + ")";
            // clang-format on
            else if constexpr (std::is_same_v<T, E::CellsFind>)
                return "CellsFind(" + dump(*n.what) + ", " + (n.want_row ? "row" : "col") + ")";
            else if constexpr (std::is_same_v<T, E::SheetCellsValue>)
                return "SheetCells(" + dump(*n.sheet) + ", " + dump(*n.row) + ", " + dump(*n.col) + ")";
            else if constexpr (std::is_same_v<T, E::SheetRangeValue>)
                return "SheetRange(" + dump(*n.sheet) + ", " + quote(n.addr) + ")";
            else if constexpr (std::is_same_v<T, E::WorkbookSheet>)
                return "WorkbookSheet(" + dump(*n.workbook) + ", " + dump(*n.sheet) + ")";
            // clang-format off
            else if constexpr (std::is_same_v<T, E::RowsCount>) return "RowsCount";
            else if constexpr (std::is_same_v<T, E::ColumnsCount>) return "ColumnsCount";
            // clang-format on
            else if constexpr (std::is_same_v<T, E::CellsEndPosition>) {
                static const char* kDirs[] = {"Up", "Down", "ToLeft", "ToRight"};
                return "CellsEnd(" + dump(*n.row) + ", " + dump(*n.col) + ", " + kDirs[static_cast<int>(n.direction)] +
                       ", " + (n.want_column ? "col" : "row") + ")";
                // clang-format off
            } else if constexpr (std::is_same_v<T, E::ActiveSheet>) return "ActiveSheet";
            else if constexpr (std::is_same_v<T, E::SheetVar>) return "SheetVar(" + n.var + ")";
            else if constexpr (std::is_same_v<T, E::Field>) return "Field(" + n.var + "." + n.field + ")";
            else if constexpr (std::is_same_v<T, E::MemberPath>) return "Path(" + n.root + dump_path(n.path) + ")";
            else if constexpr (std::is_same_v<T, E::IndexedField>)
                return "IndexedField(" + n.name + "(" + dump_list(n.args) + ")." + n.field + ")";
            else if constexpr (std::is_same_v<T, E::ObjPath>) return "ObjPath(" + dump_steps(n.steps) + ")";
            else return "#" + std::to_string(n.serial);
            // clang-format on
        },
        e.node);
}

inline std::string dump(const ObjectExpr& o) {
    using O = ObjectExpr;
    return std::visit(
        [](const auto& n) -> std::string {
            using T = std::decay_t<decltype(n)>;
            // clang-format off
            if constexpr (std::is_same_v<T, O::Range>) return "Range(" + quote(n.addr) + ")";
            else if constexpr (std::is_same_v<T, O::Var>) return n.name;
            // clang-format on
            else if constexpr (std::is_same_v<T, O::Union>) {
                std::string out;
                for (const auto& p : n.parts) append_sep(out, ", ", dump(p));
                return "Union(" + out + ")";
                // clang-format off
            } else if constexpr (std::is_same_v<T, O::Areas>) return "Areas(" + dump(*n.base) + ", " + dump(*n.index) + ")";
            else if constexpr (std::is_same_v<T, O::Path>) return "ObjPath(" + dump_steps(n.steps) + ")";
            else return "Visible(" + dump(*n.base) + ")";
            // clang-format on
        },
        o.node);
}

inline std::string dump(const CaseMatch& c) {
    if (auto v = c.get_if<CaseMatch::Value>()) return dump(*v->value);
    if (auto r = c.get_if<CaseMatch::Range>()) return dump(*r->low) + " To " + dump(*r->high);
    const auto& i = c.as<CaseMatch::Is>();
    return std::string("Is ") + op_text(i.op) + " " + dump(*i.value);
}

inline std::string dump(const std::optional<LoopCond>& c) {
    if (!c) return "-";
    return std::string(c->until ? "Until " : "While ") + dump(*c->cond);
}

inline std::string dump(const Stmt& s) {
    using S = Stmt;
    return std::visit(
        [](const auto& n) -> std::string {
            using T = std::decay_t<decltype(n)>;
            // clang-format off
            if constexpr (std::is_same_v<T, S::Assign>) return "Assign(" + n.name + ", " + dump(*n.value) + ")";
            // clang-format on
            else if constexpr (std::is_same_v<T, S::CellWrite>)
                return "CellWrite(" + dump(*n.row) + ", " + dump(*n.col) + ", " + dump(*n.value) + ")";
            else if constexpr (std::is_same_v<T, S::SetCalculation>)
                return std::string("SetCalculation(") + (n.mode == CalcMode::Automatic ? "Automatic" : "Manual") + ")";
            else if constexpr (std::is_same_v<T, S::ApplicationSet>)
                return "ApplicationSet(" + n.property + ", " + dump(*n.value) + ")";
            else if constexpr (std::is_same_v<T, S::RangeWrite>)
                return "RangeWrite(" + quote(n.addr) + ", " + dump(*n.value) + ", " + flag(n.is_formula) + ")";
            // clang-format off
            else if constexpr (std::is_same_v<T, S::RangeCopy>) return "RangeCopy(" + quote(n.addr) + ", " + opt(n.dest) + ")";
            else if constexpr (std::is_same_v<T, S::VarCopy>) return "VarCopy(" + n.var + ", " + opt(n.dest) + ")";
            else if constexpr (std::is_same_v<T, S::SetObject>) return "SetObject(" + n.name + ", " + dump(n.object) + ")";
            else if constexpr (std::is_same_v<T, S::RangePaste>) return "RangePaste(" + quote(n.addr) + ", " + opt(n.transpose) + ")";
            else if constexpr (std::is_same_v<T, S::SheetPaste>) return "SheetPaste(" + dump(*n.sheet) + ", " + quote(n.dest) + ")";
            else if constexpr (std::is_same_v<T, S::SheetProtect>)
                return "SheetProtect(" + dump(*n.sheet) + ", " + opt(n.user_interface_only) + ", " + flag(n.protect) + ")";
            else if constexpr (std::is_same_v<T, S::RangeClear>) return "RangeClear(" + quote(n.addr) + ", " + flag(n.contents_only) + ")";
            else if constexpr (std::is_same_v<T, S::RangeOffsetWrite>)
                return "RangeOffsetWrite(" + quote(n.addr) + ", " + dump(*n.row_offset) + ", " + dump(*n.col_offset) + ", " +
                       dump(*n.value) + ")";
            else if constexpr (std::is_same_v<T, S::RangeDelete>) return "RangeDelete(" + quote(n.addr) + ")";
            else if constexpr (std::is_same_v<T, S::RangeInsert>) return "RangeInsert(" + quote(n.addr) + ")";
            else if constexpr (std::is_same_v<T, S::RangeSort>)
                return "RangeSort(" + quote(n.addr) + ", " + std::to_string(n.key_col) + ", " + flag(n.descending) + ")";
            else if constexpr (std::is_same_v<T, S::RangeName>) return "RangeName(" + quote(n.addr) + ", " + quote(n.name) + ")";
            else if constexpr (std::is_same_v<T, S::SheetCellWrite>)
                return "SheetCellWrite(" + dump(*n.sheet) + ", " + dump(*n.row) + ", " + dump(*n.col) + ", " + dump(*n.value) + ")";
            // clang-format on
            else if constexpr (std::is_same_v<T, S::SheetRangeWrite>)
                return "SheetRangeWrite(" + dump(*n.sheet) + ", " + quote(n.addr) + ", " + dump(*n.value) + ", " +
                       flag(n.is_formula) + ")";
            // clang-format off
            else if constexpr (std::is_same_v<T, S::WithSheet>) return "WithSheet(" + n.sheet + ", " + dump(n.body) + ")";
            else if constexpr (std::is_same_v<T, S::AddSheet>) return "AddSheet";
            else if constexpr (std::is_same_v<T, S::SheetDelete>) return "SheetDelete(" + dump(*n.sheet) + ")";
            else if constexpr (std::is_same_v<T, S::For>)
                return "For(" + n.var + ", " + dump(*n.start) + ", " + dump(*n.end) + ", " + opt(n.step) + ", " + dump(n.body) + ")";
            else if constexpr (std::is_same_v<T, S::ForEach>)
                return "ForEach(" + n.var + ", " + quote(n.collection) + (n.source_var.empty() ? "" : " " + n.source_var) +
                      // clang-format on
                      (n.path.empty() ? "" : " " + dump_steps(n.path)) + ", " + dump(n.body) + ")";
            else if constexpr (std::is_same_v<T, S::If>)
                return "If(" + dump(*n.cond) + ", " + dump(n.then_body) + ", " + dump(n.else_body) + ")";
            else if constexpr (std::is_same_v<T, S::DoLoop>)
                return "Do(" + dump(n.pre_cond) + ", " + dump(n.post_cond) + ", " + dump(n.body) + ")";
            else if constexpr (std::is_same_v<T, S::SelectCase>) {
                std::string out = "Select(" + dump(*n.subject);
                for (const auto& c : n.cases) {
                    std::string tests;
                    for (const auto& m : c.matches) append_sep(tests, ", ", dump(m));
                    out += ", Case(" + tests + ") " + dump(c.body);
                }
                return out + ", Else " + dump(n.else_body) + ")";
                // clang-format off
            } else if constexpr (std::is_same_v<T, S::ExitFor>) return "ExitFor";
            else if constexpr (std::is_same_v<T, S::ExitDo>) return "ExitDo";
            else if constexpr (std::is_same_v<T, S::ExitSub>) return "ExitSub";
            else if constexpr (std::is_same_v<T, S::ExitFunction>) return "ExitFunction";
            else if constexpr (std::is_same_v<T, S::OnError>) return "OnError(" + flag(n.resume_next) + ")";
            else if constexpr (std::is_same_v<T, S::OnErrorGoto>) return "OnErrorGoto(" + n.label + ")";
            else if constexpr (std::is_same_v<T, S::Label>) return "Label(" + n.name + ")";
            else if constexpr (std::is_same_v<T, S::GoTo>) return "GoTo(" + n.label + ")";
            // clang-format on
            else if constexpr (std::is_same_v<T, S::ResumeNext>)
                return "Resume(" + flag(n.next) + (n.label.empty() ? "" : ", " + n.label) + ")";
            else if constexpr (std::is_same_v<T, S::Call>) {
                std::string args;
                for (size_t i = 0; i < n.args.size(); ++i) {
                    std::string a = !n.omitted.empty() && n.omitted[i] ? std::string("_") : dump(n.args[i]);
                    if (!n.arg_names.empty() && !n.arg_names[i].empty()) a = n.arg_names[i] + ":=" + a;
                    append_sep(args, ", ", a);
                }
                return std::string(n.bare ? "BareCall(" : "Call(") + n.name + "(" + args + "))";
                // clang-format off
            }
            else if constexpr (std::is_same_v<T, S::Nop>) return "Nop";
            else if constexpr (std::is_same_v<T, S::DimArray>) return "DimArray(" + n.name + ", [" + dump_list(n.bounds) + "])";
            // clang-format on
            else if constexpr (std::is_same_v<T, S::ReDim>)
                return "ReDim(" + n.name + ", [" + dump_list(n.bounds) + "], " + flag(n.preserve) + ")";
            else if constexpr (std::is_same_v<T, S::IndexAssign>)
                return "IndexAssign(" + n.name + ", [" + dump_list(n.indices) + "], " + dump(*n.value) + ")";
            // clang-format off
            else if constexpr (std::is_same_v<T, S::Block>) return "Block(" + dump(n.body) + ")";
            else if constexpr (std::is_same_v<T, S::MsgBox>) return "MsgBox(" + dump(*n.prompt) + ")";
            else if constexpr (std::is_same_v<T, S::FieldAssign>)
                return "FieldAssign(" + n.var + ", " + n.field + ", " + dump(*n.value) + ")";
            else if constexpr (std::is_same_v<T, S::DimAs>) return "DimAs(" + n.name + ", " + n.type_name + ")";
            // clang-format on
            else if constexpr (std::is_same_v<T, S::DimArrayAs>)
                return "DimArrayAs(" + n.name + ", [" + dump_list(n.bounds) + "], " + n.type_name + ")";
            else if constexpr (std::is_same_v<T, S::DimList>) {
                std::string out;
                for (const auto& d : n.decls) append_sep(out, "; ", dump(d));
                return (n.is_static ? "StaticList[" : "DimList[") + out + "]";
            } else if constexpr (std::is_same_v<T, S::MemberPathAssign>)
                return "PathAssign(" + n.root + dump_path(n.path) + ", " + dump(*n.value) + ")";
            else if constexpr (std::is_same_v<T, S::IndexedFieldAssign>)
                // clang-format off
                return "IndexedFieldAssign(" + n.name + ", [" + dump_list(n.indices) + "], " + n.field + ", " + dump(*n.value) + ")";
            else if constexpr (std::is_same_v<T, S::WithVar>) return "WithVar(" + n.var + ", " + dump(n.body) + ")";
            else if constexpr (std::is_same_v<T, S::Skipped>)
                return (n.fails ? "Unsupported(" : "Skipped(") + n.message + ")";
            else if constexpr (std::is_same_v<T, S::DimScalar>) return "DimScalar(" + n.name + ", " + n.type_name + ")";
            else if constexpr (std::is_same_v<T, S::ObjCall>) {
                std::string args;
                for (const auto& a : n.args) append_sep(args, ", ", (a.name.empty() ? "" : a.name + ":=") + dump(a.value[0]));
                // clang-format on
                return "ObjCall(" + dump_steps(n.steps) + (n.value ? " = " + dump(*n.value) : " [" + args + "]") + ")";
            } else if constexpr (std::is_same_v<T, S::ErrRaise>)
                return "ErrRaise(" + dump(*n.number) + ", " + opt(n.source) + ", " + opt(n.description) + ")";
            // clang-format off
            else if constexpr (std::is_same_v<T, S::ErrClear>) return "ErrClear";
            // clang-format on
            else if constexpr (std::is_same_v<T, S::Erase>) {
                std::string names;
                for (const auto& name : n.names) append_sep(names, ", ", name);
                return "Erase(" + names + ")";
                // clang-format off
            } else return n.is_stop ? "Stop" : "End";
            // clang-format on
        },
        s.node);
}

inline std::string dump(const Body& b) {
    std::string out;
    for (const auto& s : b) append_sep(out, "; ", dump(s.stmt));
    return "[" + out + "]";
}

inline std::string dump(const Param& p) {
    std::string out;
    if (p.is_optional) out += "Optional ";
    if (p.is_param_array) out += "ParamArray ";
    out += p.name;
    if (p.is_array) out += "()";
    if (!p.type_name.empty()) out += " As " + p.type_name;
    if (p.default_value) out += " = " + dump(*p.default_value);
    return out;
}

inline std::string dump_params(const std::vector<Param>& ps) {
    std::string out;
    for (const auto& p : ps) append_sep(out, ", ", dump(p));
    return "(" + out + ")";
}

inline std::string dump(const Program& p) {
    std::string out;
    // clang-format off
    auto sep = [&] { if (!out.empty()) out += " | "; };
    // clang-format on
    for (const auto& s : p.subs) sep(), out += "Sub " + s.name + dump_params(s.params) + " " + dump(s.body);
    for (const auto& f : p.functions) {
        sep();
        // clang-format off
        out += "Function " + f.name + dump_params(f.params) + (f.type_name.empty() ? "" : " As " + f.type_name) + " " + dump(f.body);
        // clang-format on
    }
    for (const auto& t : p.types) {
        sep();
        out += "Type " + t.name + "(";
        for (size_t i = 0; i < t.fields.size(); ++i)
            out += (i ? ", " : "") + t.fields[i].name + " As " + t.fields[i].type_name;
        out += ")";
    }
    return out;
}

// Whole module: its dump, or "ERR: " and the message.
inline std::string parse_dump(const std::string& text) {
    auto r = parser::parse(text);
    if (!r) return "ERR: " + r.error();
    return dump(*r);
}

// The body of one Sub made of `lines`, or "ERR: " and the message.
inline std::string body_of(const std::string& lines) {
    auto r = parser::parse("Sub t()\n" + lines + "\nEnd Sub\n");
    if (!r) return "ERR: " + r.error();
    return dump(r->subs.at(0).body);
}

// The expression `e` as the right-hand side of an assignment.
inline std::string expr_of(const std::string& e) {
    auto r = parser::parse("Sub t()\nx = " + e + "\nEnd Sub\n");
    if (!r) return "ERR: " + r.error();
    const auto& body = r->subs.at(0).body;
    if (body.size() != 1 || !body[0].stmt.is<Stmt::Assign>()) return "not one assignment: " + dump(body);
    return dump(*body[0].stmt.as<Stmt::Assign>().value);
}

}  // namespace morvane::testing
