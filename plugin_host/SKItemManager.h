#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "plugin_host/CleanRequestList.h"
#include "plugin_host/CleanResult.h"
#include "plugin_host/FindingRecord.h"
#include "plugin_host/IModuleUsageReporter.h"
#include "plugin_host/ScanResult.h"

class SKFile;

// A folder the scan manager walks.
struct TargetDirectory {
    int32_t key = 0;
    std::wstring path;
    int32_t recursive = 1;
    int32_t expectedFileCount = -1;  // unknown until something counts the files
};

// A file known to the item manager: an explicit scan target and the subject of file items.
struct TargetFile {
    int32_t id = 0;
    std::wstring path;
    std::shared_ptr<SKFile> file;
};

// A finding as it arrived, tagged with the item it was merged into.
struct FindingEntry {
    int32_t resultId;
    FindingRecord finding;
};

// Everything one scan finds and one clean does: detected items with their ids, the files and
// folders to scan, the clean requests and outcomes. One per scan controller; no lock, because the
// page never scans and cleans at the same time.
class SKItemManager : public IModuleUsageReporter {
public:
    SKItemManager();
    ~SKItemManager() override;
    SKItemManager(const SKItemManager&) = delete;
    SKItemManager& operator=(const SKItemManager&) = delete;

    // Keeps, per module path, who uses it.
    void ReportModuleUsage(const std::wstring& modulePath, const std::wstring& usedBy) override;
    const std::map<std::wstring, std::set<std::wstring>>& ModuleUsage() const { return moduleUsage_; }

    // Items. FileResult gives `result` the next id (0, 1, 2, ...) and stores it; returns the id.
    int32_t FileResult(ScanResult result);
    ScanResult* FindResult(int32_t id);
    std::map<int32_t, ScanResult>& Results() { return results_; }
    // Makes and files a new item from a finding that matched no existing item.
    ScanResult& CreateResultFromFinding(const FindingRecord& finding);
    // What a finding's item carries as its source value (adds a file-table entry for a new file).
    int32_t SourceValueOf(const FindingRecord& finding);

    // Files, in the order they became known; a file's id is its position.
    int32_t AddTargetFile(const std::wstring& path);  // existing id when the path is known
    std::optional<int32_t> FindTargetFile(const std::wstring& path) const;
    const std::vector<TargetFile>& TargetFiles() const { return files_; }
    std::shared_ptr<SKFile> FileById(int32_t id) const;

    // Folders, by key (the number of folders added before).
    int32_t AddTargetDirectory(const std::wstring& path, int32_t recursive);
    std::map<int32_t, TargetDirectory>& TargetDirectories() { return directories_; }

    // Named policy entries (item type 6).
    int32_t AddPolicy(const std::wstring& name);
    std::optional<int32_t> FindPolicy(const std::wstring& name) const;

    void AddFinding(int32_t resultId, const FindingRecord& finding) { findings_.push_back({resultId, finding}); }
    const std::vector<FindingEntry>& Findings() const { return findings_; }

    CleanRequestList& CleanRequests() { return cleanRequests_; }
    void AddCleanResult(const CleanResult& result) { cleanResults_.push_back(result); }
    const std::vector<CleanResult>& CleanResults() const { return cleanResults_; }

private:
    static std::wstring PathKey(const std::wstring& path);

    std::vector<TargetFile> files_;
    std::map<std::wstring, int32_t> fileIdsByPath_;  // keyed case-folded: Windows paths ignore case
    std::map<int32_t, TargetDirectory> directories_;
    std::map<std::wstring, int32_t> policies_;
    int32_t nextResultId_ = 0;
    std::map<int32_t, ScanResult> results_;
    std::vector<CleanResult> cleanResults_;
    std::vector<FindingEntry> findings_;
    CleanRequestList cleanRequests_;
    std::map<std::wstring, std::set<std::wstring>> moduleUsage_;
};
