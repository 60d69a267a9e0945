#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/IUiProgressCB.h"
#include "plugin_host/ICleanReporter.h"
#include "plugin_host/SKItemCleaner.h"

class SKItemManager;

// Key offset of file cleaners in the cleaner map; general cleaners sit below it.
constexpr int32_t kFileCleanerKeyBase = 0x200000;

// Turns the items the user chose into clean requests for the cleaners of the plug-ins that found
// them, runs every cleaner, and records each outcome on its item and on the page.
class SKCleanManager : public ICleanReporter {
public:
    // Whether files on a drive ("C:") can be changed at all.
    using DriveWritability = std::function<bool(const std::wstring& drive)>;

    // Both are borrowed. `writable` empty: ask the system (and cache the answer per drive).
    SKCleanManager(SKItemManager* items, IUiProgressCB* ui, DriveWritability writable = nullptr);
    ~SKCleanManager() override;
    SKCleanManager(const SKCleanManager&) = delete;
    SKCleanManager& operator=(const SKCleanManager&) = delete;

    // Takes ownership of `cleaner`.
    void AddCleaner(int32_t key, SKItemCleaner* cleaner);
    // Organises the chosen items into requests, then runs every cleaner in key order.
    void Clean();

    // ICleanReporter
    void ReportModuleUsage(const std::wstring& modulePath, const std::wstring& usedBy) override;
    void ReportCleanResult(int32_t pluginId, const CleanRequest* request, CleanResult* result) override;
    void ReportActivity(int32_t, int32_t, const std::wstring&) override {}
    void ReportActivityEx(int32_t, const std::wstring&, int32_t, int32_t, const std::wstring&, const std::wstring&,
                          const std::wstring&, const std::wstring&) override {}

private:
    void OrganizeList();

    std::map<int32_t, std::unique_ptr<SKItemCleaner>> cleaners_;
    SKItemManager* items_;
    IUiProgressCB* ui_;
    DriveWritability writable_;
};
