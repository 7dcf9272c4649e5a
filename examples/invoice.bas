' Prices an order sheet: column A item, B quantity, C unit price.
' Writes each line total to D, a discount band to E, and the totals below.

Function LineTotal(qty, price)
    LineTotal = qty * price
End Function

Function Band(amount)
    Select Case amount
        Case Is >= 100
            Band = "large"
        Case 20 To 99.99
            Band = "medium"
        Case Else
            Band = "small"
    End Select
End Function

Sub PriceOrder()
    Dim lastRow As Long, total As Double, r As Long
    Dim counts(2)
    lastRow = Cells(Rows.Count, 1).End(xlUp).Row
    For r = 2 To lastRow
        Cells(r, 4).Value = LineTotal(Cells(r, 2).Value, Cells(r, 3).Value)
        Cells(r, 5).Value = Band(Cells(r, 4).Value)
        Select Case Cells(r, 5).Value
            Case "small"
                counts(0) = counts(0) + 1
            Case "medium"
                counts(1) = counts(1) + 1
            Case Else
                counts(2) = counts(2) + 1
        End Select
        total = total + Cells(r, 4).Value
    Next
    Cells(lastRow + 2, 3).Value = "Total"
    Cells(lastRow + 2, 4).Value = total
    Cells(lastRow + 3, 3).Value = "Lines by band"
    Cells(lastRow + 3, 4).Value = counts(0) & " small, " & counts(1) & " medium, " & counts(2) & " large"
    If total > 150 Then
        Cells(lastRow + 4, 3).Value = "Free shipping"
    End If
End Sub
