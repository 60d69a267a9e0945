#pragma once
// Learns which return address the system's thread start-up code leaves near the top of a fresh
// thread's stack, so that the same slot can be recognised on the stacks of other threads, and proves
// the layout on threads of the plug-in's own process before the search relies on it.

#include "grimlet/threads/OsInfo.h"

class StackLayoutLearner;

// Reads the OS version and calibrates and proves the thread-stack test; called once from Initialize.
void SetUpOsInfo();

// The mark that the calling thread's own stack shows under the constants of `layout`, or 0 when it
// shows none; the caller decides where it goes. Before Vista, mode 1 reads the markA slot (on the
// thread that runs Initialize) and mode 2 the markB slot (on a thread made for the purpose), and a
// word counts only when it is a return address into ntdll or kernel32 code. From Vista on both modes
// look for one return address into ntdll, which serves both marks.
StackWord CalibrateStack(const OsInfo& layout, int mode);

// Which layout the worm-thread search uses: the constants table with its calibration, one learned
// from probe threads, or none (the search then recognises no thread).
enum class StackLayoutSource { Table, Learned, None };

// Checks the layout now in OsInfo on probe threads of this process, through the very reading the
// search uses. When it does not give their start back, learns one from the probes' stacks with
// `learner` and keeps it only when fresh probes confirm it; failing that, clears the marks. Logs the
// layout in use, and an error when there is none.
StackLayoutSource ProveStackLayout(const StackLayoutLearner& learner);
