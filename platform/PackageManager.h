#pragma once
#include <string>

// Unpacks the payload carried behind the executable's image into the work folder.
// Returns true when every component is in place.
bool PrepareComponents(const std::wstring& workFolder);
