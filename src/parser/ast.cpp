// Deep copies of the syntax tree: each nested body and parameter default is
// copied too, so the copy shares nothing that an interpreter writes into.
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "parser/ast.h"

namespace morvane {

namespace {

// Replaces every body a statement holds (and those of statements it holds)
// by its own copy. A kind added later with a body, then_body, else_body,
// cases or decls member is covered without a change here.
void unshare(Stmt& stmt) {
    std::visit(
        [](auto& s) {
            if constexpr (requires { s.body; }) s.body = s.body.deep_copy();
            if constexpr (requires { s.then_body; }) s.then_body = s.then_body.deep_copy();
            if constexpr (requires { s.else_body; }) s.else_body = s.else_body.deep_copy();
            if constexpr (requires { s.cases; })
                for (CaseClause& c : s.cases) c.body = c.body.deep_copy();
            if constexpr (requires { s.decls; })
                for (Stmt& d : s.decls) unshare(d);
        },
        stmt.node);
}

std::vector<Param> copy_params(const std::vector<Param>& params) {
    std::vector<Param> out = params;
    for (Param& p : out)
        if (p.default_value) p.default_value = std::make_shared<const Expr>(*p.default_value);
    return out;
}

}  // namespace

Body Body::deep_copy() const {
    if (!p_) return {};
    std::vector<SpannedStmt> copy = *p_;
    for (SpannedStmt& s : copy) unshare(s.stmt);
    return Body(std::move(copy));
}

SubDef deep_copy(const SubDef& sub) { return SubDef{sub.name, copy_params(sub.params), sub.body.deep_copy()}; }

FuncDef deep_copy(const FuncDef& func) {
    return FuncDef{func.name, copy_params(func.params), func.body.deep_copy(), func.type_name};
}

}  // namespace morvane
