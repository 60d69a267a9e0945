#pragma once
// Task files as the Task Scheduler writes them, for the tests that read, judge and find scheduled tasks.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct JobFileFields {
    std::u16string application = u"rundll32.exe";
    std::u16string parameters;
    std::u16string workingDirectory;
    std::u16string author = u"WORKGROUP\\Administrator";
    std::u16string comment;
    std::vector<uint8_t> userData;
    uint16_t triggers = 1;
};

inline void PutU16(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

inline void PutCounted(std::vector<uint8_t>& bytes, const std::u16string& text) {
    PutU16(bytes, static_cast<uint16_t>(text.size() + 1));
    for (char16_t c : text) PutU16(bytes, c);
    PutU16(bytes, 0);
}

// The fixed section (version 1, the name's length at 70, the trigger offset filled in), the five
// strings, the user data, 8 reserved bytes and `triggers` zeroed triggers.
inline std::vector<uint8_t> JobFileBytes(const JobFileFields& fields = JobFileFields()) {
    std::vector<uint8_t> bytes(68, 0);
    bytes[0] = 0x01; bytes[1] = 0x05;  // product version 5.1
    bytes[2] = 0x01;                    // file version 1
    bytes[20] = 70;
    PutU16(bytes, 0);  // running instances
    for (const std::u16string* text : {&fields.application, &fields.parameters, &fields.workingDirectory,
                                       &fields.author, &fields.comment})
        PutCounted(bytes, *text);
    PutU16(bytes, static_cast<uint16_t>(fields.userData.size()));
    bytes.insert(bytes.end(), fields.userData.begin(), fields.userData.end());
    PutU16(bytes, 8);
    bytes.insert(bytes.end(), 8, 0);
    bytes[22] = static_cast<uint8_t>(bytes.size());
    bytes[23] = static_cast<uint8_t>(bytes.size() >> 8);
    PutU16(bytes, fields.triggers);
    bytes.insert(bytes.end(), fields.triggers * 48u, 0);
    return bytes;
}

}  // namespace testsupport
