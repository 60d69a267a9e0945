#pragma once
// A scratch plug-in folder filled with copies of the test plug-ins under chosen names.
#include <windows.h>

#include <string>

#include "tests/support/TestSupport.h"

class PluginFolder {
public:
    PluginFolder() : scratch_(L"plugins") {}
    const std::wstring& Path() const { return scratch_.Path(); }
    // Copies test plug-in `fixture` (a DLL of this tree's bin folder, without ".dll") as `asName`.
    bool Add(const std::wstring& fixture, const std::wstring& asName) {
        const std::wstring from = testsupport::BinFolder() + L"\\" + fixture + L".dll";
        return CopyFileW(from.c_str(), (scratch_ / asName).c_str(), FALSE) != FALSE;
    }

private:
    testsupport::ScratchFolder scratch_;
};
