#include "values/nesting.h"

#include <string>

namespace morvane::vm {

namespace {

// True when `v` has fewer than `room` levels of arrays and records. Values
// already stored keep within the bound, so this recursion does too.
bool fits(const Variant& v, size_t room) {
    if (v.is_array()) {
        if (room <= 1) return false;
        for (const Variant& e : v.as_array())
            if (!fits(e, room - 1)) return false;
        return true;
    }
    if (v.is_record()) {
        if (room <= 1) return false;
        for (const auto& [name, field] : v.as_record())
            if (!fits(field, room - 1)) return false;
        return true;
    }
    return true;
}

}  // namespace

Result<void> check_nesting(const Variant& value) {
    if (!value.is_array() && !value.is_record()) return {};
    if (fits(value, kMaxNesting)) return {};
    return fail(format_message(kTooDeep, std::to_string(kMaxNesting)));
}

}  // namespace morvane::vm
