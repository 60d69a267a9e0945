// Loads version.dll and wintrust.dll by their bare names, as system DLLs load the DLLs they need: the
// control that shows a DLL planted beside a program would run in it. Exits with how many loaded.
#include <windows.h>

#include <initializer_list>

int main() {
    int loaded = 0;
    for (const wchar_t* name : {L"version.dll", L"wintrust.dll"})
        if (LoadLibraryW(name)) ++loaded;
    return loaded;
}
