// The Python module morvane: value conversion, the ExcelError class, the
// module functions, the exec step and the module definition.
#include "lib/module.h"

#include <datetime.h>
#include <structmember.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <new>
#include <stdexcept>
#include <string_view>

#include "lib/pyvm.h"
#include "types/address.h"

namespace morvane::py {

namespace {

PyTypeObject* g_excel_error = nullptr;  // strong reference, set by the exec step

struct PyExcelError {
    PyObject_HEAD PyObject* code;  // str
};

}  // namespace

PyTypeObject* excel_error_type() { return g_excel_error; }

PyObject* g_skipped_warning = nullptr;  // strong reference, set by the exec step

PyObject* skipped_statement_warning() { return g_skipped_warning; }

void set_error(PyObject* type, std::string_view message) {
    Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

SourcePlace locate(std::string_view source, size_t char_index) {
    SourcePlace place;
    size_t line_start = 0, chars = 0, i = 0;
    for (; i < source.size() && chars < char_index; ++i) {
        const auto byte = static_cast<unsigned char>(source[i]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte is no character of its own
        ++chars;
        if (byte == '\n' || (byte == '\r' && (i + 1 >= source.size() || source[i + 1] != '\n'))) {
            ++place.line;
            place.column = 1;
            line_start = i + 1;
        } else {
            ++place.column;
        }
    }
    size_t line_end = line_start;
    while (line_end < source.size() && source[line_end] != '\n' && source[line_end] != '\r') ++line_end;
    place.text = source.substr(line_start, line_end - line_start);
    return place;
}

void set_syntax_error(std::string_view message, std::string_view source, size_t char_index) {
    set_error(PyExc_SyntaxError, message);
    if (char_index == SIZE_MAX) return;
    const SourcePlace place = locate(source, char_index);
    PyObject* exc = PyErr_GetRaisedException();
    Ref lineno(PyLong_FromSize_t(place.line));
    Ref offset(PyLong_FromSize_t(place.column));
    Ref text(PyUnicode_DecodeUTF8(place.text.data(), static_cast<Py_ssize_t>(place.text.size()), "replace"));
    if (!lineno || !offset || !text || PyObject_SetAttrString(exc, "lineno", lineno.get()) < 0 ||
        PyObject_SetAttrString(exc, "offset", offset.get()) < 0 ||
        PyObject_SetAttrString(exc, "text", text.get()) < 0) {
        Py_DECREF(exc);
        return;
    }
    PyErr_SetRaisedException(exc);
}

void set_exception_from_current() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_Format(PyExc_SystemError, "internal error: %s", e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "internal error");
    }
}

bool arg_str(PyObject* obj, const char* func, const char* name, std::string& out) {
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str, not %.50s", func, name, Py_TYPE(obj)->tp_name);
        return false;
    }
    Py_ssize_t len = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &len);
    if (!data) return false;
    out.assign(data, static_cast<size_t>(len));
    return true;
}

bool arg_on_msgbox(PyObject* obj, const char* func, bool& msgbox_error) {
    std::string mode;
    if (!arg_str(obj, func, "on_msgbox", mode)) return false;
    // Any other text would silently turn off the check a caller asked for.
    if (mode != "skip" && mode != "error") {
        PyErr_Format(PyExc_ValueError, "%s() argument 'on_msgbox' must be \"skip\" or \"error\", not %R", func, obj);
        return false;
    }
    msgbox_error = mode == "error";
    return true;
}

std::string sheets_there_are(const std::vector<std::string>& names) {
    std::string out = "; the sheets are ";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) out += ", ";
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

bool arg_u32(PyObject* obj, const char* func, const char* name, uint32_t& out) {
    // Any integer-like object (numpy's integers among them) through __index__.
    if (!PyIndex_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be int, not %.50s", func, name, Py_TYPE(obj)->tp_name);
        return false;
    }
    Ref index(PyNumber_Index(obj));
    if (!index) return false;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || v < 0 || v > 0xFFFFFFFFLL) {
        PyErr_Format(PyExc_OverflowError, "%s() argument '%s' must be between 0 and 4294967295", func, name);
        return false;
    }
    out = static_cast<uint32_t>(v);
    return true;
}

bool arg_cell(PyObject* row_obj, PyObject* col_obj, const char* func, uint32_t& row, uint32_t& col) {
    if (!arg_u32(row_obj, func, "row", row) || !arg_u32(col_obj, func, "col", col)) return false;
    // A position off the sheet could never be saved: refuse it here rather
    // than lose the cell later.
    if (row < 1 || row > kMaxRow) {
        PyErr_Format(PyExc_ValueError, "%s() argument 'row' must be between 1 and %u, not %u", func, kMaxRow, row);
        return false;
    }
    if (col < 1 || col > kMaxCol) {
        PyErr_Format(PyExc_ValueError, "%s() argument 'col' must be between 1 and %u, not %u", func, kMaxCol, col);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- conversion

namespace {

PyObject* new_excel_error(std::string_view code) {
    Ref text(PyUnicode_FromStringAndSize(code.data(), static_cast<Py_ssize_t>(code.size())));
    if (!text) return nullptr;
    return PyObject_CallOneArg(reinterpret_cast<PyObject*>(g_excel_error), text.get());
}

// A Date as datetime.date, or datetime.datetime when it has a time of day
// (datetime.time for day 0, midnight included); its text when Python has no
// such date.
PyObject* date_to_py(Date date) {
    const int64_t serial = date.serial;
    const int64_t us = date.microseconds();
    const int hour = static_cast<int>(us / 3600000000), minute = static_cast<int>(us / 60000000 % 60),
              second = static_cast<int>(us / 1000000 % 60), micro = static_cast<int>(us % 1000000);
    if (serial >= 0 && serial <= morvane_types::kLastDateSerial) {
        if (!PyDateTimeAPI) PyDateTime_IMPORT;
        if (PyDateTimeAPI) {
            PyObject* d = nullptr;
            if (serial == 0) {
                d = PyTime_FromTime(hour, minute, second, micro);
            } else {
                auto ymd = morvane_types::serial_to_ymd(serial);
                const int y = ymd.year, m = static_cast<int>(ymd.month), day = static_cast<int>(ymd.day);
                d = us > 0 ? PyDateTime_FromDateAndTime(y, m, day, hour, minute, second, micro)
                           : PyDate_FromDate(y, m, day);
            }
            if (d) return d;
        }
        PyErr_Clear();
    }
    std::string text = date_text(date);
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// numpy's boolean scalar is no int subclass and converts to float 1.0:
// known by its type's name so that numpy need not be imported.
bool is_numpy_bool(PyObject* obj) {
    std::string_view name = Py_TYPE(obj)->tp_name;
    return name == "numpy.bool" || name == "numpy.bool_";
}

// The fraction of the day of a time of day given as its parts.
double day_fraction(int hour, int minute, int second, int micro) {
    return ((hour * 60.0 + minute) * 60.0 + second + micro / 1e6) / 86400.0;
}

// A date, a datetime (a subclass: its time is the fraction of the day) or a
// time of day alone (day 0), as get_cell gives them back. A time zone is
// refused: a cell holds a wall-clock time, and dropping the offset would
// move the time without a word.
std::optional<Variant> date_from_py(PyObject* obj) {
    const bool zoned = PyTime_Check(obj)       ? PyDateTime_TIME_GET_TZINFO(obj) != Py_None
                       : PyDateTime_Check(obj) ? PyDateTime_DATE_GET_TZINFO(obj) != Py_None
                                               : false;
    if (zoned) {
        PyErr_Format(PyExc_ValueError,
                     "a cell cannot hold a time zone: convert the %s to the time to show and set tzinfo to None",
                     PyTime_Check(obj) ? "time" : "datetime");
        return std::nullopt;
    }
    if (PyTime_Check(obj)) {
        return Variant(Date{0, day_fraction(PyDateTime_TIME_GET_HOUR(obj), PyDateTime_TIME_GET_MINUTE(obj),
                                            PyDateTime_TIME_GET_SECOND(obj), PyDateTime_TIME_GET_MICROSECOND(obj))});
    }
    const int64_t serial =
        morvane_types::serial_from_civil(PyDateTime_GET_YEAR(obj), static_cast<uint32_t>(PyDateTime_GET_MONTH(obj)),
                                         static_cast<uint32_t>(PyDateTime_GET_DAY(obj)));
    if (serial < 1) {
        PyErr_SetString(PyExc_ValueError, "dates before 1900-01-01 cannot be stored in a cell");
        return std::nullopt;
    }
    double time = 0;
    if (PyDateTime_Check(obj)) {
        time = day_fraction(PyDateTime_DATE_GET_HOUR(obj), PyDateTime_DATE_GET_MINUTE(obj),
                            PyDateTime_DATE_GET_SECOND(obj), PyDateTime_DATE_GET_MICROSECOND(obj));
    }
    return Variant(Date{serial, time});
}

}  // namespace

PyObject* variant_to_py(const Variant& v) {
    switch (v.kind()) {
        case Kind::Integer: return PyLong_FromLongLong(v.as_int());
        case Kind::Float: return PyFloat_FromDouble(v.as_float());
        case Kind::Str: {
            const std::string& s = v.as_str();
            return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
        }
        case Kind::Boolean: return PyBool_FromLong(v.as_bool());
        case Kind::Date: return date_to_py(v.as_date());
        case Kind::Error: return new_excel_error(error_text(v.as_error()));
        case Kind::Empty: Py_RETURN_NONE;
        case Kind::Array: {
            const Array& a = v.as_array();
            Ref list(PyList_New(static_cast<Py_ssize_t>(a.size())));
            if (!list) return nullptr;
            for (size_t i = 0; i < a.size(); ++i) {
                PyObject* item = variant_to_py(a[i]);
                if (!item) return nullptr;
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
            }
            return list.release();
        }
        case Kind::Record: {
            Ref dict(PyDict_New());
            if (!dict) return nullptr;
            for (const auto& [name, value] : v.as_record()) {
                Ref item(variant_to_py(value));
                if (!item) return nullptr;
                Ref key(PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), "replace"));
                if (!key || PyDict_SetItem(dict.get(), key.get(), item.get()) < 0) return nullptr;
            }
            return dict.release();
        }
    }
    Py_RETURN_NONE;
}

std::optional<Variant> variant_from_py(PyObject* obj) {
    if (obj == Py_None) return Variant();
    if (PyBool_Check(obj)) return Variant(obj == Py_True);
    if (PyIndex_Check(obj)) {
        // The value's own __index__ may raise (KeyboardInterrupt included):
        // that exception is the caller's, unchanged.
        Ref index(PyNumber_Index(obj));
        if (!index) return std::nullopt;
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
        if (v == -1 && PyErr_Occurred()) return std::nullopt;
        if (overflow == 0) return Variant(static_cast<int64_t>(v));
        // Beyond 64 bits a whole number is stored as the nearest float; one
        // too large even for that is no cell value.
        double d = PyLong_AsDouble(index.get());
        if (d == -1.0 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return std::nullopt;
            PyErr_Clear();
            PyErr_SetString(PyExc_TypeError, "Unsupported cell value type");
            return std::nullopt;
        }
        return Variant(d);
    }
    if (is_numpy_bool(obj)) {
        int truth = PyObject_IsTrue(obj);
        if (truth < 0) return std::nullopt;
        return Variant(truth == 1);
    }
    if (!PyDateTimeAPI) PyDateTime_IMPORT;
    if (!PyDateTimeAPI) return std::nullopt;
    if (PyDate_Check(obj) || PyTime_Check(obj)) return date_from_py(obj);
    if (PyFloat_Check(obj) || (Py_TYPE(obj)->tp_as_number && Py_TYPE(obj)->tp_as_number->nb_float)) {
        double d = PyFloat_AsDouble(obj);
        if (d == -1.0 && PyErr_Occurred()) return std::nullopt;
        return Variant(d);
    }
    if (PyUnicode_Check(obj)) {
        Py_ssize_t len = 0;
        if (PyUnicode_GET_LENGTH(obj) > kMaxCellText) {
            PyErr_Format(PyExc_ValueError, "a cell holds at most 32,767 characters; this text has %zd",
                         PyUnicode_GET_LENGTH(obj));
            return std::nullopt;
        }
        const char* data = PyUnicode_AsUTF8AndSize(obj, &len);
        if (!data) return std::nullopt;
        return Variant(std::string(data, static_cast<size_t>(len)));
    }
    if (g_excel_error && PyObject_TypeCheck(obj, g_excel_error)) {
        PyObject* code = reinterpret_cast<PyExcelError*>(obj)->code;
        Py_ssize_t len = 0;
        const char* data = PyUnicode_AsUTF8AndSize(code, &len);
        if (!data) return std::nullopt;
        auto e = error_from_text(std::string_view(data, static_cast<size_t>(len)));
        return Variant(e.value_or(ExcelError::Value));
    }
    PyErr_SetString(PyExc_TypeError, "Unsupported cell value type");
    return std::nullopt;
}

PyObject* cells_to_dict(const CellMap& cells) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [pos, content] : cells) {
        if (content.value.is_empty()) continue;
        Ref key(Py_BuildValue("(kk)", static_cast<unsigned long>(pos.row), static_cast<unsigned long>(pos.col)));
        if (!key) return nullptr;
        Ref value(variant_to_py(content.value));
        if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return dict.release();
}

// ---------------------------------------------------------------- ExcelError

namespace {

PyObject* excel_error_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* kwlist[] = {"code", nullptr};
        PyObject* code = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:ExcelError", const_cast<char**>(kwlist), &code))
            return nullptr;
        if (!PyUnicode_Check(code)) {
            PyErr_Format(PyExc_TypeError, "ExcelError() argument 'code' must be str, not %.50s",
                         Py_TYPE(code)->tp_name);
            return nullptr;
        }
        auto* self = reinterpret_cast<PyExcelError*>(type->tp_alloc(type, 0));
        if (!self) return nullptr;
        self->code = Py_NewRef(code);
        return reinterpret_cast<PyObject*>(self);
    });
}

void excel_error_dealloc(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    PyObject_GC_UnTrack(obj);
    Py_CLEAR(reinterpret_cast<PyExcelError*>(obj)->code);
    type->tp_free(obj);
    Py_DECREF(type);
}

int excel_error_traverse(PyObject* obj, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(obj));
    Py_VISIT(reinterpret_cast<PyExcelError*>(obj)->code);
    return 0;
}

PyObject* excel_error_str(PyObject* obj) { return Py_NewRef(reinterpret_cast<PyExcelError*>(obj)->code); }

PyObject* excel_error_repr(PyObject* obj) {
    return PyUnicode_FromFormat("ExcelError('%U')", reinterpret_cast<PyExcelError*>(obj)->code);
}

// == and != by code, != the negation of ==; against anything else both
// defer to Python (which then compares identity), orderings are refused.
PyObject* excel_error_richcompare(PyObject* a, PyObject* b, int op) {
    if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(b, g_excel_error)) Py_RETURN_NOTIMPLEMENTED;
    int cmp = PyUnicode_Compare(reinterpret_cast<PyExcelError*>(a)->code, reinterpret_cast<PyExcelError*>(b)->code);
    if (cmp == -1 && PyErr_Occurred()) return nullptr;
    return PyBool_FromLong((cmp == 0) == (op == Py_EQ));
}

// The length of the code in UTF-8, a lone surrogate counted as the three
// bytes "surrogatepass" writes: equal codes hash alike, and no code that
// can be built fails to hash.
Py_hash_t excel_error_hash(PyObject* obj) {
    PyObject* code = reinterpret_cast<PyExcelError*>(obj)->code;
    Py_ssize_t n = PyUnicode_GET_LENGTH(code);
    const int kind = PyUnicode_KIND(code);
    const void* data = PyUnicode_DATA(code);
    Py_hash_t bytes = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    return bytes;
}

// Pickling rebuilds the error from its code; it is immutable, so a copy is
// the object itself.
PyObject* excel_error_reduce(PyObject* obj, PyObject*) {
    return Py_BuildValue("(O(O))", reinterpret_cast<PyObject*>(Py_TYPE(obj)),
                         reinterpret_cast<PyExcelError*>(obj)->code);
}

PyObject* excel_error_copy(PyObject* obj, PyObject*) { return Py_NewRef(obj); }

PyMethodDef excel_error_methods[] = {
    {"__reduce__", excel_error_reduce, METH_NOARGS, nullptr},
    {"__copy__", excel_error_copy, METH_NOARGS, nullptr},
    {"__deepcopy__", excel_error_copy, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef excel_error_members[] = {
    {"code", Py_T_OBJECT_EX, offsetof(PyExcelError, code), Py_READONLY,
     "The error string, e.g. ``\"#N/A\"``, ``\"#VALUE!\"``, ``\"#DIV/0!\"``."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot excel_error_slots[] = {
    {Py_tp_doc, const_cast<char*>("ExcelError(code)\n--\n\n"
                                  "Represents an Excel cell error value (#N/A, #VALUE!, #DIV/0!, etc.).\n"
                                  "Returned by ``get_cell`` and ``cells()`` for error cells, and accepted by\n"
                                  "``set_cell`` to store an error value.")},
    {Py_tp_new, reinterpret_cast<void*>(excel_error_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(excel_error_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(excel_error_traverse)},
    {Py_tp_str, reinterpret_cast<void*>(excel_error_str)},
    {Py_tp_repr, reinterpret_cast<void*>(excel_error_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(excel_error_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(excel_error_hash)},
    {Py_tp_members, excel_error_members},
    {Py_tp_methods, excel_error_methods},
    {0, nullptr},
};

PyType_Spec excel_error_spec = {
    "morvane.ExcelError", sizeof(PyExcelError), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    excel_error_slots,
};

// ---------------------------------------------------------------- functions

PyObject* hello(PyObject*, PyObject*) { return PyUnicode_FromString("Hello from morvane, the VBA macro engine!"); }

PyMethodDef hello_def = {"hello", hello, METH_NOARGS, "hello()\n--\n\n"};

int add_function(PyObject* module, PyMethodDef* def) {
    Ref fn(PyCFunction_NewEx(def, nullptr, nullptr));
    if (!fn) return -1;
    return PyModule_AddObjectRef(module, def->ml_name, fn.get());
}

int module_exec(PyObject* module) {
    try {
        if (!PyModule_Check(module)) {
            PyErr_BadArgument();
            return -1;
        }
        if (add_function(module, &hello_def) < 0) return -1;
        if (PyModule_AddStringConstant(module, "__version__", MORVANE_VERSION) < 0) return -1;
        if (add_run_macro(module) < 0) return -1;
        if (add_load_workbook(module) < 0) return -1;
        if (add_vm_type(module) < 0) return -1;
        PyObject* type = PyType_FromModuleAndSpec(module, &excel_error_spec, nullptr);
        if (!type) return -1;
        Py_XSETREF(g_excel_error, reinterpret_cast<PyTypeObject*>(Py_NewRef(type)));
        int rc = PyModule_AddObjectRef(module, "ExcelError", type);
        Py_DECREF(type);
        if (rc < 0) return rc;
        PyObject* warning = PyErr_NewExceptionWithDoc(
            "morvane.SkippedStatementWarning",
            "A statement or module-level line that a run passed over without effect.", PyExc_UserWarning, nullptr);
        if (!warning) return -1;
        Py_XSETREF(g_skipped_warning, Py_NewRef(warning));
        rc = PyModule_AddObjectRef(module, "SkippedStatementWarning", warning);
        Py_DECREF(warning);
        return rc;
    } catch (...) {
        set_exception_from_current();
        return -1;
    }
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "morvane", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace morvane::py

PyMODINIT_FUNC PyInit_morvane(void) { return PyModuleDef_Init(&morvane::py::module_def); }
