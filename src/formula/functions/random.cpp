// Random numbers: RAND and RANDBETWEEN draw from the sub-second part of the
// clock, with no state between calls; RANDARRAY draws from the per-thread
// xorshift64 generator, seeded from the clock at the thread's first draw.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "formula/args.h"
#include "formula/dates.h"
#include "formula/eval.h"
#include "formula/random.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kBottomAboveTop = "RANDBETWEEN: bottom > top";
constexpr std::string_view kMaxBelowMin = "RANDARRAY: max must be >= min";

constexpr uint64_t kMultiplier = 6364136223846793005ULL;
constexpr uint64_t kIncrement = 1442695040888963407ULL;
// What pseudo_rand gives for 0 nanoseconds, for a clock before 1970.
constexpr double kClockFallback = 0.07820865487829387;

thread_local uint64_t t_rand_state = 0;

// A number in [0, 1) hashed from the nanoseconds of the clock.
double pseudo_rand() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
                  .count();
    if (ns < 0) return kClockFallback;
    uint64_t x = static_cast<uint64_t>(ns % 1'000'000'000) * kMultiplier + kIncrement;
    return static_cast<double>(x >> 11) * 0x1.0p-53;
}

// The value of one RANDARRAY element drawn from `u` in [0, 1).
Variant draw(double u, double min, double max, bool whole) {
    if (!whole) return Variant(min + u * (max - min));
    // Every whole number from min to max, both included, is equally likely.
    return number_variant(min + std::floor(u * (max - min + 1)));
}

}  // namespace

uint64_t rand_seed(int64_t seconds, uint32_t nanos) {
    if (seconds < 0) return 0xDEADBEEFCAFE1234ULL;
    uint64_t c = static_cast<uint64_t>(seconds) * kMultiplier;
    uint64_t x = c ^ nanos ^ 0x9E3779B97F4A7C15ULL;
    return x == 0 ? 1 : x;
}

double next_rand_f64() {
    uint64_t x = t_rand_state;
    if (x == 0) {
        auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        x = ns < 0 ? rand_seed(-1, 0) : rand_seed(ns / 1'000'000'000, static_cast<uint32_t>(ns % 1'000'000'000));
    }
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    t_rand_state = x;
    return static_cast<double>(x >> 11) * 0x1.0p-53;
}

uint64_t rand_state() { return t_rand_state; }
void set_rand_state(uint64_t state) { t_rand_state = state; }

Result<Variant> func_rand(Args args, const EvalCtx&) {
    TRY_VOID(check_arity("RAND", args.size(), 0, 0));
    return Variant(pseudo_rand());
}

Result<Variant> func_randbetween(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("RANDBETWEEN", args.size(), 2, 2));
    int64_t bottom = TRY(arg_whole(args[0], ctx));
    int64_t top = TRY(arg_whole(args[1], ctx));
    if (top < bottom) return fail(std::string(kBottomAboveTop));
    const double span = static_cast<double>(top) - static_cast<double>(bottom) + 1;
    // The span of huge bounds is rounded as a double: keep the draw inside.
    __int128 n = static_cast<__int128>(bottom) + saturate_i64(std::trunc(pseudo_rand() * span));
    return Variant(static_cast<int64_t>(n > top ? top : n));
}

Result<Variant> func_randarray(Args args, const EvalCtx& ctx) {
    // Arguments past the fifth are ignored, as the count has no message.
    uint64_t rows = args.size() > 0 ? saturate_u64(TRY(arg_number(args[0], ctx))) : 1;
    uint64_t cols = args.size() > 1 ? saturate_u64(TRY(arg_number(args[1], ctx))) : 1;
    double min = args.size() > 2 ? TRY(arg_number(args[2], ctx)) : 0;
    double max = args.size() > 3 ? TRY(arg_number(args[3], ctx)) : 1;
    bool whole = args.size() > 4 ? TRY(arg_truth(args[4], ctx)) : false;
    if (min > max) return fail(std::string(kMaxBelowMin));
    if (whole) {
        // Whole numbers lie between the bounds: none there is no value to draw.
        min = std::ceil(min);
        max = std::floor(max);
        if (min > max) return Variant(ExcelError::Value);
    }
    // No rows or no columns (0, a negative count, a blank) make an empty
    // list, which no cell can show.
    if (rows == 0 || cols == 0) return Variant(ExcelError::Value);
    const unsigned __int128 count = static_cast<unsigned __int128>(rows) * cols;
    TRY_VOID(check_range_size(count));
    std::vector<Variant> values;
    values.reserve(static_cast<size_t>(count));
    for (size_t i = 0; i < static_cast<size_t>(count); ++i) values.push_back(draw(next_rand_f64(), min, max, whole));
    return list_result(std::move(values));
}

namespace {
constexpr FuncEntry kTable[] = {
    {"RAND", func_rand},
    {"RANDARRAY", func_randarray},
    {"RANDBETWEEN", func_randbetween},
};
}  // namespace

std::span<const FuncEntry> random_functions() { return kTable; }

}  // namespace morvane::eval
