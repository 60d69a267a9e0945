#pragma once
// What the worm-thread search knows about the running system: its version, and where on a thread's
// stack the system's thread start-up code leaves a recognisable return address (the mark) and the
// thread's start address (the pick). One process-wide record, filled once by SetUpOsInfo.
#include <cstdint>

#include "grimlet/threads/NativeLayout.h"

struct OsInfo {
    StackWord markA = 0;  // calibrated stack value of the first kind; 0 until calibrated
    StackWord markB = 0;  // of the second kind
    int32_t depthA = 0;   // stack words from the anchor down to where markA is expected
    int32_t depthB = 0;
    int32_t pickA = 0;    // stack words from the anchor down to the start address when markA matched
    int32_t pickB = 0;
    uint32_t versionCode = 0;  // DescribeOs's product code; 0 when unknown
    uint32_t majorVersion = 0;

    // Vista, Server 2008 and Windows 7: the stack's top words are zero and the anchor is found by a walk.
    bool StartsWithZeroWalk() const;
    // False when no layout was proven: no stack can then show a mark, and the search recognises nothing.
    bool HasStackMarks() const { return markA != 0 || markB != 0; }
    // Picks the constants for this system: `underWow64` is a 32-bit process on 64-bit Windows.
    void SetStackConstants(bool underWow64);

    static OsInfo& Instance();
};
