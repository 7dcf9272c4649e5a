// Workbook files from Python: the function load_workbook (read a file into a
// new Vm) and the work of the Vm method save_workbook (write every sheet).
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
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

// A path argument; a NUL inside is refused as Python's own open() does,
// since the operating system would see only the text before it.
bool arg_path(PyObject* obj, const char* func, std::string& out) {
    if (!arg_str(obj, func, "path", out)) return false;
    if (out.find('\0') != std::string::npos) {
        PyErr_SetString(PyExc_ValueError, kNullByte);
        return false;
    }
    return true;
}

Variant to_variant(reader::SheetCell&& cell) {
    return std::visit([](auto&& v) { return Variant(std::move(v)); }, std::move(cell.value));
}

// Moves one sheet's values into the Vm sheet of the same lower-case name,
// which becomes the active sheet meanwhile.
void store_sheet(Vm& vm, reader::WorkbookSheet& sheet) {
    vm.ensure_sheet(sheet.name);
    (void)vm.set_active_sheet(sheet.name);  // cannot fail: the sheet exists now
    CellMap& cells = vm.active_cells_mut();
    // Grown once, not doubled as it fills.
    cells.reserve(cells.size() + sheet.cells.size());
    sheet.cells.drain([&](reader::SheetCells::Entry&& entry) {
        // A sheet named twice (in another letter case) keeps the later value.
        Variant value = to_variant(std::move(entry.cell));
        auto [it, inserted] = cells.try_emplace(entry.pos, std::nullopt, std::move(value));
        if (!inserted) it->second = CellContent{std::nullopt, std::move(value)};
    });
}

PyObject* load_workbook(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* kwlist[] = {"path", "sheet", "on_msgbox", nullptr};
        PyObject *path_obj = nullptr, *sheet_obj = nullptr, *msgbox_obj = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:load_workbook", const_cast<char**>(kwlist), &path_obj,
                                         &sheet_obj, &msgbox_obj))
            return nullptr;
        std::string path, sheet, on_msgbox = "skip";
        bool sheet_given = sheet_obj && sheet_obj != Py_None;
        if (!arg_path(path_obj, "load_workbook", path)) return nullptr;
        if (sheet_given && !arg_str(sheet_obj, "load_workbook", "sheet", sheet)) return nullptr;
        if (msgbox_obj && !arg_str(msgbox_obj, "load_workbook", "on_msgbox", on_msgbox)) return nullptr;

        std::unique_ptr<Vm> vm = new_vm(on_msgbox);
        Result<std::vector<reader::WorkbookSheet>> sheets;
        Result<void> activated;
        bool no_sheets = false;
        {
            // Reading and storing touch no Python object.
            ReleaseInterpreter released;
            sheets = reader::read_workbook(path);
            no_sheets = sheets && sheets->empty();
            if (sheets && !no_sheets) {
                std::vector<std::string> loaded;
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
            set_error(PyExc_OSError, sheets.error());
            return nullptr;
        }
        if (no_sheets) {
            PyErr_SetString(PyExc_ValueError, kNoSheets);
            return nullptr;
        }
        if (!activated) {
            set_error(PyExc_ValueError, activated.error());
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
    "Parameters\n----------\npath : str\n    Path to the spreadsheet file (.xlsx, .xlsm, or .ods).\n"
    "sheet : str, optional\n    Sheet name to read. Defaults to the first sheet.\n"
    "on_msgbox : str, optional\n    ``\"skip\"`` (default) or ``\"error\"``."};

}  // namespace

PyObject* save_workbook(const Vm& vm, PyObject* path_obj) {
    std::string path;
    if (!arg_path(path_obj, "save_workbook", path)) return nullptr;
    std::vector<std::string> names = vm.sheet_names();
    std::vector<writer::SheetView> sheets;
    sheets.reserve(names.size());
    // Tab order, each sheet under its name as written.
    for (const std::string& key : names) sheets.push_back({vm.workbook().display_name(key), vm.get_sheet_cells(key)});
    Result<void> r;
    {
        ReleaseInterpreter released;
        r = writer::save_workbook(sheets, path);
    }
    if (!r) {
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
