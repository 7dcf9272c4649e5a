// Clock built-ins: Date, Now and Time. They read the system clock in UTC,
// as the worksheet's TODAY and NOW do, so Date is the day TODAY() gives.
// All three are Dates: Now the day with the time (whole seconds, as VBA
// keeps it), Time the time of day alone.
#include <chrono>
#include <cstdint>

#include "vm/builtins/builtins.h"

namespace morvane::vm {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// The day serial of 1970-01-01, where the clock counts from.
constexpr int64_t kEpochSerial = 25569;

// Whole seconds since 1970-01-01 00:00:00 UTC; a clock set before 1970
// reads as that moment.
int64_t clock_seconds() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int64_t s = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    return s < 0 ? 0 : s;
}

// The time of day of a clock reading, as a fraction of a day.
double time_of_day(int64_t seconds) {
    return static_cast<double>(seconds % kSecondsPerDay) / static_cast<double>(kSecondsPerDay);
}

Result<Variant> date(BuiltinArgs) { return Variant(Date{clock_seconds() / kSecondsPerDay + kEpochSerial}); }

Result<Variant> now(BuiltinArgs) {
    const int64_t s = clock_seconds();
    return Variant(Date{s / kSecondsPerDay + kEpochSerial, time_of_day(s)});
}

Result<Variant> time(BuiltinArgs) { return Variant(Date{0, time_of_day(clock_seconds())}); }

constexpr Builtin kTable[] = {
    {"date", pure<date>},
    {"now", pure<now>},
    {"time", pure<time>},
};

}  // namespace

std::span<const Builtin> datetime_builtins() { return kTable; }

const Builtin* find_bare_builtin(std::string_view name) {
    for (const Builtin& b : kTable)
        if (b.name == name) return &b;
    return nullptr;
}

}  // namespace morvane::vm
