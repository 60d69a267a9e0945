#pragma once
#include <string>

// The program's start-up and shutdown around the detection dialog.
namespace startup {

// The work folder's name, resolved against the current directory at start.
extern const wchar_t kWorkFolderName[];

// Runs the whole program and returns its exit code: -1 when the components cannot be prepared,
// otherwise the dialog's result.
int Run();

}  // namespace startup
