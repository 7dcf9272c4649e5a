// Random numbers: the per-thread generator. The functions themselves are not
// built yet: their names give #NAME? until they join the table at the end of
// this file.
#include <array>
#include <chrono>

#include "formula/eval.h"
#include "formula/random.h"

namespace morvane::eval {

namespace {
thread_local uint64_t t_rand_state = 0;
}

uint64_t rand_seed(int64_t seconds, uint32_t nanos) {
    if (seconds < 0) return 0xDEADBEEFCAFE1234ULL;
    uint64_t c = static_cast<uint64_t>(seconds) * 6364136223846793005ULL;
    uint64_t x = c ^ nanos ^ 0x9E3779B97F4A7C15ULL;
    return x == 0 ? 1 : x;
}

double next_rand_f64() {
    uint64_t x = t_rand_state;
    if (x == 0) {
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
        x = ns < 0 ? rand_seed(-1, 0)
                   : rand_seed(ns / 1'000'000'000, static_cast<uint32_t>(ns % 1'000'000'000));
    }
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    t_rand_state = x;
    return static_cast<double>(x >> 11) * 0x1.0p-53;
}

uint64_t rand_state() { return t_rand_state; }
void set_rand_state(uint64_t state) { t_rand_state = state; }

namespace {
constexpr std::array<FuncEntry, 0> kTable{};
}  // namespace

std::span<const FuncEntry> random_functions() { return kTable; }

}  // namespace morvane::eval
