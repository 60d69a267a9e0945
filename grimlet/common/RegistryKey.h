#pragma once
#include <windows.h>

#include <string>

// Owns one open registry key handle and closes it when it goes out of scope.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    RegistryKey(RegistryKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    RegistryKey& operator=(RegistryKey&& other) noexcept {
        if (this != &other) {
            Close();
            key_ = other.key_;
            other.key_ = nullptr;
        }
        return *this;
    }

    // Closes any key held before; returns the system's result code.
    LONG Open(HKEY root, const std::wstring& path, REGSAM access) {
        Close();
        return RegOpenKeyExW(root, path.c_str(), 0, access, &key_);
    }
    void Close() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
    bool IsOpen() const { return key_ != nullptr; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};
