#include "app/DialogRunner.h"

// The detection dialog is not built yet: the program ends where the dialog would run.
int RunDetectionDialog() { return 0; }
