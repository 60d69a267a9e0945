#include <windows.h>

#include "app/ProtectedCopyLauncher.h"
#include "app/StartUp.h"
#include "app/unattended/CommandLineOptions.h"
#include "app/unattended/UnattendedStartUp.h"

// The first process makes the protected copy and runs it with the same command line (ProtectedCopy).
// Without arguments the command line plays no part: the dialog, as always. With arguments the program
// runs unattended (scan or clean and a report), without any window.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    // The current directory is nobody's to trust: no DLL that is loaded later by a bare name (a system
    // DLL's own loads included) is looked for there.
    SetDllDirectoryW(L"");
    const CommandLineOptions options = CommandLineOptions::Parse(commandLine ? commandLine : L"");
    // The program itself runs only from a folder that administrators alone could write.
    switch (ProtectedCopy::ThisProcess()) {
    case ProtectedCopy::Place::FirstProcess: return RunFromProtectedCopy(options);
    case ProtectedCopy::Place::UntrustedCopy: return RefuseUntrustedCopy(options);
    case ProtectedCopy::Place::Copy: break;
    }
    if (options.mode == CommandLineOptions::Mode::Dialog) return startup::Run();
    return unattended::Run(options);
}
