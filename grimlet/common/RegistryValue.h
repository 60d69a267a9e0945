#pragma once
#include <windows.h>

#include <string>

// The one way service values are read: a string value (REG_SZ, REG_EXPAND_SZ, or the first string of a
// REG_MULTI_SZ) that fits 260 wide characters. Anything else - missing, another type, too long - counts
// as absent. The text is never taken past the data the system returned, so an unterminated value
// cannot run off the buffer.
bool ReadServiceString(HKEY key, const wchar_t* name, std::wstring& text);
// The same read, telling why a value counts as absent: ERROR_MORE_DATA for a string value too long for
// the buffer (which a check cannot pass over as missing), ERROR_FILE_NOT_FOUND for a missing value or
// one of another type, or the system's error.
LONG ReadServiceStringStatus(HKEY key, const wchar_t* name, std::wstring& text);

// %SystemRoot% and friends expanded; false when the result would not fit 259 characters.
bool ExpandServicePath(const std::wstring& raw, std::wstring& expanded);

// The lower-cased ImagePath names svchost.exe, "-k" and "netsvcs" (three independent substring tests).
bool IsNetsvcsImagePath(const std::wstring& imagePath);
