// Fuzz target: a VBA module's text, parsed and, when it parses, its first
// Sub run under a step budget. Input: the Sub's name on the first line, the
// module text after it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "parser/mod.h"
#include "vm/mod.h"

namespace {

// Interrupt checks come every 256 loop passes, jumps and calls, and as
// formula work accrues: a few dozen of them bound every run, so a loop that
// never ends costs milliseconds and the fuzzer spends its time on new code.
thread_local int t_checks_left = 0;
bool budget_spent() { return --t_checks_left < 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string_view name = newline == std::string_view::npos ? std::string_view("main") : input.substr(0, newline);
    std::string_view code = newline == std::string_view::npos ? input : input.substr(newline + 1);
    auto program = morvane::parser::parse(code);
    if (!program) return 0;
    morvane::Vm vm;
    t_checks_left = 16;
    vm.set_interrupt_check(budget_spent);
    // Failures are the expected outcome of most inputs; only crashes,
    // sanitizer reports and hangs are findings.
    (void)vm.run_sub(*program, name);
    // Read back as a caller does: every sheet's formulas brought up to date.
    t_checks_left = 16;
    (void)vm.refresh({});
    return 0;
}
