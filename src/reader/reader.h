// The workbook reader: the sheet names and cell values of .xlsx, .xlsm and
// .ods files. It reads values only (no formulas, styles or macros; a
// workbook's date system and number formats only to give its date cells as
// Dates) and bounds what a file may make it hold, so a hostile file fails
// with a message instead of exhausting memory. The cells go straight into
// the CellMap a workbook sheet holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "types/result.h"
#include "types/variant.h"

namespace morvane::reader {

// One sheet as read: its name as the file writes it, and its values
// (numbers, dates, texts, booleans and error values; no formulas).
struct WorkbookSheet {
    std::string name;
    CellMap cells;
};

// What one file may make the reader hold; each limit past which it fails.
inline constexpr uint64_t kMaxPartBytes = uint64_t{4} << 30;     // one decompressed part
inline constexpr uint64_t kRatioGraceBytes = uint64_t{4} << 20;  // a part this small may inflate freely
inline constexpr uint64_t kMaxInflateRatio = 100;                // past it, at most this times its packed size
inline constexpr uint64_t kMinTotalBytes = uint64_t{256} << 20;  // all parts: this or the ratio times the file
inline constexpr uint64_t kMaxRepeatedCells = 1'048'576;         // copies made by .ods repeats
inline constexpr uint64_t kMaxTextBytes = uint64_t{1} << 30;     // text held by the values
inline constexpr uint64_t kMaxSheets = 10'000;

// The sheets of an .xlsx, .xlsm or .ods file, in file order. When the
// operating system refused the file, `os_errno` receives its error number.
Result<std::vector<WorkbookSheet>> read_workbook(std::string_view path, int* os_errno = nullptr);

}  // namespace morvane::reader
