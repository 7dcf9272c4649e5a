// Operands that may be lists, and their pairing element by element.
#include "formula/elementwise.h"

#include <algorithm>

namespace morvane::eval {

namespace {

const Variant kPadding{ExcelError::NA};

// One side of the pairing: 1 repeats, otherwise the longer side wins.
uint64_t side(uint64_t a, uint64_t b) {
    if (a == 1) return b;
    if (b == 1) return a;
    return std::max(a, b);
}

std::string describe(const Operand& op) {
    if (op.shaped) return "a " + std::to_string(op.rows) + "x" + std::to_string(op.cols) + " range";
    return "a list of " + std::to_string(op.size()) + " values";
}

std::unexpected<std::string> refuse(std::string_view name, const Operand& a, const Operand& b) {
    return fail(std::string(name) + ": " + describe(a) + " against " + describe(b) + " is not supported");
}

std::optional<Pairing> grid_of(const FormulaExpr& expr);

// The grid that lists of these expressions pair into, when any shows one.
std::optional<Pairing> paired_grid(std::span<const FormulaExpr> exprs) {
    std::optional<Pairing> out;
    for (const FormulaExpr& e : exprs) {
        const std::optional<Pairing> g = grid_of(e);
        if (!g) continue;
        out = out ? Pairing{side(out->rows, g->rows), side(out->cols, g->cols)} : g;
    }
    return out;
}

// The grid of the list `expr` gives, as its form shows it: operators, and IF
// and IFERROR, which work element by element, keep the grid of their
// operands. None for a single value or a list made by another function.
std::optional<Pairing> grid_of(const FormulaExpr& expr) {
    switch (expr.kind()) {
        case FormulaExpr::Kind::Range: {
            const CellRange n = expr.get<FormulaExpr::Range>()->range().normalised();
            if (n.rows() == 1 && n.cols() == 1) return std::nullopt;
            return Pairing{n.rows(), n.cols()};
        }
        case FormulaExpr::Kind::Neg: return grid_of(*expr.get<FormulaExpr::Neg>()->operand);
        case FormulaExpr::Kind::Binary: {
            const auto& b = *expr.get<FormulaExpr::Binary>();
            const std::optional<Pairing> l = grid_of(*b.lhs), r = grid_of(*b.rhs);
            if (!l || !r) return l ? l : r;
            return Pairing{side(l->rows, r->rows), side(l->cols, r->cols)};
        }
        case FormulaExpr::Kind::Func: {
            const auto& f = *expr.get<FormulaExpr::Func>();
            if (f.name == "IF") return paired_grid(f.args);
            if (f.name == "IFERROR" && !f.args.empty()) return grid_of(f.args.front());
            return std::nullopt;
        }
        default: return std::nullopt;
    }
}

}  // namespace

Variant Operand::take() && {
    if (cell) return *cell;
    if (!range) return std::move(own);
    std::vector<Variant> values;
    values.reserve(range->size());
    range->for_each([&](const Variant& v) { values.push_back(v); });
    return Variant(std::move(values));
}

Result<void> load_operand_or_error(const FormulaExpr& expr, const EvalCtx& ctx, Operand& out) {
    Result<void> r = load_operand(expr, ctx, out);
    if (r) return r;
    out = Operand{};
    out.own = TRY(failure_as_error(std::unexpected(std::move(r).error()), ctx));
    return {};
}

Result<Variant> range_list(const FormulaExpr& expr, const EvalCtx& ctx) {
    Operand op;
    TRY_VOID(load_operand(expr, ctx, op));
    if (op.range) {
        // The copy holds every list its cells hold again: a chain of formulas
        // each listing the cells above it would otherwise grow without bound.
        uint64_t n = op.range->size();
        op.range->for_each([&](const Variant& v) { n += element_count(v); });
        TRY_VOID(charge_element_count(ctx, n));
    }
    return std::move(op).take();
}

Operand operand_of(const FormulaExpr& expr, Variant value) {
    Operand op;
    op.own = std::move(value);
    take_grid(expr, op);
    return op;
}

Result<Pairing> pair_up(std::string_view name, std::span<const Operand* const> ops) {
    Pairing p;
    const Operand* grid = nullptr;  // the first operand of known shape
    const Operand* list = nullptr;  // the first list of unknown shape
    for (const Operand* op : ops) {
        if (!op->is_list() || op->size() == 1) continue;
        if (!op->shaped) {
            if (list && list->size() != op->size()) return refuse(name, *list, *op);
            list = op;
            continue;
        }
        if (!grid) {
            grid = op;
            p.rows = op->rows;
            p.cols = op->cols;
            continue;
        }
        const uint64_t rows = side(p.rows, op->rows), cols = side(p.cols, op->cols);
        // Two sides that only the pair has: a second dimension no list holds.
        const bool grown =
            rows > 1 && cols > 1 && !(rows == p.rows && cols == p.cols) && !(rows == op->rows && cols == op->cols);
        if (grown) return refuse(name, *grid, *op);
        p.rows = rows;
        p.cols = cols;
    }
    if (!list) return p;
    if (!grid) return Pairing{list->size(), 1};
    // A list of unknown shape follows the grid, in reading order.
    if (list->size() != p.size()) return refuse(name, *grid, *list);
    return p;
}

void take_grid(const FormulaExpr& expr, Operand& op) {
    if (op.range) {
        op.rows = op.range->rows();
        op.cols = op.range->cols();
        op.shaped = true;
    } else if (op.value().is_array()) {
        // A list of another length than its form shows (IF that took one
        // branch) keeps only its length.
        if (std::optional<Pairing> g = grid_of(expr); g && g->size() == op.size()) {
            op.rows = g->rows;
            op.cols = g->cols;
            op.shaped = true;
        }
    }
}

const Variant& element(const Operand& op, const Pairing& p, uint64_t i) {
    if (!op.is_list()) return op.value();
    if (op.size() == 1) return op.at(0);
    if (!op.shaped || (op.rows == p.rows && op.cols == p.cols)) return op.at(i);
    const uint64_t row = op.rows == 1 ? 0 : i / p.cols, col = op.cols == 1 ? 0 : i % p.cols;
    if (row >= op.rows || col >= op.cols) return kPadding;
    return op.at(row * op.cols + col);
}

}  // namespace morvane::eval
