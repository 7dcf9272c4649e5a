// The reader's entry point (the format chosen by the file name) and the
// rules both package walks share: the budget, storing a value, numbers and
// ISO dates.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
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
constexpr std::string_view kManifestPart = "META-INF/manifest.xml";
constexpr std::string_view kPastSheet =
    "cell {} of sheet '{}' lies past the last row (1048576) or column (XFD) of a sheet";
constexpr std::string_view kLegacyXls =
    "legacy .xls workbook (Excel 97-2003) cannot be read; save it as .xlsx or .ods to load it";
constexpr std::string_view kEncrypted =
    "workbook is encrypted (password-protected); save it without a password to load it";

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

Result<void> refuse_past_sheet(CellPos pos, std::string_view sheet) {
    std::string ref = morvane_types::column_letters(pos.col) + std::to_string(pos.row);
    return fail(format_message(kPastSheet, ref, sheet));
}

std::optional<Date> shown_date(double days) {
    // Past 9999-12-31 and below 0 a spreadsheet shows no date, only ####.
    if (!(days >= 0 && days < morvane_types::kLastDateSerial + 1)) return std::nullopt;
    return date_of_value(days);
}

Variant date_or_number(Date date) {
    if (date.serial >= 0 && date.serial <= morvane_types::kLastDateSerial) return Variant(date);
    return exact_number(date.value());
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

std::optional<Date> iso_date(std::string_view text) {
    // A time of 24:00:00 is the end of its day, the start of the next.
    auto day_and_time = [](int64_t serial, double time) { return Date{serial + (time >= 1), time >= 1 ? 0 : time}; };
    std::string_view s = text::trim(text);
    if (s.size() >= 3 && s[2] == ':') {
        auto time = time_fraction(s);
        if (!time) return std::nullopt;
        return day_and_time(0, *time);
    }
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
    const int64_t serial = morvane_types::serial_from_civil(year, *m, *d);
    if (s.empty()) return Date{serial, 0};
    if (s[0] != 'T' && s[0] != 't' && s[0] != ' ') return std::nullopt;
    auto time = time_fraction(s.substr(1));
    if (!time) return std::nullopt;
    return day_and_time(serial, *time);
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

// ---------------------------------------------------------------- entry point

namespace {

// Why a file that is no zip archive cannot be read, when it is an OLE
// compound file: Excel wraps a password-protected workbook in one (its
// package in a stream named EncryptedPackage), and legacy .xls workbooks
// are one. Other files get none.
std::optional<std::string_view> compound_file_refusal(const std::string& path) {
    static constexpr unsigned char kMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    // Stream names are UTF-16LE in the file's directory entries.
    static constexpr std::string_view kEncryptedStream{"E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32};
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return std::nullopt;
    std::string buffer(size_t{1} << 16, '\0');
    size_t held = std::fread(buffer.data(), 1, buffer.size(), file.get());
    if (held < sizeof kMagic || std::memcmp(buffer.data(), kMagic, sizeof kMagic) != 0) return std::nullopt;
    // The directory may lie anywhere in the file: search it all, a block at a time.
    for (;;) {
        if (std::string_view(buffer.data(), held).find(kEncryptedStream) != std::string_view::npos) return kEncrypted;
        if (held < buffer.size()) return kLegacyXls;
        const size_t keep = kEncryptedStream.size() - 1;  // a name split between two blocks
        std::memmove(buffer.data(), buffer.data() + held - keep, keep);
        held = keep + std::fread(buffer.data() + keep, 1, buffer.size() - keep, file.get());
    }
}

// An OpenDocument package whose content part its manifest lists as encrypted.
Result<bool> ods_encrypted(ZipArchive& archive, ByteBudget& bytes) {
    if (!archive.contains(kManifestPart)) return false;
    std::string manifest = TRY(zip_read_text(archive, kManifestPart, bytes));
    XmlIter it(manifest);
    Ev ev;
    bool in_content_entry = false;
    while (it.next(ev)) {
        if (ev.kind == Ev::Kind::Text) continue;
        std::string_view name = local_name(ev.name);
        if (name == "file-entry") {
            const Attr* full_path = find_attr(ev.attrs, "full-path");
            in_content_entry = ev.kind == Ev::Kind::Start && full_path && full_path->value == kContentPart;
        } else if (name == "encryption-data" && ev.is_open() && in_content_entry) {
            return true;
        }
    }
    return false;
}

}  // namespace

Result<std::vector<WorkbookSheet>> read_workbook(std::string_view path, int* os_errno) {
    std::string lower = text::to_lower(path);
    bool ods = lower.ends_with(".ods");
    if (lower.ends_with(".xls")) return fail(std::string(kLegacyXls));
    if (!ods && !lower.ends_with(".xlsx") && !lower.ends_with(".xlsm")) return fail(format_message(kUnsupported, path));
    int errno_seen = 0;
    auto opened = ZipArchive::open(std::string(path), &errno_seen);
    if (os_errno) *os_errno = errno_seen;
    if (!opened) {
        if (errno_seen == 0)
            if (auto why = compound_file_refusal(std::string(path))) return fail(std::string(*why));
        return fail(std::move(opened.error()));
    }
    ZipArchive archive = std::move(*opened);
    ReadBudget budget;
    // Ordinary packages inflate 5 to 20 times; the ratio bounds the whole as it bounds each part.
    uint64_t ratio_total =
        archive.file_size() > kMaxPartBytes ? kMaxPartBytes * kMaxInflateRatio : archive.file_size() * kMaxInflateRatio;
    budget.bytes.left = std::max(kMinTotalBytes, ratio_total);
    if (!ods) return read_workbook_from_archive(archive, budget);
    if (TRY(ods_encrypted(archive, budget.bytes))) return fail(std::string(kEncrypted));
    PartText content = TRY(zip_read_part(archive, kContentPart, budget.bytes));
    return read_ods_content(content.view(), budget, &content);
}

}  // namespace morvane::reader
