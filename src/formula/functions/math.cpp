// Arithmetic and rounding functions: roots, powers, logarithms, the
// trigonometric functions, the integer functions (INT, MOD, QUOTIENT, FACT,
// COMBIN, PERMUT, GCD, LCM) and the rounding family. Out-of-domain arguments
// give the error value a spreadsheet gives, so one bad cell never stops a
// recalculation; only a wrong argument count is a message.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/numeric.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kTrigName = "Trig function";
constexpr double kPi = 3.141592653589793;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr int64_t kMaxFactorial = 170;  // 171! overflows a double

Variant num_error() { return Variant(ExcelError::Num); }

// A computed number (Integer when whole), #NUM! when NaN or infinite.
Variant number_or_num(double x) { return std::isfinite(x) ? number_variant(x) : num_error(); }

// A result that is always a Float (EXP, LN, LOG...), #NUM! when not finite.
Variant float_or_num(double x) { return std::isfinite(x) ? Variant(x) : num_error(); }

// ---- Rounding ---------------------------------------------------------------

enum class Toward { Nearest, AwayFromZero, Zero };

double to_whole(double x, Toward mode) {
    switch (mode) {
        case Toward::Nearest: return std::round(x);
        case Toward::AwayFromZero: return x >= 0 ? std::ceil(x) : std::floor(x);
        case Toward::Zero: return std::trunc(x);
    }
    return x;
}

// `x` rounded to `digits` decimal places (negative digits round to tens,
// hundreds...). The scaled value is first taken to 15 significant digits, so
// binary noise such as 1.005 * 100 = 100.49999999999999 does not decide.
double round_digits(double x, int32_t digits, Toward mode) {
    if (!std::isfinite(x)) return x;
    // 10^400 is already infinite: more places change nothing.
    const int32_t places = std::clamp(digits, -400, 400);
    const double scale = pow10i(places < 0 ? -places : places);
    if (places >= 0) {
        const double scaled = x * scale;
        // Beyond 2^52 a double has no fraction left to round.
        if (!std::isfinite(scaled) || std::fabs(scaled) >= 0x1p52) return x;
        return to_whole(round_to_15_digits(scaled), mode) / scale;
    }
    if (!std::isfinite(scale)) return 0;
    return to_whole(round_to_15_digits(x / scale), mode) * scale;
}

// x rounded to a multiple of `step` (CEILING, FLOOR, MROUND); the quotient
// and the product are taken at 15 digits, so CEILING(0.3, 0.1) is 0.3.
Variant round_to_multiple(double x, double step, double (*whole)(double)) {
    if (step == 0) return Variant(int64_t{0});
    return number_or_num(round_to_15_digits(whole(round_to_15_digits(x / step)) * step));
}

// ROUND, ROUNDUP, ROUNDDOWN and TRUNC: the number, then the digits
// (truncated to a 32-bit integer; absent means 0).
Result<Variant> round_handler(Args args, const EvalCtx& ctx, std::string_view name, size_t min_args, Toward mode) {
    TRY_VOID(check_arity(name, args.size(), min_args, 2));
    const double x = TRY(arg_number(args[0], ctx));
    const int32_t digits = args.size() == 2 ? saturate_i32(TRY(arg_number(args[1], ctx))) : 0;
    return number_or_num(round_digits(x, digits, mode));
}

double ceil_of(double x) { return std::ceil(x); }
double floor_of(double x) { return std::floor(x); }

// CEILING and FLOOR: the significance defaults to 1; more than two
// arguments are ignored. A negative significance rounds a negative number
// away from zero, and cannot round a positive one (#NUM!).
Result<Variant> multiple_handler(Args args, const EvalCtx& ctx, std::string_view name, double (*whole)(double)) {
    TRY_VOID(check_arity(name, args.size(), 1, kNoMax));
    const double x = TRY(arg_number(args[0], ctx));
    const double step = args.size() >= 2 ? TRY(arg_number(args[1], ctx)) : 1.0;
    if (x > 0 && step < 0) return num_error();
    return round_to_multiple(x, step, whole);
}

// CEILING.MATH (up = true) and FLOOR.MATH: the significance's sign does not
// matter; a negative number rounds toward zero (CEILING.MATH) or away from
// it (FLOOR.MATH), the other way round when the mode is not 0.
Result<Variant> math_multiple(Args args, const EvalCtx& ctx, std::string_view name, bool up) {
    TRY_VOID(check_arity(name, args.size(), 1, 3));
    const double x = TRY(arg_number(args[0], ctx));
    const double step = args.size() >= 2 ? std::fabs(TRY(arg_number(args[1], ctx))) : 1.0;
    const bool flip = args.size() == 3 && TRY(arg_number(args[2], ctx)) != 0 && x < 0;
    return round_to_multiple(x, step, up != flip ? ceil_of : floor_of);
}
double round_half_away(double x) { return std::round(x); }

// ---- Integer functions ------------------------------------------------------

// GCD and LCM values: each converted (text that is no number fails, an
// error value propagates) and truncated; a negative one is #NUM!.
template <class F>
Result<void> fold_whole_numbers(Args args, const EvalCtx& ctx, F&& step) {
    return for_each_value(args, ctx, [&](const Variant& v, ValueSource) -> Result<void> {
        const double x = TRY(to_float(v));
        if (x < 0) return propagate(ExcelError::Num);
        step(static_cast<uint64_t>(saturate_i64(x)));
        return {};
    });
}

// ---- Trigonometric functions ------------------------------------------------

double sin_of(double x) { return std::sin(x); }
double cos_of(double x) { return std::cos(x); }
double tan_of(double x) { return std::tan(x); }
double asin_of(double x) { return std::asin(x); }
double acos_of(double x) { return std::acos(x); }
double atan_of(double x) { return std::atan(x); }
double degrees_of(double x) { return x * kDegreesPerRadian; }
double radians_of(double x) { return x * kRadiansPerDegree; }

}  // namespace

// One handler for the eight one-argument angle functions; ASIN(2) and the
// like are #NUM!.
template <double (*F)(double)>
Result<Variant> func_trig1(Args args, const EvalCtx& ctx) {
    return unary(args, ctx, kTrigName, F);
}

Result<Variant> func_abs(Args args, const EvalCtx& ctx) {
    return unary(args, ctx, "ABS", [](double x) { return std::fabs(x); });
}

Result<Variant> func_sign(Args args, const EvalCtx& ctx) {
    return unary(args, ctx, "SIGN", [](double x) -> Result<Variant> {
        return Variant(int64_t{x > 0 ? 1 : x < 0 ? -1 : 0});
    });
}

Result<Variant> func_sqrt(Args args, const EvalCtx& ctx) {
    return unary(args, ctx, "SQRT",
                 [](double x) -> Result<Variant> { return x < 0 ? num_error() : number_variant(std::sqrt(x)); });
}

Result<Variant> func_exp(Args args, const EvalCtx& ctx) {
    return unary(args, ctx, "EXP", [](double x) -> Result<Variant> { return float_or_num(std::exp(x)); });
}

Result<Variant> func_ln(Args args, const EvalCtx& ctx) {
    return unary(args, ctx, "LN",
                 [](double x) -> Result<Variant> { return x <= 0 ? num_error() : float_or_num(std::log(x)); });
}

Result<Variant> func_log10(Args args, const EvalCtx& ctx) {
    return unary(args, ctx, "LOG10",
                 [](double x) -> Result<Variant> { return x <= 0 ? num_error() : float_or_num(std::log10(x)); });
}

// LOG(x, [base]): the base is read only for a positive x. Base 10, given or
// not, is the exact base-10 logarithm, so INT(LOG(1000)) is 3.
Result<Variant> func_log(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("LOG", args.size(), 1, kNoMax));
    const double x = TRY(arg_number(args[0], ctx));
    if (x <= 0) return num_error();
    const double base = args.size() >= 2 ? TRY(arg_number(args[1], ctx)) : 10.0;
    if (base <= 0) return num_error();
    if (base == 1) return Variant(ExcelError::DivZero);  // ln 1 = 0 divides
    if (base == 10) return float_or_num(std::log10(x));
    return float_or_num(std::log(x) / std::log(base));
}

// POWER: 0 to a negative power divides by zero; 0^0, a negative base with a
// fractional exponent and overflow are #NUM!.
Result<Variant> func_power(Args args, const EvalCtx& ctx) {
    return binary(args, ctx, "POWER", [](double base, double exponent) -> Result<Variant> {
        if (base == 0 && exponent < 0) return Variant(ExcelError::DivZero);
        if (base == 0 && exponent == 0) return num_error();
        return number_or_num(std::pow(base, exponent));
    });
}

Result<Variant> func_pi(Args args, const EvalCtx&) {
    TRY_VOID(check_arity("PI", args.size(), 0, 0));
    return Variant(kPi);
}

Result<Variant> func_int(Args args, const EvalCtx& ctx) {
    return unary(args, ctx, "INT", [](double x) { return std::floor(x); });
}

// MOD takes the divisor's sign: MOD(-3, 2) is 1.
Result<Variant> func_mod(Args args, const EvalCtx& ctx) {
    return binary(args, ctx, "MOD", [](double a, double b) -> Result<Variant> {
        if (b == 0) return Variant(ExcelError::DivZero);
        return number_or_num(a - std::floor(a / b) * b);
    });
}

Result<Variant> func_quotient(Args args, const EvalCtx& ctx) {
    return binary(args, ctx, "QUOTIENT", [](double a, double b) -> Result<Variant> {
        if (b == 0) return Variant(ExcelError::DivZero);
        return Variant(saturate_i64(std::trunc(a / b)));
    });
}

// ATAN2(x, y): the first argument is the x coordinate.
Result<Variant> func_atan2(Args args, const EvalCtx& ctx) {
    return binary(args, ctx, "ATAN2", [](double x, double y) -> Result<Variant> {
        if (x == 0 && y == 0) return Variant(ExcelError::DivZero);
        return float_or_num(std::atan2(y, x));
    });
}

Result<Variant> func_fact(Args args, const EvalCtx& ctx) {
    return unary(args, ctx, "FACT", [](double x) -> Result<Variant> {
        const int64_t n = saturate_i64(x);
        if (n < 0 || n > kMaxFactorial) return num_error();
        double product = 1;
        for (int64_t i = 2; i <= n; ++i) product *= static_cast<double>(i);
        return number_variant(product);
    });
}

// COMBIN(n, k) walks min(k, n - k) factors and stops once the value
// overflows, so huge arguments cost little.
Result<Variant> func_combin(Args args, const EvalCtx& ctx) {
    return binary(args, ctx, "COMBIN", [](double nx, double kx) -> Result<Variant> {
        const int64_t n = saturate_i64(nx), k_in = saturate_i64(kx);
        if (n < 0 || k_in < 0 || k_in > n) return num_error();
        const int64_t k = std::min(k_in, n - k_in);
        double c = 1;
        for (int64_t i = 1; i <= k && std::isfinite(c); ++i)
            c = (static_cast<double>(n - i + 1) * c) / static_cast<double>(i);
        return number_or_num(std::round(c));
    });
}

Result<Variant> func_permut(Args args, const EvalCtx& ctx) {
    return binary(args, ctx, "PERMUT", [](double nx, double kx) -> Result<Variant> {
        const int64_t n = saturate_i64(nx), k = saturate_i64(kx);
        if (n < 0 || k < 0 || k > n) return num_error();
        double product = 1;
        // Counting the k factors down from n never steps past n, even at
        // the largest n.
        for (int64_t j = 0; j < k && std::isfinite(product); ++j) product *= static_cast<double>(n - j);
        return number_or_num(product);
    });
}

Result<Variant> func_gcd(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("GCD", args.size(), 1, kNoMax));
    uint64_t g = 0;
    TRY_VOID(fold_whole_numbers(args, ctx, [&](uint64_t c) { g = std::gcd(g, c); }));
    return Variant(static_cast<int64_t>(g));
}

// LCM: a zero among the values makes it 0; a multiple beyond the signed
// 64-bit range is #NUM!.
Result<Variant> func_lcm(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("LCM", args.size(), 1, kNoMax));
    uint64_t r = 1;
    bool overflow = false;
    TRY_VOID(fold_whole_numbers(args, ctx, [&](uint64_t c) {
        if (r == 0 || overflow) return;
        if (c == 0) {
            r = 0;
            return;
        }
        overflow = __builtin_mul_overflow(r / std::gcd(r, c), c, &r);
    }));
    if (overflow || r > static_cast<uint64_t>(INT64_MAX)) return num_error();
    return Variant(static_cast<int64_t>(r));
}

Result<Variant> func_round(Args args, const EvalCtx& ctx) {
    return round_handler(args, ctx, "ROUND", 2, Toward::Nearest);
}

Result<Variant> func_roundup(Args args, const EvalCtx& ctx) {
    return round_handler(args, ctx, "ROUNDUP", 2, Toward::AwayFromZero);
}

Result<Variant> func_rounddown(Args args, const EvalCtx& ctx) {
    return round_handler(args, ctx, "ROUNDDOWN", 2, Toward::Zero);
}

Result<Variant> func_trunc(Args args, const EvalCtx& ctx) { return round_handler(args, ctx, "TRUNC", 1, Toward::Zero); }

Result<Variant> func_ceiling(Args args, const EvalCtx& ctx) { return multiple_handler(args, ctx, "CEILING", ceil_of); }

Result<Variant> func_floor(Args args, const EvalCtx& ctx) { return multiple_handler(args, ctx, "FLOOR", floor_of); }

Result<Variant> func_ceiling_math(Args args, const EvalCtx& ctx) {
    return math_multiple(args, ctx, "CEILING.MATH", true);
}

Result<Variant> func_floor_math(Args args, const EvalCtx& ctx) { return math_multiple(args, ctx, "FLOOR.MATH", false); }

// MROUND: the number and the multiple must have the same sign (0 counts as
// positive), halves round away from zero.
Result<Variant> func_mround(Args args, const EvalCtx& ctx) {
    return binary(args, ctx, "MROUND", [](double x, double multiple) -> Result<Variant> {
        if (multiple == 0) return Variant(int64_t{0});
        if ((multiple < 0) != (x < 0)) return num_error();
        return round_to_multiple(x, multiple, round_half_away);
    });
}

namespace {
constexpr FuncEntry kTable[] = {
    {"ABS", func_abs},
    {"ACOS", func_trig1<acos_of>},
    {"ASIN", func_trig1<asin_of>},
    {"ATAN", func_trig1<atan_of>},
    {"ATAN2", func_atan2},
    {"CEILING", func_ceiling},
    {"CEILING.MATH", func_ceiling_math},
    {"COMBIN", func_combin},
    {"COS", func_trig1<cos_of>},
    {"DEGREES", func_trig1<degrees_of>},
    {"EXP", func_exp},
    {"FACT", func_fact},
    {"FLOOR", func_floor},
    {"FLOOR.MATH", func_floor_math},
    {"GCD", func_gcd},
    {"INT", func_int},
    {"LCM", func_lcm},
    {"LN", func_ln},
    {"LOG", func_log},
    {"LOG10", func_log10},
    {"MOD", func_mod},
    {"MROUND", func_mround},
    {"PERMUT", func_permut},
    {"PI", func_pi},
    {"POWER", func_power},
    {"QUOTIENT", func_quotient},
    {"RADIANS", func_trig1<radians_of>},
    {"ROUND", func_round},
    {"ROUNDDOWN", func_rounddown},
    {"ROUNDUP", func_roundup},
    {"SIGN", func_sign},
    {"SIN", func_trig1<sin_of>},
    {"SQRT", func_sqrt},
    {"TAN", func_trig1<tan_of>},
    {"TRUNC", func_trunc},
};
}  // namespace

std::span<const FuncEntry> math_functions() { return kTable; }

}  // namespace morvane::eval
