#pragma once
#include <vector>

#include "grimlet/plugin/ScanRecord.h"
#include "grimlet/services/ServiceKeyCheck.h"

// The process-wide service list of the last scan; worm-service records point into it.
const std::vector<ServiceEntry>& ServiceList();

// Refills the process-wide service list and appends one worm-service record per worm service.
void ScanWormServices(std::vector<ScanRecord>& results);

// Refills the service list with `isTrusted` as the signer test and appends one worm-service record per
// entry that shows a hiding sign, in list order.
void ScanWormServicesWith(std::vector<ScanRecord>& results, TrustedSignerTest isTrusted);

// The record of one worm service: its title, its "服务:[...] 文件:[...]" detail and its entry.
ScanRecord MakeWormServiceRecord(const ServiceEntry& entry);

// Runs the cleanup engine for a worm-service record; its plug-in clean outcome (RunMendrelForService).
int CleanWormServiceRecord(const ScanRecord& record);
