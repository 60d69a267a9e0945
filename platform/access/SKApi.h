#pragma once
#include "platform/access/SKWinApiFile.h"
#include "platform/access/SKWinApiRegistry.h"

// The process-wide access object: which file and registry implementation all callers use. Created on
// first use, destroyed by the environment's tear-down and created again by the next use, so callers
// fetch `file` and `registry` through Instance() each time and keep no pointer across a tear-down.
class SKApi {
public:
    static SKApi* Instance();
    // Destroys the current access object (if any); the next Instance() creates a fresh one.
    static void Destroy();

    SKApiFile* file = nullptr;
    SKApiRegistry* registry = nullptr;

    SKApi(const SKApi&) = delete;
    SKApi& operator=(const SKApi&) = delete;

private:
    SKApi();
    ~SKApi() = default;
    void EnterWin32Mode();

    SKWinApiFile winFile;
    SKWinApiRegistry winRegistry;
};
