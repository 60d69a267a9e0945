#pragma once
// The search for threads whose code the worm put into a process: threads whose start address lies in
// memory that belongs to no module of their process.
#include <string>

class OutOfReachProcesses;

// Searches the processes whose base name is `imageName` and whose lower-cased command line contains
// `commandFilter` (an empty text matches everything). Adds each worm thread found to the worm-thread
// list; returns 1 when at least one was found, else 0. Processes out of this process's reach are
// skipped, and counted in `outOfReach` when one is given.
int FindWormThreads(const std::wstring& imageName, const std::wstring& commandFilter,
                    OutOfReachProcesses* outOfReach = nullptr);
