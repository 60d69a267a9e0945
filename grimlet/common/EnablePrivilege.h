#pragma once

// Enables one privilege (e.g. L"SeDebugPrivilege") in the process token. True when the system
// accepted the request; a privilege the token does not hold is not detected.
bool EnablePrivilege(const wchar_t* name);
