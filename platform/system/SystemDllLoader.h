#pragma once
// System DLLs that are not KnownDLLs (crypt32, wintrust, version, comctl32, psapi) are never imported at
// load time: for them the loader searches the program's own folder first, which may be a Downloads folder
// or a stick that a user can write. They are delay-imported instead, and the hook of this module loads each
// at its first call by full path from the system folder. The build's late_bound/*.def files (and the
// list beside them in platform/CMakeLists.txt) are the one place that names these DLLs.
#include <string>

namespace system_dll {

// The full path that the hook loads `dll_name` from: the folder of this process's own system DLLs
// (SysWOW64 for a 32-bit process on 64-bit Windows, so that a thread that has turned file-system
// redirection off still gets the 32-bit DLL). Empty for a name that is not a plain file name, and when the system folder cannot be
// read.
std::wstring PathInSystemFolder(const char* dll_name);

}  // namespace system_dll
