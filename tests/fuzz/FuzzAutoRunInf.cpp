// The autorun.inf reader of the drive walk: any bytes as the file. A file within the cap is always
// read; every action holds no line break or NUL, and every rundll32 target it yields stays on the
// drive: relative, without a drive, stream, "." or ".." part.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "grimlet/common/AutoRunInf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    AutoRunInf::Contents contents;
    std::string problem;
    const bool read = AutoRunInf::Parse(bytes, contents, problem);
    if (read != (size <= AutoRunInf::kMaxBytes)) abort();
    if (!read && (problem.empty() || !contents.actions.empty())) abort();
    for (const AutoRunInf::Action& action : contents.actions) {
        if (action.key.empty() || action.command.find_first_of(std::u16string(u"\r\n\0", 3)) != std::u16string::npos)
            abort();
        std::u16string target;
        if (!AutoRunInf::Rundll32Target(action.command, u'E', target, problem)) {
            if (problem.empty() || !target.empty()) abort();
            continue;
        }
        if (target.empty() || target[0] == u'\\' || target.back() == u'\\' ||
            target.find_first_of(u":/%*?<>|\"") != std::u16string::npos)
            abort();
        const std::u16string wrapped = u"\\" + target + u"\\";
        if (wrapped.find(u"\\.\\") != std::u16string::npos || wrapped.find(u"\\..\\") != std::u16string::npos ||
            wrapped.find(u"\\\\") != std::u16string::npos)
            abort();
    }
    return 0;
}
