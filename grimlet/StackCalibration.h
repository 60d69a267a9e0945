#pragma once
// Learns which return address the system's thread start-up code leaves near the top of a fresh
// thread's stack, so that the same slot can be recognised on the stacks of other threads.

// Mode 1 calibrates markA on the calling thread; mode 2 markB (before Vista it runs on a thread made
// for the purpose). From Vista on both modes calibrate both marks from one return address into ntdll.
void CalibrateStack(int mode);
