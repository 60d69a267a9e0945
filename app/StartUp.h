#pragma once
#include <string>

// The program's start-up and shutdown around the detection dialog.
namespace startup {

// The exit code of a start while another Tidewash run is in progress: nothing was done.
constexpr int kAlreadyRunning = 170;  // ERROR_BUSY

// Runs the whole program and returns its exit code: -1 when the components cannot be prepared,
// kAlreadyRunning when another run is in progress, otherwise the dialog's result.
int Run();

// The box "初始化组件失败"; returns -1, the exit code that goes with it.
int ShowPrepareFailed();

}  // namespace startup
