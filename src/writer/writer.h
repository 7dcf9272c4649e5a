// The workbook writer: saves sheets of cell values as an .xlsx package, or
// as an OpenDocument spreadsheet when the path ends in ".ods". It takes a
// view of the sheets, never the interpreter: the caller lists each sheet's
// name and cells. Values only: no formulas, styles or workbook state.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "types/result.h"
#include "types/variant.h"

namespace morvane::writer {

// One sheet to write: its name as stored (lower case) and its cells.
struct SheetView {
    std::string_view name;
    const CellMap* cells;  // null for a sheet without cells
};
using SheetsView = std::span<const SheetView>;

// Largest dense grid (rows x columns) an .ods table or a DataFrame is built for.
inline constexpr uint64_t kMaxGridCells = 10'000'000;

// Writes the file in one piece through a temporary file beside `path`, so a
// failure leaves any existing file unchanged; an existing file keeps its
// permission bits, and a symbolic link stays a link to the file written.
// Cells that no workbook file can hold (non-finite numbers, characters XML
// forbids, positions beyond the sheet limits) and sheet names other programs
// refuse fail the save before anything is written. When the operating system
// refused the write, `os_errno` receives its error number.
Result<void> save_workbook(SheetsView sheets, std::string_view path, int* os_errno = nullptr);

// & < > " ' as entities, the ampersand first, and a carriage return as &#13;.
std::string xml_escape(std::string_view s);

// Largest row and column over every stored position of a non-empty map.
uint32_t cells_max_row(const CellMap& cells);
uint32_t cells_max_col(const CellMap& cells);

// The .xlsx shared-string table: each distinct text once, in order of first use.
struct SharedStrings {
    std::vector<std::string_view> texts;
    std::unordered_map<std::string_view, uint32_t> index;
    std::deque<std::string> owned;  // texts made for lists and records
    uint32_t id(std::string_view text);
    uint32_t owned_id(std::string text);  // the same for a text made here, kept by the table
};

// The parts, exposed for tests. A sheet part adds its texts to `strings`.
std::string build_xlsx_workbook(SheetsView sheets);
std::string build_xlsx_workbook_rels(size_t sheet_count);
std::string build_xlsx_sheet(const CellMap* cells, SharedStrings& strings);
std::string build_xlsx_shared_strings(const SharedStrings& strings);
std::string build_ods_content(SheetsView sheets);

// The packages in memory.
Result<std::string> build_xlsx(SheetsView sheets);
Result<std::string> build_ods(SheetsView sheets);

}  // namespace morvane::writer
