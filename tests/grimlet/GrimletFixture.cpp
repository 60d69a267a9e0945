// A small DLL for the plug-in's support tests: signed copies of it test the signer check, and its
// export's bytes are compared between the file and memory.
#include <windows.h>

extern "C" __declspec(dllexport) int GrimletFixtureProbe(int value) { return value * 3 + 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
