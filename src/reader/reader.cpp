// The reader's entry point (the format chosen by the file name), the sheet
// cell table, and the rules both package walks share.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <system_error>
#include <utility>

#include "reader/package.h"
#include "reader/xml.h"
#include "types/text.h"

namespace morvane::reader {

namespace {

constexpr std::string_view kUnsupported = "unsupported file format: {}";
constexpr std::string_view kTooManyCells = "workbook holds more than 3000000 cells";
constexpr std::string_view kTooManySheets = "workbook holds more than 10000 sheets";
constexpr std::string_view kTooMuchText = "workbook holds more than 128 MiB of text";

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

}  // namespace

// ---------------------------------------------------------------- SheetCells

size_t SheetCells::slot_of(CellPos pos) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash(pos) & mask;; i = (i + 1) & mask) {
        uint32_t idx = slots_[i];
        if (idx == kFree || (*this)[idx].pos == pos) return i;
    }
}

const SheetCell* SheetCells::find(CellPos pos) const {
    if (ordered_) {
        // Binary search over the entries, which are sorted.
        size_t lo = 0, hi = size_;
        while (lo < hi) {
            size_t mid = lo + (hi - lo) / 2;
            if (before((*this)[mid].pos, pos)) lo = mid + 1;
            else hi = mid;
        }
        return lo < size_ && (*this)[lo].pos == pos ? &(*this)[lo].cell : nullptr;
    }
    uint32_t idx = slots_[slot_of(pos)];
    return idx == kFree ? nullptr : &(*this)[idx].cell;
}

void SheetCells::grow() {
    std::vector<uint32_t> fresh(std::max<size_t>(16, std::bit_ceil((size_ + 1) * 2)), kFree);
    slots_.swap(fresh);
    for (size_t i = 0; i < size_; ++i) slots_[slot_of((*this)[i].pos)] = static_cast<uint32_t>(i);
}

void SheetCells::append(CellPos pos, SheetCell&& cell) {
    // The first chunk grows as needed (a workbook may hold many small
    // sheets); later ones are taken whole.
    if ((size_ >> kChunkBits) == chunks_.size()) {
        chunks_.emplace_back();
        if (chunks_.size() > 1) chunks_.back().reserve(kChunk);
    }
    chunks_.back().emplace_back(pos, std::move(cell));
    ++size_;
}

bool SheetCells::set(CellPos pos, SheetCell cell) {
    if (ordered_) {
        if (size_ == 0 || before((*this)[size_ - 1].pos, pos)) {
            append(pos, std::move(cell));
            return true;
        }
        ordered_ = false;
        grow();
    }
    if ((size_ + 1) * 2 > slots_.size()) grow();
    size_t slot = slot_of(pos);
    if (slots_[slot] != kFree) {
        (*this)[slots_[slot]].cell = std::move(cell);
        return false;
    }
    slots_[slot] = static_cast<uint32_t>(size_);
    append(pos, std::move(cell));
    return true;
}

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

Result<void> ReadBudget::allow_text(size_t n) const {
    if (n > text_left) return fail(std::string(kTooMuchText));
    return {};
}

Result<void> store_cell(SheetCells& cells, CellPos pos, SheetCell cell, ReadBudget& budget) {
    if (auto* s = std::get_if<std::string>(&cell.value)) TRY_VOID(budget.charge_text(s->size()));
    if (budget.cells_left == 0 && !cells.find(pos)) return fail(std::string(kTooManyCells));
    if (cells.set(pos, std::move(cell))) --budget.cells_left;
    return {};
}

std::optional<SheetCell> number_cell(std::string_view text) {
    // Whole numbers are read exactly, so 64-bit integers survive a round trip.
    std::string_view digits = text.starts_with('+') ? text.substr(1) : text;
    if (!digits.empty() && !digits.starts_with('+')) {
        int64_t whole = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), whole);
        if (ec == std::errc() && end == digits.data() + digits.size()) return SheetCell{whole};
    }
    std::optional<double> x;
    if (plain_decimal(text)) {
        double d = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
        if (ec == std::errc()) x = d;
    }
    if (!x) x = text_to_number(text);
    if (!x) return std::nullopt;
    Variant v = number_variant(*x);
    if (v.is_int()) return SheetCell{v.as_int()};
    return SheetCell{v.as_float()};
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

std::optional<std::pair<uint32_t, uint32_t>> parse_cell_ref(std::string_view text) {
    // A reference as writers put it (letters then digits) needs no trimming.
    bool bare = !text.empty() && is_digit(text.back()) && (text[0] & ~0x20) >= 'A' && (text[0] & ~0x20) <= 'Z';
    std::string_view s = bare ? text : trim_ws(text);
    size_t i = 0;
    uint64_t col = 0;
    for (; i < s.size() && !is_digit(s[i]); ++i) {
        char c = static_cast<char>(s[i] & ~0x20);  // ASCII upper case
        if (c < 'A' || c > 'Z') return std::nullopt;
        col = col * 26 + static_cast<uint64_t>(c - 'A' + 1);
        if (col > 0xFFFFFFFFu) return std::nullopt;
    }
    if (i == 0 || i == s.size()) return std::nullopt;
    uint64_t row = 0;
    for (; i < s.size(); ++i) {
        if (!is_digit(s[i])) return std::nullopt;
        row = row * 10 + static_cast<uint64_t>(s[i] - '0');
        if (row > 0xFFFFFFFFu) return std::nullopt;
    }
    return std::pair{static_cast<uint32_t>(row), static_cast<uint32_t>(col)};
}

// ---------------------------------------------------------------- entry point

Result<std::vector<WorkbookSheet>> read_workbook(std::string_view path) {
    std::string lower = text::to_lower(path);
    ReadBudget budget;
    if (lower.ends_with(".ods")) return read_ods(std::string(path), budget);
    if (lower.ends_with(".xlsx") || lower.ends_with(".xlsm")) return read_xlsx(std::string(path), budget);
    return fail(format_message(kUnsupported, path));
}

}  // namespace morvane::reader
