// The workbook writer: saves sheets of cell values as an .xlsx package, a
// macro-enabled .xlsm package (without a VBA project) or an OpenDocument
// spreadsheet, chosen by the path's extension. It takes a view of the
// sheets, never the interpreter: the caller lists each sheet's name and
// cells and which one is active. Values only: no formulas or styles.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "types/result.h"
#include "types/variant.h"

namespace morvane::writer {

// One sheet to write: its name and its cells.
struct SheetView {
    std::string_view name;
    const CellMap* cells;  // null for a sheet without cells
    bool active = false;   // the sheet the saved file opens on
};
using SheetsView = std::span<const SheetView>;

enum class FileFormat { Xlsx, Xlsm, Ods };

// The format a path's extension asks for, in any letter case; none for any
// other extension.
std::optional<FileFormat> file_format(std::string_view path);
inline constexpr std::string_view kUnknownFormat = "cannot save '{}': the file name must end in .xlsx, .xlsm or .ods";

// Writes the file in one piece through a temporary file beside `path`, so a
// failure leaves any existing file unchanged; an existing file keeps its
// permission bits, and a symbolic link stays a link to the file written.
// A path whose extension names no format, an existing target that is not a
// regular file, cells that no workbook file can hold (non-finite numbers,
// characters the format cannot carry, positions beyond the sheet limits) and
// sheet names other programs refuse fail the save before anything is
// written. When the operating system refused the write, `os_errno` receives
// its error number.
Result<void> save_workbook(SheetsView sheets, std::string_view path, int* os_errno = nullptr);

// & < > " ' as entities, the ampersand first, and a carriage return as &#13;.
std::string xml_escape(std::string_view s);

// The .xlsx shared-string table: each distinct text once, in order of first use.
struct SharedStrings {
    std::vector<std::string_view> texts;
    std::unordered_map<std::string_view, uint32_t> index;
    std::deque<std::string> owned;  // texts made for lists and records
    uint32_t id(std::string_view text);
    uint32_t owned_id(std::string text);  // the same for a text made here, kept by the table
};

// The parts, exposed for tests. A sheet part adds its texts to `strings`.
std::string build_xlsx_content_types(size_t sheet_count, FileFormat format);
std::string build_xlsx_workbook(SheetsView sheets);
std::string build_xlsx_workbook_rels(size_t sheet_count);
std::string build_xlsx_sheet(const SheetView& sheet, SharedStrings& strings);
std::string build_xlsx_shared_strings(const SharedStrings& strings);
std::string build_ods_content(SheetsView sheets);

// The packages in memory; `format` tells .xlsx from .xlsm.
Result<std::string> build_xlsx(SheetsView sheets, FileFormat format);
Result<std::string> build_ods(SheetsView sheets);

}  // namespace morvane::writer
