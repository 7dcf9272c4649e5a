// Shared by the .xlsx and .ods walks: the budget a whole file may spend, the
// one way a value is stored into a sheet under it, and the number rule.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/reader.h"
#include "reader/zip.h"

namespace morvane::reader {

struct ReadBudget {
    ByteBudget bytes{kMaxTotalBytes};
    uint64_t cells_left = kMaxCells;
    uint64_t text_left = kMaxTextBytes;
    uint64_t sheets_left = kMaxSheets;

    // Fails once one sheet more would pass the limit.
    Result<void> charge_sheet();

    // Fails once stored text would pass the limit.
    Result<void> charge_text(size_t n);
    // Fails when `n` bytes of text could not be stored any more.
    Result<void> allow_text(size_t n) const;
};

// Stores `cell` at `pos`, charging a new position and any text to `budget`.
Result<void> store_cell(SheetCells& cells, CellPos pos, SheetCell cell, ReadBudget& budget);

// A number text as a cell: an all-digit integer that fits 64 bits exactly,
// otherwise the text_to_number and number_variant rules; none when the
// text is not a number.
std::optional<SheetCell> number_cell(std::string_view text);

// The decimal digits of `text`, a leading '+' accepted, as 32 bits.
std::optional<uint32_t> parse_u32_plus(std::string_view text);

Result<std::vector<WorkbookSheet>> read_xlsx(const std::string& path, ReadBudget& budget);
Result<std::vector<WorkbookSheet>> read_workbook_from_archive(ZipArchive& archive, ReadBudget& budget);
Result<std::vector<WorkbookSheet>> read_ods(const std::string& path, ReadBudget& budget);
// The sheets of an OpenDocument content part.
Result<std::vector<WorkbookSheet>> read_ods_content(std::string_view content, ReadBudget& budget);
// One worksheet part of an .xlsx package.
Result<WorkbookSheet> read_xlsx_sheet(std::string name, std::string_view xml,
                                      const std::vector<std::string>& shared_strings, ReadBudget& budget);
// The shared-string table, each entry charged to the text budget.
Result<std::vector<std::string>> read_shared_strings(std::string_view xml, ReadBudget& budget);

}  // namespace morvane::reader
