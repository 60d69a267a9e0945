#include "grimlet/tasks/JobFile.h"

namespace {

constexpr uint16_t kFileVersion = 1;
constexpr std::size_t kFileVersionOffset = 2;
constexpr std::size_t kNameOffsetField = 20;
constexpr std::size_t kTriggerOffsetField = 22;
constexpr std::size_t kStatusOffset = 44;
constexpr std::size_t kFlagsOffset = 48;

// Walks the bytes once, front to back; every read checks what is left first, so that a count can
// never lead it past the end.
class JobReader {
public:
    JobReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t Position() const { return at_; }
    void Seek(std::size_t at) { at_ = at; }

    bool U16(uint16_t& value) {
        if (size_ - at_ < 2) return false;
        value = static_cast<uint16_t>(data_[at_] | (data_[at_ + 1] << 8));
        at_ += 2;
        return true;
    }
    bool Skip(std::size_t count) {
        if (size_ - at_ < count) return false;
        at_ += count;
        return true;
    }
    // A counted string: its length in UTF-16 units, the closing NUL included (0 for none), then the units.
    bool String(std::u16string& text, std::string& problem, const char* what) {
        uint16_t units = 0;
        if (!U16(units)) return Fail(problem, what, "length lies past the end of the file");
        if (size_ - at_ < static_cast<std::size_t>(units) * 2) return Fail(problem, what, "runs past the end of the file");
        text.clear();
        for (uint16_t i = 0; i < units; ++i) text.push_back(static_cast<char16_t>(data_[at_ + 2 * i] | (data_[at_ + 2 * i + 1] << 8)));
        at_ += static_cast<std::size_t>(units) * 2;
        if (units == 0) return true;
        if (text.back() != u'\0') return Fail(problem, what, "is not NUL-terminated");
        text.pop_back();
        if (text.find(u'\0') != std::u16string::npos) return Fail(problem, what, "holds a NUL inside");
        return true;
    }

private:
    static bool Fail(std::string& problem, const char* what, const char* why) {
        problem = std::string(what) + " " + why;
        return false;
    }
    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

uint32_t U32At(const uint8_t* data, std::size_t at) {
    return static_cast<uint32_t>(data[at]) | (static_cast<uint32_t>(data[at + 1]) << 8) |
           (static_cast<uint32_t>(data[at + 2]) << 16) | (static_cast<uint32_t>(data[at + 3]) << 24);
}

uint16_t U16At(const uint8_t* data, std::size_t at) { return static_cast<uint16_t>(data[at] | (data[at + 1] << 8)); }

}  // namespace

namespace JobFile {

bool Parse(const uint8_t* data, std::size_t size, JobFileTask& task, std::string& problem) {
    task = JobFileTask();
    problem.clear();
    if (size > kMaxFileBytes) {
        problem = "larger than " + std::to_string(kMaxFileBytes) + " bytes";
        return false;
    }
    if (data == nullptr || size < kApplicationNameOffset) {
        problem = "cut short in its fixed section";
        return false;
    }
    if (U16At(data, kFileVersionOffset) != kFileVersion) {
        problem = "file version " + std::to_string(U16At(data, kFileVersionOffset)) + " is not a task file's";
        return false;
    }
    // The fixed section names where the application name's length lies. Anything but the place right
    // after the running-instance count would let two readers see two different commands.
    if (U16At(data, kNameOffsetField) != kApplicationNameOffset) {
        problem = "application name is said to lie at offset " + std::to_string(U16At(data, kNameOffsetField));
        return false;
    }
    task.productVersion = U16At(data, 0);
    task.status = U32At(data, kStatusOffset);
    task.flags = U32At(data, kFlagsOffset);
    const std::size_t triggerOffset = U16At(data, kTriggerOffsetField);

    JobReader reader(data, size);
    reader.Seek(kApplicationNameOffset);
    if (!reader.String(task.applicationName, problem, "application name") ||
        !reader.String(task.parameters, problem, "parameters") ||
        !reader.String(task.workingDirectory, problem, "working directory") ||
        !reader.String(task.author, problem, "author") || !reader.String(task.comment, problem, "comment"))
        return false;
    for (const char* block : {"user data", "reserved data"}) {
        uint16_t bytes = 0;
        if (!reader.U16(bytes) || !reader.Skip(bytes)) {
            problem = std::string(block) + " runs past the end of the file";
            return false;
        }
    }
    if (reader.Position() != triggerOffset) {
        problem = "triggers are said to start at offset " + std::to_string(triggerOffset) + ", not " +
                  std::to_string(reader.Position());
        return false;
    }
    if (!reader.U16(task.triggerCount) || !reader.Skip(static_cast<std::size_t>(task.triggerCount) * kTriggerSize)) {
        problem = "triggers run past the end of the file";
        return false;
    }
    return true;
}

}  // namespace JobFile
