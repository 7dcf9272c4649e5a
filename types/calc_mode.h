// The workbook's calculation mode: what a macro's Application.Calculation
// sets and what decides whether writes recompute formulas.
#pragma once

#include <cstdint>

namespace morvane {

enum class CalcMode : uint8_t { Automatic = 0, Manual = 1 };

}  // namespace morvane
