#pragma once
// A scheduled task as the AT service and Task Scheduler 1.0 keep it: one ".job" file in the Tasks
// folder, still written on every version for tasks made through those interfaces (the worm makes its
// tasks over the network through them). The file lies where the worm or a remote caller wrote it, so it
// is read as untrusted bytes: kept free of Win32 types so that the reader can be exercised on any input.
#include <cstddef>
#include <cstdint>
#include <string>

struct JobFileTask {
    uint16_t productVersion = 0;
    uint32_t flags = 0;
    uint32_t status = 0;
    std::u16string applicationName;   // the program the task starts, as stored (may hold %variables%)
    std::u16string parameters;
    std::u16string workingDirectory;
    std::u16string author;
    std::u16string comment;
    uint16_t triggerCount = 0;
};

namespace JobFile {

// The fixed section, then the running-instance count that opens the variable section; the application
// name's length always follows it.
constexpr std::size_t kFixedSectionSize = 68;
constexpr std::size_t kApplicationNameOffset = kFixedSectionSize + 2;
constexpr std::size_t kTriggerSize = 48;
// Far beyond any task (a few hundred bytes, a little user data): a larger file is not read.
constexpr std::size_t kMaxFileBytes = 256u << 10;

// Reads the fixed section and the variable section up to and including the triggers. False, with the
// reason, for a file that is cut short, larger than kMaxFileBytes, of another file version, whose
// application name does not sit where the variable section puts it, whose counts point past its end,
// whose trigger table does not start where the fixed section says, or whose strings are not
// NUL-terminated or hold a NUL inside (a reader that stops there would see another command than one
// that does not). A job signature or other bytes after the triggers are left unread.
bool Parse(const uint8_t* data, std::size_t size, JobFileTask& task, std::string& problem);

}  // namespace JobFile
