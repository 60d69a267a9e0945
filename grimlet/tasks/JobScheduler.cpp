#include "grimlet/tasks/JobScheduler.h"

#include <windows.h>

#include <mstask.h>

namespace {

const CLSID kJobSchedulerClass = {0x148BD52A, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const IID kJobSchedulerInterface = {0x148BD527, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
// A Tasks folder holds a handful of tasks; a list longer than this is not believed to its end.
constexpr ULONG kMaxWorkItems = 100000;

std::string Hex(HRESULT result) {
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// The work item's name as the interface's Delete takes it: without its ".job".
std::wstring WorkItemName(const std::wstring& fileName) {
    return fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : fileName;
}

}  // namespace

JobScheduler::JobScheduler() = default;
JobScheduler::~JobScheduler() = default;

bool JobScheduler::Connect(std::string& problem) {
    if (!com_.Usable()) {
        problem = "COM cannot be used on this thread";
        return false;
    }
    return CreateSystemComObject(L"mstask.dll", kJobSchedulerClass, kJobSchedulerInterface, scheduler_.ReceiveVoid(),
                                 problem);
}

JobScheduler::Listed JobScheduler::Lists(const std::wstring& fileName, std::string& problem) {
    if (!scheduler_.IsValid()) {
        problem = "not connected";
        return Listed::Failed;
    }
    ComRef<IEnumWorkItems> items;
    HRESULT result = scheduler_->Enum(items.Receive());
    if (FAILED(result) || !items.IsValid()) {
        problem = "the work items cannot be listed (" + Hex(result) + ")";
        return Listed::Failed;
    }
    for (ULONG seen = 0; seen < kMaxWorkItems; ++seen) {
        LPWSTR* names = nullptr;
        ULONG fetched = 0;
        result = items->Next(1, &names, &fetched);
        if (result == S_FALSE || (SUCCEEDED(result) && fetched == 0)) return Listed::No;
        if (FAILED(result) || !names) {
            problem = "the work items cannot be listed (" + Hex(result) + ")";
            return Listed::Failed;
        }
        bool match = false;
        for (ULONG i = 0; i < fetched; ++i) {
            if (names[i] && lstrcmpiW(names[i], fileName.c_str()) == 0) match = true;
            CoTaskMemFree(names[i]);
        }
        CoTaskMemFree(names);
        if (match) return Listed::Yes;
    }
    problem = "the work item list does not end";
    return Listed::Failed;
}

bool JobScheduler::Delete(const std::wstring& fileName, std::string& problem) {
    if (!scheduler_.IsValid()) {
        problem = "not connected";
        return false;
    }
    const HRESULT result = scheduler_->Delete(WorkItemName(fileName).c_str());
    if (FAILED(result)) {
        problem = "the Task Scheduler refuses to delete the work item (" + Hex(result) + ")";
        return false;
    }
    return true;
}
