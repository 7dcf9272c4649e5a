// Workbook files from Python: the function load_workbook (read a file into a
// new Vm) and the work of the Vm method save_workbook (write every sheet).
#include <cerrno>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lib/module.h"
#include "lib/pyvm.h"
#include "reader/reader.h"
#include "types/text.h"
#include "vm/mod.h"
#include "writer/writer.h"

namespace morvane::py {

namespace {

constexpr const char* kNoSheets = "Workbook has no sheets";
constexpr const char* kNullByte = "embedded null byte";

// A path argument: str or any os.PathLike, as the file system's bytes in
// `out` and as Python gives it (str or bytes) in `shown`, for messages and
// exceptions. A NUL inside is refused as Python's own open() does, since the
// operating system would see only the text before it.
bool arg_path(PyObject* obj, const char* func, std::string& out, Ref& shown) {
    auto refuse = [&] {
        PyErr_Format(PyExc_TypeError, "%s() argument 'path' must be str or os.PathLike, not %.50s", func,
                     Py_TYPE(obj)->tp_name);
        return false;
    };
    if (PyUnicode_Check(obj)) {
        shown = Ref(Py_NewRef(obj));
    } else if (PyBytes_Check(obj) || PyByteArray_Check(obj)) {
        return refuse();
    } else {
        shown = Ref(PyOS_FSPath(obj));
        if (!shown) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
            PyErr_Clear();
            return refuse();
        }
    }
    Ref bytes(PyBytes_Check(shown.get()) ? Py_NewRef(shown.get()) : PyUnicode_EncodeFSDefault(shown.get()));
    if (!bytes) return false;
    out.assign(PyBytes_AS_STRING(bytes.get()), static_cast<size_t>(PyBytes_GET_SIZE(bytes.get())));
    if (out.find('\0') != std::string::npos) {
        PyErr_SetString(PyExc_ValueError, kNullByte);
        return false;
    }
    return true;
}

// An error the operating system reported for `path` raises the errno's own
// OSError subclass (FileNotFoundError, PermissionError...) with errno,
// strerror and filename set; any other failure of the file an OSError
// whose message names the path.
void raise_file_error(int os_errno, const std::string& message, const std::string& path, PyObject* shown) {
    if (os_errno != 0) {
        errno = os_errno;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, shown);
        return;
    }
    if (message.find(path) != std::string::npos) {
        set_error(PyExc_OSError, message);
        return;
    }
    Ref text(PyUnicode_FromFormat("%s: %R", message.c_str(), shown));
    if (text) PyErr_SetObject(PyExc_OSError, text.get());
}

// Moves one sheet's values into the Vm sheet of the same lower-case name,
// which becomes the active sheet meanwhile.
void store_sheet(Vm& vm, reader::WorkbookSheet& sheet) {
    vm.ensure_sheet(sheet.name);
    (void)vm.set_active_sheet(sheet.name);  // cannot fail: the sheet exists now
    CellMap& cells = vm.active_cells_mut();
    // The reader filled a sheet's map: a new sheet takes it whole.
    if (cells.empty()) {
        cells = std::move(sheet.cells);
        return;
    }
    // A sheet named twice (in another letter case) keeps the later value.
    cells.reserve(cells.size() + sheet.cells.size());
    for (auto& [pos, content] : sheet.cells) cells.insert_or_assign(pos, std::move(content));
    sheet.cells.clear();
}

PyObject* load_workbook(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* kwlist[] = {"path", "sheet", "on_msgbox", nullptr};
        PyObject *path_obj = nullptr, *sheet_obj = nullptr, *msgbox_obj = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:load_workbook", const_cast<char**>(kwlist), &path_obj,
                                         &sheet_obj, &msgbox_obj))
            return nullptr;
        std::string path, sheet;
        bool msgbox_error = false;
        Ref shown;
        bool sheet_given = sheet_obj && sheet_obj != Py_None;
        if (!arg_path(path_obj, "load_workbook", path, shown)) return nullptr;
        if (sheet_given && !arg_str(sheet_obj, "load_workbook", "sheet", sheet)) return nullptr;
        if (msgbox_obj && !arg_on_msgbox(msgbox_obj, "load_workbook", msgbox_error)) return nullptr;

        std::unique_ptr<Vm> vm = new_vm(msgbox_error);
        std::vector<std::string> loaded;
        Result<std::vector<reader::WorkbookSheet>> sheets;
        Result<void> activated;
        bool no_sheets = false;
        int os_errno = 0;
        {
            // Reading and storing touch no Python object.
            ReleaseInterpreter released;
            sheets = reader::read_workbook(path, &os_errno);
            no_sheets = sheets && sheets->empty();
            if (sheets && !no_sheets) {
                for (reader::WorkbookSheet& s : *sheets) {
                    store_sheet(*vm, s);
                    loaded.push_back(text::to_lower(s.name));
                }
                std::string active = sheet_given ? text::to_lower(sheet) : sheets->front().name;
                sheets->clear();
                activated = vm->set_active_sheet(active);
                // The workbook holds the file's sheets and nothing else.
                if (activated) vm->keep_only_sheets(loaded);
            }
        }
        if (!sheets) {
            raise_file_error(os_errno, sheets.error(), path, shown.get());
            return nullptr;
        }
        if (no_sheets) {
            PyErr_SetString(PyExc_ValueError, kNoSheets);
            return nullptr;
        }
        if (!activated) {
            set_error(PyExc_ValueError, activated.error() + sheets_there_are(loaded));
            return nullptr;
        }
        return wrap_vm(std::move(vm));
    });
}

PyMethodDef load_workbook_def = {
    "load_workbook", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load_workbook)),
    METH_VARARGS | METH_KEYWORDS,
    "load_workbook(path, sheet=None, on_msgbox=\"skip\")\n--\n\n"
    "Load cell data from a spreadsheet file (.xlsx / .xlsm / .ods) into a new ``Vm``.\n\n"
    "The VBA source code is **not** extracted from the file \u2014 pass it separately\n"
    "to ``vm.run()``.\n\n"
    "Parameters\n----------\npath : str or os.PathLike\n    Path to the spreadsheet file (.xlsx, .xlsm, or .ods).\n"
    "sheet : str, optional\n    The sheet to make active, in any letter case. Every sheet is read;\n"
    "    this only picks the active one. Defaults to the first sheet.\n"
    "on_msgbox : str, optional\n    ``\"skip\"`` (default) or ``\"error\"``; any other text raises ``ValueError``.\n\n"
    "Sheet names come back in lower case.\n\n"
    "Raises\n------\nOSError\n    The file cannot be read or is not a workbook.\n"
    "ValueError\n    ``sheet`` names no sheet of the file; the message lists the sheets there are."};

}  // namespace

PyObject* save_workbook(const Vm& vm, PyObject* path_obj) {
    std::string path;
    Ref shown;
    if (!arg_path(path_obj, "save_workbook", path, shown)) return nullptr;
    if (!writer::file_format(path)) {
        set_error(PyExc_ValueError, format_message(writer::kUnknownFormat, path));
        return nullptr;
    }
    std::vector<std::string> names = vm.sheet_names();
    std::vector<writer::SheetView> sheets;
    sheets.reserve(names.size());
    // Tab order, each sheet under its name as written.
    for (const std::string& key : names)
        sheets.push_back({vm.workbook().display_name(key), vm.get_sheet_cells(key), key == vm.active_sheet()});
    Result<void> r;
    int os_errno = 0;
    {
        ReleaseInterpreter released;
        r = writer::save_workbook(sheets, path, &os_errno);
    }
    if (!r) {
        if (os_errno != 0)
            raise_file_error(os_errno, r.error(), path, shown.get());
        else
            set_error(PyExc_OSError, r.error());
        return nullptr;
    }
    Py_RETURN_NONE;
}

int add_load_workbook(PyObject* module) {
    Ref fn(PyCFunction_NewEx(&load_workbook_def, nullptr, nullptr));
    if (!fn) return -1;
    return PyModule_AddObjectRef(module, "load_workbook", fn.get());
}

}  // namespace morvane::py
