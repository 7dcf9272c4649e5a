// Clock built-ins: Date, Now and Time. They read the system clock in UTC,
// as the worksheet's TODAY and NOW do, so Date is the day TODAY() gives;
// Now and Time are readable texts of the same reading.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "types/address.h"
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

std::string time_text(int64_t seconds) {
    const int64_t in_day = seconds % kSecondsPerDay;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(in_day / 3600),
                  static_cast<int>(in_day / 60 % 60), static_cast<int>(in_day % 60));
    return buf;
}

Result<Variant> date(BuiltinArgs) { return Variant(Date{clock_seconds() / kSecondsPerDay + kEpochSerial}); }

// "yyyy-mm-dd hh:mm:ss"
Result<Variant> now(BuiltinArgs) {
    const int64_t s = clock_seconds();
    return Variant(morvane_types::serial_to_display(s / kSecondsPerDay + kEpochSerial) + " " + time_text(s));
}

// "hh:mm:ss"
Result<Variant> time(BuiltinArgs) { return Variant(time_text(clock_seconds())); }

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
