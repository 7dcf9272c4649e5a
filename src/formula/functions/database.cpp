// Database functions: DSUM, DAVERAGE, DCOUNT, DCOUNTA, DMAX, DMIN and DGET.
//
// A database is a range whose first row holds the field names and whose
// further rows are records; a criteria range holds field names in its first
// row and one set of conditions per further row. A record is selected when
// every condition of at least one criteria row holds (AND across a row, OR
// across rows). Both ranges are taken with their corners as written, so a
// range written upside down has no records. The criteria are read once per
// call; each record then only costs its cell look-ups.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "formula/args.h"
#include "formula/criteria.h"
#include "formula/eval.h"
#include "types/text.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kFieldIndex = "DGET: field index must be >= 1";
constexpr std::string_view kFieldNotFound = "DGET: field '{}' not found in database header";
constexpr std::string_view kFieldKind = "DGET: field argument must be a column number or field name string";

// "<>" holds only beyond this absolute distance.
constexpr double kNotEqualTolerance = 0x1.0p-52;

using Range = FormulaExpr::Range;

Result<const Range*> table_arg(const FormulaExpr& arg, std::string_view name) {
    if (const auto* r = arg.get<Range>()) return r;
    return fail(format_message(kTableNotRange, name));
}

// Record rows of a database (or condition rows of a criteria range): the
// rows below the first, as written.
uint64_t rows_below(const Range& r) { return r.row2 > r.row1 ? uint64_t{r.row2} - r.row1 : 0; }

std::string header_text(const EvalCtx& ctx, uint32_t row, uint64_t col) {
    return to_str(cell_ref(ctx.cells, row, static_cast<uint32_t>(col)));
}

// The first database column whose header is `name`, ASCII case folded.
std::optional<uint32_t> find_header(const Range& db, std::string_view name, const EvalCtx& ctx) {
    for (uint64_t c = db.col1; c <= db.col2; ++c)
        if (ascii_ieq(header_text(ctx, db.row1, c), name)) return static_cast<uint32_t>(c);
    return std::nullopt;
}

// The sheet column of the field argument; none when it lies past the last
// column of the database (the caller's #REF!).
Result<std::optional<uint32_t>> resolve_field(const FormulaExpr& arg, const Range& db, const EvalCtx& ctx) {
    Variant f = TRY(evaluate(arg, ctx));
    if (f.is_error()) return propagate(f.as_error());
    if (f.is_number()) {
        int64_t n = saturate_i64(f.is_int() ? static_cast<double>(f.as_int()) : f.as_float());
        if (n < 1) return fail(std::string(kFieldIndex));
        uint64_t col = uint64_t{db.col1} + static_cast<uint64_t>(n) - 1;
        if (col > db.col2) return std::optional<uint32_t>{};
        return std::optional<uint32_t>(static_cast<uint32_t>(col));
    }
    if (!f.is_str()) return fail(std::string(kFieldKind));
    TRY_VOID(charge_cells(ctx, span_len(db.col1, db.col2)));
    if (auto col = find_header(db, f.as_str(), ctx)) return std::optional<uint32_t>(*col);
    return fail(format_message(kFieldNotFound, f.as_str()));
}

// ---- DSUM and its kin ---------------------------------------------------

struct Test {
    uint32_t col;
    ParsedCriteria criteria;
};
using CriteriaRow = std::vector<Test>;

// A condition no value meets: every comparison with NaN is false.
Test never_true() { return {0, ParsedCriteria{ParsedCriteria::NumCmp{CritOp::Gt, std::nan("")}}}; }

struct DbQuery {
    std::vector<CriteriaRow> rows;
    uint32_t header_row, last_row, field_col;
    size_t tests = 0;  // in all rows
};

// Lower-cased database header -> column; a later column of the same name wins.
std::unordered_map<std::string, uint32_t> header_map(const Range& db, const EvalCtx& ctx) {
    std::unordered_map<std::string, uint32_t> map;
    for (uint64_t c = db.col1; c <= db.col2; ++c)
        map.insert_or_assign(text::to_lower(header_text(ctx, db.row1, c)), static_cast<uint32_t>(c));
    return map;
}

// One criteria row: a test per condition cell under a non-empty header. A
// header the database lacks makes the whole row select nothing.
CriteriaRow criteria_row(const Range& crit, uint32_t row, const std::unordered_map<std::string, uint32_t>& headers,
                         const EvalCtx& ctx) {
    CriteriaRow tests;
    for (uint64_t c = crit.col1; c <= crit.col2; ++c) {
        const Variant& v = cell_ref(ctx.cells, row, static_cast<uint32_t>(c));
        if (v.is_empty()) continue;
        std::string h = text::to_lower(header_text(ctx, crit.row1, c));
        if (h.empty()) continue;
        auto it = headers.find(h);
        if (it == headers.end()) return {never_true()};
        tests.push_back({it->second, parse_criteria(v)});
    }
    return tests;
}

// The three arguments resolved; none when the field lies past the database.
Result<std::optional<DbQuery>> resolve_query(Args args, const EvalCtx& ctx, std::string_view name) {
    TRY_VOID(check_arity(name, args.size(), 3, 3));
    const Range* db = TRY(table_arg(args[0], name));
    auto field = TRY(resolve_field(args[1], *db, ctx));
    if (!field) return std::optional<DbQuery>{};
    const Range* crit = TRY(table_arg(args[2], name));
    TRY_VOID(charge_cells(ctx, span_len(db->col1, db->col2) + span_len(crit->col1, crit->col2)));
    auto headers = header_map(*db, ctx);
    DbQuery q{{}, db->row1, db->row2, *field};
    // Only the criteria rows that store something are read one by one; the
    // blank ones all select every record, so one stands for them all.
    std::vector<uint32_t> rows;
    // A criteria range written right to left has no columns, as written.
    const uint64_t width = span_len(crit->col1, crit->col2);
    if (rows_below(*crit) > 0 && width > 0) {
        const Range below{crit->col1, crit->row1 + 1, crit->col2, crit->row2};
        for (const StoredCell& c : TRY(stored_cells(below, ctx)))
            if (!c.value().is_empty()) rows.push_back(static_cast<uint32_t>(crit->row1 + 1 + c.index / width));
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    }
    if (rows.size() < rows_below(*crit)) q.rows.emplace_back();
    for (uint32_t row : rows) {
        q.rows.push_back(criteria_row(*crit, row, headers, ctx));
        q.tests += q.rows.back().size();
    }
    return std::optional<DbQuery>(std::move(q));
}

bool selects(const DbQuery& q, uint32_t row, const EvalCtx& ctx) {
    return std::any_of(q.rows.begin(), q.rows.end(), [&](const CriteriaRow& tests) {
        return std::all_of(tests.begin(), tests.end(),
                           [&](const Test& t) { return matches_parsed(cell_ref(ctx.cells, row, t.col), t.criteria); });
    });
}

// What the aggregates need of the selected field values.
struct DbStats {
    double sum = -0.0;
    int64_t numbers = 0, filled = 0;
    double max = -std::numeric_limits<double>::infinity();
    double min = std::numeric_limits<double>::infinity();
};

// Resolves the arguments and reduces the field values of the selected
// records with `result`; a field past the database is #REF!.
Result<Variant> db_aggregate(Args args, const EvalCtx& ctx, std::string_view name, Variant (*result)(const DbStats&)) {
    auto q = TRY(resolve_query(args, ctx, name));
    if (!q) return Variant(ExcelError::Ref);
    DbStats s;
    if (q->rows.empty()) return result(s);
    if (q->last_row <= q->header_row) return result(s);
    // A record whose field is blank adds to no aggregate, so only the stored
    // field cells are visited: a whole-column database costs what it holds.
    const Range field{q->field_col, q->header_row + 1, q->field_col, q->last_row};
    const std::vector<StoredCell> cells = TRY(stored_cells(field, ctx));
    TRY_VOID(charge_cells(ctx, static_cast<unsigned __int128>(cells.size()) * q->tests));
    for (const StoredCell& c : cells) {
        TRY_VOID(charge_step(ctx));  // a long walk stays interruptible
        const auto row = static_cast<uint32_t>(q->header_row + 1 + c.index);
        if (!selects(*q, row, ctx)) continue;
        const Variant& v = c.value();
        s.filled += !v.is_empty();
        if (auto x = as_f64(v)) {
            s.sum += *x;
            ++s.numbers;
            s.max = std::max(s.max, *x);
            s.min = std::min(s.min, *x);
        }
    }
    return result(s);
}

// ---- DGET ---------------------------------------------------------------

// One condition of DGET, read once: a value compared for equality, a
// comparison with a number, a wildcard pattern, or a text equality.
struct DgetCondition {
    enum class Kind { Equal, Less, LessEq, Greater, GreaterEq, NotEqual, Pattern, Text };
    Kind kind = Kind::Equal;
    Variant value;                // Equal: a non-text criterion, or the number of a numeric text
    double number = 0;            // the comparisons; NaN when the text after the operator is no number
    std::string upper;            // Pattern and Text, upper-cased
    std::optional<uint32_t> col;  // the database column; none fails its row
};

DgetCondition dget_condition(const Variant& v) {
    using K = DgetCondition::Kind;
    DgetCondition c;
    if (!v.is_str()) {
        c.value = v;
        return c;
    }
    std::string_view s = v.as_str();
    constexpr std::pair<std::string_view, K> kOps[] = {
        {">=", K::GreaterEq}, {"<=", K::LessEq}, {"<>", K::NotEqual}, {"<", K::Less}, {">", K::Greater}};
    for (auto [prefix, kind] : kOps) {
        if (s.starts_with(prefix)) {
            c.kind = kind;
            c.number = criterion_number(s.substr(prefix.size())).value_or(std::nan(""));
            return c;
        }
    }
    if (s.find_first_of("*?") == std::string_view::npos) {
        if (auto n = criterion_number(s)) {
            c.value = number_variant(*n);
            return c;
        }
    }
    c.kind = s.find_first_of("*?") == std::string_view::npos ? K::Text : K::Pattern;
    c.upper = text::to_upper(s);
    return c;
}

bool dget_holds(const DgetCondition& c, const Variant& x) {
    using K = DgetCondition::Kind;
    switch (c.kind) {
        case K::Equal: return variant_eq(x, c.value);
        case K::Pattern: return wildcard_match(text::to_upper(to_str(x)), c.upper);
        case K::Text: return text::to_upper(to_str(x)) == c.upper;
        default: break;
    }
    auto a = to_float(x);
    if (!a) return false;  // a value that is no number fails every comparison
    switch (c.kind) {
        case K::Less: return *a < c.number;
        case K::LessEq: return *a <= c.number;
        case K::Greater: return *a > c.number;
        case K::GreaterEq: return *a >= c.number;
        default: return std::fabs(*a - c.number) > kNotEqualTolerance;
    }
}

// The conditions of each criteria row; empty cells and cells under an
// empty header hold whatever the record.
std::vector<std::vector<DgetCondition>> dget_rows(const Range& db, const Range& crit, const EvalCtx& ctx) {
    std::vector<std::vector<DgetCondition>> rows;
    for (uint64_t i = 1; i <= rows_below(crit); ++i) {
        auto& conditions = rows.emplace_back();
        for (uint64_t c = crit.col1; c <= crit.col2; ++c) {
            const Variant& v = cell_ref(ctx.cells, static_cast<uint32_t>(crit.row1 + i), static_cast<uint32_t>(c));
            std::string h = header_text(ctx, crit.row1, c);
            if (v.is_empty() || h.empty()) continue;
            DgetCondition cond = dget_condition(v);
            cond.col = find_header(db, h, ctx);
            conditions.push_back(std::move(cond));
        }
    }
    return rows;
}

}  // namespace

Result<Variant> func_dsum(Args args, const EvalCtx& ctx) {
    return db_aggregate(args, ctx, "DSUM",
                        [](const DbStats& s) { return s.numbers ? number_variant(s.sum) : Variant(int64_t{0}); });
}

Result<Variant> func_daverage(Args args, const EvalCtx& ctx) {
    return db_aggregate(args, ctx, "DAVERAGE", [](const DbStats& s) {
        return s.numbers ? Variant(s.sum / static_cast<double>(s.numbers)) : Variant(ExcelError::DivZero);
    });
}

Result<Variant> func_dcount(Args args, const EvalCtx& ctx) {
    return db_aggregate(args, ctx, "DCOUNT", [](const DbStats& s) { return Variant(s.numbers); });
}

Result<Variant> func_dcounta(Args args, const EvalCtx& ctx) {
    return db_aggregate(args, ctx, "DCOUNTA", [](const DbStats& s) { return Variant(s.filled); });
}

Result<Variant> func_dmax(Args args, const EvalCtx& ctx) {
    return db_aggregate(args, ctx, "DMAX",
                        [](const DbStats& s) { return s.numbers ? number_variant(s.max) : Variant(int64_t{0}); });
}

Result<Variant> func_dmin(Args args, const EvalCtx& ctx) {
    return db_aggregate(args, ctx, "DMIN",
                        [](const DbStats& s) { return s.numbers ? number_variant(s.min) : Variant(int64_t{0}); });
}

Result<Variant> func_dget(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("DGET", args.size(), 3, 3));
    const Range* db = TRY(table_arg(args[0], "DGET"));
    auto field = TRY(resolve_field(args[1], *db, ctx));
    if (!field) return Variant(ExcelError::Ref);
    const Range* crit = TRY(table_arg(args[2], "DGET"));
    const uint64_t records = rows_below(*db);
    if (records == 0) return Variant(ExcelError::Value);
    const uint64_t crit_cols = span_len(crit->col1, crit->col2);
    TRY_VOID(charge_cells(
        ctx, static_cast<unsigned __int128>(rows_below(*crit) + 1) * crit_cols * (span_len(db->col1, db->col2) + 1)));
    auto rows = dget_rows(*db, *crit, ctx);
    if (rows.empty()) return Variant(ExcelError::Value);  // no criteria rows select nothing
    size_t conditions = 0;
    for (const auto& r : rows) conditions += r.size();
    // Only the records that store something in the field or a tested column
    // are read one by one; all others are blank there, so one test of a
    // blank record stands for them all and a whole-column database costs
    // what it holds.
    std::vector<uint32_t> cols{*field};
    for (const auto& r : rows)
        for (const DgetCondition& c : r)
            if (c.col) cols.push_back(*c.col);
    std::sort(cols.begin(), cols.end());
    cols.erase(std::unique(cols.begin(), cols.end()), cols.end());
    std::vector<uint64_t> candidates;
    for (uint32_t col : cols)
        for (const StoredCell& c : TRY(stored_cells(Range{col, db->row1 + 1, col, db->row2}, ctx)))
            if (!c.value().is_empty()) candidates.push_back(c.index + 1);
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    TRY_VOID(charge_cells(ctx, static_cast<unsigned __int128>(candidates.size()) * (conditions + 1)));
    // A criteria row without conditions selects every record.
    auto selects_record = [&](auto&& value_in) {
        return std::any_of(rows.begin(), rows.end(), [&](const auto& conds) {
            return std::all_of(conds.begin(), conds.end(),
                               [&](const DgetCondition& c) { return c.col && dget_holds(c, value_in(*c.col)); });
        });
    };
    std::optional<Variant> found;
    for (uint64_t i : candidates) {
        TRY_VOID(charge_step(ctx));
        const auto row = static_cast<uint32_t>(db->row1 + i);
        if (!selects_record([&](uint32_t col) -> const Variant& { return cell_ref(ctx.cells, row, col); })) continue;
        if (found) return Variant(ExcelError::Num);
        found = cell_ref(ctx.cells, row, *field);
    }
    const uint64_t blank_records = records - candidates.size();
    static const Variant kBlank{};
    if (blank_records > 0 && selects_record([](uint32_t) -> const Variant& { return kBlank; })) {
        if (found || blank_records > 1) return Variant(ExcelError::Num);
        found = Variant{};
    }
    if (!found) return Variant(ExcelError::Value);
    return std::move(*found);
}

namespace {
constexpr FuncEntry kTable[] = {
    {"DAVERAGE", func_daverage}, {"DCOUNT", func_dcount}, {"DCOUNTA", func_dcounta}, {"DGET", func_dget},
    {"DMAX", func_dmax},         {"DMIN", func_dmin},     {"DSUM", func_dsum},
};
}  // namespace

std::span<const FuncEntry> database_functions() { return kTable; }

}  // namespace morvane::eval
