// The OpenDocument spreadsheet package: the stored mimetype first (readable
// at a fixed offset), the manifest, and content.xml with one table per sheet
// from A1 to its last cell, runs of empty rows and cells written as repeats
// so that a far-away cell costs no more than a near one. Dates and booleans
// carry the data styles LibreOffice itself writes for them, so they show as
// dates and as TRUE and FALSE; error values are written as LibreOffice
// writes a formula's error result.
#include <cstdio>
#include <string>

#include "writer/package.h"
#include "writer/writer.h"
#include "writer/xml_writer.h"

namespace morvane::writer {

namespace {

constexpr std::string_view kMimetype = "application/vnd.oasis.opendocument.spreadsheet";

constexpr std::string_view kManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
    "manifest:version=\"1.2\">\n"
    " <manifest:file-entry manifest:media-type=\"application/vnd.oasis.opendocument.spreadsheet\" "
    "manifest:version=\"1.2\" manifest:full-path=\"/\"/>\n"
    " <manifest:file-entry manifest:media-type=\"text/xml\" manifest:full-path=\"content.xml\"/>\n"
    "</manifest:manifest>\n";

constexpr std::string_view kContentHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" "
    "xmlns:of=\"urn:oasis:names:tc:opendocument:xmlns:of:1.2\" "
    "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\" "
    "office:version=\"1.2\">\n"
    "<office:automatic-styles>"
    "<number:date-style style:name=\"N1\"><number:year number:style=\"long\"/><number:text>-</number:text>"
    "<number:month number:style=\"long\"/><number:text>-</number:text><number:day number:style=\"long\"/>"
    "</number:date-style>"
    "<number:boolean-style style:name=\"N2\"><number:boolean/></number:boolean-style>"
    "<style:style style:name=\"ce1\" style:family=\"table-cell\" style:data-style-name=\"N1\"/>"
    "<style:style style:name=\"ce2\" style:family=\"table-cell\" style:data-style-name=\"N2\"/>"
    "<number:date-style style:name=\"N3\"><number:year number:style=\"long\"/><number:text>-</number:text>"
    "<number:month number:style=\"long\"/><number:text>-</number:text><number:day number:style=\"long\"/>"
    "<number:text> </number:text><number:hours number:style=\"long\"/><number:text>:</number:text>"
    "<number:minutes number:style=\"long\"/><number:text>:</number:text><number:seconds number:style=\"long\"/>"
    "</number:date-style>"
    "<style:style style:name=\"ce3\" style:family=\"table-cell\" style:data-style-name=\"N3\"/>"
    "</office:automatic-styles>\n"
    "<office:body><office:spreadsheet>\n";
constexpr std::string_view kContentTail = "</office:spreadsheet></office:body>\n</office:document-content>\n";

constexpr std::string_view kEmptyCell = "<table:table-cell/>";

void append_float_cell(std::string& out, std::string_view number) {
    out += "<table:table-cell office:value-type=\"float\" office:value=\"";
    out += number;
    out += "\"><text:p>";
    out += number;
    out += "</text:p></table:table-cell>";
}

void append_string_cell(std::string& out, std::string_view text) {
    out += "<table:table-cell office:value-type=\"string\"><text:p>";
    append_escaped(out, text);
    out += "</text:p></table:table-cell>";
}

// A date cell, with its time of day when it has one; serials with no
// calendar date (0 and the phantom 1900-02-29) stay numbers.
void append_date_cell(std::string& out, Date date) {
    const int64_t serial = date.serial;
    if (serial == 0 || serial == 60) {
        std::string number;
        append_number(number, date.value());
        append_float_cell(out, number);
        return;
    }
    // The value "YYYY-MM-DDThh:mm:ss" with the fraction of a second when
    // there is one; shown "YYYY-MM-DD hh:mm:ss".
    std::string iso = morvane_types::serial_to_display(serial);
    if (const int64_t us = date.microseconds(); us > 0) {
        char clock[32];
        const int64_t seconds = us / 1'000'000, fraction = us % 1'000'000;
        int n = std::snprintf(clock, sizeof clock, "T%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                              static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
        if (fraction) {
            n += std::snprintf(clock + n, sizeof clock - static_cast<size_t>(n), ".%06d", static_cast<int>(fraction));
            while (clock[n - 1] == '0') --n;
        }
        iso.append(clock, static_cast<size_t>(n));
    }
    const std::string shown = date_text(date);
    // A date with a time of day shows both.
    out += date.time != 0
               ? "<table:table-cell table:style-name=\"ce3\" office:value-type=\"date\" office:date-value=\""
               : "<table:table-cell table:style-name=\"ce1\" office:value-type=\"date\" office:date-value=\"";
    out += iso;
    out += "\"><text:p>";
    out += shown;
    out += "</text:p></table:table-cell>";
}

// An error value as LibreOffice writes a formula's error result: the
// formula is the error literal itself, so that LibreOffice computes the
// same error again, and the shown text names it.
void append_error_cell(std::string& out, ExcelError e) {
    out += "<table:table-cell table:formula=\"of:=";
    out += error_text(e);
    out += "\" office:value-type=\"string\" office:string-value=\"\" calcext:value-type=\"error\"><text:p>";
    out += error_text(e);
    out += "</text:p></table:table-cell>";
}

void append_cell(std::string& out, const Variant& v) {
    switch (v.kind()) {
        case Kind::Integer: append_float_cell(out, std::to_string(v.as_int())); return;
        case Kind::Float: {
            std::string number;
            append_number(number, v.as_float());
            append_float_cell(out, number);
            return;
        }
        case Kind::Date: append_date_cell(out, v.as_date()); return;
        case Kind::Str: append_string_cell(out, v.as_str()); return;
        case Kind::Error: append_error_cell(out, v.as_error()); return;
        case Kind::Boolean:
            out += v.as_bool() ? "<table:table-cell table:style-name=\"ce2\" office:value-type=\"boolean\" "
                                 "office:boolean-value=\"true\"><text:p>TRUE</text:p></table:table-cell>"
                               : "<table:table-cell table:style-name=\"ce2\" office:value-type=\"boolean\" "
                                 "office:boolean-value=\"false\"><text:p>FALSE</text:p></table:table-cell>";
            return;
        case Kind::Array:
        case Kind::Record: append_string_cell(out, *shown_text(v)); return;
        case Kind::Empty: out += kEmptyCell; return;
    }
}

// `count` empty rows or cells, as one element.
void append_empty_rows(std::string& out, uint32_t count) {
    if (count == 0) return;
    out += "<table:table-row";
    if (count > 1) {
        out += " table:number-rows-repeated=\"";
        append_int(out, count);
        out += '"';
    }
    out += '>';
    out += kEmptyCell;
    out += "</table:table-row>\n";
}

void append_empty_cells(std::string& out, uint32_t count) {
    if (count == 0) return;
    if (count == 1) {
        out += kEmptyCell;
        return;
    }
    out += "<table:table-cell table:number-columns-repeated=\"";
    append_int(out, count);
    out += "\"/>";
}

void append_table(std::string& out, const SheetView& sheet) {
    out += "<table:table table:name=\"";
    append_escaped(out, sheet.name);
    out += "\">\n";
    if (sheet.cells && !sheet.cells->empty()) {
        // Each row from its first cell to its last; the gaps before, between
        // and above are runs of empty cells and rows. Cells in row 0 or
        // column 0 and cells holding nothing are no part of the table.
        uint32_t next_row = 1, open_row = 0, next_col = 1;
        for (const auto& [pos, content] : sorted_cells(*sheet.cells)) {
            if (pos.row == 0 || pos.col == 0 || content->value.is_empty()) continue;
            if (pos.row != open_row) {
                if (open_row) out += "</table:table-row>\n";
                append_empty_rows(out, pos.row - next_row);
                out += "<table:table-row>";
                open_row = pos.row;
                next_row = pos.row + 1;
                next_col = 1;
            }
            append_empty_cells(out, pos.col - next_col);
            append_cell(out, content->value);
            next_col = pos.col + 1;
        }
        if (open_row) out += "</table:table-row>\n";
    }
    out += "</table:table>\n";
}

}  // namespace

std::string build_ods_content(SheetsView sheets) {
    std::string out(kContentHead);
    for (const SheetView& sheet : sheets) append_table(out, sheet);
    out += kContentTail;
    return out;
}

Result<std::string> build_ods(SheetsView sheets) {
    ZipBuilder zip = TRY(ZipBuilder::create());
    TRY_VOID(zip.add("mimetype", std::string(kMimetype), /*stored=*/true));
    TRY_VOID(zip.add("META-INF/manifest.xml", std::string(kManifest)));
    TRY_VOID(zip.add("content.xml", build_ods_content(sheets)));
    return zip.finish();
}

}  // namespace morvane::writer
