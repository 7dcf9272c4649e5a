// Record values of user-defined Types: the default record a Dim makes from
// a Type's declared fields, and the path writer behind x.f.g = e. Pure
// functions; they hold no state and touch no workbook.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "parser/ast.h"
#include "types/variant.h"

namespace morvane::vm {

// Lower-case Type name -> its declared fields in order.
using TypeTable = std::unordered_map<std::string, std::vector<TypeField>>;

// The default record of the Type `type_name`: each declared field with the
// default of its type (0, 0.0, "", False, a record for a Type, else Empty),
// a later declaration of a field name winning. A Type that contains itself,
// directly or through other Types, gets Empty for the field that would
// repeat it instead of recursing without end. A name that is no Type gives
// Empty.
Variant make_record_default(std::string_view type_name, const TypeTable& types);

// Sets the field at `path` inside `target`, turning every missing or
// non-record step into a record; sibling fields stay. An empty path replaces
// the target.
void nested_set(Variant& target, std::span<const std::string> path, Variant value);

}  // namespace morvane::vm
