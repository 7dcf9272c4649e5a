// Shared pieces of the Python module: owning references, value conversion
// between Variant and Python objects, and the ExcelError class.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "types/variant.h"

namespace morvane::py {

// Owning reference: Py_XDECREF on destruction.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* o) : o_(o) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : o_(std::exchange(other.o_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(o_);
            o_ = std::exchange(other.o_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(o_); }
    PyObject* get() const { return o_; }
    PyObject* release() { return std::exchange(o_, nullptr); }
    explicit operator bool() const { return o_ != nullptr; }

private:
    PyObject* o_ = nullptr;
};

// New reference, or nullptr with an exception set.
PyObject* variant_to_py(const Variant& v);
// The Variant for a cell value; nullopt with TypeError "Unsupported cell value type".
std::optional<Variant> variant_from_py(PyObject* obj);
// {(row, col): value} of the non-Empty cells.
PyObject* cells_to_dict(const CellMap& cells);

// Argument converters that name the argument in their TypeError, as
// "run_macro() argument 'vba_code' must be str, not int".
bool arg_str(PyObject* obj, const char* func, const char* name, std::string& out);
// on_msgbox: "skip" (a MsgBox is passed over) or "error" (it fails the
// run), true for "error"; TypeError for a non-str, ValueError naming the two
// for any other text.
bool arg_on_msgbox(PyObject* obj, const char* func, bool& msgbox_error);
// Whole numbers (any object with __index__): TypeError for a non-integer,
// OverflowError outside 0..4294967295.
bool arg_u32(PyObject* obj, const char* func, const char* name, uint32_t& out);
// A cell's row and column as arg_u32 reads them, and ValueError naming the
// limit for a position off the sheet (rows 1..1048576, columns 1..16384).
bool arg_cell(PyObject* row_obj, PyObject* col_obj, const char* func, uint32_t& row, uint32_t& col);

// The sheets there are, for a message about one that is not there:
// "; the sheets are 'a', 'b'".
std::string sheets_there_are(const std::vector<std::string>& names);

// The longest text a cell holds, in characters.
inline constexpr Py_ssize_t kMaxCellText = 32767;

// Raises `type` with `message` decoded as UTF-8 with its full length (a NUL
// inside does not cut it short).
void set_error(PyObject* type, std::string_view message);

// A place in a module's text: its 1-based line and column (in characters)
// and that line's bytes without its line end. A line ends at "\n", "\r\n"
// or a lone "\r".
struct SourcePlace {
    size_t line = 1;
    size_t column = 1;
    std::string_view text;
};
// The place of character `char_index` of the UTF-8 text `source`.
SourcePlace locate(std::string_view source, size_t char_index);

// Raises SyntaxError with `message` as its msg, and lineno, offset and text
// pointing at character `char_index` of `source` (SIZE_MAX: position unknown).
void set_syntax_error(std::string_view message, std::string_view source, size_t char_index);

// morvane.SkippedStatementWarning (a UserWarning), the category of the
// warnings a run gives for what it passed over; null before the exec step.
PyObject* skipped_statement_warning();

// Turn a C++ exception escaping an entry point into a Python exception.
void set_exception_from_current();

// Wrap a method body so that no C++ exception escapes into the interpreter.
template <class Fn>
PyObject* guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        set_exception_from_current();
        return nullptr;
    }
}

// The ExcelError class of this module (set by the exec step).
PyTypeObject* excel_error_type();

}  // namespace morvane::py
