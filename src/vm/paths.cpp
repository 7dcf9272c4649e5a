// Object-model paths: Range(...), Cells(...), Sheets(...), ActiveSheet,
// ActiveCell, Selection or an object variable, followed by members
// (.Offset(1, 0), .Cells(i, j), .Rows.Count, .Name, ...). A path is walked
// step by step into a PathObj; its last member is read, assigned or called.
// Members the interpreter does not model fail with a message naming them.
#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>
#include <utility>

#include "types/address.h"
#include "types/text.h"
#include "vm/slots.h"
#include "vm/messages.h"
#include "vm/mod.h"
#include "values/values.h"
#include "workbook/sheet_rows.h"

namespace morvane {

namespace {

constexpr std::string_view kNotAnObject = "Object required: '{}' holds no object";
constexpr std::string_view kCellsDeleted = "Object required: the cells of '{}' were deleted";
constexpr std::string_view kNoValue = "{}: a {} has no value";
constexpr std::string_view kArgCount = "{}: wrong number of arguments";
constexpr std::string_view kNotAssignable = "{} member '{}' cannot be assigned";
constexpr std::string_view kMultiArea = "{}: a range of several areas is not supported here";
constexpr std::string_view kNeedRange = "{}: expected a Range";
constexpr std::string_view kNeedSheet = "{}: expected a sheet";
constexpr std::string_view kNamedArgs = "{} member '{}': named arguments are not supported";
constexpr std::string_view kAddArg = "Sheets.Add: the argument '{}' is not supported";
constexpr std::string_view kAddCount = "Sheets.Add: adding {} sheets at once is not supported";
constexpr std::string_view kAddBoth = "Sheets.Add: Before and After cannot both be given (Error 1004)";
constexpr std::string_view kUnionSheets = "Union: all ranges must be on the same sheet";
constexpr std::string_view kSortNoArg = "Sort: there is no argument '{}'";
constexpr std::string_view kSortArgValue = "Sort: {}:={} is not supported";
constexpr std::string_view kSortKeySheet = "Sort: {} is not on the sheet of the range it sorts";
constexpr std::string_view kSortOrder = "Sort: {} must be xlAscending or xlDescending, not {}";
constexpr std::string_view kSortHeaderValue = "Sort: Header must be xlYes, xlNo or xlGuess, not {}";
constexpr std::string_view kObjectGone = "Object required: the sheet of '{}' was deleted";

std::string_view kind_name(const PathObj& o) {
    switch (o.kind) {
        case PathObj::Kind::Range: return "Range";
        case PathObj::Kind::Sheet: return "Worksheet";
        case PathObj::Kind::Sheets: return "Sheets";
        case PathObj::Kind::Workbook: return "Workbook";
        case PathObj::Kind::Application: return "Application";
        default: return "Value";
    }
}

PathObj range_obj(std::string sheet, std::vector<CellRange> areas) {
    PathObj o;
    o.kind = PathObj::Kind::Range;
    o.range = RangeRef{std::move(sheet), std::move(areas)};
    return o;
}

PathObj sheet_obj(std::string key) {
    PathObj o;
    o.kind = PathObj::Kind::Sheet;
    o.sheet = std::move(key);
    return o;
}

PathObj value_obj(Variant v) {
    PathObj o;
    o.kind = PathObj::Kind::Value;
    o.value = std::move(v);
    return o;
}

// A whole number from an argument, truncated toward zero. Past 2^53 either
// way it stays at 2^53: that is off every sheet already, and leaves room to
// add a position or another index without overflow.
Result<int64_t> whole(const Variant& v) {
    constexpr double kFar = 9007199254740992.0;
    const double x = TRY(vm::to_f64(v));
    return std::isnan(x) ? 0 : static_cast<int64_t>(std::clamp(std::trunc(x), -kFar, kFar));
}

// The first and last row ("2" or "2:3") or column ("B" or "B:D") a text of
// Rows or Columns names, in order; none for any other text.
std::optional<std::pair<int64_t, int64_t>> band_of(std::string_view text, bool rows) {
    const size_t colon = text.find(':');
    const std::string_view lo = text.substr(0, colon);
    const std::string_view hi = colon == std::string_view::npos ? lo : text.substr(colon + 1);
    // Each part made a cell address: a row gets column A, a column row 1.
    auto cell = [&](std::string_view part) { return rows ? "A" + std::string(part) : std::string(part) + "1"; };
    auto a = morvane_types::parse_cell_addr(cell(lo));
    auto b = morvane_types::parse_cell_addr(cell(hi));
    if (!a || !b || (rows ? a->col : a->row) != 1 || (rows ? b->col : b->row) != 1) return std::nullopt;
    const int64_t x = rows ? a->row : a->col, y = rows ? b->row : b->col;
    return std::pair{std::min(x, y), std::max(x, y)};
}

// The rectangle from (r1, c1) to (r2, c2), or the off-sheet message.
Result<CellRange> rect(int64_t r1, int64_t c1, int64_t r2, int64_t c2, std::string_view what) {
    auto ok = [](int64_t r, int64_t c) { return r >= 1 && c >= 1 && r <= kMaxRow && c <= kMaxCol; };
    if (!ok(r1, c1) || !ok(r2, c2)) return fail(format_message(vm::kOffSheet, what));
    return CellRange{{static_cast<uint32_t>(r1), static_cast<uint32_t>(c1)},
                     {static_cast<uint32_t>(r2), static_cast<uint32_t>(c2)}};
}

std::string abs_text(const CellRange& r) {
    auto cell = [](CellPos p) { return "$" + morvane_types::column_letters(p.col) + "$" + std::to_string(p.row); };
    return r.is_single() ? cell(r.first) : cell(r.first) + ":" + cell(r.last);
}

// The name of a constant argument (xlDown, xlYes) or its number.
std::string const_text(const Expr& e) {
    if (auto v = e.get_if<Expr::Var>()) return v->name;
    if (auto i = e.get_if<Expr::Int>()) return std::to_string(i->value);
    if (auto n = e.get_if<Expr::Neg>())
        if (auto i = n->operand->get_if<Expr::Int>()) return std::to_string(-i->value);
    return {};
}

const Expr* find_arg(const std::vector<MethodArg>& args, std::string_view name, size_t position) {
    for (const MethodArg& a : args)
        if (a.name == name) return a.value.empty() ? nullptr : &a.value[0];
    size_t k = 0;
    for (const MethodArg& a : args) {
        if (!a.name.empty()) continue;
        if (k++ == position) return a.value.empty() ? nullptr : &a.value[0];
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- arguments

const vm::XCode* Vm::find_op(const Expr& e) const {
    if (!path_ops_) return nullptr;
    for (const vm::XCode& x : *path_ops_)
        if (x.src == &e) return &x;
    return nullptr;
}

Result<Variant> Vm::path_arg(const Expr& e) {
    const vm::XCode* x = find_op(e);
    if (!x) return fail(format_message(kArgCount, "argument"));
    return evaluate(*x);
}

Result<std::optional<PathObj>> Vm::object_arg(const Expr& e) {
    if (auto p = e.get_if<Expr::ObjPath>()) {
        const vm::XCode* x = find_op(e);
        static const std::vector<vm::XCode> kNone;
        PathOps ops(*this, x ? x->kids : kNone);
        return std::optional<PathObj>(TRY(walk_path(p->steps, p->steps.size())));
    }
    if (auto v = e.get_if<Expr::Var>()) return object_of(v->name);
    return std::optional<PathObj>();
}

Result<std::string> Vm::sheet_arg(const Expr& e) {
    if (e.is<Expr::ActiveSheet>()) return book_.active_sheet();
    if (auto o = TRY(object_arg(e))) {
        if (o->kind == PathObj::Kind::Sheet) return o->sheet;
        if (e.is<Expr::ObjPath>()) return fail(format_message(kNeedSheet, "Sheets.Add"));
    }
    auto [key, label] = TRY(sheet_by_value(TRY(path_arg(e))));
    return key;
}

Result<std::string> Vm::add_sheet(const std::vector<const Expr*>& args, const std::vector<std::string>& names) {
    static constexpr std::string_view kOrder[] = {"before", "after", "count", "type"};
    const Expr* before = nullptr;
    const Expr* after = nullptr;
    for (size_t i = 0; i < args.size(); ++i) {
        if (!args[i]) continue;  // left out between commas
        std::string_view name = names.empty() || names[i].empty() ? std::string_view() : std::string_view(names[i]);
        if (name.empty() && i < std::size(kOrder)) name = kOrder[i];
        if (name == "before") {
            before = args[i];
        } else if (name == "after") {
            after = args[i];
        } else if (name == "count") {
            // One sheet is all this workbook model adds at a time.
            const int64_t n = TRY(whole(TRY(path_arg(*args[i]))));
            if (n != 1) return fail(format_message(kAddCount, std::to_string(n)));
        } else if (name != "type") {
            // Type:= is a worksheet here: the only kind of sheet there is.
            return fail(format_message(kAddArg, name));
        }
    }
    if (before && after) return fail(std::string(kAddBoth));
    const std::string anchor = before ? TRY(sheet_arg(*before)) : after ? TRY(sheet_arg(*after)) : std::string();
    TRY_VOID(append_new_sheet());
    const std::string key = book_.active_sheet();
    if (anchor.empty()) return key;
    const auto& order = book_.sheet_names();
    const size_t at = static_cast<size_t>(std::find(order.begin(), order.end(), anchor) - order.begin());
    book_.move_sheet(key, after ? at + 1 : at);
    return key;
}

// ---------------------------------------------------------------- selection

RangeRef Vm::selection_of(const std::string& sheet) const {
    auto it = selection_.find(sheet);
    if (it != selection_.end()) return it->second;
    return RangeRef::single(sheet, CellRange::single(CellPos{1, 1}));
}

Result<void> Vm::select_range(const RangeRef& range) {
    if (!book_.has_sheet(range.sheet)) return fail(format_message(vm::kNoSuchSheet, range.sheet));
    TRY_VOID(book_.set_active_sheet(range.sheet));
    selection_.insert_or_assign(range.sheet, range);
    return {};
}

// ---------------------------------------------------------------- walking

Result<const ObjectRef*> Vm::object_var(const std::string& name) const {
    const ObjectRef* ref = object_ref(name);
    if (!ref) return nullptr;
    if (auto r = std::get_if<ObjectRef::Range>(&ref->node)) {
        if (!book_.has_sheet(r->range.sheet)) return fail(format_message(kObjectGone, name));
        if (r->range.areas.empty()) return fail(format_message(kCellsDeleted, name));
    }
    return ref;
}

Result<std::optional<PathObj>> Vm::object_of(const std::string& name) const {
    const ObjectRef* ref = TRY(object_var(name));
    if (!ref) return std::optional<PathObj>();
    if (auto r = std::get_if<ObjectRef::Range>(&ref->node))
        return std::optional<PathObj>(range_obj(r->range.sheet, r->range.areas));
    if (auto w = std::get_if<ObjectRef::Worksheet>(&ref->node)) return std::optional<PathObj>(sheet_obj(w->sheet));
    PathObj o;
    o.kind = PathObj::Kind::Workbook;
    return std::optional<PathObj>(std::move(o));
}

Result<RangeRef> Vm::range_arg(const Expr& e) {
    if (auto o = TRY(object_arg(e))) {
        if (o->kind == PathObj::Kind::Range) return o->range;
        if (e.is<Expr::ObjPath>()) return fail(format_message(kNeedRange, "Range"));
    }
    if (auto c = e.get_if<Expr::Call>(); c && c->name == "range" && c->args.size() == 1)
        if (auto s = c->args[0].get_if<Expr::Str>()) {
            auto areas = resolve_multi_area_addr(s->value);
            if (!areas) return fail(format_message(vm::kRangeInvalid, s->value));
            for (CellRange& a : *areas) a = a.normalised();
            return RangeRef{book_.active_sheet(), std::move(*areas)};
        }
    const std::string text = vm::vba_to_str(TRY(path_arg(e)));
    auto areas = resolve_multi_area_addr(text);
    if (!areas) return fail(format_message(vm::kRangeInvalid, text));
    for (CellRange& a : *areas) a = a.normalised();
    return RangeRef{book_.active_sheet(), std::move(*areas)};
}

namespace {

// Range(a) or Range(a, b) on `sheet`.
template <class Vm_, class ArgRange>
Result<PathObj> range_on(const std::string& sheet, const ObjStep& step, ArgRange&& arg_range) {
    if (step.args.empty() || step.args.size() > 2) return fail(format_message(kArgCount, "Range"));
    RangeRef a = TRY(arg_range(step.args[0]));
    if (step.args.size() == 1) return range_obj(sheet, std::move(a.areas));
    RangeRef b = TRY(arg_range(step.args[1]));
    CellRange x = a.areas.front(), y = b.areas.back();
    CellRange joined{{std::min(x.first.row, y.first.row), std::min(x.first.col, y.first.col)},
                     {std::max(x.last.row, y.last.row), std::max(x.last.col, y.last.col)}};
    return range_obj(sheet, {joined});
}

}  // namespace

Result<PathObj> Vm::path_root(const ObjStep& root) {
    const std::string& n = root.name;
    const std::string active = book_.active_sheet();
    if (n == "range" || n == "cells" || n == "rows" || n == "columns") {
        return path_member(sheet_obj(active), root);
    }
    if (n == "sheets" || n == "worksheets") {
        if (!root.called || root.args.empty()) {
            PathObj o;
            o.kind = PathObj::Kind::Sheets;
            return o;
        }
        auto [key, label] = TRY(sheet_by_value(TRY(path_arg(root.args[0]))));
        return sheet_obj(key);
    }
    if (n == "activesheet") return sheet_obj(active);
    if (n == "union") {
        // The areas of every part, in order, all on one sheet.
        PathObj joined;
        for (size_t i = 0; i < root.args.size(); ++i) {
            RangeRef part = TRY(range_arg(root.args[i]));
            // clang-format off
            if (i == 0) joined = range_obj(part.sheet, {});
            else if (part.sheet != joined.range.sheet) return fail(std::string(kUnionSheets));
            // clang-format on
            joined.range.areas.insert(joined.range.areas.end(), part.areas.begin(), part.areas.end());
        }
        if (joined.range.areas.empty()) return fail(format_message(kArgCount, "Union"));
        return joined;
    }
    if (n == "activecell") {
        RangeRef sel = selection_of(active);
        return range_obj(active, {CellRange::single(sel.areas.front().first)});
    }
    if (n == "selection") {
        RangeRef sel = selection_of(active);
        return range_obj(active, sel.areas);
    }
    if (n == "thisworkbook" || n == "activeworkbook" || n == "application") {
        PathObj o;
        o.kind = n == "application" ? PathObj::Kind::Application : PathObj::Kind::Workbook;
        return o;
    }
    if (auto o = TRY(object_of(n))) {
        if (!root.called) return *o;
        // r(i, j) is r.Item(i, j).
        return path_member(*o, root, "item");
    }
    if (unmodeled_object_name(n)) return fail(format_message(vm::kNotModeled, "Application", n));
    if (const Variant* v = find_var(n); v && !v->is_empty()) return fail(format_message(kNotAnObject, n));
    return fail(format_message(vm::kNothing, n));
}

Result<PathObj> Vm::walk_path(const std::vector<ObjStep>& steps, size_t count) {
    PathObj o = TRY(path_root(steps[0]));
    for (size_t i = 1; i < count; ++i) o = TRY(path_member(std::move(o), steps[i]));
    return o;
}

Result<PathObj> Vm::path_member(PathObj base, const ObjStep& step, std::string_view as) {
    const std::string m = as.empty() ? step.name : std::string(as);
    auto arg = [&](size_t i) -> Result<Variant> { return path_arg(step.args[i]); };
    if (!step.arg_names.empty() && !(base.kind == PathObj::Kind::Sheets && m == "add"))
        return fail(format_message(kNamedArgs, kind_name(base), m));
    switch (base.kind) {
        case PathObj::Kind::Sheet: {
            const std::string& sheet = base.sheet;
            if (!book_.has_sheet(sheet)) return fail(format_message(vm::kNoSuchSheet, sheet));
            if (m == "range") {
                // Addresses name cells of this sheet, whatever sheet is active.
                return range_on<Vm>(sheet, step, [&](const Expr& e) -> Result<RangeRef> {
                    RangeRef r = TRY(range_arg(e));
                    r.sheet = sheet;
                    return r;
                });
            }
            if (m == "cells" || m == "rows" || m == "columns") {
                PathObj all = range_obj(sheet, {CellRange{{1, 1}, {kMaxRow, kMaxCol}}});
                if (!step.called || step.args.empty()) {
                    // clang-format off
                    all.view = m == "rows" ? PathObj::View::Rows : m == "columns" ? PathObj::View::Columns
                                                                                  : PathObj::View::Cells;
                    // clang-format on
                    return all;
                }
                return path_member(std::move(all), step);
            }
            if (m == "name") return value_obj(Variant(book_.display_name(sheet)));
            if (m == "index") {
                const auto& names = book_.sheet_names();
                auto at = std::find(names.begin(), names.end(), sheet);
                return value_obj(Variant(static_cast<int64_t>(at - names.begin() + 1)));
            }
            if (m == "usedrange") {
                const CellMap* cells = book_.sheet_by_key(sheet);
                CellRange used = CellRange::single({1, 1});
                bool any = false;
                for (const auto& [pos, c] : *cells) {
                    if (c.value.is_empty() && !c.formula) continue;
                    if (!any) used = CellRange::single(pos);
                    used.first = {std::min(used.first.row, pos.row), std::min(used.first.col, pos.col)};
                    used.last = {std::max(used.last.row, pos.row), std::max(used.last.col, pos.col)};
                    any = true;
                }
                return range_obj(sheet, {used});
            }
            if (m == "parent") {
                PathObj o;
                o.kind = PathObj::Kind::Workbook;
                return o;
            }
            break;
        }
        case PathObj::Kind::Sheets: {
            if (m == "count") return value_obj(Variant(static_cast<int64_t>(book_.sheet_names().size())));
            if (m == "add") {
                std::vector<const Expr*> args;
                for (const Expr& a : step.args) args.push_back(&a);
                return sheet_obj(TRY(add_sheet(args, step.arg_names)));
            }
            if (m == "item" && step.args.size() == 1) {
                auto [key, label] = TRY(sheet_by_value(TRY(arg(0))));
                return sheet_obj(key);
            }
            break;
        }
        case PathObj::Kind::Workbook:
        case PathObj::Kind::Application: {
            if (m == "sheets" || m == "worksheets") return path_root(step);
            if (m == "activesheet") return sheet_obj(book_.active_sheet());
            if (m == "worksheetfunction") break;
            break;
        }
        case PathObj::Kind::Range: {
            RangeRef& r = base.range;
            const CellRange first = r.areas.front().normalised();
            if (m == "value" || m == "value2") return value_obj(TRY(path_value(base, m)));
            if (m == "formula" || m == "text") return value_obj(TRY(path_value(base, m)));
            if (m == "count") {
                uint64_t n = 0;
                // clang-format off
                if (base.view == PathObj::View::Rows) n = first.rows();
                else if (base.view == PathObj::View::Columns) n = first.cols();
                else n = vm::total_cells(r.areas);
                // clang-format on
                return value_obj(Variant(static_cast<int64_t>(std::min<uint64_t>(n, INT64_MAX))));
            }
            if (m == "row") return value_obj(Variant(static_cast<int64_t>(first.first.row)));
            if (m == "column") return value_obj(Variant(static_cast<int64_t>(first.first.col)));
            if (m == "address") {
                std::string text;
                for (const CellRange& a : r.areas) {
                    if (!text.empty()) text += ',';
                    text += abs_text(a.normalised());
                }
                return value_obj(Variant(std::move(text)));
            }
            if (m == "areas") {
                if (!step.called || step.args.empty()) {
                    if (base.view == PathObj::View::Cells) base.view = PathObj::View::Cells;
                    PathObj o = value_obj(Variant(static_cast<int64_t>(r.areas.size())));
                    // r.Areas.Count: the count is all a path asks of the collection.
                    o.kind = PathObj::Kind::Value;
                    o.sheet = "areas";
                    return o;
                }
                const int64_t i = TRY(whole(TRY(arg(0))));
                if (i < 1 || static_cast<uint64_t>(i) > r.areas.size())
                    return fail(format_message("Areas: index {} out of range (range has {} area{})", std::to_string(i),
                                               std::to_string(r.areas.size()), r.areas.size() == 1 ? "" : "s"));
                return range_obj(r.sheet, {r.areas[static_cast<size_t>(i - 1)]});
            }
            if (m == "rows" || m == "columns") {
                const bool rows = m == "rows";
                if (!step.called || step.args.empty()) {
                    base.view = rows ? PathObj::View::Rows : PathObj::View::Columns;
                    return base;
                }
                // A number picks one row or column; a text such as "2:3" or
                // "B:D" a band of them, counted within the range.
                const Variant which = TRY(arg(0));
                int64_t lo = 0, hi = 0;
                if (which.is_str()) {
                    auto band = band_of(which.as_str(), rows);
                    if (!band) return fail(format_message(vm::kRangeInvalid, which.as_str()));
                    std::tie(lo, hi) = *band;
                } else {
                    lo = hi = TRY(whole(which));
                }
                CellRange a = rows ? TRY(rect(int64_t{first.first.row} + lo - 1, first.first.col,
                                              int64_t{first.first.row} + hi - 1, first.last.col, "Rows"))
                                   : TRY(rect(first.first.row, int64_t{first.first.col} + lo - 1, first.last.row,
                                              int64_t{first.first.col} + hi - 1, "Columns"));
                return range_obj(r.sheet, {a});
            }
            if (m == "offset") {
                const int64_t dr = step.args.size() > 0 ? TRY(whole(TRY(arg(0)))) : 0;
                const int64_t dc = step.args.size() > 1 ? TRY(whole(TRY(arg(1)))) : 0;
                std::vector<CellRange> moved;
                for (const CellRange& a0 : r.areas) {
                    const CellRange a = a0.normalised();
                    if (std::abs(dr) > int64_t{kMaxRow} || std::abs(dc) > int64_t{kMaxCol})
                        return fail(format_message(vm::kOffSheet, "Offset"));
                    moved.push_back(
                        TRY(rect(a.first.row + dr, a.first.col + dc, a.last.row + dr, a.last.col + dc, "Offset")));
                }
                return range_obj(r.sheet, std::move(moved));
            }
            if (m == "resize") {
                const int64_t rows = step.args.size() > 0 ? TRY(whole(TRY(arg(0)))) : int64_t(first.rows());
                const int64_t cols = step.args.size() > 1 ? TRY(whole(TRY(arg(1)))) : int64_t(first.cols());
                if (rows < 1 || cols < 1 || rows > kMaxRow || cols > kMaxCol)
                    return fail(format_message(vm::kOffSheet, "Resize"));
                CellRange a = TRY(rect(first.first.row, first.first.col, first.first.row + rows - 1,
                                       first.first.col + cols - 1, "Resize"));
                return range_obj(r.sheet, {a});
            }
            if (m == "cells" || m == "item") {
                if (!step.called || step.args.empty()) return base;
                int64_t i = TRY(whole(TRY(arg(0))));
                int64_t j = 1;
                if (step.args.size() > 1) {
                    j = TRY(whole(TRY(arg(1))));
                } else if (base.view != PathObj::View::Rows) {
                    // One index counts cells row by row (or down a column view).
                    const int64_t width = base.view == PathObj::View::Columns ? 1 : int64_t(first.cols());
                    if (base.view == PathObj::View::Columns) {
                        CellRange a = TRY(rect(first.first.row, int64_t{first.first.col} + i - 1, first.last.row,
                                               int64_t{first.first.col} + i - 1, "Cells"));
                        return range_obj(r.sheet, {a});
                    }
                    if (i < 1) return fail(format_message(vm::kOffSheet, "Cells"));
                    j = (i - 1) % width + 1;
                    i = (i - 1) / width + 1;
                } else {
                    CellRange a = TRY(rect(int64_t{first.first.row} + i - 1, first.first.col,
                                           int64_t{first.first.row} + i - 1, first.last.col, "Rows"));
                    return range_obj(r.sheet, {a});
                }
                CellRange a = TRY(rect(int64_t{first.first.row} + i - 1, int64_t{first.first.col} + j - 1,
                                       int64_t{first.first.row} + i - 1, int64_t{first.first.col} + j - 1, "Cells"));
                return range_obj(r.sheet, {a});
            }
            if (m == "range") {
                // Relative to the range's first cell.
                RangeRef rel = TRY(range_arg(step.args.empty() ? Expr{Expr::Str{""}} : step.args[0]));
                std::vector<CellRange> out;
                for (const CellRange& a : rel.areas)
                    // clang-format off
                    out.push_back(TRY(rect(int64_t{a.first.row} + first.first.row - 1, int64_t{a.first.col} + first.first.col - 1,
                                           int64_t{a.last.row} + first.first.row - 1, int64_t{a.last.col} + first.first.col - 1,
                                           "Range")));
                return range_obj(r.sheet, std::move(out));
            }
            if (m == "entirerow") return range_obj(r.sheet, {CellRange{{first.first.row, 1}, {first.last.row, kMaxCol}}});
            // clang-format on
            if (m == "entirecolumn")
                return range_obj(r.sheet, {CellRange{{1, first.first.col}, {kMaxRow, first.last.col}}});
            if (m == "end") {
                std::string dir = step.args.empty() ? std::string() : const_text(step.args[0]);
                const CellMap* cells = book_.sheet_by_key(r.sheet);
                // A Function called by an argument on the way may have deleted it.
                if (!cells) return fail(format_message(vm::kNoSuchSheet, r.sheet));
                auto filled = [&](uint32_t row, uint32_t col) {
                    auto it = cells->find(CellPos{row, col});
                    return it != cells->end() && !it->second.value.is_empty();
                };
                CellPos p = first.first;
                int dr = 0, dc = 0;
                // clang-format off
                if (dir == "xlup" || dir == "-4162") dr = -1;
                else if (dir == "xldown" || dir == "-4121") dr = 1;
                else if (dir == "xltoleft" || dir == "-4159") dc = -1;
                else if (dir == "xltoright" || dir == "-4161") dc = 1;
                else return fail(format_message("unknown xl_dir: {}", dir));
                // clang-format on
                auto next = [&](CellPos q, CellPos& out) {
                    int64_t rr = int64_t{q.row} + dr, cc = int64_t{q.col} + dc;
                    if (rr < 1 || cc < 1 || rr > kMaxRow || cc > kMaxCol) return false;
                    out = {static_cast<uint32_t>(rr), static_cast<uint32_t>(cc)};
                    return true;
                };
                // As the application moves: along a block of filled cells to its
                // end, or across blanks to the next filled cell (or the edge).
                CellPos q;
                if (!next(p, q)) return range_obj(r.sheet, {CellRange::single(p)});
                if (filled(p.row, p.col) && filled(q.row, q.col)) {
                    CellPos n;
                    while (next(q, n) && filled(n.row, n.col)) q = n;
                    p = q;
                } else {
                    // Sparse sheets: jump to the nearest stored cell in the direction.
                    std::optional<CellPos> best;
                    for (const auto& [pos, c] : *cells) {
                        if (c.value.is_empty()) continue;
                        if (dr != 0 && pos.col == p.col && (dr > 0 ? pos.row > p.row : pos.row < p.row))
                            if (!best || (dr > 0 ? pos.row < best->row : pos.row > best->row)) best = pos;
                        if (dc != 0 && pos.row == p.row && (dc > 0 ? pos.col > p.col : pos.col < p.col))
                            if (!best || (dc > 0 ? pos.col < best->col : pos.col > best->col)) best = pos;
                    }
                    // clang-format off
                    if (best) p = *best;
                    else p = dr > 0 ? CellPos{kMaxRow, p.col} : dr < 0 ? CellPos{1, p.col}
                           : dc > 0 ? CellPos{p.row, kMaxCol} : CellPos{p.row, 1};
                    // clang-format on
                }
                return range_obj(r.sheet, {CellRange::single(p)});
            }
            if (m == "worksheet" || m == "parent") return sheet_obj(r.sheet);
            break;
        }
        case PathObj::Kind::Value: {
            if (base.sheet == "areas" && m == "count") return value_obj(base.value);
            break;
        }
    }
    return fail(format_message(vm::kNotModeled, kind_name(base), m));
}

// ---------------------------------------------------------------- values

Result<Variant> Vm::path_value(const PathObj& obj, std::string_view what) {
    if (obj.kind == PathObj::Kind::Value) return obj.value;
    if (obj.kind != PathObj::Kind::Range) return fail(format_message(kNoValue, what, kind_name(obj)));
    if (!book_.has_sheet(obj.range.sheet)) return fail(format_message(vm::kNoSuchSheet, obj.range.sheet));
    if (what == "formula" || what == "text") {
        if (obj.range.areas.size() != 1) return fail(format_message(kMultiArea, what));
        const CellRange a = obj.range.areas.front().normalised();
        TRY_VOID(book_.update(obj.range.sheet));
        const CellMap* cells = book_.sheet_by_key(obj.range.sheet);
        auto it = cells->find(a.first);
        if (it == cells->end()) return Variant(std::string());
        if (what == "formula" && it->second.formula) return Variant(*it->second.formula);
        return Variant(vm::vba_to_str(it->second.value));
    }
    if (obj.range.areas.size() != 1) return read_range_ref_value(obj.range);
    return read_range_ref_value(RangeRef::single(obj.range.sheet, obj.range.areas.front().normalised()));
}

Result<Variant> Vm::eval_obj_path(const vm::XCode& x) {
    const auto& e = x.src->as<Expr::ObjPath>();
    PathOps ops(*this, x.kids);
    PathObj o = TRY(walk_path(e.steps, e.steps.size()));
    return path_value(o, e.steps.back().name);
}

Result<Variant> Vm::object_field_read(const PathObj& obj, const std::vector<std::string>& path) {
    PathObj o = obj;
    for (const std::string& name : path) o = TRY(path_member(std::move(o), ObjStep{name, {}, false}));
    return path_value(o, path.back());
}

Result<void> Vm::object_field_write(const std::string& var, const std::vector<std::string>& path,
                                    const vm::XCode& value) {
    PathObj o = *TRY(object_of(var));
    for (size_t i = 0; i + 1 < path.size(); ++i) o = TRY(path_member(std::move(o), ObjStep{path[i], {}, false}));
    Variant v = TRY(evaluate(value));
    TRY_VOID(member_write(o, path.back(), v));
    // A For Each variable reads as its cell's value: keep that value fresh.
    if (auto now = TRY(object_of(var)); now && now->kind == PathObj::Kind::Range && find_var(var)) {
        const auto& areas = now->range.areas;
        if (areas.size() == 1 && areas.front().is_single()) set_var(var, TRY(read_range_ref_value(now->range)));
    }
    return {};
}

// ---------------------------------------------------------------- writes

Result<void> Vm::write_range_values(const RangeRef& range, const Variant& value) {
    TRY_VOID(book_.check_sheet_not_protected(range.sheet, range.sheet));
    if (!book_.has_sheet(range.sheet)) return fail(format_message(vm::kNoSuchSheet, range.sheet));
    std::vector<CellRange> areas;
    for (const CellRange& a : range.areas) areas.push_back(a.normalised());
    const uint64_t total = vm::total_cells(areas);
    TRY_VOID(vm::check_range_size(vm::rect_text(areas.front()), total, "write"));
    TRY_VOID(charge_work(total));
    // A text that starts with "=" is entered as a formula, as typing it is.
    if (vm::is_formula_text(value)) {
        const std::string formula = value.as_str();
        return on_sheet(range.sheet, [&]() -> Result<void> {
            for (const CellRange& a : areas) TRY_VOID(set_rect_formula(a, formula));
            return {};
        });
    }
    CellMap* sheet = nullptr;
    for (const CellRange& a : areas) sheet = book_.sheet_cells_mut(range.sheet, a);
    CellMap& cells = *sheet;
    if (value.is_array()) {
        // One element per cell in reading order; cells past the end get #N/A.
        const Array& arr = value.as_array();
        size_t k = 0;
        for (const CellRange& a : areas)
            a.for_each_cell([&](CellPos p) {
                vm::enter_value(cells, p, k < arr.size() ? arr[k] : Variant(ExcelError::NA));
                ++k;
            });
        return {};
    }
    for (const CellRange& a : areas) vm::fill_rect(cells, a, value);
    return {};
}

Result<void> Vm::member_write(const PathObj& target, const std::string& member, const Variant& value) {
    if (target.kind == PathObj::Kind::Range) {
        if (member == "value" || member == "value2") return write_range_values(target.range, value);
        if (member == "formula") {
            // A text without "=" is entered as the value it reads as, as .Value enters it.
            return write_range_values(target.range, value);
        }
        if (member == "name") {
            std::string text;
            for (const CellRange& a : target.range.areas) {
                if (!text.empty()) text += ',';
                text += vm::rect_text(a.normalised());
            }
            std::string name = text::to_lower(vm::vba_to_str(value));
            book_.defined_name_sheets.insert_or_assign(name, target.range.sheet);
            book_.defined_names.insert_or_assign(std::move(name), std::move(text));
            return {};
        }
        return fail(format_message(kNotAssignable, "Range", member));
    }
    if (target.kind == PathObj::Kind::Sheet && member == "name") {
        const std::string old = target.sheet;
        TRY_VOID(book_.rename_sheet(old, vm::vba_to_str(value)));
        const std::string now = text::to_lower(vm::vba_to_str(value));
        // Variables and selections keep following the sheet.
        for_each_object([&](ObjectRef& ref) {
            if (auto r = std::get_if<ObjectRef::Range>(&ref.node); r && r->range.sheet == old) r->range.sheet = now;
            if (auto w = std::get_if<ObjectRef::Worksheet>(&ref.node); w && w->sheet == old) w->sheet = now;
        });
        if (auto it = selection_.find(old); it != selection_.end() && old != now) {
            RangeRef sel = it->second;
            sel.sheet = now;
            selection_.erase(it);
            selection_.insert_or_assign(now, std::move(sel));
        }
        return {};
    }
    return fail(format_message(kNotAssignable, kind_name(target), member));
}

// ---------------------------------------------------------------- statements

Result<void> Vm::exec_obj_call(const Stmt::ObjCall& s, const vm::SCode& c) {
    PathOps ops(*this, c.x);
    const ObjStep& last = s.steps.back();
    if (s.value) {
        const bool property =
            !last.called && s.steps.size() > 1 &&
            (last.name == "value" || last.name == "value2" || last.name == "formula" || last.name == "name");
        if (property) {
            PathObj target = TRY(walk_path(s.steps, s.steps.size() - 1));
            Variant v = TRY(path_arg(*s.value));
            return member_write(target, last.name, v);
        }
        // The default property: Cells(1, 2) = 3, r.Offset(1, 0) = 5.
        PathObj target = TRY(walk_path(s.steps, s.steps.size()));
        if (target.kind != PathObj::Kind::Range)
            return fail(format_message(kNotAssignable, kind_name(target), last.name));
        Variant v = TRY(path_arg(*s.value));
        return member_write(target, "value", v);
    }
    if (s.steps.size() == 1) return fail(format_message(vm::kNotModeled, "Object", last.name));
    PathObj target = TRY(walk_path(s.steps, s.steps.size() - 1));
    return member_call(target, last.name, s.args);
}

namespace {

// Range.Sort's arguments in VBA's order, with the value each takes when
// left out; the ones past Header are not modelled beyond that value.
struct SortArg {
    std::string_view name, shown;
    double default_value;
};
// clang-format off
constexpr SortArg kSortArgs[] = {
    {"key1", "Key1", 0},         {"order1", "Order1", 1},           {"key2", "Key2", 0},
    {"type", "Type", 0},         {"order2", "Order2", 1},           {"key3", "Key3", 0},
    {"order3", "Order3", 1},     {"header", "Header", 2},           {"ordercustom", "OrderCustom", 1},
    {"matchcase", "MatchCase", 0}, {"orientation", "Orientation", 1}, {"sortmethod", "SortMethod", 1},
    {"dataoption1", "DataOption1", 0}, {"dataoption2", "DataOption2", 0}, {"dataoption3", "DataOption3", 0},
};
// clang-format on
constexpr size_t kSortHeader = 7;

}  // namespace

Result<void> Vm::sort_call(const CellRange& area, const std::vector<MethodArg>& args) {
    // Each argument, by its place in kSortArgs.
    const Expr* given[std::size(kSortArgs)] = {};
    size_t position = 0;
    for (const MethodArg& a : args) {
        size_t i = position++;
        if (!a.name.empty()) {
            i = 0;
            while (i < std::size(kSortArgs) && kSortArgs[i].name != a.name) ++i;
            if (i == std::size(kSortArgs)) return fail(format_message(kSortNoArg, a.name));
        }
        if (i >= std::size(kSortArgs)) return fail(format_message(kArgCount, "Sort"));
        if (!a.value.empty()) given[i] = &a.value[0];
    }
    // The constant an argument gives (MatchCase: 1 for True; -1 for what is
    // none), and its text for a message.
    auto code = [&](size_t i) -> Result<std::pair<double, std::string>> {
        if (!given[i]) return std::pair{kSortArgs[i].default_value, std::string()};
        const Variant v = TRY(path_arg(*given[i]));
        double x = -1;
        if (kSortArgs[i].name == "matchcase") {
            if (auto b = vm::is_truthy(v)) x = *b ? 1 : 0;
        } else if (auto n = vm::to_f64(v); n && !std::isnan(*n)) {
            x = *n;
        }
        return std::pair{x, vm::vba_to_str(v)};
    };
    // Type only applies to pivot tables; the rest must ask for what is done.
    for (size_t i = kSortHeader + 1; i < std::size(kSortArgs); ++i) {
        auto [x, text] = TRY(code(i));
        if (x != kSortArgs[i].default_value) return fail(format_message(kSortArgValue, kSortArgs[i].shown, text));
    }
    // Key1 (the range's first column when left out), then Key2 and Key3 when given.
    static constexpr size_t kKeyAt[] = {0, 2, 5}, kOrderAt[] = {1, 4, 6};
    std::vector<vm::SortKey> keys;
    for (size_t k = 0; k < std::size(kKeyAt); ++k) {
        const Expr* key = given[kKeyAt[k]];
        if (k > 0 && !key) continue;
        int64_t col = area.first.col;
        if (key) {
            RangeRef r = TRY(range_arg(*key));
            if (r.sheet != book_.active_sheet()) return fail(format_message(kSortKeySheet, kSortArgs[kKeyAt[k]].shown));
            col = r.areas.front().first.col;
        }
        auto [order, text] = TRY(code(kOrderAt[k]));
        if (order != 1 && order != 2) return fail(format_message(kSortOrder, kSortArgs[kOrderAt[k]].shown, text));
        // A key column left of the range sorts by its first column.
        const int64_t index = col - int64_t{area.first.col};
        keys.push_back(vm::SortKey{index > 0 ? static_cast<uint64_t>(index) : 0, order == 2});
    }
    auto [header, text] = TRY(code(kSortHeader));
    if (header != 0 && header != 1 && header != 2) return fail(format_message(kSortHeaderValue, text));
    return sort_area(area, keys, header == 0 ? std::nullopt : std::optional<bool>(header == 1));
}

Result<void> Vm::member_call(const PathObj& target, const std::string& m, const std::vector<MethodArg>& args) {
    if (target.kind == PathObj::Kind::Sheets) {
        if (m == "add") {
            std::vector<const Expr*> values;
            std::vector<std::string> names;
            for (const MethodArg& a : args) {
                values.push_back(a.value.empty() ? nullptr : &a.value[0]);
                names.push_back(a.name);
            }
            TRY(add_sheet(values, names));
            return {};
        }
    }
    if (target.kind == PathObj::Kind::Sheet) {
        const std::string& key = target.sheet;
        if (!book_.has_sheet(key)) return fail(format_message(vm::kNoSuchSheet, key));
        if (m == "activate" || m == "select") return book_.set_active_sheet(key);
        if (m == "calculate") return book_.recalculate_sheet(key);
        if (m == "delete") {
            TRY_VOID(book_.check_sheet_not_protected(key, book_.display_name(key)));
            return book_.delete_sheet(key);
        }
        if (m == "protect" || m == "unprotect") {
            const Expr* pw = find_arg(args, "password", 0);
            std::string password = pw ? vm::vba_to_str(TRY(path_arg(*pw))) : std::string();
            if (m == "unprotect") return unprotect_sheet(key, password);
            const Expr* ui = find_arg(args, "userinterfaceonly", 99);
            if (ui && TRY(vm::is_truthy(TRY(path_arg(*ui))))) return {};
            if (book_.protected_sheets.insert(key).second) sheet_passwords_.insert_or_assign(key, std::move(password));
            return {};
        }
        if (m == "paste") {
            const Expr* dest = find_arg(args, "destination", 0);
            if (!dest) return fail(format_message(kArgCount, "Paste"));
            RangeRef d = TRY(range_arg(*dest));
            return on_sheet(key, [&] { return do_paste(vm::rect_text(d.areas.front()), false); });
        }
    }
    if (target.kind == PathObj::Kind::Range) {
        const RangeRef& r = target.range;
        if (!book_.has_sheet(r.sheet)) return fail(format_message(vm::kNoSuchSheet, r.sheet));
        std::string text;
        for (const CellRange& a : r.areas) {
            if (!text.empty()) text += ',';
            text += vm::rect_text(a.normalised());
        }
        if (m == "select" || m == "activate") return select_range(r);
        if (m == "calculate") {
            // The formulas inside, from the values the other cells hold.
            return on_sheet(r.sheet, [&]() -> Result<void> {
                for (const CellRange& a : r.areas) TRY_VOID(book_.recalculate_area(a.normalised()));
                return {};
            });
        }
        if (m == "clear" || m == "clearcontents") {
            TRY_VOID(book_.check_sheet_not_protected(r.sheet, r.sheet));
            for (const CellRange& a : r.areas)
                vm::clear_rect(*book_.sheet_cells_mut(r.sheet, a.normalised()), a.normalised());
            return {};
        }
        if (m == "copy") {
            TRY_VOID(copy_areas_to_clipboard(r.sheet, r.areas, text));
            if (const Expr* dest = find_arg(args, "destination", 0)) {
                RangeRef d = TRY(range_arg(*dest));
                return on_sheet(d.sheet, [&] { return do_paste(vm::rect_text(d.areas.front()), false); });
            }
            return {};
        }
        if (m == "paste" || m == "pastespecial") {
            const Expr* t = find_arg(args, "transpose", 99);
            const bool transpose = t && TRY(vm::is_truthy(TRY(path_arg(*t))));
            const Expr* w = m == "pastespecial" ? find_arg(args, "paste", 0) : nullptr;
            const Variant what = w ? TRY(path_arg(*w)) : Variant();
            return on_sheet(r.sheet, [&] { return do_paste(text, transpose, what); });
        }
        if (m == "delete" || m == "insert" || m == "sort") {
            if (r.areas.size() != 1) return fail(format_message(kMultiArea, m));
            const CellRange a = r.areas.front().normalised();
            return on_sheet(r.sheet, [&]() -> Result<void> {
                TRY_VOID(check_active_not_protected());
                if (m == "delete" || m == "insert") {
                    const Expr* sh = find_arg(args, "shift", 0);
                    const Variant shift = sh ? TRY(path_arg(*sh)) : Variant();
                    return move_cells(r.sheet, a, m == "insert", shift, text);
                }
                return sort_call(a, args);
            });
        }
    }
    return fail(format_message(vm::kNotModeled, kind_name(target), m));
}

}  // namespace morvane
