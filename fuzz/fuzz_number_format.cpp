// Fuzz target: a number format read and rendered. The first byte picks the
// dialect and the kind of value, the next eight are the value's bits (a
// double or a 64-bit integer), the rest is the pattern, also rendered as a
// text through itself. Any pattern and value must give a text or a
// message, in time, and a text no longer than the pattern allows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "formula/number_format.h"

namespace {

// Beside the pattern's own characters a value adds at most its digits and
// their commas (a double has 309 whole digits), a date its names.
size_t bound(std::string_view pattern) { return 64 * pattern.size() + 1024; }

void check(const morvane::numfmt::Rendered& r, std::string_view pattern) {
    if (r && r->size() > bound(pattern)) std::abort();
}

std::string vba_general(double x) { return morvane::numfmt::general_text(x); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    using namespace morvane::numfmt;
    const uint8_t mode = data[0];
    double x;
    int64_t n;
    std::memcpy(&x, data + 1, 8);
    std::memcpy(&n, data + 1, 8);
    std::string_view pattern(reinterpret_cast<const char*>(data + 9), size - 9);
    const Style style = mode & 1 ? Style{Dialect::Vba, vba_general} : Style{};
    check(render_number(pattern, x, style), pattern);
    check(render_integer(pattern, n, style), pattern);
    // A small whole number and a date-like serial reach the other branches.
    check(render_number(pattern, static_cast<double>(mode) * 1234.5678 - 100000, style), pattern);
    const auto text = render_text(pattern, pattern, style);
    if (text && text->size() > pattern.size() * (pattern.size() + 1) + 1024) std::abort();
    (void)general_text(x);
    return 0;
}
