// Argument collection and the scalar argument readers.
#include "formula/args.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace morvane::eval {

namespace {

constexpr std::string_view kRangeTooLarge = "Range too large ({} cells); maximum is 1,000,000";

std::string u128_text(unsigned __int128 n) {
    if (n == 0) return "0";
    std::string out;
    while (n > 0) {
        out.push_back(static_cast<char>('0' + static_cast<int>(n % 10)));
        n /= 10;
    }
    std::reverse(out.begin(), out.end());
    return out;
}

}  // namespace

Result<void> check_arity(std::string_view name, size_t count, size_t min, size_t max) {
    if (count >= min && count <= max) return {};
    std::string ending;
    if (max == 0) {
        ending = "takes no arguments";
    } else if (max == kNoMax) {
        ending = "requires at least " + std::to_string(min) + (min == 1 ? " argument" : " arguments");
    } else if (min == max) {
        ending = "requires " + std::to_string(min) + (min == 1 ? " argument" : " arguments");
    } else if (max == min + 1) {
        ending = "requires " + std::to_string(min) + " or " + std::to_string(max) + " arguments";
    } else {
        ending = "requires " + std::to_string(min) + " to " + std::to_string(max) + " arguments";
    }
    return fail(std::string(name) + " " + ending);
}

unsigned __int128 range_cell_count(const FormulaExpr::Range& r) {
    // Exact, past 2^64 too, for the message.
    const CellRange n = r.range().normalised();
    return static_cast<unsigned __int128>(n.rows()) * n.cols();
}

Result<void> check_range_size(unsigned __int128 cells) {
    if (cells > kMaxRangeCells) return fail(format_message(kRangeTooLarge, u128_text(cells)));
    return {};
}

bool is_error_signal(std::string_view message) { return error_from_text(message).has_value(); }

Result<RangeView> RangeView::open(const FormulaExpr::Range& r, const EvalCtx& ctx) {
    unsigned __int128 count = range_cell_count(r);
    TRY_VOID(check_range_size(count));
    TRY_VOID(charge_cells(ctx, count));
    // Both sides are at most 1,000,000 now, so they fit in 32 bits.
    const CellRange n = r.range().normalised();
    return RangeView(ctx.cells, n.first.row, n.first.col, static_cast<uint32_t>(n.rows()),
                     static_cast<uint32_t>(n.cols()));
}

Result<std::vector<StoredCell>> stored_cells(const FormulaExpr::Range& r, const EvalCtx& ctx) {
    const CellRange n = r.range().normalised();
    const uint64_t cols = n.cols();
    const unsigned __int128 area = static_cast<unsigned __int128>(n.rows()) * cols;
    std::vector<StoredCell> out;
    if (area <= ctx.cells.size()) {
        TRY_VOID(charge_cells(ctx, area));
        uint64_t index = 0;
        for (uint64_t row = n.first.row; row <= n.last.row; ++row)
            for (uint64_t col = n.first.col; col <= n.last.col; ++col, ++index) {
                auto it = ctx.cells.find(CellPos{static_cast<uint32_t>(row), static_cast<uint32_t>(col)});
                if (it != ctx.cells.end()) out.push_back({index, &it->second});
            }
        return out;
    }
    TRY_VOID(charge_cells(ctx, ctx.cells.size()));
    for (const auto& [pos, content] : ctx.cells)
        if (n.contains(pos))
            out.push_back({uint64_t{pos.row - n.first.row} * cols + (pos.col - n.first.col), &content});
    std::sort(out.begin(), out.end(), [](const StoredCell& a, const StoredCell& b) { return a.index < b.index; });
    return out;
}

Result<SparseValues> SparseValues::open(const FormulaExpr& arg, const EvalCtx& ctx) {
    SparseValues out;
    if (const auto* r = arg.get<FormulaExpr::Range>()) {
        out.size_ = r->range().normalised().cell_count();
        for (const StoredCell& c : TRY(stored_cells(*r, ctx)))
            if (!c.value().is_empty()) out.entries_.push_back({c.index, &c.value(), c.cell});
        return out;
    }
    out.owned_ = std::make_unique<Variant>(TRY(evaluate(arg, ctx)));
    const Variant& v = *out.owned_;
    if (!v.is_array()) {
        out.size_ = 1;
        if (!v.is_empty()) out.entries_.push_back({0, &v, nullptr});
        return out;
    }
    out.size_ = v.as_array().size();
    for (size_t i = 0; i < v.as_array().size(); ++i)
        if (!v.as_array()[i].is_empty()) out.entries_.push_back({i, &v.as_array()[i], nullptr});
    return out;
}

const Variant& SparseValues::at(uint64_t index, size_t& from) const {
    static const Variant kBlank{};
    // Short steps walk; a long way ahead is halved.
    if (from < entries_.size() && entries_[from].index < index) {
        auto it = std::lower_bound(entries_.begin() + static_cast<std::ptrdiff_t>(from), entries_.end(), index,
                                   [](const Entry& e, uint64_t i) { return e.index < i; });
        from = static_cast<size_t>(it - entries_.begin());
    }
    if (from < entries_.size() && entries_[from].index == index) return *entries_[from].value;
    return kBlank;
}

Result<std::vector<Variant>> collect_values(const FormulaExpr& arg, const EvalCtx& ctx) {
    std::vector<Variant> out;
    if (const auto* r = arg.get<FormulaExpr::Range>()) {
        RangeView view = TRY(RangeView::open(*r, ctx));
        if (ctx.cells.empty()) {
            out.resize(view.size());
            return out;
        }
        out.reserve(view.size());
        view.for_each([&](const Variant& v) { out.push_back(v); });
        return out;
    }
    Variant v = TRY(evaluate(arg, ctx));
    // A list made by a function is a list of values, like a range.
    if (v.is_array()) return std::move(v.as_array());
    out.push_back(std::move(v));
    return out;
}

Result<std::vector<Variant>> collect_all(std::span<const FormulaExpr> args, const EvalCtx& ctx) {
    std::vector<Variant> out;
    for (const FormulaExpr& a : args) {
        std::vector<Variant> part = TRY(collect_values(a, ctx));
        if (out.empty()) {
            out = std::move(part);
        } else {
            out.insert(out.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
        }
    }
    return out;
}

Result<std::pair<std::vector<double>, std::vector<double>>> collect_paired(std::span<const FormulaExpr> args,
                                                                           const EvalCtx& ctx, std::string_view name) {
    if (args.size() != 2) return fail(format_message(kRequiresTwo, name));
    std::vector<double> xs = collect_nums(TRY(collect_values(args[0], ctx)));
    std::vector<double> ys = collect_nums(TRY(collect_values(args[1], ctx)));
    if (xs.empty() || xs.size() != ys.size()) return fail(format_message(kUnequalArrays, name));
    return std::pair{std::move(xs), std::move(ys)};
}

std::optional<double> as_f64(const Variant& v) {
    if (v.is_int()) return static_cast<double>(v.as_int());
    if (v.is_float()) return v.as_float();
    if (v.is_date()) return v.as_date().value();
    return std::nullopt;
}

std::vector<double> collect_nums(std::vector<Variant> values) {
    std::vector<double> out;
    out.reserve(values.size());
    for (const Variant& v : values)
        if (auto x = as_f64(v)) out.push_back(*x);
    return out;
}

std::vector<Variant> flatten_array_vals(std::vector<Variant> values) {
    std::vector<Variant> out;
    out.reserve(values.size());
    for (Variant& v : values) {
        if (v.is_array()) {
            for (Variant& e : v.as_array()) out.push_back(std::move(e));
        } else {
            out.push_back(std::move(v));
        }
    }
    return out;
}

Variant list_result(std::vector<Variant> values) {
    if (values.empty()) return Variant{};
    if (values.size() == 1) return std::move(values.front());
    return Variant(std::move(values));
}

Result<std::optional<double>> aggregate_number(const Variant& v, ValueSource src) {
    if (auto x = as_f64(v)) return x;
    if (v.is_error()) return propagate(v.as_error());
    if (src != ValueSource::Scalar || v.is_array() || v.is_record()) return std::nullopt;
    Result<double> x = to_float(v);
    if (!x) return propagate(ExcelError::Value);
    return *x;
}

ValueSource source_of(const FormulaExpr& arg) {
    if (arg.get<FormulaExpr::CellRef>()) return ValueSource::Range;
    if (const auto* f = arg.get<FormulaExpr::Func>())
        if (f->name == "INDEX" || f->name == "OFFSET" || f->name == "INDIRECT") return ValueSource::Range;
    return ValueSource::Scalar;
}

Result<double> arg_number(const FormulaExpr& arg, const EvalCtx& ctx) {
    Variant v = TRY(evaluate(arg, ctx));
    return to_float(v);
}

Result<std::string> arg_text(const FormulaExpr& arg, const EvalCtx& ctx) {
    Variant v = TRY(evaluate(arg, ctx));
    if (v.is_error()) return propagate(v.as_error());
    return to_str(v);
}

Result<bool> arg_truth(const FormulaExpr& arg, const EvalCtx& ctx) {
    Variant v = TRY(evaluate(arg, ctx));
    if (v.is_error()) return propagate(v.as_error());
    return is_truthy(v);
}

}  // namespace morvane::eval
