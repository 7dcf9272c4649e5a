#include "values/record_values.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "values/var_type.h"

namespace morvane::vm {

namespace {

// `building` holds the Types whose defaults are being built, outermost
// first: meeting one of them again is a cycle.
Variant default_of(std::string_view type_name, const TypeTable& types, std::vector<std::string_view>& building);

Variant record_of(const std::vector<TypeField>& fields, const TypeTable& types,
                  std::vector<std::string_view>& building) {
    Record record;
    for (const TypeField& f : fields) record.set(f.name, default_of(f.type_name, types, building));
    return Variant(std::move(record));
}

Variant default_of(std::string_view type_name, const TypeTable& types, std::vector<std::string_view>& building) {
    if (auto builtin = builtin_var_type(type_name)) return type_default(*builtin);
    auto it = types.find(std::string(type_name));
    if (it == types.end() || std::ranges::find(building, type_name) != building.end()) return Variant();
    building.push_back(it->first);
    Variant record = record_of(it->second, types, building);
    building.pop_back();
    return record;
}

}  // namespace

Variant make_record_default(std::string_view type_name, const TypeTable& types) {
    std::vector<std::string_view> building;
    return default_of(type_name, types, building);
}

void nested_set(Variant& target, std::span<const std::string> path, Variant value) {
    if (path.empty()) {
        target = std::move(value);
        return;
    }
    if (!target.is_record()) target = Variant(Record());
    Record& record = target.as_record();
    Variant* field = record.find(path.front());
    if (!field) {
        record.set(path.front(), Variant());
        field = record.find(path.front());
    }
    nested_set(*field, path.subspan(1), std::move(value));
}

}  // namespace morvane::vm
