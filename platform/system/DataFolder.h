#pragma once
#include <string>

// The tool's folders for this machine, shared by every user and every run: the common application
// data folder, then "Quorvel\Tidewash", then `leaf` ("Reports", "Quarantine"). Not created here.
// Empty when the system names no common application data folder.
std::wstring TidewashDataFolder(const wchar_t* leaf);

constexpr wchar_t kReportsLeaf[] = L"Reports";
constexpr wchar_t kQuarantineLeaf[] = L"Quarantine";
