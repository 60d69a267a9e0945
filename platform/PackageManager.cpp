#include "platform/PackageManager.h"

// The payload is not packed yet: there is nothing to unpack.
bool PrepareComponents(const std::wstring&) { return true; }
