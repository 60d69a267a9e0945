// Prints the cost of Logger::Write: a call the filter drops, and an enabled file line, each against a
// plain formatted append of the same line to a file that is already open.
#include <windows.h>

#include <cstdio>

#include "platform/log/Logger.h"
#include "tests/support/BenchClock.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

double NowNs() { return testsupport::NowMs() * 1e6; }

double PlainAppendNs(const std::wstring& path, int count) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    char line[512];
    double start = NowNs();
    for (int i = 0; i < count; ++i) {
        int n = _snprintf(line, sizeof line, "[%04x:%04x] 01/01 00:00:00:000-%03d [-] scanned %S %d[Bench(%d)]\n",
                          1u, 2u, i % 1000, L"C:\\Windows\\system32\\kernel32.dll", i, __LINE__);
        DWORD written;
        WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
    }
    double elapsed = NowNs() - start;
    CloseHandle(file);
    return elapsed / count;
}

}  // namespace

int main() {
    static const wchar_t kLogSource[] = L"Bench";
    ScratchFolder scratch(L"bench");
    const int filteredCount = 5000000, lineCount = 2000;
    double plain = PlainAppendNs(scratch / L"plain.log", lineCount);

    double filtered;
    {
        DebugLevelValue level(0x22000002);  // Error only: Info calls are dropped by the filter
        Logger logger;
        double start = NowNs();
        for (int i = 0; i < filteredCount; ++i)
            TW_LOG(LogLevel::Info, "scanned %S %d", L"C:\\Windows\\system32\\kernel32.dll", i);
        filtered = (NowNs() - start) / filteredCount;
    }
    double enabled;
    {
        DebugLevelValue level(0x22000008);
        Logger logger;
        double start = NowNs();
        for (int i = 0; i < lineCount; ++i)
            TW_LOG(LogLevel::Info, "scanned %S %d", L"C:\\Windows\\system32\\kernel32.dll", i);
        enabled = (NowNs() - start) / lineCount;
        DeleteFileA(logger.Path());
    }
    printf("logger: filtered-out Write %.2f ns (%.5f x plain append)\n", filtered, filtered / plain);
    printf("logger: enabled file line %.0f ns (%.1f x plain append to an open file, %.0f ns)\n", enabled,
           enabled / plain, plain);
    return 0;
}
