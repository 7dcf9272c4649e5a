// The interpreter's face to Python: run_macro, the Vm class with its borrow
// flag, and the Ctrl-C check point handed to the interpreter.
#include "lib/pyvm.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/module.h"
#include "parser/mod.h"
#include "types/text.h"
#include "vm/mod.h"

namespace morvane::py {

namespace {

PyTypeObject* g_vm_type = nullptr;  // strong reference, set by the exec step; load_workbook makes these

// Grids larger than this are refused by cells_df before anything is built,
// instead of exhausting memory on one far-away cell.
constexpr uint64_t kMaxDataFrameCells = 10'000'000;

// While the core runs, its thread lets go of the interpreter (the GIL, or
// its attached state on a free-threaded build), so other Python threads and
// other Vm objects run meanwhile. The thread takes it back only at the
// interrupt check points and to build Python results.
thread_local PyThreadState* t_released = nullptr;

// Code that does nothing: evaluating it passes the interpreter's own check
// for pending work, which raises an exception set on this thread from
// elsewhere (PyThreadState_SetAsyncExc): the way to stop a worker thread,
// whose signals the main thread handles.
PyObject* g_breaker_code = nullptr;
PyObject* g_breaker_globals = nullptr;

// Between two real checks at least this much time passes: taking the
// interpreter back costs far more than a loop step.
constexpr auto kCheckInterval = std::chrono::milliseconds(20);
thread_local std::chrono::steady_clock::time_point t_last_check{};

// The interpreter's check point: a pending Ctrl-C, or an exception sent to
// this thread, stops the run, and its exception stays set for the caller.
bool interrupt_pending() {
    auto now = std::chrono::steady_clock::now();
    if (now - t_last_check < kCheckInterval) return false;
    t_last_check = now;
    PyThreadState* released = t_released;
    if (released) PyEval_RestoreThread(released);
    bool stop = PyErr_CheckSignals() != 0;
    if (!stop && g_breaker_code) {
        PyObject* r = PyEval_EvalCode(g_breaker_code, g_breaker_globals, g_breaker_globals);
        if (r) {
            Py_DECREF(r);
        } else {
            stop = true;
        }
    }
    if (released) t_released = PyEval_SaveThread();
    return stop;
}

}  // namespace

std::unique_ptr<Vm> new_vm(bool msgbox_error) {
    auto vm = std::make_unique<Vm>();
    vm->set_msgbox_error(msgbox_error);
    vm->set_interrupt_check(interrupt_pending);
    return vm;
}

namespace {

// The longest statement text a warning shows, in characters.
constexpr size_t kShownStatement = 80;

// "line N (text): why", for a skipped statement whose span counts
// characters of `source`.
std::string skip_text(const Vm::SkipNote& note, std::string_view source) {
    const SourcePlace place = locate(source, note.span.start);
    // The statement's first line from where it starts, blanks at its end
    // dropped, cut at 80 characters.
    std::string_view rest = place.text;
    for (size_t column = 1, i = 0; i < rest.size(); ++i) {
        if ((static_cast<unsigned char>(rest[i]) & 0xC0) == 0x80) continue;
        if (column++ == place.column) {
            rest.remove_prefix(i);
            break;
        }
    }
    std::string text;
    size_t shown = 0;
    for (char c : rest) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && ++shown > kShownStatement) {
            text += "...";
            break;
        }
        text.push_back(c);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return "line " + std::to_string(place.line) + " (" + text + "): " + note.message;
}

// Raises RuntimeError with the run's message; where the failing statement
// is known, the error also carries `procedure` and `lineno` and a note
// naming them with the line, which tracebacks show.
void set_run_error(const Vm& vm, const std::string& message, std::string_view source) {
    set_error(PyExc_RuntimeError, message);
    const auto where = vm.failure_place();
    if (!where) return;
    const SourcePlace place = locate(source, where->at);
    std::string_view line = place.text;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    const std::string note =
        "in procedure '" + where->procedure + "', line " + std::to_string(place.line) + ": " + std::string(line);
    PyObject* exc = PyErr_GetRaisedException();
    Ref lineno(PyLong_FromSize_t(place.line));
    Ref procedure(
        PyUnicode_DecodeUTF8(where->procedure.data(), static_cast<Py_ssize_t>(where->procedure.size()), "replace"));
    Ref text(PyUnicode_DecodeUTF8(note.data(), static_cast<Py_ssize_t>(note.size()), "replace"));
    Ref added(text ? PyObject_CallMethod(exc, "add_note", "O", text.get()) : nullptr);
    if (!lineno || !procedure || !added || PyObject_SetAttrString(exc, "lineno", lineno.get()) < 0 ||
        PyObject_SetAttrString(exc, "procedure", procedure.get()) < 0) {
        Py_DECREF(exc);
        return;
    }
    PyErr_SetRaisedException(exc);
}

// One SkippedStatementWarning per line the run passed over, in source
// order; false with an exception set when a filter turned one into an error.
bool warn_skipped(const Vm& vm, std::string_view source) {
    PyObject* category = skipped_statement_warning();
    if (!category) return true;
    for (const Vm::SkipNote& note : vm.skip_notes()) {
        const std::string text = skip_text(note, source);
        if (PyErr_WarnEx(category, text.c_str(), 1) < 0) return false;
    }
    return true;
}

// Brings the formula values of sheet `key` (every sheet when empty) up to
// date before a reading method returns them; false with an exception set
// when the computation was stopped (an interrupt or a bound).
bool refresh(Vm& vm, const std::string& key) {
    Result<void> r;
    {
        ReleaseInterpreter released;
        r = vm.refresh(key);
    }
    if (PyErr_Occurred()) return false;  // the interrupt's KeyboardInterrupt
    if (!r) {
        set_error(PyExc_RuntimeError, r.error());
        return false;
    }
    return true;
}

// Parse and run; false with an exception set.
bool run_vm(Vm& vm, const std::string& code, const std::string& macro) {
    std::optional<std::string> syntax_error;
    size_t error_at = SIZE_MAX;
    Result<void> result;
    {
        ReleaseInterpreter released;
        auto program = parser::parse(code, &error_at);
        if (program) {
            result = vm.run_sub(*program, macro);
            // A program the interpreter refuses when it loads it is as
            // wrong as one that does not parse.
            if (auto at = vm.refused_at(); at && !result) {
                syntax_error = std::move(result.error());
                error_at = *at;
            }
        } else {
            syntax_error = std::move(program.error());
        }
    }
    if (syntax_error) {
        set_syntax_error(*syntax_error, code, error_at);
        return false;
    }
    if (PyErr_Occurred()) return false;  // the interrupt's KeyboardInterrupt
    // Told whether the run succeeded or not; a warning made an error wins.
    if (!warn_skipped(vm, code)) return false;
    if (!result) {
        set_run_error(vm, result.error(), code);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- run_macro

PyObject* run_macro(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* kwlist[] = {"vba_code", "macro_name", "on_msgbox", nullptr};
        PyObject *code_obj = nullptr, *name_obj = nullptr, *msgbox_obj = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:run_macro", const_cast<char**>(kwlist), &code_obj,
                                         &name_obj, &msgbox_obj))
            return nullptr;
        std::string code, name;
        bool msgbox_error = false;
        if (!arg_str(code_obj, "run_macro", "vba_code", code)) return nullptr;
        if (!arg_str(name_obj, "run_macro", "macro_name", name)) return nullptr;
        if (msgbox_obj && !arg_on_msgbox(msgbox_obj, "run_macro", msgbox_error)) return nullptr;
        auto vm = new_vm(msgbox_error);
        if (!run_vm(*vm, code, name)) return nullptr;
        if (!refresh(*vm, vm->active_sheet())) return nullptr;
        return cells_to_dict(vm->cells());
    });
}

// What a failed run raises, for the documentation of run_macro and Vm.run.
#define MV_RUN_ERRORS                                                                   \
    "Raises\n------\n"                                                                  \
    "SyntaxError\n    The source does not parse; ``lineno``, ``offset`` and ``text``\n" \
    "    point at the place.\n"                                                         \
    "RuntimeError\n    The run failed; where the failing statement is known, its\n"     \
    "    ``procedure`` (lower case) and ``lineno`` are attributes of the error."

PyMethodDef run_macro_def = {
    "run_macro", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(run_macro)), METH_VARARGS | METH_KEYWORDS,
    "run_macro(vba_code, macro_name, on_msgbox=\"skip\")\n--\n\n"
    "Run a VBA macro string and return the resulting cells as ``{(row, col): value}``.\n\n"
    "The cells are those of the sheet active when the macro ends.\n\n"
    "Parameters\n----------\nvba_code : str\n    Full VBA source containing the target Sub.\n"
    "macro_name : str\n    Name of the Sub to execute.\non_msgbox : str\n"
    "    ``\"skip\"`` (default) or ``\"error\"``; any other text raises ``ValueError``.\n\n" MV_RUN_ERRORS};

// ---------------------------------------------------------------- the Vm object

struct PyVm {
    PyObject_HEAD Vm* vm;
    // 0 free, n > 0 shared by n readers, -1 in exclusive use.
    std::atomic<int64_t> borrow;
};

PyVm* as_pyvm(PyObject* o) { return reinterpret_cast<PyVm*>(o); }

// A call that finds its Vm in use: by another thread, or by the same
// thread from inside a call (a value's conversion, pandas).
constexpr const char* kInUse =
    "this Vm is in use by another call: a Vm runs one call at a time, so give each thread its own Vm";

// One borrow of a Vm object, released on scope exit.
class Borrow {
public:
    Borrow() = default;
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    ~Borrow() {
        if (!flag_) return;
        if (exclusive_)
            flag_->store(0, std::memory_order_release);
        else
            flag_->fetch_sub(1, std::memory_order_release);
    }
    bool shared(PyVm* self) {
        int64_t v = self->borrow.load(std::memory_order_acquire);
        do {
            if (v < 0) {
                PyErr_SetString(PyExc_RuntimeError, kInUse);
                return false;
            }
        } while (!self->borrow.compare_exchange_weak(v, v + 1, std::memory_order_acq_rel));
        flag_ = &self->borrow;
        return true;
    }
    bool exclusive(PyVm* self) {
        int64_t expected = 0;
        if (!self->borrow.compare_exchange_strong(expected, -1, std::memory_order_acq_rel)) {
            PyErr_SetString(PyExc_RuntimeError, kInUse);
            return false;
        }
        flag_ = &self->borrow;
        exclusive_ = true;
        return true;
    }

private:
    std::atomic<int64_t>* flag_ = nullptr;
    bool exclusive_ = false;
};

// A new object of `type` owning `vm`, free.
PyObject* alloc_vm(PyTypeObject* type, std::unique_ptr<Vm> vm) {
    PyObject* obj = type->tp_alloc(type, 0);
    if (!obj) return nullptr;
    as_pyvm(obj)->vm = vm.release();
    new (&as_pyvm(obj)->borrow) std::atomic<int64_t>(0);
    return obj;
}

PyObject* vm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* kwlist[] = {"on_msgbox", nullptr};
        PyObject* msgbox_obj = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:Vm", const_cast<char**>(kwlist), &msgbox_obj))
            return nullptr;
        bool msgbox_error = false;
        if (msgbox_obj && !arg_on_msgbox(msgbox_obj, "Vm", msgbox_error)) return nullptr;
        return alloc_vm(type, new_vm(msgbox_error));
    });
}

void vm_dealloc(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    delete as_pyvm(obj)->vm;
    as_pyvm(obj)->vm = nullptr;
    type->tp_free(obj);
    Py_DECREF(type);
}

// Matches the arguments of a method by position or keyword, with the
// interpreter's standard TypeErrors; converts nothing.
template <size_t N>
bool match_args(PyObject* args, PyObject* kwargs, const char* format, const char* const (&kwlist)[N], PyObject** out0,
                PyObject** out1 = nullptr, PyObject** out2 = nullptr) {
    return PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(kwlist), out0, out1, out2) != 0;
}

PyObject* vm_run(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const kwlist[] = {"vba_code", "macro_name", nullptr};
        PyObject *code_obj = nullptr, *name_obj = nullptr;
        if (!match_args(args, kwargs, "OO:run", kwlist, &code_obj, &name_obj)) return nullptr;
        Borrow b;
        if (!b.exclusive(as_pyvm(self))) return nullptr;
        std::string code, name;
        if (!arg_str(code_obj, "run", "vba_code", code)) return nullptr;
        if (!arg_str(name_obj, "run", "macro_name", name)) return nullptr;
        if (!run_vm(*as_pyvm(self)->vm, code, name)) return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* vm_set_cell(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const kwlist[] = {"row", "col", "value", nullptr};
        PyObject *row_obj = nullptr, *col_obj = nullptr, *value_obj = nullptr;
        if (!match_args(args, kwargs, "OOO:set_cell", kwlist, &row_obj, &col_obj, &value_obj)) return nullptr;
        Borrow b;
        if (!b.exclusive(as_pyvm(self))) return nullptr;
        uint32_t row = 0, col = 0;
        if (!arg_cell(row_obj, col_obj, "set_cell", row, col)) return nullptr;
        std::optional<Variant> value = variant_from_py(value_obj);
        if (!value) return nullptr;
        as_pyvm(self)->vm->set_cell_value(row, col, std::move(*value));
        Py_RETURN_NONE;
    });
}

PyObject* vm_get_cell(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const kwlist[] = {"row", "col", nullptr};
        PyObject *row_obj = nullptr, *col_obj = nullptr;
        if (!match_args(args, kwargs, "OO:get_cell", kwlist, &row_obj, &col_obj)) return nullptr;
        Borrow b;
        if (!b.shared(as_pyvm(self))) return nullptr;
        uint32_t row = 0, col = 0;
        if (!arg_cell(row_obj, col_obj, "get_cell", row, col)) return nullptr;
        Vm& vm = *as_pyvm(self)->vm;
        if (!refresh(vm, vm.active_sheet())) return nullptr;
        return variant_to_py(vm.get_cell(row, col));
    });
}

PyObject* vm_cells(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Borrow b;
        if (!b.shared(as_pyvm(self))) return nullptr;
        Vm& vm = *as_pyvm(self)->vm;
        if (!refresh(vm, vm.active_sheet())) return nullptr;
        return cells_to_dict(vm.cells());
    });
}

PyObject* vm_variables(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Borrow b;
        if (!b.shared(as_pyvm(self))) return nullptr;
        Ref dict(PyDict_New());
        if (!dict) return nullptr;
        bool ok = true;
        as_pyvm(self)->vm->for_each_var([&](const std::string& name, const Variant& value) {
            if (!ok) return;
            Ref key(PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), "replace"));
            Ref val(key ? variant_to_py(value) : nullptr);
            ok = val && PyDict_SetItem(dict.get(), key.get(), val.get()) == 0;
        });
        return ok ? dict.release() : nullptr;
    });
}

PyObject* vm_set_cell_formula(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const kwlist[] = {"row", "col", "formula", nullptr};
        PyObject *row_obj = nullptr, *col_obj = nullptr, *formula_obj = nullptr;
        if (!match_args(args, kwargs, "OOO:set_cell_formula", kwlist, &row_obj, &col_obj, &formula_obj)) return nullptr;
        Borrow b;
        if (!b.exclusive(as_pyvm(self))) return nullptr;
        uint32_t row = 0, col = 0;
        std::string formula;
        if (!arg_cell(row_obj, col_obj, "set_cell_formula", row, col) ||
            !arg_str(formula_obj, "set_cell_formula", "formula", formula))
            return nullptr;
        Result<void> r;
        {
            ReleaseInterpreter released;
            r = as_pyvm(self)->vm->set_cell_formula(row, col, formula);
        }
        if (PyErr_Occurred()) return nullptr;  // the interrupt's KeyboardInterrupt
        if (!r) {
            set_error(PyExc_ValueError, r.error());
            return nullptr;
        }
        Py_RETURN_NONE;
    });
}

PyObject* vm_recalculate(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Borrow b;
        if (!b.exclusive(as_pyvm(self))) return nullptr;
        Result<void> r;
        {
            ReleaseInterpreter released;
            r = as_pyvm(self)->vm->recalculate_all();
        }
        if (PyErr_Occurred()) return nullptr;  // the interrupt's KeyboardInterrupt
        if (!r) {
            set_error(PyExc_RuntimeError, r.error());
            return nullptr;
        }
        Py_RETURN_NONE;
    });
}

// A batch key: a tuple of exactly two integers that fit 32 unsigned bits.
bool batch_key(PyObject* key, uint32_t& row, uint32_t& col) {
    if (!PyTuple_Check(key) || PyTuple_GET_SIZE(key) != 2) return false;
    uint32_t out[2];
    for (Py_ssize_t i = 0; i < 2; ++i) {
        PyObject* item = PyTuple_GET_ITEM(key, i);
        if (!PyLong_Check(item)) return false;
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(item, &overflow);
        if (v == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        if (overflow != 0 || v < 0 || v > 0xFFFFFFFFLL) return false;
        out[i] = static_cast<uint32_t>(v);
    }
    row = out[0];
    col = out[1];
    return true;
}

struct BatchItem {
    uint32_t row, col;
    std::string formula;
};

// Reads the items of `formulas` in the dict's order; false with TypeError
// set at the first one that is no (row, col) -> str pair.
bool read_formula_batch(PyObject* formulas, std::vector<BatchItem>& items) {
    Py_ssize_t pos = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(formulas, &pos, &key, &value)) {
        uint32_t row = 0, col = 0;
        if (!batch_key(key, row, col)) {
            PyErr_SetString(PyExc_TypeError, "keys must be (row, col) tuples of integers");
            return false;
        }
        if (!PyUnicode_Check(value)) {
            PyErr_SetString(PyExc_TypeError, "values must be formula strings");
            return false;
        }
        Py_ssize_t len = 0;
        const char* text = PyUnicode_AsUTF8AndSize(value, &len);
        if (!text) return false;
        items.push_back({row, col, std::string(text, static_cast<size_t>(len))});
    }
    return true;
}

// Stores every formula of the batch, or none: when one fails (it does not
// parse, or the computation was stopped), every cell the batch wrote gets
// its content back and the message is returned.
Result<void> store_formula_batch(Vm& vm, const std::vector<BatchItem>& items) {
    std::vector<std::pair<CellPos, std::optional<CellContent>>> before;
    before.reserve(items.size());
    for (const BatchItem& item : items) {
        const CellPos pos{item.row, item.col};
        const auto it = vm.cells().find(pos);
        before.emplace_back(pos, it == vm.cells().end() ? std::nullopt : std::optional(it->second));
        if (auto r = vm.set_cell_formula(item.row, item.col, item.formula); !r) {
            // Put back through a change of the whole sheet, so its formulas are computed again.
            CellMap& cells = vm.active_cells_mut();
            for (auto b = before.rbegin(); b != before.rend(); ++b) {
                if (b->second)
                    cells.insert_or_assign(b->first, std::move(*b->second));
                else
                    cells.erase(b->first);
            }
            return r;
        }
    }
    return {};
}

PyObject* vm_set_cell_formula_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const kwlist[] = {"formulas", nullptr};
        PyObject* formulas = nullptr;
        if (!match_args(args, kwargs, "O:set_cell_formula_batch", kwlist, &formulas)) return nullptr;
        Borrow b;
        if (!b.exclusive(as_pyvm(self))) return nullptr;
        if (!PyDict_Check(formulas)) {
            PyErr_Format(PyExc_TypeError, "set_cell_formula_batch() argument 'formulas' must be dict, not %.50s",
                         Py_TYPE(formulas)->tp_name);
            return nullptr;
        }
        // On a free-threaded interpreter another thread may change the dict
        // meanwhile; the borrowed items of PyDict_Next stay valid only while
        // the dict is locked, so the items are copied out under the lock.
        std::vector<BatchItem> items;
        bool read = false;
        Py_BEGIN_CRITICAL_SECTION(formulas);
        // No C++ exception may leave the section with the dict still locked.
        try {
            read = read_formula_batch(formulas, items);
        } catch (...) {
            set_exception_from_current();
        }
        Py_END_CRITICAL_SECTION();
        if (!read) return nullptr;  // a malformed item: nothing is stored
        Result<void> r;
        {
            ReleaseInterpreter released;
            r = store_formula_batch(*as_pyvm(self)->vm, items);
        }
        if (PyErr_Occurred()) return nullptr;  // the interrupt's KeyboardInterrupt
        if (!r) {
            set_error(PyExc_ValueError, r.error());
            return nullptr;
        }
        Py_RETURN_NONE;
    });
}

PyObject* vm_set_sheet(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const kwlist[] = {"name", nullptr};
        PyObject* name_obj = nullptr;
        if (!match_args(args, kwargs, "O:set_sheet", kwlist, &name_obj)) return nullptr;
        Borrow b;
        if (!b.exclusive(as_pyvm(self))) return nullptr;
        std::string name;
        if (!arg_str(name_obj, "set_sheet", "name", name)) return nullptr;
        Vm& vm = *as_pyvm(self)->vm;
        // A new sheet takes a name Excel keeps; one already there (loaded
        // from an OpenDocument file, say) is switched to as it is.
        if (!vm.workbook().has_sheet(text::to_lower(name))) {
            if (auto ok = check_sheet_name(name); !ok) {
                set_error(PyExc_ValueError, ok.error());
                return nullptr;
            }
            vm.ensure_sheet(name);
        }
        (void)vm.set_active_sheet(name);  // cannot fail: the sheet exists now
        Py_RETURN_NONE;
    });
}

PyObject* vm_active_sheet(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Borrow b;
        if (!b.shared(as_pyvm(self))) return nullptr;
        const std::string& name = as_pyvm(self)->vm->active_sheet();
        return PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), "replace");
    });
}

PyObject* vm_sheet_names(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Borrow b;
        if (!b.shared(as_pyvm(self))) return nullptr;
        std::vector<std::string> names = as_pyvm(self)->vm->sheet_names();
        Ref list(PyList_New(static_cast<Py_ssize_t>(names.size())));
        if (!list) return nullptr;
        for (size_t i = 0; i < names.size(); ++i) {
            PyObject* s = PyUnicode_DecodeUTF8(names[i].data(), static_cast<Py_ssize_t>(names[i].size()), "replace");
            if (!s) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
        }
        return list.release();
    });
}

PyObject* vm_get_sheet(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const kwlist[] = {"name", nullptr};
        PyObject* name_obj = nullptr;
        if (!match_args(args, kwargs, "O:get_sheet", kwlist, &name_obj)) return nullptr;
        Borrow b;
        if (!b.shared(as_pyvm(self))) return nullptr;
        std::string name;
        if (!arg_str(name_obj, "get_sheet", "name", name)) return nullptr;
        Vm& vm = *as_pyvm(self)->vm;
        const CellMap* cells = vm.get_sheet_cells(name);
        if (!cells) {
            const std::string message = format_message(vm::kSheetNotFound, name) + sheets_there_are(vm.sheet_names());
            Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
            if (text) PyErr_SetObject(PyExc_KeyError, text.get());
            return nullptr;
        }
        if (!refresh(vm, text::to_lower(name))) return nullptr;
        return cells_to_dict(*cells);
    });
}

PyObject* vm_save_workbook(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* const kwlist[] = {"path", nullptr};
        PyObject* path_obj = nullptr;
        if (!match_args(args, kwargs, "O:save_workbook", kwlist, &path_obj)) return nullptr;
        Borrow b;
        if (!b.shared(as_pyvm(self))) return nullptr;
        if (!refresh(*as_pyvm(self)->vm, {})) return nullptr;
        return save_workbook(*as_pyvm(self)->vm, path_obj);
    });
}

PyObject* vm_cells_df(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Borrow b;
        if (!b.shared(as_pyvm(self))) return nullptr;
        Ref pandas(PyImport_ImportModule("pandas"));
        if (!pandas) {
            // Why pandas failed to import stays visible as the cause.
            PyObject* cause = PyErr_GetRaisedException();
            PyErr_SetString(PyExc_ImportError,
                            "pandas is required for cells_df(); install it with: pip install pandas");
            PyObject* exc = PyErr_GetRaisedException();
            PyException_SetContext(exc, Py_NewRef(cause));
            PyException_SetCause(exc, cause);
            PyErr_SetRaisedException(exc);
            return nullptr;
        }
        Ref frame_type(PyObject_GetAttrString(pandas.get(), "DataFrame"));
        if (!frame_type) return nullptr;
        Vm& vm = *as_pyvm(self)->vm;
        if (!refresh(vm, vm.active_sheet())) return nullptr;
        const CellMap& cells = vm.cells();
        if (cells.empty()) return PyObject_CallNoArgs(frame_type.get());

        uint32_t rows = 0, cols = 0;
        for (const auto& [pos, cell] : cells) rows = std::max(rows, pos.row), cols = std::max(cols, pos.col);
        if (uint64_t{rows} * cols > kMaxDataFrameCells) {
            PyErr_Format(PyExc_MemoryError,
                         "cells_df(): a grid of %u rows and %u columns is too large; the limit is 10,000,000 cells",
                         rows, cols);
            return nullptr;
        }
        // Blanks are NaN in every column, as pandas.read_excel gives them.
        Ref nan(PyFloat_FromDouble(std::numeric_limits<double>::quiet_NaN()));
        Ref data(nan ? PyList_New(rows) : nullptr);
        if (!data) return nullptr;
        for (uint32_t r = 1; r <= rows; ++r) {
            PyObject* row = PyList_New(cols);
            if (!row) return nullptr;
            PyList_SET_ITEM(data.get(), r - 1, row);
            for (uint32_t c = 1; c <= cols; ++c) {
                auto it = cells.find(CellPos{r, c});
                PyObject* v = (it == cells.end() || it->second.value.is_empty()) ? Py_NewRef(nan.get())
                                                                                 : variant_to_py(it->second.value);
                if (!v) return nullptr;
                PyList_SET_ITEM(row, c - 1, v);
            }
        }
        auto numbers = [](uint32_t n) -> PyObject* {
            PyObject* list = PyList_New(n);
            if (!list) return nullptr;
            for (uint32_t i = 0; i < n; ++i) {
                PyObject* v = PyLong_FromUnsignedLong(i + 1);
                if (!v) {
                    Py_DECREF(list);
                    return nullptr;
                }
                PyList_SET_ITEM(list, i, v);
            }
            return list;
        };
        Ref columns(numbers(cols));
        Ref index(columns ? numbers(rows) : nullptr);
        if (!index) return nullptr;
        Ref call_args(PyTuple_Pack(1, data.get()));
        Ref call_kwargs(Py_BuildValue("{sOsO}", "columns", columns.get(), "index", index.get()));
        if (!call_args || !call_kwargs) return nullptr;
        return PyObject_Call(frame_type.get(), call_args.get(), call_kwargs.get());
    });
}

template <class Fn>
PyCFunction method(Fn fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

PyMethodDef vm_methods[] = {
    {"run", method(vm_run), METH_VARARGS | METH_KEYWORDS,
     "run($self, vba_code, macro_name)\n--\n\nParse and execute *vba_code*, running the Sub named *macro_name*.\n\n"
     "What the run changed stays, also when it fails.\n\n" MV_RUN_ERRORS},
    {"set_cell", method(vm_set_cell), METH_VARARGS | METH_KEYWORDS,
     "set_cell($self, row, col, value)\n--\n\n"
     "Write a value into a cell. ``row`` and ``col`` are 1-based (VBA convention)."},
    {"get_cell", method(vm_get_cell), METH_VARARGS | METH_KEYWORDS,
     "get_cell($self, row, col)\n--\n\n"
     "Return the value of a cell (1-based row/col). Returns ``None`` for empty cells."},
    {"cells", method(vm_cells), METH_NOARGS,
     "cells($self)\n--\n\nReturn the active sheet's non-empty cells as a dict: ``{(row, col): value}``."},
    {"variables", method(vm_variables), METH_NOARGS,
     "variables($self)\n--\n\nReturn the module variables and the locals of the Sub the last run started,\nas a dict: "
     "``{name: value}``."},
    {"set_cell_formula", method(vm_set_cell_formula), METH_VARARGS | METH_KEYWORDS,
     "set_cell_formula($self, row, col, formula)\n--\n\n"
     "Store a formula string (e.g. ``\"=SUM(A1:A3)\"``) on a cell and evaluate it\n"
     "immediately against the current cell state."},
    {"recalculate", method(vm_recalculate), METH_NOARGS,
     "recalculate($self)\n--\n\nRe-evaluate all cells that have a stored formula."},
    {"set_cell_formula_batch", method(vm_set_cell_formula_batch), METH_VARARGS | METH_KEYWORDS,
     "set_cell_formula_batch($self, formulas)\n--\n\n"
     "Set multiple cell formulas at once.\n"
     "``formulas`` should be a dict mapping ``(row, col)`` tuples (1-based) to formula strings.\n\n"
     "All or nothing: when an item is malformed (``TypeError``) or a formula does\n"
     "not parse (``ValueError``), no formula of the batch is stored."},
    {"set_sheet", method(vm_set_sheet), METH_VARARGS | METH_KEYWORDS,
     "set_sheet($self, name)\n--\n\nSwitch the active sheet. Creates the sheet if it does not exist.\n\n"
     "``name`` is matched in any letter case. A new sheet's name must be 1 to 31\n"
     "characters, hold none of ``: \\ / ? * [ ]`` and not begin or end with an\n"
     "apostrophe; ``ValueError`` otherwise."},
    {"active_sheet", method(vm_active_sheet), METH_NOARGS,
     "active_sheet($self)\n--\n\nReturn the name of the currently active sheet, in lower case."},
    {"sheet_names", method(vm_sheet_names), METH_NOARGS,
     "sheet_names($self)\n--\n\nReturn all sheet names, in tab order and in lower case."},
    {"get_sheet", method(vm_get_sheet), METH_VARARGS | METH_KEYWORDS,
     "get_sheet($self, name)\n--\n\n"
     "Return all non-empty cells in a specific sheet as ``{(row, col): value}``.\n\n"
     "``name`` is matched in any letter case; a sheet that is not there raises\n"
     "``KeyError``, whose message lists the sheets there are."},
    {"save_workbook", method(vm_save_workbook), METH_VARARGS | METH_KEYWORDS,
     "save_workbook($self, path)\n--\n\n"
     "Save all sheets to a workbook file, its format chosen by the extension of\n"
     "``path`` in any letter case: ``.xlsx``, ``.xlsm`` (macro-enabled, but\n"
     "holding no VBA project) or ``.ods``. Any other extension raises\n"
     "``ValueError`` before anything is written.\n\n"
     "Only cell values are saved, not formulas, formatting or VBA code; an .xlsx\n"
     "or .xlsm file opens on the active sheet. The file is replaced in one piece;\n"
     "a path that names something other than a regular file raises ``OSError``."},
    {"cells_df", method(vm_cells_df), METH_NOARGS,
     "cells_df($self)\n--\n\n"
     "Return the active sheet's non-empty cells as a **pandas DataFrame**.\n\n"
     "Row indices and column indices are 1-based integers (matching VBA / Excel\n"
     "convention).  The DataFrame index is the row number; columns are column\n"
     "numbers.  Empty cells are ``NaN`` in every column, as ``pandas.read_excel``\n"
     "gives them.\n\n"
     "Raises ``ImportError`` if pandas is not installed."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot vm_slots[] = {
    {Py_tp_doc, const_cast<char*>("Vm(on_msgbox=\"skip\")\n--\n\n"
                                  "VBA execution engine. Create one, pre-populate cells with ``set_cell``,\n"
                                  "run a macro with ``run``, then read results via ``get_cell`` / ``cells``.\n\n"
                                  "``on_msgbox`` is ``\"skip\"`` (a MsgBox is passed over) or ``\"error\"``\n"
                                  "(a MsgBox fails the run); any other text raises ``ValueError``.\n\n"
                                  "A Vm runs one call at a time: a call made while another runs (from\n"
                                  "another thread) raises ``RuntimeError``. Give each thread its own Vm.")},
    {Py_tp_new, reinterpret_cast<void*>(vm_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(vm_dealloc)},
    {Py_tp_methods, vm_methods},
    {0, nullptr},
};

PyType_Spec vm_spec = {
    "morvane.Vm", sizeof(PyVm), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, vm_slots,
};

}  // namespace

ReleaseInterpreter::ReleaseInterpreter() : saved_(t_released) { t_released = PyEval_SaveThread(); }

ReleaseInterpreter::~ReleaseInterpreter() {
    PyEval_RestoreThread(t_released);
    t_released = saved_;
}

int add_run_macro(PyObject* module) {
    Ref fn(PyCFunction_NewEx(&run_macro_def, nullptr, nullptr));
    if (!fn) return -1;
    return PyModule_AddObjectRef(module, "run_macro", fn.get());
}

PyObject* wrap_vm(std::unique_ptr<Vm> vm) { return alloc_vm(g_vm_type, std::move(vm)); }

int add_vm_type(PyObject* module) {
    if (!g_breaker_code) {
        g_breaker_code = Py_CompileString("None", "<morvane>", Py_eval_input);
        if (!g_breaker_code) return -1;
        g_breaker_globals = PyDict_New();
        if (!g_breaker_globals) return -1;
    }
    Ref type(PyType_FromModuleAndSpec(module, &vm_spec, nullptr));
    if (!type) return -1;
    Py_XSETREF(g_vm_type, reinterpret_cast<PyTypeObject*>(Py_NewRef(type.get())));
    return PyModule_AddObjectRef(module, "Vm", type.get());
}

}  // namespace morvane::py
