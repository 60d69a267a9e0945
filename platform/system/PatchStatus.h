#pragma once
// Whether the machine carries the fix for the hole the worm comes through (MS08-067, KB958644): read
// only, never changed. The fix is known by the file version of the netapi32.dll that the Server
// service loads, as the public bulletin lists it for each system and service pack. Decided on plain
// numbers, so that every row of the bulletin's table is tested without that system.
#include <cstdint>
#include <string>

#include "platform/system/OsVersion.h"

struct FileVersionNumber {
    uint16_t major = 0, minor = 0, build = 0, revision = 0;

    bool operator<(const FileVersionNumber& other) const;
    std::wstring Text() const;  // "5.2.3790.4392"
};

enum class PatchState { Installed, Missing, NotAffected, Unknown };

struct PatchVerdict {
    PatchState state = PatchState::Unknown;
    bool fileRead = false;
    FileVersionNumber fileVersion;  // valid when fileRead
    std::wstring reason;            // one line, in English, for the report
};

// `netapi32` is null when the file could not be read.
PatchVerdict DecideKb958644(const OsVersionFacts& os, const FileVersionNumber* netapi32);

// The running system's verdict: its version facts and the native System32's netapi32.dll (the 64-bit
// one on 64-bit Windows, read with the file-system redirection off).
PatchVerdict ReadKb958644Status();

// "installed", "missing", "not affected", "unknown".
const wchar_t* PatchStateWord(PatchState state);
// The line the dialog shows after a scan and at the end of the clean-finished box.
const wchar_t* PatchStatusLine(PatchState state);
