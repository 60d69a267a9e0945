#pragma once
#include <string>

#include "plugin_host/SKFile.h"

// Reads a file's version resource into the version properties of its SKFile.
class SKFilePropertyScanner {
public:
    // Marks the properties scanned whatever the outcome, so that a file is read at most once.
    static void Scan(const std::wstring& path, SKFile::VersionProperties& properties);
};
