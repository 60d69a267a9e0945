#pragma once
// The search for threads whose code the worm put into a process: threads whose start address lies in
// private code that belongs to no module of their process (WormThreadProof has the whole test).
#include <string>

#include "grimlet/threads/ModuleLister.h"

class OutOfReachProcesses;

// Searches the processes whose base name is `imageName` and whose lower-cased command line contains
// `commandFilter` (an empty text matches everything). Adds each worm thread found to the worm-thread
// list; returns 1 when at least one was found, else 0. Processes out of this process's reach are
// skipped, and counted in `outOfReach` when one is given. So is, with a log line, a process whose
// module list `lister` cannot give whole.
// Searches the one process `processId` again and adds the worm threads that are not listed yet (those
// that started since the scan). Returns 1 when it added any.
int FindNewWormThreadsIn(DWORD processId);

int FindWormThreads(const std::wstring& imageName, const std::wstring& commandFilter,
                    OutOfReachProcesses* outOfReach = nullptr, const ModuleLister& lister = ModuleLister::System());
