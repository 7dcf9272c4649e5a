"""One macro through the whole object model: writes to a named sheet,
Sheets.Add and Name, Copy and a transposed PasteSpecial, Union and Areas, and an
array of a user Type, checked on every sheet it touches."""
import morvane
from vmhelp import same

MACRO = """
Type Person
    Name As String
    Age As Long
End Type

Sub Report()
    Dim people(3) As Person
    Dim i As Long

    Sheets.Add
    ActiveSheet.Name = "Data"
    Sheets.Add
    ActiveSheet.Name = "Copy"
    Sheets(1).Activate
    Worksheets("Data").Range("A1").Value = "Name"
    Worksheets("Data").Range("B1").Value = "Age"
    people(1).Name = "Ada"
    people(1).Age = 36
    people(2).Name = "Alan"
    people(2).Age = 41
    people(3).Name = "Grace"
    people(3).Age = 85
    For i = 1 To 3
        Worksheets("Data").Cells(i + 1, 1).Value = people(i).Name
        Worksheets("Data").Cells(i + 1, 2).Value = people(i).Age
    Next i
    Worksheets("Data").Range("C2:C4").Formula = "=1+1"

    With Sheets("Data")
        .Range("A1:B4").Copy
    End With
    Sheets("Copy").Paste Destination:=Range("A1")
    With Sheets("Copy")
        .Range("A1:B4").Copy
        .Range("D1").PasteSpecial Paste:=xlPasteValues, Transpose:=True
    End With

    Set r = Union(Range("A1"), Range("C1:C3"))
    Set second = r.Areas(2)
    second.Value = "area 2"
    areas = r.Areas.Count
    Range("A1").Value = people(2).Name & " is " & people(2).Age
    first = people(0).Name
End Sub
"""


def test_the_workbook_macro():
    vm = morvane.Vm()
    vm.run(MACRO, "Report")
    assert vm.sheet_names() == ["sheet1", "data", "copy"]
    assert vm.active_sheet() == "sheet1"
    rows = [("Name", "Age"), ("Ada", 36), ("Alan", 41), ("Grace", 85)]
    data = {(r, c): v for r, row in enumerate(rows, 1) for c, v in enumerate(row, 1)}
    assert same(vm.get_sheet("data"), {**data, (2, 3): 2, (3, 3): 2, (4, 3): 2})
    transposed = {(c, r + 3): v for (r, c), v in data.items()}
    assert same(vm.get_sheet("copy"), {**data, **transposed})
    assert same(vm.get_sheet("sheet1"), {(1, 1): "Alan is 41", (1, 3): "area 2", (2, 3): "area 2", (3, 3): "area 2"})
    variables = vm.variables()
    assert variables["areas"] == 2 and variables["first"] == ""
    assert same(variables["people"][3], {"name": "Grace", "age": 85})
