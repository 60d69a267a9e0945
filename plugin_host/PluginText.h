#pragma once
#include <string>

// A copy of a text that came across the plug-in boundary; a null pointer reads as the empty text.
inline std::wstring CopyPluginText(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }
