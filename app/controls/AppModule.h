#pragma once
#include <windows.h>

#include <map>
#include <memory>

class CMessageLoop;

// The UI module of the program: it knows the main thread and keeps the registry of message loops (one
// per UI thread). The modal dialog runs the system's own loop, so the registry stays empty unless a
// modeless window registers one.
class CAppModule {
public:
    CAppModule() = default;
    ~CAppModule() { Term(); }
    CAppModule(const CAppModule&) = delete;
    CAppModule& operator=(const CAppModule&) = delete;

    // E_OUTOFMEMORY when the registry cannot be made.
    HRESULT Init(HINSTANCE instance);
    void Term();

    HINSTANCE ResourceInstance() const { return instance_; }
    DWORD MainThreadId() const { return mainThreadId_; }
    bool AddMessageLoop(CMessageLoop* loop);
    bool RemoveMessageLoop();
    CMessageLoop* MessageLoop(DWORD threadId) const;

private:
    HINSTANCE instance_ = nullptr;
    DWORD mainThreadId_ = 0;
    std::unique_ptr<std::map<DWORD, CMessageLoop*>> loops_;
};
