#pragma once

// Brings up COM, the common controls and the UI module, runs the detection page modally and tears
// them down again. Returns the dialog's result.
int RunDetectionDialog();
