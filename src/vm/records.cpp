// User-defined Types: Dim of record variables and arrays of records, and
// assignments to their fields (one level, a member path, an array element's
// field). Records are loose: a field assignment creates the record and the
// field, and turns any other value into a record; the declared Type only
// shapes the defaults made at Dim time.
#include "values/nesting.h"
#include "vm/slots.h"
#include "values/record_values.h"
#include "vm/builtins/builtins.h"

namespace morvane {

namespace {

// A record holding only `field`.
Variant record_with(const std::string& field, Variant value) {
    Record record;
    record.set(field, std::move(value));
    return Variant(std::move(record));
}

// Sets `field` of a record, or replaces any other value by a record of it.
void set_field(Variant& target, const std::string& field, Variant value) {
    if (target.is_record())
        target.as_record().set(field, std::move(value));
    else
        target = record_with(field, std::move(value));
}

}  // namespace

// A field of a variable declared with a Type holds the field's type.
Result<Variant> Vm::to_field_type(uint32_t slot, std::string_view field, Variant value) const {
    const Declared* d = declared(slot);
    if (!d || d->user_type.empty()) return value;
    auto type = user_types_.find(d->user_type);
    if (type == user_types_.end()) return value;
    for (const TypeField& f : type->second)
        if (f.name == field)
            if (auto builtin = vm::builtin_var_type(f.type_name); builtin && *builtin != vm::VarType::Variant)
                return vm::convert_to(*builtin, std::move(value));
    return value;
}

Result<void> Vm::exec_dim_as(const Stmt::DimAs& s) {
    // An undeclared Type creates nothing: a later field assignment makes the record.
    if (!user_types_.contains(s.type_name)) return {};
    set_slot(slot_of(s.name, s.slot), vm::make_record_default(s.type_name, user_types_));
    return {};
}

Result<void> Vm::exec_dim_array_as(const Stmt::DimArrayAs& s, const vm::SCode& c) {
    const uint32_t slot = slot_of(s.name, s.slot);
    if (s.bounds.empty()) {
        set_slot(slot, Variant(Array{}));
        return {};
    }
    const uint64_t len = TRY(eval_array_len(s.name, c, s.bounds));
    set_slot(slot, Variant(Array(len, vm::make_record_default(s.type_name, user_types_))));
    return {};
}

Result<void> Vm::exec_field_assign(const Stmt::FieldAssign& s, const vm::SCode& c) {
    // A member of an object variable: r.Value = 1, ws.Name = "Report".
    if (object_ref(s.var)) return object_field_write(s.var, {s.field}, operand(c, *s.value));
    Variant value = TRY(evaluate(operand(c, *s.value)));
    const uint32_t slot = slot_of(s.var, s.slot);
    // Err.Number = 0 sets the Err object unless a record variable is named err.
    if (s.var == "err" && !(var(slot).defined && var(slot).value.is_record()))
        return set_err_property(s.field, std::move(value));
    value = TRY(to_field_type(slot, s.field, std::move(value)));
    TRY_VOID(vm::check_nesting(value));
    if (var(slot).defined)
        set_field(var(slot).value, s.field, std::move(value));
    else
        set_slot(slot, record_with(s.field, std::move(value)));
    return {};
}

Result<void> Vm::exec_member_path_assign(const Stmt::MemberPathAssign& s, const vm::SCode& c) {
    if (object_ref(s.root)) return object_field_write(s.root, s.path, operand(c, *s.value));
    Variant value = TRY(evaluate(operand(c, *s.value)));
    TRY_VOID(vm::check_nesting(value));
    const uint32_t slot = slot_of(s.root, s.slot);
    if (!var(slot).defined) set_slot(slot, Variant(Record()));
    vm::nested_set(var(slot).value, s.path, std::move(value));
    return {};
}

Result<void> Vm::exec_indexed_field_assign(const Stmt::IndexedFieldAssign& s, const vm::SCode& c) {
    Variant value = TRY(evaluate(operand(c, *s.value)));
    TRY_VOID(check_one_index(s.name, s.indices.size()));
    const uint64_t index = TRY(eval_index(operand(c, s.indices[0])));
    value = TRY(to_field_type(slot_of(s.name, s.slot), s.field, std::move(value)));
    TRY_VOID(vm::check_nesting(value));
    set_field(*TRY(array_element(slot_of(s.name, s.slot), s.name, index)), s.field, std::move(value));
    return {};
}

}  // namespace morvane
