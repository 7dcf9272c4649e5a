// Shared by the .xlsx and .ods walks: the budget a whole file may spend, the
// one way a value is stored into a sheet under it, and the number and date
// rules.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/reader.h"
#include "reader/xml.h"
#include "reader/zip.h"

namespace morvane::reader {

struct ReadBudget {
    ByteBudget bytes{kMinTotalBytes};
    uint64_t repeats_left = kMaxRepeatedCells;
    uint64_t text_left = kMaxTextBytes;
    uint64_t sheets_left = kMaxSheets;

    // Fails once one sheet more would pass the limit.
    Result<void> charge_sheet();
    // Fails once one more copy of a repeated cell would pass the limit.
    Result<void> charge_repeat();
    // Fails once stored text would pass the limit.
    Result<void> charge_text(size_t n);
    // Fails when `n` bytes of text could not be stored any more.
    Result<void> allow_text(size_t n) const;
};

// Stores `value` at `pos`, replacing an earlier one; its text is charged to `budget`.
Result<void> store_cell(CellMap& cells, CellPos pos, Variant value, ReadBudget& budget);
// Fails, naming the cell, when a value lies past the last row or column of
// a sheet: the file is refused as a whole, as spreadsheet programs refuse it.
Result<void> refuse_past_sheet(CellPos pos, std::string_view sheet);
inline Result<void> check_on_sheet(CellPos pos, std::string_view sheet) {
    if (pos.row <= kMaxRow && pos.col <= kMaxCol) [[likely]]
        return {};
    return refuse_past_sheet(pos, sheet);
}

// A number text as a value: an all-digit integer that fits 64 bits exactly,
// otherwise the text_to_number rule, a whole number within the 64-bit range
// an Integer and any other a Float; none when the text is not a number.
std::optional<Variant> number_cell(std::string_view text);
// A number as a value: Integer when whole and within the 64-bit range, else Float.
Variant exact_number(double x);

// A number of days shown as a date or a time as the Date it shows: a 1900
// serial from 0 (a time of day alone) up to 9999-12-31. Other numbers have
// no date to show and stay numbers.
std::optional<Date> shown_date(double days);
// A date read as such: itself within those bounds, else its number.
Variant date_or_number(Date date);

// An ISO 8601 date, date and time or time of day ("2021-01-01",
// "2021-01-01T10:10:10", "10:10:10", an offset or "Z" ignored) as a 1900
// serial and its time of day.
std::optional<Date> iso_date(std::string_view text);
// An ISO 8601 duration ("PT10H10M10S", "P1DT2H", "-PT1H") in days.
std::optional<double> iso_duration_days(std::string_view text);

// The decimal digits of `text`, a leading '+' accepted, as 32 bits.
// Inline: the worksheet walk reads every cell's format index with it.
inline std::optional<uint32_t> parse_u32_plus(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

Result<std::vector<WorkbookSheet>> read_workbook_from_archive(ZipArchive& archive, ReadBudget& budget);
// The sheets of an OpenDocument content part; `part`, when given, holds
// `content` and gets back the pages the walk has passed.
Result<std::vector<WorkbookSheet>> read_ods_content(std::string_view content, ReadBudget& budget,
                                                    PartText* part = nullptr);

// What a cell format makes of a number: nothing, a date (perhaps with its
// time), or a time of day alone.
enum class DateStyle : uint8_t { None, Date, Time };

// What a worksheet part needs from the rest of its package.
struct SheetContext {
    const std::vector<std::string>* shared_strings = nullptr;
    // Per cell format index, what it shows; null when no format shows a date or a time.
    const std::vector<DateStyle>* date_styles = nullptr;
    // Date cells count from 1904-01-01 and are moved to 1900 serials.
    bool date1904 = false;
};
// One worksheet part of an .xlsx package; `part` as for read_ods_content.
Result<WorkbookSheet> read_xlsx_sheet(std::string name, std::string_view xml, const SheetContext& context,
                                      ReadBudget& budget, PartText* part = nullptr);

// Every event of `xml` to `handle`, the passed pages handed back to `part` as it goes.
template <class Handle>
Result<void> walk_part(std::string_view xml, PartText* part, Handle&& handle) {
    XmlIter it(xml);
    Ev ev;
    for (uint32_t n = 1; it.next(ev); ++n) {
        TRY_VOID(handle(ev));
        if (part && n % 4096 == 0) part->release_before(it.position());
    }
    return {};
}
// The shared-string table, each entry charged to the text budget.
Result<std::vector<std::string>> read_shared_strings(std::string_view xml, ReadBudget& budget);
// For each cell format (cellXfs entry) of a style part: whether it shows a date or a time.
std::vector<DateStyle> read_date_styles(std::string_view xml);
// What a number format code shows: a date or a time when it holds their
// tokens outside quoted text, escapes and [bracketed] parts.
DateStyle format_code_style(std::string_view code);
// `text` with the _xHHHH_ escapes of the package format decoded.
void decode_escapes(std::string& text);

}  // namespace morvane::reader
