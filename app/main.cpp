#include <windows.h>

#include "app/StartUp.h"

// The command line is not read: the tool takes no arguments.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return startup::Run(); }
