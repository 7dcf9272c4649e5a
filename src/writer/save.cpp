// The writer's entry point: choose the format by the path, refuse what no
// workbook file can hold, build the package in memory and put it in place.
#include <cmath>
#include <string>

#include "types/text.h"
#include "writer/package.h"
#include "writer/writer.h"
#include "writer/xml_writer.h"

namespace morvane::writer {

namespace {

constexpr std::string_view kBadSheetName = "cannot save sheet '{}': spreadsheet programs refuse that sheet name";
constexpr std::string_view kNotFinite = "cannot save cell {} of sheet '{}': a workbook file cannot hold the number {}";
constexpr std::string_view kBadText =
    "cannot save cell {} of sheet '{}': its text holds a character that XML does not allow";
constexpr std::string_view kBeyondLimits =
    "cannot save the cell at row {}, column {} of sheet '{}': beyond the last row {} or column {}";
constexpr std::string_view kGridTooLarge =
    "cannot save sheet '{}' as .ods: its grid of {} rows by {} columns is larger than 10000000 cells";

constexpr size_t kMaxXlsxNameChars = 31;

enum class Format { Xlsx, Ods };

// The names Excel, LibreOffice and the Python readers all accept.
bool sheet_name_ok(std::string_view name, Format format) {
    if (name.empty() || !xml_chars_ok(name)) return false;
    if (name.find_first_of("[]*?:/\\") != std::string_view::npos) return false;
    if (name.front() == '\'' || name.back() == '\'') return false;
    if (format == Format::Xlsx && (text::char_count(name) > kMaxXlsxNameChars || name == "history")) return false;
    return true;
}

Result<void> check_cell(const SheetView& sheet, CellPos pos, const Variant& v) {
    if (v.is_float() && !std::isfinite(v.as_float()))
        return fail(format_message(kNotFinite, cell_ref(pos.row, pos.col), sheet.name, number_to_text(v.as_float())));
    if (v.is_str() && !xml_chars_ok(v.as_str()))
        return fail(format_message(kBadText, cell_ref(pos.row, pos.col), sheet.name));
    if (auto text = shown_text(v); text && !xml_chars_ok(*text))
        return fail(format_message(kBadText, cell_ref(pos.row, pos.col), sheet.name));
    if (pos.row > kMaxRow || pos.col > kMaxCol)
        return fail(format_message(kBeyondLimits, std::to_string(pos.row), std::to_string(pos.col), sheet.name,
                                   std::to_string(kMaxRow), std::to_string(kMaxCol)));
    return {};
}

Result<void> check_sheet(const SheetView& sheet, Format format) {
    if (!sheet_name_ok(sheet.name, format)) return fail(format_message(kBadSheetName, sheet.name));
    if (!sheet.cells || sheet.cells->empty()) return {};
    for (const auto& [pos, content] : *sheet.cells) {
        // Cells in row 0 or column 0 are never written, but an .xlsx lists their texts.
        bool written = pos.row != 0 && pos.col != 0;
        const Variant& v = content.value;
        bool listed = v.is_str() || v.is_array() || v.is_record();
        if (written || (format == Format::Xlsx && listed)) TRY_VOID(check_cell(sheet, pos, v));
    }
    if (format == Format::Ods) {
        uint64_t rows = cells_max_row(*sheet.cells), cols = cells_max_col(*sheet.cells);
        if (rows * cols > kMaxGridCells)
            return fail(format_message(kGridTooLarge, sheet.name, std::to_string(rows), std::to_string(cols)));
    }
    return {};
}

}  // namespace

Result<void> save_workbook(SheetsView sheets, std::string_view path, int* os_errno) {
    std::string lower = text::to_lower(path);
    Format format = lower.size() >= 4 && lower.ends_with(".ods") ? Format::Ods : Format::Xlsx;
    for (const SheetView& sheet : sheets) TRY_VOID(check_sheet(sheet, format));
    std::string bytes = TRY(format == Format::Ods ? build_ods(sheets) : build_xlsx(sheets));
    return write_file_atomically(path, bytes, os_errno);
}

}  // namespace morvane::writer
