// The .xlsx package, one function per part: content types, package
// relationships, workbook, workbook relationships, one part per sheet, the
// shared strings and a fixed style sheet of four cell formats: the default,
// a date format, a date-and-time format and a time format, which Date cells
// use so that other programs show a date or a time of day. An .xlsm is the
// same package under the macro-enabled workbook's content type, holding no
// VBA project.
#include <string>

#include "writer/package.h"
#include "writer/writer.h"
#include "writer/xml_writer.h"

namespace morvane::writer {

namespace {

#define MV_NS_PR "http://schemas.openxmlformats.org/package/2006/relationships"
#define MV_NS_R "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
#define MV_NS_MAIN "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
#define MV_CT_SML "application/vnd.openxmlformats-officedocument.spreadsheetml."

constexpr std::string_view kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

constexpr std::string_view kContentTypesHead =
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">\n"
    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>\n"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>\n"
    "<Override PartName=\"/xl/workbook.xml\" ContentType=\"";
// Excel refuses a package whose workbook type does not match its extension.
constexpr std::string_view kWorkbookType = MV_CT_SML "sheet.main+xml";
constexpr std::string_view kMacroWorkbookType = "application/vnd.ms-excel.sheet.macroEnabled.main+xml";
// clang-format off
constexpr std::string_view kContentTypesTail =
    "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"" MV_CT_SML "sharedStrings+xml\"/>\n"
    "<Override PartName=\"/xl/styles.xml\" ContentType=\"" MV_CT_SML "styles+xml\"/>\n"
    "</Types>\n";

constexpr std::string_view kRootRels =
    "<Relationships xmlns=\"" MV_NS_PR "\">\n"
    "<Relationship Id=\"rId1\" Type=\"" MV_NS_R "/officeDocument\" Target=\"xl/workbook.xml\"/>\n"
    "</Relationships>\n";
// clang-format on

// The two fills every spreadsheet program writes and expects (none, gray125),
// and the Normal cell style readers look for as the default.
constexpr std::string_view kStyles =
    // clang-format off
    "<styleSheet xmlns=\"" MV_NS_MAIN "\">\n"
    "<fonts><font/></fonts>\n"
    "<fills><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill></fills>\n"
    "<borders><border/></borders>\n"
    "<cellStyleXfs><xf/></cellStyleXfs>\n"
    "<cellXfs><xf/><xf numFmtId=\"14\" applyNumberFormat=\"1\"/><xf numFmtId=\"22\" applyNumberFormat=\"1\"/>"
    "<xf numFmtId=\"21\" applyNumberFormat=\"1\"/></cellXfs>\n"
    // clang-format on
    "<cellStyles><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>\n"
    "</styleSheet>\n";

// White space at either end, which XML readers drop unless told to keep it.
bool needs_preserve(std::string_view s) {
    auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    return !s.empty() && (ws(s.front()) || ws(s.back()));
}

// One cell's line; an empty value gives none.
void append_cell(std::string& out, CellPos pos, const Variant& v, SharedStrings& strings) {
    auto open = [&](std::string_view type) {
        out += "<c r=\"";
        morvane_types::append_cell_address(out, pos);
        out += type;
        out += "><v>";
    };
    switch (v.kind()) {
            // clang-format off
        case Kind::Integer: open("\""); append_int(out, v.as_int()); break;
        case Kind::Float: open("\""); append_number(out, v.as_float()); break;
        // clang-format on
        case Kind::Date:
            // A time of day is the fraction after the day serial, shown by the date-and-time format;
            // day 0 is a time of day alone (midnight at 0), shown by the time format.
            if (v.as_date().serial == 0) {
                open("\" s=\"3\"");
                append_number(out, v.as_date().time);
            } else if (v.as_date().time != 0) {
                open("\" s=\"2\"");
                append_number(out, v.as_date().value());
            } else {
                open("\" s=\"1\"");
                append_int(out, v.as_date().serial);
            }
            break;
            // clang-format off
        case Kind::Boolean: open("\" t=\"b\""); out += v.as_bool() ? '1' : '0'; break;
        case Kind::Str: open("\" t=\"s\""); append_int(out, strings.id(v.as_str())); break;
        case Kind::Error: open("\" t=\"e\""); out += error_text(v.as_error()); break;
        case Kind::Array:
        case Kind::Record: open("\" t=\"s\""); append_int(out, strings.owned_id(*shown_text(v))); break;
        // clang-format on
        case Kind::Empty: return;
    }
    out += "</v></c>\n";
}

// The text a cell contributes to the shared-string table, if any.
void note_string(const Variant& v, SharedStrings& strings) {
    // clang-format off
    if (v.is_str()) strings.id(v.as_str());
    else if (auto text = shown_text(v)) strings.owned_id(std::move(*text));
    // clang-format on
}

}  // namespace

uint32_t SharedStrings::id(std::string_view text) {
    auto [it, inserted] = index.try_emplace(text, static_cast<uint32_t>(texts.size()));
    if (inserted) texts.push_back(text);
    return it->second;
}

uint32_t SharedStrings::owned_id(std::string text) {
    auto found = index.find(text);
    if (found != index.end()) return found->second;
    return id(std::string_view(owned.emplace_back(std::move(text))));
}

std::string build_xlsx_content_types(size_t sheet_count, FileFormat format) {
    std::string out(kDecl);
    out += kContentTypesHead;
    out += format == FileFormat::Xlsm ? kMacroWorkbookType : kWorkbookType;
    out += "\"/>\n";
    for (size_t i = 1; i <= sheet_count; ++i) {
        out += "<Override PartName=\"/xl/worksheets/sheet";
        append_int(out, static_cast<int64_t>(i));
        out += ".xml\" ContentType=\"" MV_CT_SML "worksheet+xml\"/>\n";
    }
    out += kContentTypesTail;
    return out;
}

std::string build_xlsx_workbook(SheetsView sheets) {
    std::string out(kDecl);
    out += "<workbook xmlns=\"" MV_NS_MAIN "\" xmlns:r=\"" MV_NS_R "\">\n";
    // The file opens on the active sheet.
    size_t active = 0;
    while (active < sheets.size() && !sheets[active].active) ++active;
    out += "<bookViews>\n<workbookView activeTab=\"";
    append_int(out, static_cast<int64_t>(active < sheets.size() ? active : 0));
    out += "\"/>\n</bookViews>\n<sheets>\n";
    for (size_t i = 1; i <= sheets.size(); ++i) {
        out += "<sheet name=\"";
        append_escaped(out, sheets[i - 1].name);
        out += "\" sheetId=\"";
        append_int(out, static_cast<int64_t>(i));
        out += "\" r:id=\"rId";
        append_int(out, static_cast<int64_t>(i));
        out += "\"/>\n";
    }
    out += "</sheets>\n</workbook>\n";
    return out;
}

std::string build_xlsx_workbook_rels(size_t sheet_count) {
    std::string out(kDecl);
    out += "<Relationships xmlns=\"" MV_NS_PR "\">\n";
    auto relationship = [&](size_t id, std::string_view type, std::string_view target_head, size_t n) {
        out += "<Relationship Id=\"rId";
        append_int(out, static_cast<int64_t>(id));
        out += "\" Type=\"" MV_NS_R "/";
        out += type;
        out += "\" Target=\"";
        out += target_head;
        if (n) {
            append_int(out, static_cast<int64_t>(n));
            out += ".xml";
        }
        out += "\"/>\n";
    };
    for (size_t i = 1; i <= sheet_count; ++i) relationship(i, "worksheet", "worksheets/sheet", i);
    relationship(sheet_count + 1, "sharedStrings", "sharedStrings.xml", 0);
    relationship(sheet_count + 2, "styles", "styles.xml", 0);
    out += "</Relationships>\n";
    return out;
}

std::string build_xlsx_sheet(const SheetView& sheet, SharedStrings& strings) {
    std::string out(kDecl);
    out += "<worksheet xmlns=\"" MV_NS_MAIN "\">\n";
    // The active sheet's tab is the selected one, as the workbook view says.
    if (sheet.active) out += "<sheetViews>\n<sheetView tabSelected=\"1\" workbookViewId=\"0\"/>\n</sheetViews>\n";
    out += "<sheetData>\n";
    const CellMap* cells = sheet.cells;
    if (cells && !cells->empty()) {
        out.reserve(out.size() + cells->size() * 32);
        uint32_t open_row = 0;
        for (const auto& [pos, content] : sorted_cells(*cells)) {
            // Every text joins the table, even where the cell itself is not written.
            if (pos.row == 0 || pos.col == 0) {
                note_string(content->value, strings);
                continue;
            }
            if (pos.row != open_row) {
                if (open_row) out += "</row>\n";
                out += "<row r=\"";
                append_int(out, pos.row);
                out += "\">\n";
                open_row = pos.row;
            }
            append_cell(out, pos, content->value, strings);
        }
        if (open_row) out += "</row>\n";
    }
    out += "</sheetData>\n</worksheet>\n";
    return out;
}

std::string build_xlsx_shared_strings(const SharedStrings& strings) {
    std::string out(kDecl);
    out += "<sst xmlns=\"" MV_NS_MAIN "\" count=\"";
    append_int(out, static_cast<int64_t>(strings.texts.size()));
    out += "\" uniqueCount=\"";
    append_int(out, static_cast<int64_t>(strings.texts.size()));
    out += "\">\n";
    for (std::string_view text : strings.texts) {
        out += needs_preserve(text) ? "<si><t xml:space=\"preserve\">" : "<si><t>";
        append_xlsx_text(out, text);
        out += "</t></si>\n";
    }
    out += "</sst>\n";
    return out;
}

Result<std::string> build_xlsx(SheetsView sheets, FileFormat format) {
    ZipBuilder zip = TRY(ZipBuilder::create());
    TRY_VOID(zip.add("[Content_Types].xml", build_xlsx_content_types(sheets.size(), format)));
    TRY_VOID(zip.add("_rels/.rels", std::string(kDecl) + std::string(kRootRels)));
    TRY_VOID(zip.add("xl/workbook.xml", build_xlsx_workbook(sheets)));
    TRY_VOID(zip.add("xl/_rels/workbook.xml.rels", build_xlsx_workbook_rels(sheets.size())));
    // Sheets are written in table order, so the table fills as they are built.
    SharedStrings strings;
    for (size_t i = 0; i < sheets.size(); ++i) {
        std::string part = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
        TRY_VOID(zip.add(part, build_xlsx_sheet(sheets[i], strings)));
    }
    TRY_VOID(zip.add("xl/sharedStrings.xml", build_xlsx_shared_strings(strings)));
    TRY_VOID(zip.add("xl/styles.xml", std::string(kDecl) + std::string(kStyles)));
    return zip.finish();
}

}  // namespace morvane::writer
