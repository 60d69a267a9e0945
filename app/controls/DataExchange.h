#pragma once
#include <windows.h>

#include <string>

// Moves values between a dialog's fields and its controls: `save` true reads the controls into the
// fields, false shows the fields in the controls.
namespace DataExchange {

void Text(HWND dialog, int id, std::wstring& value, bool save);
// A group of auto radio buttons starting at `firstId`: the value is the index of the checked button
// (-1 when none is checked).
void Radio(HWND dialog, int firstId, int& value, bool save);

}  // namespace DataExchange
