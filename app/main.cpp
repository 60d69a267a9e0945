#include <windows.h>

#include "app/StartUp.h"
#include "app/unattended/CommandLineOptions.h"
#include "app/unattended/UnattendedStartUp.h"

// Without arguments the command line plays no part: the dialog, as always. With arguments the program
// runs unattended (scan or clean and a report), without any window.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    // The current directory is nobody's to trust: no DLL that is loaded later by a bare name (a system
    // DLL's own loads included) is looked for there.
    SetDllDirectoryW(L"");
    const CommandLineOptions options = CommandLineOptions::Parse(commandLine ? commandLine : L"");
    if (options.mode == CommandLineOptions::Mode::Dialog) return startup::Run();
    return unattended::Run(options);
}
