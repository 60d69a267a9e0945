#pragma once
// Decides whether a name read from an archive may be joined to the target folder. Kept free of Win32
// types so that it can be exercised on any input.
#include <cstddef>

enum class EntryNameVerdict {
    Inside,          // joined to the folder, the name stays inside it
    Rooted,          // starts with a separator: absolute, UNC or device path
    HasColon,        // a drive ("C:") or an alternate data stream ("file:stream")
    ParentStep,      // a ".." component (or dots and spaces that Windows reads as "..")
    DeviceName,      // a component that Windows opens as a device (CON, NUL, COM1, ...)
};

// `name` holds `length` UTF-16 code units; "/" and "\" both separate components.
EntryNameVerdict CheckArchiveEntryName(const char16_t* name, std::size_t length);
