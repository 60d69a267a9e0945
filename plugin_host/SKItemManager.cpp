#include "plugin_host/SKItemManager.h"

#include <windows.h>

#include <algorithm>

#include "platform/system/OrdinalName.h"
#include "plugin_host/SKFile.h"

SKItemManager::SKItemManager() = default;
SKItemManager::~SKItemManager() = default;

void SKItemManager::ReportModuleUsage(const std::wstring& modulePath, const std::wstring& usedBy) {
    moduleUsage_[modulePath].insert(usedBy);
}

int32_t SKItemManager::FileResult(ScanResult result) {
    const int32_t id = nextResultId_++;
    result.id = id;
    results_[id] = std::move(result);
    return id;
}

ScanResult* SKItemManager::FindResult(int32_t id) {
    auto found = results_.find(id);
    return found == results_.end() ? nullptr : &found->second;
}

int32_t SKItemManager::SourceValueOf(const FindingRecord& finding) {
    if (finding.itemType == ItemType::File) return AddTargetFile(finding.name);
    if (finding.itemType == ItemType::Policy) return FindPolicy(finding.name).value_or(-1);
    return -1;
}

ScanResult& SKItemManager::CreateResultFromFinding(const FindingRecord& finding) {
    ScanResult result;
    result.excludedFromCleaning = 1;
    result.name = finding.name;
    result.severity = finding.severity;
    result.subRank = finding.subRank;
    result.detail = finding.detail;
    if (finding.severity == 2) {
        result.handlerName = result.threatName = result.threatClass = L"Suspicious";
    } else if (finding.severity == 3 || finding.severity == 4) {
        result.handlerName = finding.handlerName;
        result.threatName = finding.threatName;
        result.threatClass = finding.threatClass;
    }
    result.count = finding.count;
    result.itemType = finding.itemType;
    result.sourceValue = SourceValueOf(finding);
    if (result.itemType == ItemType::File) {
        if (auto file = FileById(result.sourceValue)) {
            const unsigned char* sha1 = nullptr;
            if (file->GetSha1(&sha1) == 1 && sha1) std::copy(sha1, sha1 + 20, result.fileSha1);
        }
    }
    const int32_t id = FileResult(std::move(result));
    return results_[id];
}

std::wstring SKItemManager::PathKey(const std::wstring& path) { return UpperCaseOrdinal(path); }

int32_t SKItemManager::AddTargetFile(const std::wstring& path) {
    const std::wstring key = PathKey(path);
    auto known = fileIdsByPath_.find(key);
    if (known != fileIdsByPath_.end()) return known->second;
    const int32_t id = static_cast<int32_t>(files_.size());
    files_.push_back({id, path, std::make_shared<SKFile>(path)});
    fileIdsByPath_[key] = id;
    return id;
}

std::optional<int32_t> SKItemManager::FindTargetFile(const std::wstring& path) const {
    auto known = fileIdsByPath_.find(PathKey(path));
    if (known == fileIdsByPath_.end()) return std::nullopt;
    return known->second;
}

std::shared_ptr<SKFile> SKItemManager::FileById(int32_t id) const {
    if (id < 0 || static_cast<std::size_t>(id) >= files_.size()) return nullptr;
    return files_[id].file;
}

int32_t SKItemManager::AddTargetDirectory(const std::wstring& path, int32_t recursive) {
    const int32_t key = static_cast<int32_t>(directories_.size());
    directories_[key] = TargetDirectory{key, path, recursive, -1};
    return key;
}

int32_t SKItemManager::AddPolicy(const std::wstring& name) {
    auto known = policies_.find(name);
    if (known != policies_.end()) return known->second;
    const int32_t id = static_cast<int32_t>(policies_.size());
    policies_[name] = id;
    return id;
}

std::optional<int32_t> SKItemManager::FindPolicy(const std::wstring& name) const {
    auto known = policies_.find(name);
    if (known == policies_.end()) return std::nullopt;
    return known->second;
}
