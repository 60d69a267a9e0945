// Files per second through the scan manager, with a test file-handler plug-in scanning every file
// (the watchdog's two events per file included), against the bare directory walk over the same
// tree in the same run.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "engine/SKScanManager.h"
#include "platform/access/SKDirEnum.h"
#include "plugin_host/ISKFileScanner.h"
#include "plugin_host/SKItemManager.h"
#include "plugin_host/SKPluginManager.h"
#include "tests/support/BenchClock.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const int kFolders = 100;
const int kFilesPerFolder = 1000;

double NowSeconds() { return testsupport::NowMs() / 1e3; }

bool MakeTree(const std::wstring& root) {
    for (int folder = 0; folder < kFolders; ++folder) {
        const std::wstring dir = root + L"\\d" + std::to_wstring(folder);
        if (!CreateDirectoryW(dir.c_str(), nullptr)) return false;
        for (int file = 0; file < kFilesPerFolder; ++file) {
            const std::wstring path = dir + L"\\f" + std::to_wstring(file) + L".txt";
            HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            if (handle == INVALID_HANDLE_VALUE) return false;
            CloseHandle(handle);
        }
    }
    return true;
}

long BareWalk(const std::wstring& folder) {
    long files = 0;
    auto enumerator = CreateDirEnum(folder, L"*");
    std::wstring path;
    DWORD attributes = 0;
    uint64_t size = 0;
    for (bool more = First(enumerator, path, attributes, size); more; more = Next(enumerator, path, attributes, size)) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            files += BareWalk(path);
        else
            ++files;
    }
    return files;
}

// The bare walk plus what the watchdog costs alone: two event signals per file, with a thread waiting
// on both events as the scan manager's watchdog does.
long WalkSignalling(const std::wstring& folder, HANDLE started, HANDLE finished) {
    long files = 0;
    auto enumerator = CreateDirEnum(folder, L"*");
    std::wstring path;
    DWORD attributes = 0;
    uint64_t size = 0;
    for (bool more = First(enumerator, path, attributes, size); more; more = Next(enumerator, path, attributes, size)) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            files += WalkSignalling(path, started, finished);
        } else {
            SetEvent(started);
            SetEvent(finished);
            ++files;
        }
    }
    return files;
}

struct Watcher {
    HANDLE events[3];  // stop, started, finished
};

DWORD WINAPI WatchEvents(LPVOID argument) {
    auto* watcher = static_cast<Watcher*>(argument);
    while (WaitForMultipleObjects(3, watcher->events, FALSE, INFINITE) != WAIT_OBJECT_0) {
    }
    return 0;
}

double WalkSignallingSeconds(const std::wstring& tree, long& files) {
    Watcher watcher = {{CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr),
                        CreateEventW(nullptr, FALSE, FALSE, nullptr)}};
    HANDLE thread = CreateThread(nullptr, 0, WatchEvents, &watcher, 0, nullptr);
    const double start = NowSeconds();
    files = WalkSignalling(tree, watcher.events[1], watcher.events[2]);
    const double elapsed = NowSeconds() - start;
    SetEvent(watcher.events[0]);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    for (HANDLE event : watcher.events) CloseHandle(event);
    return elapsed;
}

class NoDrives : public IDriveProbe {
public:
    DWORD LogicalDrives() override { return 0; }
    UINT DriveType(const std::wstring&) override { return DRIVE_NO_ROOT_DIR; }
};

class NoPage : public IUiProgressCB {
public:
    int OnNotify(int32_t) override { return 1; }
    void OnItemFound(const FoundItemRecord&) override {}
    int ReportCleanResult(const CleanOutcomeRecord&) override { return 1; }
};

}  // namespace

int main() {
    ScratchFolder scratch(L"scanbench");
    const std::wstring tree = scratch / L"tree";
    const std::wstring plugins = scratch / L"plugin";
    CreateDirectoryW(tree.c_str(), nullptr);
    CreateDirectoryW(plugins.c_str(), nullptr);
    std::printf("building a tree of %d files...\n", kFolders * kFilesPerFolder);
    std::fflush(stdout);
    if (!MakeTree(tree)) {
        std::printf("cannot build the tree (error %lu)\n", GetLastError());
        return 1;
    }
    const std::wstring plugin = BinFolder() + L"\\tp_file_restart.dll";
    if (!CopyFileW(plugin.c_str(), (plugins + L"\\tp_file_restart.dll").c_str(), FALSE)) {
        std::printf("cannot copy the test plug-in\n");
        return 1;
    }

    double bestWalk = 1e30;
    long walked = 0;
    double bestScan = 1e30;
    long scanned = 0;
    double bestSignalling = 1e30;
    long signalled = 0;
    for (int round = 0; round < 2; ++round) {
        double start = NowSeconds();
        walked = BareWalk(tree);
        bestWalk = std::min(bestWalk, NowSeconds() - start);
        bestSignalling = std::min(bestSignalling, WalkSignallingSeconds(tree, signalled));

        Gantry::plugin::SKPluginManager pluginManager;
        pluginManager.LoadPlugin(plugins);
        SKItemManager items;
        NoPage page;
        SKScanManager scanManager(&items, &page, std::make_shared<NoDrives>());
        std::shared_ptr<ISKFileScanner> scanner;
        if (!pluginManager.FirstFileScanner(scanner)) {
            std::printf("the test plug-in did not load\n");
            return 1;
        }
        scanManager.AddFileScanner(0, scanner);
        items.AddTargetDirectory(tree, 1);
        start = NowSeconds();
        scanManager.Scan();
        bestScan = std::min(bestScan, NowSeconds() - start);
        scanned = scanManager.FilesDone();
    }
    const double walkRate = walked / bestWalk;
    const double scanRate = scanned / bestScan;
    std::printf("bare directory walk: %ld files in %.3f s = %.0f files/s\n", walked, bestWalk, walkRate);
    std::printf("bare walk + two watchdog events per file: %ld files in %.3f s = %.0f files/s\n", signalled,
                bestSignalling, signalled / bestSignalling);
    std::printf("scan manager + file plug-in: %ld files in %.3f s = %.0f files/s\n", scanned, bestScan, scanRate);
    std::printf("scan manager / bare walk: %.2f (best of 2 rounds each)\n", scanRate / walkRate);
    return 0;
}
