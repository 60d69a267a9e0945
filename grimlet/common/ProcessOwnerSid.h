#pragma once
#include <windows.h>

// The owner SID of this process's own process object, read once and kept until the process ends.
// Null when the system refused to tell it.
PSID ProcessOwnerSid();
