' The COM class CString of Strings.dll as a script uses it: created by its
' ProgID, its members called by name. Ends with code 0 and the line "ok",
' or with the number of the first check that failed.
Option Explicit

Dim failed
failed = 0

Sub Check(number, condition)
    If failed = 0 And Not condition Then
        failed = number
        WScript.Echo "check " & number & " failed"
    End If
End Sub

Dim s, t, u
Set s = CreateObject("Strings.CString")
Check 1, s.length = 0
Check 2, s.getCapacity = 4096
s.append "hello"
Check 3, s.length = 5
Check 4, s.toString = "hello"
Check 5, s.charAt(1) = "h"
Check 6, s.subStringVB(2, 4) = "ell"
Check 7, s.subStringVB(2) = "ello"
Check 8, s.indexOfVB("l") = 3
Check 9, s.lastIndexOfVB("l") = 4
Check 10, s.equalsIgnoreCaseVB("HELLO")
Set u = s.toUpperCase
Check 11, u.toString = "HELLO"
Check 12, s.equalsIgnoreCase(u)
Check 13, s.compareTo(u) = 1
Set t = s.valueOfLong(-5)
Check 14, t.toString = "-5"
Check 15, s.toString = "hello"

Dim raised
On Error Resume Next
raised = s.regionMatches(False, 1, u, 1, 6)
Check 16, Err.Number <> 0
Check 17, Err.Description = "Index out of bounds"
Err.Clear
On Error GoTo 0

s.clear
Check 18, s.length = 0

If failed = 0 Then WScript.Echo "ok"
WScript.Quit failed
