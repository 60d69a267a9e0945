#pragma once
// The 32-bit build on 64-bit Windows: what the system's WOW64 layer hides from it. Shared by the
// program, grimlet.dll and RunMendrel.exe.
#include <windows.h>

// True for a 32-bit process on 64-bit Windows; false where the system cannot tell (IsWow64Process is
// missing before XP SP2 and is looked up at run time). Asked once per process: the answer never changes.
bool IsWow64();

// True when this process runs under WOW64 and `process` (opened with PROCESS_QUERY_INFORMATION) does not:
// a 64-bit process, whose modules, process block and thread stacks lie outside what this process can
// read. False for a null handle and where the system cannot tell.
bool IsBeyondWow64View(HANDLE process);
