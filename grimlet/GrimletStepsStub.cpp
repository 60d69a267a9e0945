// Placeholders for steps whose real code has not landed yet: they find nothing and remove nothing.
// Each real implementation deletes its placeholder here.
#include "grimlet/GrimletSteps.h"

void SetUpOsInfo() {}

void ScanWormServices(std::vector<ScanRecord>&) {}

void ScanWormThreads(std::vector<ScanRecord>&) {}

void ScanApiHooks(std::vector<ScanRecord>&) {}

bool CleanRecord(const std::vector<ScanRecord>&, uint32_t) { return false; }
