// The reader's entry point (the format chosen by the file name) and the
// rules both package walks share: the budget, storing a value, numbers and
// ISO dates.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <system_error>
#include <utility>

#include "reader/package.h"
#include "types/text.h"

namespace morvane::reader {

namespace {

constexpr std::string_view kUnsupported = "unsupported file format: {}";
constexpr std::string_view kTooManyRepeats = "workbook repeats cells more than 1048576 times";
constexpr std::string_view kTooManySheets = "workbook holds more than 10000 sheets";
constexpr std::string_view kTooMuchText = "workbook holds more than 1 GiB of text";
constexpr std::string_view kContentPart = "content.xml";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The plain decimal forms std::from_chars reads exactly as text_to_number
// does: -?digits(.digits)?([eE][+-]?digits)?, with digits on one side of the point.
bool plain_decimal(std::string_view s) {
    size_t i = 0, n = s.size();
    if (i < n && s[i] == '-') ++i;
    size_t digits = 0;
    while (i < n && is_digit(s[i])) ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && is_digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        size_t e = i;
        while (i < n && is_digit(s[i])) ++i;
        if (i == e) return false;
    }
    return i == n;
}

// Exactly `n` digits at the front of `s`, consumed.
std::optional<uint32_t> take_digits(std::string_view& s, size_t n) {
    if (s.size() < n) return std::nullopt;
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!is_digit(s[i])) return std::nullopt;
        v = v * 10 + static_cast<uint32_t>(s[i] - '0');
    }
    s.remove_prefix(n);
    return v;
}

bool take(std::string_view& s, char c) {
    if (s.empty() || s[0] != c) return false;
    s.remove_prefix(1);
    return true;
}

// "hh:mm[:ss[.fff]]" then an optional "Z" or "+hh:mm"/"-hh:mm", as a fraction of a day.
std::optional<double> time_fraction(std::string_view s) {
    auto h = take_digits(s, 2);
    if (!h || !take(s, ':')) return std::nullopt;
    auto m = take_digits(s, 2);
    if (!m) return std::nullopt;
    double seconds = 0;
    if (take(s, ':')) {
        size_t n = 0;
        while (n < s.size() && (is_digit(s[n]) || s[n] == '.')) ++n;
        auto [end, ec] = std::from_chars(s.data(), s.data() + n, seconds);
        if (ec != std::errc() || end != s.data() + n || n < 2) return std::nullopt;
        s.remove_prefix(n);
    }
    if (take(s, 'Z') || take(s, 'z')) {
    } else if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        s.remove_prefix(1);
        if (!take_digits(s, 2)) return std::nullopt;
        if (take(s, ':') && !take_digits(s, 2)) return std::nullopt;
    }
    if (!s.empty() || *h > 24 || *m > 59 || seconds >= 61) return std::nullopt;
    return (*h * 3600.0 + *m * 60.0 + seconds) / 86400.0;
}

}  // namespace

// ---------------------------------------------------------------- shared rules

Result<void> ReadBudget::charge_text(size_t n) {
    TRY_VOID(allow_text(n));
    text_left -= n;
    return {};
}

Result<void> ReadBudget::charge_sheet() {
    if (sheets_left == 0) return fail(std::string(kTooManySheets));
    --sheets_left;
    return {};
}

Result<void> ReadBudget::charge_repeat() {
    if (repeats_left == 0) return fail(std::string(kTooManyRepeats));
    --repeats_left;
    return {};
}

Result<void> ReadBudget::allow_text(size_t n) const {
    if (n > text_left) return fail(std::string(kTooMuchText));
    return {};
}

Result<void> store_cell(CellMap& cells, CellPos pos, Variant value, ReadBudget& budget) {
    if (value.is_str()) TRY_VOID(budget.charge_text(value.as_str().size()));
    // The arguments are only taken when the position is new.
    auto [it, inserted] = cells.try_emplace(pos, std::nullopt, std::move(value));
    if (!inserted) it->second.value = std::move(value);
    return {};
}

Variant exact_number(double x) {
    // -2^63 <= x < 2^63 holds exactly the whole doubles an int64_t can hold.
    if (x >= -0x1p63 && x < 0x1p63 && x == std::trunc(x)) return Variant(static_cast<int64_t>(x));
    return Variant(x);
}

std::optional<Variant> number_cell(std::string_view text) {
    // Whole numbers are read exactly, so 64-bit integers survive a round trip.
    std::string_view digits = text.starts_with('+') ? text.substr(1) : text;
    if (!digits.empty() && !digits.starts_with('+')) {
        int64_t whole = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), whole);
        if (ec == std::errc() && end == digits.data() + digits.size()) return Variant(whole);
    }
    std::optional<double> x;
    if (plain_decimal(text)) {
        double d = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
        if (ec == std::errc()) x = d;
    }
    if (!x) x = text_to_number(text);
    if (!x) return std::nullopt;
    return exact_number(*x);
}

std::optional<double> iso_date_serial(std::string_view text) {
    std::string_view s = text::trim(text);
    if (s.size() >= 3 && s[2] == ':') return time_fraction(s);
    bool negative = take(s, '-');
    size_t year_digits = 0;
    while (year_digits < s.size() && is_digit(s[year_digits])) ++year_digits;
    if (year_digits < 4 || year_digits > 9) return std::nullopt;
    auto y = take_digits(s, year_digits);
    if (!y || !take(s, '-')) return std::nullopt;
    auto m = take_digits(s, 2);
    if (!m || !take(s, '-')) return std::nullopt;
    auto d = take_digits(s, 2);
    if (!d) return std::nullopt;
    int64_t year = negative ? -int64_t{*y} : int64_t{*y};
    if (*m < 1 || *m > 12 || *d < 1 || *d > morvane_types::month_length(year, *m)) return std::nullopt;
    double serial = static_cast<double>(morvane_types::serial_from_civil(year, *m, *d));
    if (s.empty()) return serial;
    if (s[0] != 'T' && s[0] != 't' && s[0] != ' ') return std::nullopt;
    auto time = time_fraction(s.substr(1));
    if (!time) return std::nullopt;
    return serial + *time;
}

std::optional<double> iso_duration_days(std::string_view text) {
    std::string_view s = text::trim(text);
    bool negative = take(s, '-');
    if (!take(s, 'P')) return std::nullopt;
    double days = 0;
    bool in_time = false, any = false;
    while (!s.empty()) {
        if (!in_time && take(s, 'T')) {
            in_time = true;
            continue;
        }
        size_t n = 0;
        while (n < s.size() && (is_digit(s[n]) || s[n] == '.')) ++n;
        if (n == 0 || n == s.size()) return std::nullopt;
        double v = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + n, v);
        if (ec != std::errc() || end != s.data() + n) return std::nullopt;
        char unit = s[n];
        s.remove_prefix(n + 1);
        // clang-format off
        if (!in_time && unit == 'D') days += v;
        else if (!in_time && unit == 'W') days += v * 7;
        else if (in_time && unit == 'H') days += v / 24;
        else if (in_time && unit == 'M') days += v / 1440;
        else if (in_time && unit == 'S') days += v / 86400;
        else return std::nullopt;  // years and months have no fixed length
        // clang-format on
        any = true;
    }
    if (!any) return std::nullopt;
    return negative ? -days : days;
}

std::optional<uint32_t> parse_u32_plus(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (!is_digit(c)) return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

// ---------------------------------------------------------------- entry point

Result<std::vector<WorkbookSheet>> read_workbook(std::string_view path, int* os_errno) {
    std::string lower = text::to_lower(path);
    bool ods = lower.ends_with(".ods");
    if (!ods && !lower.ends_with(".xlsx") && !lower.ends_with(".xlsm")) return fail(format_message(kUnsupported, path));
    ZipArchive archive = TRY(ZipArchive::open(std::string(path), os_errno));
    ReadBudget budget;
    // Ordinary packages inflate 5 to 20 times; the ratio bounds the whole as it bounds each part.
    uint64_t ratio_total =
        archive.file_size() > kMaxPartBytes ? kMaxPartBytes * kMaxInflateRatio : archive.file_size() * kMaxInflateRatio;
    budget.bytes.left = std::max(kMinTotalBytes, ratio_total);
    if (!ods) return read_workbook_from_archive(archive, budget);
    PartText content = TRY(zip_read_part(archive, kContentPart, budget.bytes));
    return read_ods_content(content.view(), budget, &content);
}

}  // namespace morvane::reader
