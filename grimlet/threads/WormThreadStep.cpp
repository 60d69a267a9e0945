#include "grimlet/threads/WormThreadStep.h"

#include "grimlet/plugin/OutOfReachProcesses.h"
#include "grimlet/threads/OsInfo.h"
#include "grimlet/threads/ThreadSnapshot.h"
#include "grimlet/threads/WideTokenizer.h"
#include "grimlet/threads/WormThreadList.h"
#include "grimlet/threads/WormThreadSearch.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"GrimletCleaner\\Process";

std::vector<std::pair<std::wstring, std::wstring>> WormThreadTargets() {
    // The worm injects into the service hosts of the netsvcs group and into services.exe; the second
    // list has no entry for services.exe, so any of its command lines matches.
    WideTokenizer images(L"svchost.exe:services.exe", L":");
    WideTokenizer filters(L"-k netsvcs:", L":");
    std::vector<std::pair<std::wstring, std::wstring>> targets;
    for (;;) {
        std::wstring image = images.Next();
        std::wstring filter = filters.Next();
        if (image.empty()) break;
        targets.emplace_back(std::move(image), std::move(filter));
    }
    return targets;
}

void ScanWormThreads(std::vector<ScanRecord>& results, OutOfReachProcesses& outOfReach) {
    WormThreadList::Instance().Clear();
    // The snapshot of an earlier scan would send the search after threads that may be long gone, and
    // miss the new ones.
    if (!ThreadSnapshot::Instance().Refill()) {
        const int error = static_cast<int>(GetLastError());
        TW_LOG(LogLevel::Error, "Worm-thread search stopped: the thread snapshot failed (%d)", error);
        outOfReach.Unchecked(L"worm-thread search", L"the thread snapshot failed (Error=" + std::to_wstring(error) + L")");
        return;
    }
    // Said on every scan: an empty thread list must not read as a clean machine.
    if (!OsInfo::Instance().HasStackMarks()) {
        TW_LOG(LogLevel::Error, "Worm-thread search skipped: no proven stack layout");
        outOfReach.Unchecked(L"worm-thread search", L"no proven thread-stack layout on this system");
        return;
    }
    for (const auto& target : WormThreadTargets()) FindWormThreads(target.first, target.second, &outOfReach);
    if (WormThreadList::Instance().Empty()) return;
    ScanRecord record;
    record.kind = kScanRecordWormThreads;
    record.title = L"GRIMLET线程:";
    record.detail = L"由病毒创建的恶意线程";
    results.push_back(std::move(record));
}
