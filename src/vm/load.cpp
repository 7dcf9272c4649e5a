// Loading a program: the module variables are made, and every name in the
// tree is bound to an index of its procedure's frame and procedure names to
// their definitions, so that a run never hashes a name. The variables seen
// by name are here too.
#include <type_traits>

#include "types/address.h"
#include "vm/builtins/builtins.h"
#include "vm/exec.h"

namespace morvane {

// Names that read as constants when no variable of that name exists.
namespace {

struct Constant {
    std::string_view name;
    Variant value;
};

const std::vector<Constant>& constants() {
    static const std::vector<Constant> table = {
        {"xlup", Variant(int64_t{-4162})},
        {"xldown", Variant(int64_t{-4121})},
        {"xltoleft", Variant(int64_t{-4159})},
        {"xltoright", Variant(int64_t{-4161})},
        {"xlpasteall", Variant(int64_t{-4104})},
        {"xlpasteallexceptborders", Variant(int64_t{7})},
        {"xlpasteformulas", Variant(int64_t{-4123})},
        {"xlpasteformulasandnumberformats", Variant(int64_t{11})},
        {"xlpastevalues", Variant(int64_t{-4163})},
        {"xlpastevaluesandnumberformats", Variant(int64_t{12})},
        {"xlpasteformats", Variant(int64_t{-4122})},
        {"xlpastecomments", Variant(int64_t{-4144})},
        {"xlpastecolumnwidths", Variant(int64_t{8})},
        {"xlpastevalidation", Variant(int64_t{6})},
        {"xlshiftup", Variant(int64_t{-4162})},
        {"xlshiftdown", Variant(int64_t{-4121})},
        {"xlshifttoleft", Variant(int64_t{-4159})},
        {"xlshifttoright", Variant(int64_t{-4161})},
        {"xlascending", Variant(int64_t{1})},
        {"xldescending", Variant(int64_t{2})},
        {"xlguess", Variant(int64_t{0})},
        {"xlyes", Variant(int64_t{1})},
        {"xlno", Variant(int64_t{2})},
        {"xltoptobottom", Variant(int64_t{1})},
        {"xllefttoright", Variant(int64_t{2})},
        {"xlsortcolumns", Variant(int64_t{1})},
        {"xlsortrows", Variant(int64_t{2})},
        {"xlsortnormal", Variant(int64_t{0})},
        {"xlsorttextasnumbers", Variant(int64_t{1})},
        {"xlpinyin", Variant(int64_t{1})},
        {"xlstroke", Variant(int64_t{2})},
        {"xlsortvalues", Variant(int64_t{1})},
        {"xlsortlabels", Variant(int64_t{2})},
        {"xlcalculationautomatic", Variant(int64_t{-4105})},
        {"xlcalculationmanual", Variant(int64_t{-4135})},
        {"xlcalculationsemiautomatic", Variant(int64_t{2})},
        {"xldefault", Variant(int64_t{1})},
        {"xlwait", Variant(int64_t{2})},
        {"xlibeam", Variant(int64_t{3})},
        {"xlnorthwestarrow", Variant(int64_t{4})},
        {"vbok", Variant(int64_t{1})},
        {"vbcancel", Variant(int64_t{2})},
        {"vbyes", Variant(int64_t{6})},
        {"vbno", Variant(int64_t{7})},
        {"vbtrue", Variant(true)},
        {"vbfalse", Variant(false)},
        {"vbcr", Variant("\r")},
        {"vblf", Variant("\n")},
        {"vbcrlf", Variant("\r\n")},
        {"vbtab", Variant("\t")},
        {"vbnullchar", Variant(std::string(1, '\0'))},
        {"vbnullstring", Variant("")},
        {"vbobjecterror", Variant(int64_t{-2147221504})},
        {"vbbinarycompare", Variant(int64_t{0})},
        {"vbtextcompare", Variant(int64_t{1})},
        {"empty", Variant()},
        {"null", Variant()},
        {"nothing", Variant()},
    };
    return table;
}

}  // namespace

const Variant* vm::find_constant(std::string_view name) {
    for (const Constant& c : constants())
        if (c.name == name) return &c.value;
    return nullptr;
}

namespace {

constexpr std::string_view kNotDefined = "Variable not defined: '{}'";
constexpr std::string_view kTypeNotDefined = "User-defined type not defined: '{}'";

// Names Option Explicit lets a procedure use undeclared: constants,
// built-ins, the Err object, WorksheetFunction calls and bare Range reads.
bool needs_no_declaration(const std::string& name) {
    return name == "err" || name == "range" || name.starts_with("wsf_") || vm::find_constant(name) ||
           vm::find_builtin(name) || vm::find_bare_builtin(name);
}

// Words an object expression names that are no variable.
bool is_object_word(std::string_view name) {
    return name == "activesheet" || name == "thisworkbook" || name == "activeworkbook" || name == "nothing";
}

template <class T, class... Kinds>
inline constexpr bool is_one_of = (std::is_same_v<T, Kinds> || ...);

// Kinds that hold no name, expression or address to bind.
template <class T>
inline constexpr bool binds_nothing_expr = is_one_of<T, Expr::Int, Expr::Float, Expr::Str, Expr::Bool, Expr::Date,
                                                     Expr::RowsCount, Expr::ColumnsCount, Expr::ActiveSheet>;
template <class T>
inline constexpr bool binds_nothing_stmt =
    is_one_of<T, Stmt::SetCalculation, Stmt::ExitFor, Stmt::ExitDo, Stmt::ExitSub, Stmt::ExitFunction, Stmt::OnError,
              Stmt::OnErrorGoto, Stmt::Label, Stmt::GoTo, Stmt::ResumeNext, Stmt::Nop, Stmt::RangeName, Stmt::AddSheet,
              Stmt::Skipped, Stmt::End, Stmt::RangeCopy, Stmt::ErrClear>;
template <class T>
inline constexpr bool always_false = false;

// An address literal's cells, parsed once; a defined name stays unbound.
// Put in order: B2:A1 names the cells of A1:B2.
void bind_range(const std::string& addr, LiteralRange& out) {
    out = morvane_types::parse_range_addr(addr);
    if (out) *out = out->normalised();
}
// A one-cell address literal (the base of an Offset).
void bind_cell(const std::string& addr, LiteralRange& out) {
    auto cell = morvane_types::parse_cell_addr(addr);
    out = cell ? LiteralRange(CellRange::single(*cell)) : std::nullopt;
}

}  // namespace

namespace vm {

Variant default_for_type(std::string_view type_name) {
    // Variant, Object, no type, or a name that is no built-in type: Empty.
    return type_default(builtin_var_type(type_name).value_or(VarType::Variant));
}

}  // namespace vm

// ---------------------------------------------------------------- names

namespace {

// The object types the model knows besides the built-in types.
bool known_object_type(std::string_view name) { return name == "worksheet" || name == "range" || name == "workbook"; }

}  // namespace

uint32_t Vm::module_var(const std::string& name) {
    auto it = module_index_.find(name);
    if (it != module_index_.end()) return it->second;
    const uint32_t k = static_cast<uint32_t>(module_.size());
    module_.emplace_back();
    module_names_.push_back(name);
    module_index_.emplace(name, k);
    return k;
}

const Vm::Proc* Vm::function_named(const std::string& name) const {
    auto it = function_procs_.find(name);
    return it == function_procs_.end() ? nullptr : it->second;
}

const Vm::Proc* Vm::procedure_named(const std::string& name) const {
    if (const Proc* f = function_named(name)) return f;
    auto it = sub_procs_.find(name);
    return it == sub_procs_.end() ? nullptr : it->second;
}

namespace {

// A new index of `proc`'s frame for `name`, its own slot.
uint32_t add_index(vm::Proc& proc, const std::string& name) {
    const uint32_t i = proc.size++;
    proc.names.push_back(name);
    proc.index.emplace(name, i);
    proc.entries.emplace_back();
    return i;
}

}  // namespace

uint32_t Vm::resolve(const std::string& name, bool explicit_check) {
    Proc& proc = *binding_;
    if (auto it = proc.index.find(name); it != proc.index.end()) return it->second;
    const uint32_t i = add_index(proc, name);
    if (auto m = module_index_.find(name); m != module_index_.end()) {
        proc.entries[i].shared = &module_[m->second];
        proc.entries[i].module = true;
        if (auto d = module_declared_.find(m->second); d != module_declared_.end()) proc.declared.emplace(i, d->second);
        return i;
    }
    // Under Option Explicit a name must be declared, a built-in, a
    // constant or a procedure.
    if (explicit_check && option_explicit_ && load_error_.empty() && !needs_no_declaration(name) &&
        !procedure_named(name)) {
        load_error_ = format_message(kNotDefined, name);
        load_error_at_ = binding_at_;
    }
    return i;
}

vm::Slot* Vm::running_var(std::string_view name) const {
    if (!proc_ || !vars_) return nullptr;
    auto it = proc_->index.find(std::string(name));
    return it == proc_->index.end() ? nullptr : vars_[it->second].var;
}

vm::Slot* Vm::object_slot(const std::string& name) const {
    if (Slot* s = running_var(name)) return s;
    auto it = module_index_.find(name);
    return it == module_index_.end() ? nullptr : const_cast<Slot*>(&module_[it->second]);
}

void Vm::set_object(Slot& slot, ObjectRef ref) {
    slot.object = vm::ObjectPtr(new ObjectRef(std::move(ref)));
    // The name now means the object, whatever value it held before.
    slot.defined = false;
    if (!slot.value.is_empty()) slot.value = Variant();
}

void vm::ObjectDeleter::operator()(ObjectRef* object) const { delete object; }

const Variant* Vm::find_var(std::string_view name) const {
    if (const Slot* s = running_var(name)) return s->defined ? &s->value : nullptr;
    for (const auto& [n, value] : entry_vars_)
        if (n == name) return &value;
    auto it = module_index_.find(std::string(name));
    if (it == module_index_.end() || !module_[it->second].defined) return nullptr;
    return &module_[it->second].value;
}

void Vm::set_var(std::string_view name, Variant value) {
    Slot* s = running_var(name);
    if (!s) {
        std::erase_if(entry_vars_, [&](const auto& e) { return e.first == name; });
        s = &module_[module_var(std::string(name))];
    }
    s->value = std::move(value);
    s->defined = true;
}

void Vm::remove_var(std::string_view name) {
    if (Slot* s = running_var(name)) return s->clear();
    std::erase_if(entry_vars_, [&](const auto& e) { return e.first == name; });
    if (auto it = module_index_.find(std::string(name)); it != module_index_.end()) module_[it->second].clear();
}

// ---------------------------------------------------------------- binding

Vm::Proc Vm::make_proc(const std::vector<Param>& params, const Body& body, const std::string& name, bool is_function,
                       std::string_view result_type) {
    Proc p;
    p.params = &params;
    p.body = &body;
    p.name = name;
    p.is_function = is_function;
    // Numbers bind to parameters of no type or of a numeric one.
    bool numeric = true;
    for (const Param& param : params) {
        // A parameter named twice keeps its first place.
        auto it = p.index.find(param.name);
        const uint32_t slot = it != p.index.end() ? it->second : add_index(p, param.name);
        p.param_slots.push_back(slot);
        if (param.is_param_array) p.plain_params = false;
        const vm::VarType type = param.is_param_array || param.is_array
                                     ? vm::VarType::Variant
                                     : vm::builtin_var_type(param.type_name).value_or(vm::VarType::Variant);
        p.param_types.push_back(type);
        p.param_fits.push_back(vm::whole_range(type));
        numeric = numeric && type <= vm::VarType::Double;
        p.plain_types = p.plain_types && type == vm::VarType::Variant;
        p.declared.emplace(slot, Declared{type, param.is_array, false, {}});
    }
    if (is_function) {
        auto it = p.index.find(name);
        p.name_slot = it != p.index.end() ? it->second : add_index(p, name);
        p.result_type = vm::builtin_var_type(result_type).value_or(vm::VarType::Variant);
        p.declared.emplace(p.name_slot, Declared{p.result_type, false, false, {}});
    }
    collect_declared(p, body);
    p.num_call = is_function && p.plain_params && numeric && params.size() <= kMaxNumArgs;
    return p;
}

void Vm::collect_declared(Proc& proc, const Body& body) {
    // A name declared twice keeps its first declaration. A Static variable
    // is a local whose value waits in the procedure from call to call.
    bool in_static = false;
    auto declare = [&](const std::string& name, Declared d, bool scalar) {
        if (proc.index.contains(name)) return;
        if (!d.user_type.empty() && !known_object_type(d.user_type) && !user_types_.contains(d.user_type) &&
            load_error_.empty())
            load_error_ = format_message(kTypeNotDefined, d.user_type);
        const uint32_t slot = add_index(proc, name);
        proc.declared.emplace(slot, d);
        proc.locals.push_back(
            vm::Local{slot, d.type, scalar, in_static ? static_cast<int32_t>(proc.static_count++) : -1});
    };
    auto type_of = [](const std::string& name) { return vm::builtin_var_type(name).value_or(vm::VarType::Variant); };
    auto visit = [&](auto& self, const Stmt& stmt) -> void {
        if (auto d = stmt.get_if<Stmt::DimScalar>()) {
            declare(d->name, Declared{type_of(d->type_name), false, false, {}}, true);
        } else if (auto c = stmt.get_if<Stmt::Assign>(); c && c->is_const) {
            declare(c->name, Declared{}, true);
        } else if (auto d = stmt.get_if<Stmt::DimArray>()) {
            declare(d->name, Declared{type_of(d->type_name), true, !d->bounds.empty(), {}}, false);
        } else if (auto d = stmt.get_if<Stmt::ReDim>()) {
            // ReDim sizes a module array again; any other name it makes local.
            if (!module_index_.contains(d->name))
                declare(d->name, Declared{type_of(d->type_name), true, false, {}}, false);
        } else if (auto d = stmt.get_if<Stmt::DimAs>()) {
            declare(d->name, Declared{vm::VarType::Variant, false, false, d->type_name}, false);
        } else if (auto d = stmt.get_if<Stmt::DimArrayAs>()) {
            declare(d->name, Declared{vm::VarType::Variant, true, !d->bounds.empty(), d->type_name}, false);
        } else if (auto d = stmt.get_if<Stmt::DimList>()) {
            in_static = d->is_static;
            for (const Stmt& one : d->decls) self(self, one);
            in_static = false;
        } else if (auto b = stmt.get_if<Stmt::If>()) {
            for (const auto& s : b->then_body) self(self, s.stmt);
            for (const auto& s : b->else_body) self(self, s.stmt);
        } else if (auto b = stmt.get_if<Stmt::SelectCase>()) {
            for (const CaseClause& c : b->cases)
                for (const auto& s : c.body) self(self, s.stmt);
            for (const auto& s : b->else_body) self(self, s.stmt);
        } else {
            const Body* inner = nullptr;
            if (auto b = stmt.get_if<Stmt::For>()) inner = &b->body;
            if (auto b = stmt.get_if<Stmt::ForEach>()) inner = &b->body;
            if (auto b = stmt.get_if<Stmt::DoLoop>()) inner = &b->body;
            if (auto b = stmt.get_if<Stmt::WithSheet>()) inner = &b->body;
            if (auto b = stmt.get_if<Stmt::Block>()) inner = &b->body;
            if (auto b = stmt.get_if<Stmt::WithVar>()) inner = &b->body;
            if (inner)
                for (const auto& s : *inner) self(self, s.stmt);
        }
    };
    for (const auto& s : body) visit(visit, s.stmt);
}

void Vm::lay_out_frame(Proc& proc) {
    proc.statics = proc.static_count ? std::make_unique<Slot[]>(proc.static_count) : nullptr;
    for (const vm::Local& l : proc.locals) {
        vm::FrameEntry& e = proc.entries[l.slot];
        if (l.static_at >= 0) {
            e.shared = &proc.statics[static_cast<size_t>(l.static_at)];
        } else if (l.scalar) {
            e.starts_defined = true;
            e.type = l.type;
        }
    }
    if (proc.is_function && proc.result_type != vm::VarType::Variant) {
        proc.entries[proc.name_slot].starts_defined = true;
        proc.entries[proc.name_slot].type = proc.result_type;
    }
    proc.plain_frame = true;
    proc.starts_defined.clear();
    for (uint32_t i = 0; i < proc.frame_size(); ++i) {
        const vm::FrameEntry& e = proc.entries[i];
        proc.plain_frame = proc.plain_frame && !e.shared;
        if (e.starts_defined && !e.shared) proc.starts_defined.push_back({i, e.type});
    }
}

void Vm::declare_module_vars(const Body& decls) {
    static const std::vector<Param> kNoParams;
    // What each declarator declares, checked as a procedure's Dim is.
    auto declare = [&](const Stmt& d) {
        std::string name;
        Declared decl;
        auto type_of = [](const std::string& t) { return vm::builtin_var_type(t).value_or(vm::VarType::Variant); };
        if (auto x = d.get_if<Stmt::DimScalar>()) {
            name = x->name, decl.type = type_of(x->type_name);
        } else if (auto x = d.get_if<Stmt::DimArray>()) {
            name = x->name, decl = Declared{type_of(x->type_name), true, !x->bounds.empty(), {}};
        } else if (auto x = d.get_if<Stmt::DimAs>()) {
            name = x->name, decl.user_type = x->type_name;
        } else if (auto x = d.get_if<Stmt::DimArrayAs>()) {
            name = x->name, decl = Declared{vm::VarType::Variant, true, !x->bounds.empty(), x->type_name};
        } else if (auto x = d.get_if<Stmt::Assign>(); x && x->is_const) {
            // A constant takes its value at every load.
            module_declared_.insert_or_assign(module_var(x->name), Declared{});
            return true;
        } else {
            return false;
        }
        if (!decl.user_type.empty() && !known_object_type(decl.user_type) && !user_types_.contains(decl.user_type) &&
            load_error_.empty())
            load_error_ = format_message(kTypeNotDefined, decl.user_type);
        const uint32_t k = module_var(name);
        module_declared_.insert_or_assign(k, decl);
        // A module variable keeps its value from run to run.
        return !module_[k].defined;
    };
    std::vector<SpannedStmt> fresh;
    for (const SpannedStmt& line : decls) {
        if (auto list = line.stmt.get_if<Stmt::DimList>()) {
            Stmt::DimList kept;
            for (const Stmt& d : list->decls)
                if (declare(d)) kept.decls.push_back(d);
            if (!kept.decls.empty()) fresh.push_back(SpannedStmt{Stmt{std::move(kept)}, line.span});
        } else if (declare(line.stmt)) {
            fresh.push_back(line);
        }
    }
    module_proc_.reset();
    module_decls_ = Body(std::move(fresh));
    if (module_decls_.empty()) return;
    // Their statements run as a procedure whose every name is a module
    // variable.
    module_proc_ = std::make_unique<Proc>();
    module_proc_->params = &kNoParams;
    module_proc_->body = &module_decls_;
    module_proc_->name = "(module)";
}

const Vm::Proc* Vm::proc_for(const void* def) const {
    auto it = proc_of_.find(def);
    return it == proc_of_.end() ? nullptr : it->second;
}

void Vm::bind_procedures() {
    procs_.clear();
    proc_of_.clear();
    function_procs_.clear();
    sub_procs_.clear();
    for (const auto& [name, f] : functions_) {
        procs_.push_back(std::make_unique<Proc>(make_proc(f.params, f.body, name, true, f.type_name)));
        function_procs_[name] = procs_.back().get();
        proc_of_[&f] = procs_.back().get();
    }
    for (const auto& [name, s] : subs_) {
        procs_.push_back(std::make_unique<Proc>(make_proc(s.params, s.body, name, false)));
        sub_procs_[name] = procs_.back().get();
        proc_of_[&s] = procs_.back().get();
    }
}

void Vm::bind_program() {
    // Names that hold objects now, and those the program may Set.
    object_names_.clear();
    for (size_t i = 0; i < module_.size(); ++i)
        if (module_[i].object) object_names_.insert(module_names_[i]);
    bind_procedures();
    // Every body is bound before any is compiled: the names Set anywhere are
    // known when assignments compile.
    for (const auto& proc : procs_) bind_proc(*proc);
    if (module_proc_) bind_proc(*module_proc_);
    for (const auto& proc : procs_) compile_proc(*proc);
    if (module_proc_) compile_proc(*module_proc_);
}

void Vm::bind_proc(Proc& proc) {
    binding_ = &proc;
    for (const Param& p : *proc.params)
        if (p.default_value) bind_expr(*p.default_value);
    bind_body(*proc.body);
    lay_out_frame(proc);
    binding_ = nullptr;
}

void Vm::compile_proc(Proc& proc) {
    compiling_ = &proc;
    // A name first met here gets a slot of its own, undefined at each call.
    binding_ = &proc;
    proc.code = Exec::compile_body(*this, *proc.body);
    Exec::skip_needless_starts(proc);
    proc.defaults.clear();
    for (const Param& p : *proc.params)
        proc.defaults.push_back(p.default_value ? Exec::compile_expr(*this, *p.default_value) : vm::XCode{});
    compiling_ = nullptr;
    binding_ = nullptr;
}

void Vm::bind_body(const Body& body) {
    for (const SpannedStmt& s : body) {
        binding_at_ = s.span.start;
        bind_stmt(s.stmt);
    }
}

void Vm::bind_object(const ObjectExpr& object) {
    std::visit(
        [&](const auto& o) {
            using T = std::decay_t<decltype(o)>;
            if constexpr (std::is_same_v<T, ObjectExpr::Var>) {
                if (!is_object_word(o.name)) o.slot = resolve(o.name);
            } else if constexpr (std::is_same_v<T, ObjectExpr::Union>) {
                for (const ObjectExpr& p : o.parts) bind_object(p);
            } else if constexpr (std::is_same_v<T, ObjectExpr::Areas>) {
                if (o.base) bind_object(*o.base);
                if (o.index) bind_expr(*o.index);
            } else if constexpr (std::is_same_v<T, ObjectExpr::SpecialCellsVisible>) {
                if (o.base) bind_object(*o.base);
            } else if constexpr (std::is_same_v<T, ObjectExpr::Path>) {
                for (const ObjStep& st : o.steps) bind_list(st.args);
            } else if constexpr (!std::is_same_v<T, ObjectExpr::Range>) {
                static_assert(always_false<T>, "an object kind the loader does not bind");
            }
        },
        object.node);
}

void Vm::bind_opt(const Box<Expr>& expr) {
    if (expr) bind_expr(*expr);
}

void Vm::bind_list(const std::vector<Expr>& exprs) {
    for (const Expr& e : exprs) bind_expr(e);
}

void Vm::bind_expr(const Expr& expr) {
    std::visit(
        [&](const auto& e) {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, Expr::Var>) {
                e.slot = resolve(e.name);
            } else if constexpr (std::is_same_v<T, Expr::Binary>) {
                bind_opt(e.lhs), bind_opt(e.rhs);
            } else if constexpr (std::is_same_v<T, Expr::Neg> || std::is_same_v<T, Expr::Not>) {
                bind_opt(e.operand);
            } else if constexpr (std::is_same_v<T, Expr::CellsValue>) {
                bind_opt(e.row), bind_opt(e.col);
            } else if constexpr (std::is_same_v<T, Expr::Call>) {
                // A Function's name is no variable; any other name called
                // with arguments is an array or fails as an unknown function.
                if (!function_named(e.name)) e.slot = resolve(e.name, false);
                bind_list(e.args);
            } else if constexpr (std::is_same_v<T, Expr::RangeValue>) {
                bind_range(e.addr, e.range);
            } else if constexpr (std::is_same_v<T, Expr::RangeOffsetValue>) {
                bind_cell(e.addr, e.range);
                bind_opt(e.row_offset), bind_opt(e.col_offset);
            } else if constexpr (std::is_same_v<T, Expr::CellsFind>) {
                bind_opt(e.what);
            } else if constexpr (std::is_same_v<T, Expr::SheetCellsValue>) {
                bind_opt(e.sheet), bind_opt(e.row), bind_opt(e.col);
            } else if constexpr (std::is_same_v<T, Expr::SheetRangeValue>) {
                bind_range(e.addr, e.range);
                bind_opt(e.sheet);
            } else if constexpr (std::is_same_v<T, Expr::WorkbookSheet>) {
                bind_opt(e.workbook), bind_opt(e.sheet);
            } else if constexpr (std::is_same_v<T, Expr::CellsEndPosition>) {
                bind_opt(e.row), bind_opt(e.col);
            } else if constexpr (std::is_same_v<T, Expr::SheetVar>) {
                e.slot = resolve(e.var);
            } else if constexpr (std::is_same_v<T, Expr::Field>) {
                e.slot = resolve(e.var);
            } else if constexpr (std::is_same_v<T, Expr::MemberPath>) {
                e.slot = resolve(e.root);
            } else if constexpr (std::is_same_v<T, Expr::IndexedField>) {
                e.slot = resolve(e.name);
                bind_list(e.args);
            } else if constexpr (std::is_same_v<T, Expr::ObjPath>) {
                for (const ObjStep& st : e.steps) bind_list(st.args);
            } else {
                static_assert(binds_nothing_expr<T>, "an expression kind the loader does not bind");
            }
        },
        expr.node);
}

void Vm::bind_stmt(const Stmt& stmt) {
    std::visit(
        [&](const auto& s) {
            using T = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<T, Stmt::Assign>) {
                s.slot = resolve(s.name);
                bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::CellWrite>) {
                bind_opt(s.row), bind_opt(s.col), bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::ApplicationSet>) {
                bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::RangeWrite>) {
                bind_range(s.addr, s.range);
                bind_opt(s.value);
            } else if constexpr (is_one_of<T, Stmt::RangeDelete, Stmt::RangeInsert>) {
                bind_range(s.addr, s.range);
                bind_opt(s.shift);
            } else if constexpr (std::is_same_v<T, Stmt::RangeClear>) {
                bind_range(s.addr, s.range);
            } else if constexpr (std::is_same_v<T, Stmt::VarCopy>) {
                s.slot = resolve(s.var);
            } else if constexpr (std::is_same_v<T, Stmt::SetObject>) {
                s.slot = resolve(s.name);
                object_names_.insert(s.name);
                bind_object(s.object);
            } else if constexpr (std::is_same_v<T, Stmt::ObjCall>) {
                for (const ObjStep& st : s.steps) bind_list(st.args);
                for (const MethodArg& a : s.args) bind_list(a.value);
                bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::RangePaste>) {
                bind_opt(s.transpose), bind_opt(s.what);
            } else if constexpr (std::is_same_v<T, Stmt::SheetPaste> || std::is_same_v<T, Stmt::SheetDelete>) {
                bind_opt(s.sheet);
            } else if constexpr (std::is_same_v<T, Stmt::SheetProtect>) {
                bind_opt(s.sheet), bind_opt(s.user_interface_only), bind_opt(s.password);
            } else if constexpr (std::is_same_v<T, Stmt::RangeOffsetWrite>) {
                bind_cell(s.addr, s.range);
                bind_opt(s.row_offset), bind_opt(s.col_offset), bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::SheetCellWrite>) {
                bind_opt(s.sheet), bind_opt(s.row), bind_opt(s.col), bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::SheetRangeWrite>) {
                bind_range(s.addr, s.range);
                bind_opt(s.sheet), bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::WithSheet> || std::is_same_v<T, Stmt::Block> ||
                                 std::is_same_v<T, Stmt::WithVar>) {
                bind_body(s.body);
            } else if constexpr (std::is_same_v<T, Stmt::For>) {
                s.slot = resolve(s.var);
                bind_opt(s.start), bind_opt(s.end), bind_opt(s.step);
                bind_body(s.body);
            } else if constexpr (std::is_same_v<T, Stmt::ForEach>) {
                s.slot = resolve(s.var);
                object_names_.insert(s.var);
                for (const ObjStep& st : s.path) bind_list(st.args);
                bind_range(s.collection, s.range);
                bind_body(s.body);
            } else if constexpr (std::is_same_v<T, Stmt::If>) {
                bind_opt(s.cond);
                bind_body(s.then_body);
                bind_body(s.else_body);
            } else if constexpr (std::is_same_v<T, Stmt::DoLoop>) {
                if (s.pre_cond) bind_opt(s.pre_cond->cond);
                if (s.post_cond) bind_opt(s.post_cond->cond);
                bind_body(s.body);
            } else if constexpr (std::is_same_v<T, Stmt::SelectCase>) {
                bind_opt(s.subject);
                for (const CaseClause& c : s.cases) {
                    for (const CaseMatch& m : c.matches) {
                        if (auto v = m.get_if<CaseMatch::Value>()) bind_opt(v->value);
                        if (auto r = m.get_if<CaseMatch::Range>()) bind_opt(r->low), bind_opt(r->high);
                        if (auto i = m.get_if<CaseMatch::Is>()) bind_opt(i->value);
                    }
                    bind_body(c.body);
                }
                bind_body(s.else_body);
            } else if constexpr (std::is_same_v<T, Stmt::Call>) {
                bind_list(s.args);
            } else if constexpr (std::is_same_v<T, Stmt::DimArray> || std::is_same_v<T, Stmt::ReDim> ||
                                 std::is_same_v<T, Stmt::DimArrayAs>) {
                s.slot = resolve(s.name);
                bind_list(s.bounds);
            } else if constexpr (std::is_same_v<T, Stmt::IndexAssign>) {
                s.slot = resolve(s.name);
                bind_list(s.indices);
                bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::MsgBox>) {
                bind_opt(s.prompt);
            } else if constexpr (std::is_same_v<T, Stmt::FieldAssign>) {
                s.slot = resolve(s.var);
                bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::DimAs> || std::is_same_v<T, Stmt::DimScalar>) {
                s.slot = resolve(s.name);
            } else if constexpr (std::is_same_v<T, Stmt::ErrRaise>) {
                bind_opt(s.number), bind_opt(s.source), bind_opt(s.description);
            } else if constexpr (std::is_same_v<T, Stmt::Erase>) {
                s.slots.clear();
                for (const std::string& name : s.names) s.slots.push_back(resolve(name));
            } else if constexpr (std::is_same_v<T, Stmt::DimList>) {
                for (const Stmt& d : s.decls) bind_stmt(d);
            } else if constexpr (std::is_same_v<T, Stmt::MemberPathAssign>) {
                s.slot = resolve(s.root);
                bind_opt(s.value);
            } else if constexpr (std::is_same_v<T, Stmt::IndexedFieldAssign>) {
                s.slot = resolve(s.name);
                bind_list(s.indices);
                bind_opt(s.value);
            } else {
                static_assert(binds_nothing_stmt<T>, "a statement kind the loader does not bind");
            }
        },
        stmt.node);
}

}  // namespace morvane
