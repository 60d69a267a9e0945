#pragma once
// Runs a program under the debugging interface and catches every attempt it, or any process it starts,
// makes to create a window or to show a message box or dialog: a breakpoint sits at the entry of each
// user32 function that does so, and at win32u's NtUserCreateWindowEx, through which every window
// creation passes where that library exists (Wine, Windows 10 and later). An attempt is caught even
// when it would fail (a process without a display), and nothing is missed between polls.
// The first attempt caught ends every watched process at once: no window can appear, and the watch
// never has to step a thread over a breakpoint, which an emulated processor (qemu-user running 32-bit
// Wine) does not do faithfully.
#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

class WindowCreationWatch {
public:
    struct Attempt {
        DWORD processId = 0;
        std::string function;  // "user32.dll!MessageBoxW", "win32u.dll!NtUserCreateWindowEx", ...
    };
    struct Outcome {
        // -1000: could not start; -1001: timed out; kEndedAtAttempt: ended at the first attempt caught
        int exitCode = -1000;
        std::vector<Attempt> attempts;
        int breakpointsArmed = 0;  // over all processes; 0 means the watch saw no user32 at all
        // On a time-out: the processes still there, each thread's instruction pointer and the return
        // addresses found near the top of its stack, as module+offset.
        std::string stuck;
    };

    static constexpr int kEndedAtAttempt = -1002;

    static Outcome Run(const std::wstring& exe, const std::wstring& arguments, const std::wstring& currentDirectory,
                       DWORD timeoutMs = 300000);

    static std::string Describe(const std::vector<Attempt>& attempts);
};

}  // namespace testsupport
