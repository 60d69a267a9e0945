#pragma once
// The worm-thread step of a scan: which processes are searched, and the one finding it reports.
#include <string>
#include <utility>
#include <vector>

// The (image name, command filter) pairs that are searched, in order: netsvcs service hosts, then
// the service control manager.
std::vector<std::pair<std::wstring, std::wstring>> WormThreadTargets();
