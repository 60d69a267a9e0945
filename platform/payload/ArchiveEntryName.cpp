#include "platform/payload/ArchiveEntryName.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

char16_t ToUpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// Windows drops trailing dots and spaces from a component, so ". ." and "... " can both end up
// meaning "..". No real file is named with dots and spaces alone and two dots or more.
bool IsParentStep(const char16_t* component, std::size_t length) {
    std::size_t dots = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (component[i] == u'.') {
            ++dots;
        } else if (component[i] != u' ') {
            return false;
        }
    }
    return dots >= 2;
}

bool EqualsAscii(const char16_t* text, std::size_t length, const char* ascii) {
    std::size_t i = 0;
    for (; i < length && ascii[i] != '\0'; ++i) {
        if (ToUpperAscii(text[i]) != static_cast<char16_t>(ascii[i])) return false;
    }
    return i == length && ascii[i] == '\0';
}

// "NUL", "nul.txt" and "COM1 " all open the device, in every folder.
bool IsDeviceName(const char16_t* component, std::size_t length) {
    std::size_t base = 0;
    while (base < length && component[base] != u'.') ++base;
    while (base > 0 && component[base - 1] == u' ') --base;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (EqualsAscii(component, base, device)) return true;
    }
    if (base == 4 && component[3] >= u'1' && component[3] <= u'9') {
        if (EqualsAscii(component, 3, "COM") || EqualsAscii(component, 3, "LPT")) return true;
    }
    return false;
}

}  // namespace

EntryNameVerdict CheckArchiveEntryName(const char16_t* name, std::size_t length) {
    if (length > 0 && IsSeparator(name[0])) return EntryNameVerdict::Rooted;
    for (std::size_t i = 0; i < length; ++i) {
        if (name[i] == u':') return EntryNameVerdict::HasColon;
    }
    std::size_t start = 0;
    while (start <= length) {
        std::size_t end = start;
        while (end < length && !IsSeparator(name[end])) ++end;
        const char16_t* component = name + start;
        const std::size_t componentLength = end - start;
        if (IsParentStep(component, componentLength)) return EntryNameVerdict::ParentStep;
        if (IsDeviceName(component, componentLength)) return EntryNameVerdict::DeviceName;
        start = end + 1;
    }
    return EntryNameVerdict::Inside;
}
