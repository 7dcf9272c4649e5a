// The writer's entry point: choose the format by the path, refuse what no
// workbook file can hold, build the package in memory and put it in place.
#include <cmath>
#include <string>

#include "types/text.h"
#include "workbook/workbook.h"
#include "writer/package.h"
#include "writer/writer.h"
#include "writer/xml_writer.h"

namespace morvane::writer {

namespace {

constexpr std::string_view kBadSheetName = "cannot save sheet '{}': spreadsheet programs refuse that sheet name";
constexpr std::string_view kNotFinite = "cannot save cell {} of sheet '{}': a workbook file cannot hold the number {}";
constexpr std::string_view kBadText =
    "cannot save cell {} of sheet '{}': its text holds a character that XML does not allow";
constexpr std::string_view kBadUtf8 = "cannot save cell {} of sheet '{}': its text is not valid UTF-8";
constexpr std::string_view kBeyondLimits =
    "cannot save the cell at row {}, column {} of sheet '{}': beyond the last row {} or column {}";

// The names Excel, LibreOffice and the Python readers all accept. Sheets
// are made under such names; one loaded from a file may still be longer
// than Excel allows, which OpenDocument takes.
bool sheet_name_ok(std::string_view name, FileFormat format) {
    if (!xml_chars_ok(name)) return false;
    if (format == FileFormat::Ods) return sheet_name_chars_ok(name);
    // Excel keeps "History" for itself.
    return check_sheet_name(name) && text::to_lower(name) != "history";
}

// A text the format can carry: .xlsx escapes what XML forbids, .ods cannot.
Result<void> check_text(const SheetView& sheet, CellPos pos, std::string_view text, FileFormat format) {
    if (format == FileFormat::Ods ? xml_chars_ok(text) : xlsx_chars_ok(text)) return {};
    return fail(
        format_message(format == FileFormat::Ods ? kBadText : kBadUtf8, cell_ref(pos.row, pos.col), sheet.name));
}

Result<void> check_cell(const SheetView& sheet, CellPos pos, const Variant& v, FileFormat format) {
    if (v.is_float() && !std::isfinite(v.as_float()))
        return fail(format_message(kNotFinite, cell_ref(pos.row, pos.col), sheet.name, number_to_text(v.as_float())));
    if (v.is_str()) TRY_VOID(check_text(sheet, pos, v.as_str(), format));
    if (auto text = shown_text(v)) TRY_VOID(check_text(sheet, pos, *text, format));
    if (pos.row > kMaxRow || pos.col > kMaxCol)
        return fail(format_message(kBeyondLimits, std::to_string(pos.row), std::to_string(pos.col), sheet.name,
                                   std::to_string(kMaxRow), std::to_string(kMaxCol)));
    return {};
}

Result<void> check_sheet(const SheetView& sheet, FileFormat format) {
    if (!sheet_name_ok(sheet.name, format)) return fail(format_message(kBadSheetName, sheet.name));
    if (!sheet.cells || sheet.cells->empty()) return {};
    for (const auto& [pos, content] : *sheet.cells) {
        // Cells in row 0 or column 0 are never written, but an .xlsx lists their texts.
        bool written = pos.row != 0 && pos.col != 0;
        const Variant& v = content.value;
        bool listed = v.is_str() || v.is_array() || v.is_record();
        if (written || (format != FileFormat::Ods && listed)) TRY_VOID(check_cell(sheet, pos, v, format));
    }
    return {};
}

}  // namespace

std::optional<FileFormat> file_format(std::string_view path) {
    const std::string lower = text::to_lower(path);
    if (lower.ends_with(".xlsx")) return FileFormat::Xlsx;
    if (lower.ends_with(".xlsm")) return FileFormat::Xlsm;
    if (lower.ends_with(".ods")) return FileFormat::Ods;
    return std::nullopt;
}

Result<void> save_workbook(SheetsView sheets, std::string_view path, int* os_errno) {
    const std::optional<FileFormat> format = file_format(path);
    if (!format) return fail(format_message(kUnknownFormat, path));
    for (const SheetView& sheet : sheets) TRY_VOID(check_sheet(sheet, *format));
    std::string bytes = TRY(*format == FileFormat::Ods ? build_ods(sheets) : build_xlsx(sheets, *format));
    return write_file_atomically(path, bytes, os_errno);
}

}  // namespace morvane::writer
