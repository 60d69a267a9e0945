#include "app/controls/AppModule.h"

#include <new>

HRESULT CAppModule::Init(HINSTANCE instance) {
    instance_ = instance;
    mainThreadId_ = GetCurrentThreadId();
    loops_.reset(new (std::nothrow) std::map<DWORD, CMessageLoop*>());
    return loops_ ? S_OK : E_OUTOFMEMORY;
}

void CAppModule::Term() {
    loops_.reset();
    mainThreadId_ = 0;
}

bool CAppModule::AddMessageLoop(CMessageLoop* loop) {
    if (!loops_ || !loop) return false;
    return loops_->emplace(GetCurrentThreadId(), loop).second;
}

bool CAppModule::RemoveMessageLoop() {
    return loops_ && loops_->erase(GetCurrentThreadId()) == 1;
}

CMessageLoop* CAppModule::MessageLoop(DWORD threadId) const {
    if (!loops_) return nullptr;
    auto found = loops_->find(threadId);
    return found == loops_->end() ? nullptr : found->second;
}
