"""Type stubs of the morvane extension module."""

import datetime
import os
from typing import Final, Literal, TypeAlias, final

import pandas

__version__: Final[str]

# What a cell or a VBA variable can hold, as Python sees it: numbers, texts,
# booleans, dates (a datetime when the value has a time of day, a time for a
# time of day alone), error values and None for a blank; arrays and
# user-defined Type records come back as lists and dicts.
_CellValue: TypeAlias = int | float | str | bool | datetime.date | datetime.time | ExcelError | None
_Value: TypeAlias = _CellValue | list[_Value] | dict[str, _Value]
_Cells: TypeAlias = dict[tuple[int, int], _Value]
_StrPath: TypeAlias = str | os.PathLike[str]
# Any other text is a ValueError.
_OnMsgBox: TypeAlias = Literal["skip", "error"]

@final
class ExcelError:
    @property
    def code(self) -> str: ...
    def __new__(cls, code: str) -> ExcelError: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __reduce__(self) -> tuple[type[ExcelError], tuple[str]]: ...
    def __copy__(self) -> ExcelError: ...
    def __deepcopy__(self, memo: object, /) -> ExcelError: ...

class SkippedStatementWarning(UserWarning):
    """A statement or module-level line that a run passed over without effect."""

# A failed run raises SyntaxError, with `lineno`, `offset` and `text` pointing
# at the place, when the source does not parse, and RuntimeError otherwise;
# where the failing statement is known, the RuntimeError carries its
# `procedure` (lower case) and `lineno` as attributes.

@final
class Vm:
    """A workbook and the macros run against it; one call at a time, so each thread needs its own."""

    def __new__(cls, on_msgbox: _OnMsgBox = "skip") -> Vm: ...
    def run(self, vba_code: str, macro_name: str) -> None:
        """Raises SyntaxError (`lineno`, `offset`, `text`) or RuntimeError (`procedure`, `lineno`)."""
    def set_cell(self, row: int, col: int, value: _CellValue) -> None: ...
    def get_cell(self, row: int, col: int) -> _Value: ...
    def cells(self) -> _Cells:
        """The active sheet's non-empty cells."""
    def variables(self) -> dict[str, _Value]: ...
    def set_cell_formula(self, row: int, col: int, formula: str) -> None: ...
    def recalculate(self) -> None: ...
    def set_cell_formula_batch(self, formulas: dict[tuple[int, int], str]) -> None:
        """All or nothing: a malformed item or a formula that does not parse stores none."""
    def set_sheet(self, name: str) -> None:
        """A new sheet's name: 1 to 31 characters, none of : \\ / ? * [ ], no apostrophe at either end."""
    def active_sheet(self) -> str:
        """In lower case."""
    def sheet_names(self) -> list[str]:
        """In tab order and in lower case."""
    def get_sheet(self, name: str) -> _Cells:
        """KeyError, listing the sheets there are, for a sheet that is not there."""
    def save_workbook(self, path: _StrPath) -> None:
        """.xlsx, .xlsm or .ods by the extension (ValueError for any other); OSError for a non-regular file."""
    def cells_df(self) -> pandas.DataFrame: ...

def hello() -> str: ...
def run_macro(vba_code: str, macro_name: str, on_msgbox: _OnMsgBox = "skip") -> _Cells:
    """Raises SyntaxError (`lineno`, `offset`, `text`) or RuntimeError (`procedure`, `lineno`)."""

def load_workbook(path: _StrPath, sheet: str | None = None, on_msgbox: _OnMsgBox = "skip") -> Vm:
    """Every sheet is read; `sheet` only picks the active one (ValueError, listing the sheets, when absent)."""
