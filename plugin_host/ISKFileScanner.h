#pragma once
#include <cstdint>

#include "plugin_host/ISKScanner.h"

// A scanner that looks at one file at a time.
class ISKFileScanner : public ISKScanner {
public:
    virtual int32_t ScansTargetFiles() = 0;     // non-zero: run on the explicit target files
    virtual int32_t ScansDirectoryFiles() = 0;  // non-zero: run on the files of the target directories
};
