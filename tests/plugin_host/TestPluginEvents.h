#pragma once
// How the test plug-ins (TestPlugin.cpp, built into several small DLLs) tell the test program what
// the host did to them: each DLL looks for this export in the program that loaded it and calls it
// with one line per event, "<dll file name>|<handler name>|<event>".
extern "C" {
typedef void (*TestHostRecordEventFn)(const wchar_t* line);
}
#define TEST_HOST_RECORD_EVENT_EXPORT "TestHostRecordEvent"
