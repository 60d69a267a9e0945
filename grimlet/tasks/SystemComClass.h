#pragma once
// A COM class of a system DLL made without the class registry: the DLL is loaded by its full path from
// this process's system folder and asked through its own DllGetClassObject. The registry would merge in
// HKEY_CURRENT_USER, where a non-administrator can name any DLL for any class.
#include <windows.h>

#include <objbase.h>

#include <string>

// Holds one reference to a COM object and releases it at scope end.
template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    Interface* Get() const { return object_; }
    Interface* operator->() const { return object_; }
    bool IsValid() const { return object_ != nullptr; }
    Interface** Receive() {
        Reset();
        return &object_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    void Reset() {
        if (object_) object_->Release();
        object_ = nullptr;
    }

private:
    Interface* object_ = nullptr;
};

// COM on the calling thread for this scope, unless the thread has it already in any apartment.
class ComOnThisThread {
public:
    ComOnThisThread() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComOnThisThread() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComOnThisThread(const ComOnThisThread&) = delete;
    ComOnThisThread& operator=(const ComOnThisThread&) = delete;
    // RPC_E_CHANGED_MODE: the thread chose another apartment before, which serves as well.
    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

// Makes an object of `classId` from `<system folder>\dllName`. The DLL stays loaded for the rest of the
// process, as COM keeps an in-process server while any of its objects may live. False, with the
// reason, when the DLL is missing, exports no DllGetClassObject, or refuses.
bool CreateSystemComObject(const wchar_t* dllName, REFCLSID classId, REFIID interfaceId, void** object,
                           std::string& problem);
