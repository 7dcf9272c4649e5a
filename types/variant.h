// The one value type (Variant), worksheet errors, what a cell stores, and the
// number <-> text rules every subsystem shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "types/address.h"
#include "types/result.h"

namespace morvane {

// The seven classic errors keep their codes; the newer ones follow them.
enum class ExcelError : uint8_t { DivZero, NA, Value, Ref, Name, Num, Null, Spill, Calc, Field, Blocked, GettingData };

// clang-format off
inline constexpr std::string_view kExcelErrorTexts[] = {
    "#DIV/0!", "#N/A", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#NULL!",
    "#SPILL!", "#CALC!", "#FIELD!", "#BLOCKED!", "#GETTING_DATA"};
inline constexpr std::string_view kExcelErrorNames[] = {
    "DivZero", "NA", "Value", "Ref", "Name", "Num", "Null",
    "Spill", "Calc", "Field", "Blocked", "GettingData"};
// clang-format on
static_assert(std::size(kExcelErrorTexts) == static_cast<size_t>(ExcelError::GettingData) + 1);
static_assert(std::size(kExcelErrorNames) == std::size(kExcelErrorTexts));

constexpr std::string_view error_text(ExcelError e) { return kExcelErrorTexts[static_cast<size_t>(e)]; }
constexpr std::string_view error_name(ExcelError e) { return kExcelErrorNames[static_cast<size_t>(e)]; }
// The error whose literal is exactly `text`, if any.
std::optional<ExcelError> error_from_text(std::string_view text);

struct Variant;

// A day serial of the 1900 date system and the time of that day, as a
// fraction of a day in [0, 1): kept apart so that whole-day arithmetic
// stays exact.
struct Date {
    int64_t serial = 0;
    double time = 0;
    friend bool operator==(Date, Date) = default;
    // The date as one number of days, time included.
    double value() const { return static_cast<double>(serial) + time; }
    // The time of day in whole microseconds, never rounded up to the next day.
    int64_t microseconds() const;
};
// The Date of a number of days: its floor is the day, the rest the time.
Date date_of_value(double days);
struct Empty {
    friend bool operator==(Empty, Empty) = default;
};

// A list of values. `lower` is the index of the first element: 0 for
// arrays a macro builds, 1 for the values read from a range.
struct Array : std::vector<Variant> {
    using std::vector<Variant>::vector;
    Array() = default;
    // Defined below Variant: the list's destructor needs the complete type.
    explicit Array(std::vector<Variant> items);
    int64_t lower = 0;
};

// The value of a user-defined Type: field name -> value. Few fields, so a
// vector with linear look-up beats hashing; the order carries no meaning.
class Record {
public:
    using Entry = std::pair<std::string, Variant>;
    const Variant* find(std::string_view name) const;
    Variant* find(std::string_view name);
    void set(std::string name, Variant value);
    // Defined below Variant: the entries need the complete type.
    size_t size() const;
    bool empty() const;
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;
    std::vector<Entry>::iterator begin();
    std::vector<Entry>::iterator end();
    friend bool operator==(const Record&, const Record&);

private:
    std::vector<Entry> entries_;
};

using VariantBase = std::variant<int64_t, double, std::string, bool, Date, ExcelError, Empty, Array, Record>;

// Kinds in declared order; the index of each alternative is its kind.
enum class Kind : uint8_t { Integer, Float, Str, Boolean, Date, Error, Empty, Array, Record };

struct Variant : VariantBase {
    using VariantBase::VariantBase;
    using VariantBase::operator=;
    Variant() : VariantBase(Empty{}) {}
    Variant(int v) : VariantBase(int64_t{v}) {}
    Variant(const char* s) : VariantBase(std::string(s)) {}
    Variant(std::string_view s) : VariantBase(std::string(s)) {}
    Variant(std::vector<Variant> items) : VariantBase(Array(std::move(items))) {}

    Kind kind() const { return static_cast<Kind>(index()); }
    bool is_int() const { return index() == 0; }
    bool is_float() const { return index() == 1; }
    bool is_str() const { return index() == 2; }
    bool is_bool() const { return index() == 3; }
    bool is_date() const { return index() == 4; }
    bool is_error() const { return index() == 5; }
    bool is_empty() const { return index() == 6; }
    bool is_array() const { return index() == 7; }
    bool is_record() const { return index() == 8; }
    bool is_number() const { return index() <= 1; }
    // Holds a text, an array or a record: the only kinds whose destruction
    // frees anything. One test of the index.
    bool owns_memory() const {
        constexpr uint32_t kOwning = 1u << 2 | 1u << 7 | 1u << 8;
        return kOwning >> index() & 1;
    }

    int64_t as_int() const { return std::get<0>(*this); }
    double as_float() const { return std::get<1>(*this); }
    const std::string& as_str() const { return std::get<2>(*this); }
    std::string& as_str() { return std::get<2>(*this); }
    bool as_bool() const { return std::get<3>(*this); }
    Date as_date() const { return std::get<4>(*this); }
    ExcelError as_error() const { return std::get<5>(*this); }
    const Array& as_array() const { return std::get<7>(*this); }
    Array& as_array() { return std::get<7>(*this); }
    const Record& as_record() const { return std::get<8>(*this); }
    Record& as_record() { return std::get<8>(*this); }

    // The value's own text form ("True", "[a, 1]", "{a: 1}").
    std::string to_string() const;
    // Diagnostic form: Integer(5), Float(3.0), Str("x"), Error(NA), Empty.
    std::string debug_text() const;
};

inline Array::Array(std::vector<Variant> items) : std::vector<Variant>(std::move(items)) {}

inline size_t Record::size() const { return entries_.size(); }
inline bool Record::empty() const { return entries_.empty(); }
inline std::vector<Record::Entry>::const_iterator Record::begin() const { return entries_.begin(); }
inline std::vector<Record::Entry>::const_iterator Record::end() const { return entries_.end(); }
inline std::vector<Record::Entry>::iterator Record::begin() { return entries_.begin(); }
inline std::vector<Record::Entry>::iterator Record::end() { return entries_.end(); }

static_assert(std::variant_size_v<VariantBase> == 9);
static_assert(std::is_same_v<std::variant_alternative_t<0, VariantBase>, int64_t>);
static_assert(std::is_same_v<std::variant_alternative_t<4, VariantBase>, Date>);
static_assert(std::is_same_v<std::variant_alternative_t<8, VariantBase>, Record>);
// owns_memory's list: every other alternative is trivially destructible.
static_assert(std::is_same_v<std::variant_alternative_t<2, VariantBase>, std::string> &&
              std::is_same_v<std::variant_alternative_t<7, VariantBase>, Array>);
static_assert(std::is_trivially_destructible_v<int64_t> && std::is_trivially_destructible_v<double> &&
              std::is_trivially_destructible_v<Date> && std::is_trivially_destructible_v<ExcelError> &&
              std::is_trivially_destructible_v<Empty>);

bool operator==(const Variant& a, const Variant& b);

// A cell's formula text, if any: reads like std::optional<std::string> but
// takes one pointer, since most cells hold none and a sheet stores millions.
class FormulaText {
public:
    FormulaText() = default;
    FormulaText(std::nullopt_t) {}
    FormulaText(std::string text) : text_(std::make_unique<std::string>(std::move(text))) {}
    FormulaText(const char* text) : FormulaText(std::string(text)) {}
    FormulaText(std::optional<std::string> text) {
        if (text) text_ = std::make_unique<std::string>(std::move(*text));
    }
    FormulaText(const FormulaText& other)
        : text_(other.text_ ? std::make_unique<std::string>(*other.text_) : nullptr) {}
    FormulaText(FormulaText&&) noexcept = default;
    FormulaText& operator=(const FormulaText& other) {
        if (this != &other) text_ = other.text_ ? std::make_unique<std::string>(*other.text_) : nullptr;
        return *this;
    }
    FormulaText& operator=(FormulaText&&) noexcept = default;
    FormulaText& operator=(std::nullopt_t) {
        text_.reset();
        return *this;
    }

    bool has_value() const { return text_ != nullptr; }
    explicit operator bool() const { return has_value(); }
    const std::string& operator*() const { return *text_; }
    std::string& operator*() { return *text_; }
    const std::string* operator->() const { return text_.get(); }
    std::string* operator->() { return text_.get(); }
    void reset() { text_.reset(); }
    std::string value_or(std::string_view other) const { return text_ ? *text_ : std::string(other); }
    std::optional<std::string> to_optional() const { return text_ ? std::optional<std::string>(*text_) : std::nullopt; }

    friend bool operator==(const FormulaText& a, const FormulaText& b) {
        return a.text_ ? b.text_ && *a.text_ == *b.text_ : !b.text_;
    }
    friend bool operator==(const FormulaText& a, std::string_view b) { return a.text_ && *a.text_ == b; }
    friend bool operator==(const FormulaText& a, const std::string& b) { return a == std::string_view(b); }
    friend bool operator==(const FormulaText& a, const char* b) { return a == std::string_view(b); }
    friend bool operator==(const FormulaText& a, std::nullopt_t) { return !a.text_; }

private:
    std::unique_ptr<std::string> text_;
};

// What one cell stores: the formula text (if any) and its value.
struct CellContent {
    FormulaText formula;
    Variant value;
};

// Debug forms, shared by the values and the front end's token dump: a float
// positional with a fractional part in [1e-4, 1e16) ("2.0"), otherwise
// shortest scientific ("1e20", "1.5e-7"); a text in double quotes with
// backslash escapes ("\u{1}" for other control characters).
std::string float_debug(double x);
std::string debug_quote(std::string_view s);

// A computed number: whole and within +-2^63 -> Integer (saturated), else Float.
Variant number_variant(double x);
// Shortest round-trip decimal, positional, never an exponent.
std::string number_to_text(double x);
std::string number_to_text(int64_t x);
// The whole text as a decimal float literal (or inf/infinity/nan), else none.
std::optional<double> text_to_number(std::string_view s);

// A value as a number: Integer, Float and Date their number, Boolean 1 or 0,
// Empty 0, text its number when the whole text is a literal. Other text fails
// with `not_a_number` ("{}" stands for the text), an error value with its
// literal, arrays and records with their own messages.
Result<double> to_number(const Variant& v, std::string_view not_a_number);

// The value's own text form with floats written by `float_text` (the
// interpreter shows them with 15 digits, Variant::to_string in full).
std::string text_with_floats(const Variant& v, std::string (*float_text)(double));
// "YYYY-MM-DD", with " hh:mm:ss" when the date has a time of day; day 0
// is a time of day alone and shows as "hh:mm:ss" ("00:00:00" at midnight).
std::string date_text(Date d);

// The truth of a value: a non-zero number (NaN included), non-empty text or
// array, True, any Date or Record; False, Empty and error values are false.
bool truth_of(const Variant& v);

// The elements' texts by `text_of`, joined by ", " (no brackets).
std::string join_texts(const Array& items, std::string (*text_of)(const Variant&));

// Saturating conversions: NaN gives 0, out-of-range values clamp.
int64_t saturate_i64(double x);
uint64_t saturate_u64(double x);
int32_t saturate_i32(double x);
uint32_t saturate_u32(double x);

}  // namespace morvane

#include "types/cell_map.h"  // IWYU pragma: export
