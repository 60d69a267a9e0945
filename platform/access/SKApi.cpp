#include "platform/access/SKApi.h"

#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"SKApi";

namespace {
SKApi* volatile g_instance = nullptr;
}

SKApi::SKApi() { EnterWin32Mode(); }

void SKApi::EnterWin32Mode() {
    file = &winFile;
    registry = &winRegistry;
    TW_LOG(LogLevel::Detail, "Enter Win32 Mode");
}

SKApi* SKApi::Instance() {
    SKApi* current = g_instance;
    if (current) return current;
    // Normally the first call comes from the environment set-up before any worker runs; should two
    // threads still race here, one object wins and the other is dropped instead of leaking or being
    // used half-built.
    SKApi* fresh = new SKApi();
    void* previous = InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_instance), fresh, nullptr);
    if (previous) {
        delete fresh;
        return static_cast<SKApi*>(previous);
    }
    return fresh;
}

void SKApi::Destroy() {
    void* previous = InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_instance), nullptr);
    delete static_cast<SKApi*>(previous);
}
