// Placeholders for steps whose real code has not landed yet: they find nothing and remove nothing.
// Each real implementation deletes its placeholder here.
#include "grimlet/CleanSteps.h"
#include "grimlet/GrimletSteps.h"

void SetUpOsInfo() {}

void ScanWormThreads(std::vector<ScanRecord>&) {}

void ScanApiHooks(std::vector<ScanRecord>&) {}

bool TerminateWormThreads() { return false; }

bool RepairApiHookRecord(const ScanRecord&) { return false; }
