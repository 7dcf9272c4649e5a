// Number built-ins: Int, Fix, Sgn, Abs, Sqr, Log, Exp and Round, and the rounding and
// count conversions other families share.
#include <cmath>
#include <string_view>
#include <utility>

#include "vm/builtins/builtins.h"
#include "values/values.h"

namespace morvane::vm {

namespace {

constexpr std::string_view kIntArgs = "INT requires 1 argument";
constexpr std::string_view kFixArgs = "Fix requires 1 argument";
constexpr std::string_view kSgnArgs = "Sgn requires 1 argument";
constexpr std::string_view kAbsArgs = "Abs requires 1 argument";
constexpr std::string_view kSqrArgs = "Sqr requires 1 argument";
constexpr std::string_view kRoundArgs = "Round requires 1 argument";
constexpr std::string_view kLogArgs = "Log requires 1 argument";
constexpr std::string_view kExpArgs = "Exp requires 1 argument";

double floor_of(double x) { return std::floor(x); }
double trunc_of(double x) { return std::trunc(x); }
double abs_of(double x) { return std::fabs(x); }

// A result that is no finite number comes from an argument outside the
// function's domain.
Result<Variant> finite(double x) {
    if (!std::isfinite(x)) return fail(std::string(kInvalidCall));
    return number_variant(x);
}

// The number result of f applied to the number of the first argument.
template <const std::string_view& kMessage, double (*F)(double)>
Result<Variant> numeric(ArgRefs a) {
    TRY_VOID(need_args(a, 1, kMessage));
    return finite(F(TRY(to_f64(*a[0]))));
}

Result<Variant> sgn(ArgRefs a) {
    TRY_VOID(need_args(a, 1, kSgnArgs));
    const double x = TRY(to_f64(*a[0]));
    return Variant(int64_t{x > 0 ? 1 : x < 0 ? -1 : 0});
}

Result<Variant> sqr(ArgRefs a) {
    TRY_VOID(need_args(a, 1, kSqrArgs));
    const double x = std::sqrt(TRY(to_f64(*a[0])));
    if (!std::isfinite(x)) return fail(std::string(kInvalidCall));
    return Variant(x);
}

// Log of 0 or a negative number is outside its domain.
Result<Variant> log(ArgRefs a) {
    TRY_VOID(need_args(a, 1, kLogArgs));
    const double x = TRY(to_f64(*a[0]));
    if (!(x > 0)) return fail(std::string(kInvalidCall));
    return finite(std::log(x));
}

// Exp past the Double range overflows, as in VBA.
Result<Variant> exp(ArgRefs a) {
    TRY_VOID(need_args(a, 1, kExpArgs));
    const double x = std::exp(TRY(to_f64(*a[0])));
    if (!std::isfinite(x)) return fail(std::string(kOverflow));
    return Variant(x);
}

Result<Variant> round(ArgRefs a) {
    TRY_VOID(need_args(a, 1, kRoundArgs));
    const double x = TRY(to_f64(*a[0]));
    const double digits = a.size() > 1 ? TRY(to_f64(*a[1])) : 0.0;
    return finite(round_to_digits(x, digits, Halves::ToEven));
}

constexpr Builtin kTable[] = {
    reading<numeric<kAbsArgs, abs_of>>("abs"),
    reading<exp>("exp"),
    reading<numeric<kFixArgs, trunc_of>>("fix"),
    reading<numeric<kIntArgs, floor_of>>("int"),
    reading<log>("log"),
    reading<round>("round"),
    reading<sgn>("sgn"),
    reading<sqr>("sqr"),
};

}  // namespace

std::string take_text(Variant& v) { return v.is_str() ? std::move(v.as_str()) : vba_to_str(v); }

Result<int64_t> to_whole(const Variant& v) { return saturate_i64(std::round(TRY(to_f64(v)))); }

Result<uint64_t> to_count(const Variant& v) { return saturate_u64(std::round(TRY(to_f64(v)))); }

double round_to_digits(double x, double digits, Halves halves) {
    const double p = std::pow(10.0, static_cast<double>(saturate_i32(std::trunc(digits))));
    // 10^d beyond the float range: x has no digit that far to drop.
    if (std::isinf(p)) return x;
    if (p == 0) return 0;
    const double scaled = x * p;
    if (std::isinf(scaled)) return x;
    return (halves == Halves::ToEven ? std::nearbyint(scaled) : std::round(scaled)) / p;
}

std::span<const Builtin> math_builtins() { return kTable; }

}  // namespace morvane::vm
