// The per-thread generator behind RAND, RANDBETWEEN and RANDARRAY: xorshift64,
// seeded from the clock at a thread's first draw.
#pragma once

#include <cstdint>

namespace morvane::eval {

// The next number in [0, 1) of this thread's xorshift64 generator, seeded
// from the clock at the first draw.
double next_rand_f64();
// The seed made from a clock reading (seconds since 1970, nanoseconds).
uint64_t rand_seed(int64_t seconds, uint32_t nanos);
// The generator state of this thread (0 before the first draw); tests only.
uint64_t rand_state();
void set_rand_state(uint64_t state);

}  // namespace morvane::eval
