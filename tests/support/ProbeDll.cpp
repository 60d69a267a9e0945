// A DLL that says it ran: on load it appends its own path and its process's program to the file that
// TIDEWASH_PROBE_FILE names (inherited by every process a test starts). Planted where a program must
// never load code from, its file staying absent shows that nothing loaded it.
#include <windows.h>

namespace {

void RecordLoad(HMODULE self) {
    wchar_t target[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TIDEWASH_PROBE_FILE", target, MAX_PATH) == 0) return;
    wchar_t line[2 * MAX_PATH + 4] = {};
    DWORD length = GetModuleFileNameW(self, line, MAX_PATH);
    line[length++] = L'\t';
    length += GetModuleFileNameW(nullptr, line + length, MAX_PATH);
    line[length++] = L'\n';
    HANDLE file = CreateFileW(target, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, length * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) RecordLoad(instance);
    return TRUE;
}
