// The saved-key reader behind RunMendrel -restore: any bytes as a key file, read as saved service keys
// and as saved AutoRun values (which may hold deletions). What it accepts holds no NUL
// in a name and no key named "." or "..", and must format and read back to the very same keys, values,
// types and bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "grimlet/mendrel/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    std::u16string text;
    // A mutation that breaks the byte-order mark still reaches the parser.
    if (!RegFile::Decode(bytes, text)) {
        for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    std::vector<RegFileKey> keys;
    std::string problem;
    // With deletions allowed (the saved AutoRun values) too, what is read formats and reads back the same.
    std::vector<RegFileKey> withAbsent, withAbsentAgain;
    std::u16string withAbsentText;
    if (RegFile::Parse(text, withAbsent, problem, true) &&
        (!RegFile::Format(withAbsent, withAbsentText, problem) ||
         !RegFile::Parse(withAbsentText, withAbsentAgain, problem, true) || !(withAbsentAgain == withAbsent)))
        abort();
    if (!RegFile::Parse(text, keys, problem)) {
        if (problem.empty()) abort();
        return 0;
    }
    // Never a name a restore could be led out of its key with, nor one Win32 would cut short.
    if (keys.size() > RegFile::kMaxKeys) abort();
    for (const RegFileKey& key : keys) {
        if (key.path.find(u'\0') != std::u16string::npos || (key.path + u'\\').find(u"\\.\\") != std::u16string::npos ||
            (key.path + u'\\').find(u"\\..\\") != std::u16string::npos || key.path.rfind(u".\\", 0) == 0 ||
            key.path.rfind(u"..\\", 0) == 0 || key.path == u"." || key.path == u"..")
            abort();
        for (const RegFileValue& value : key.values)
            if (value.name.find(u'\0') != std::u16string::npos) abort();
    }
    std::u16string written;
    if (!RegFile::Format(keys, written, problem)) abort();  // nothing parsed can hold a line break
    std::vector<RegFileKey> again;
    if (!RegFile::Parse(written, again, problem) || !(again == keys)) abort();
    std::u16string decoded;
    if (!RegFile::Decode(RegFile::Encode(written), decoded) || decoded != written) abort();
    return 0;
}
