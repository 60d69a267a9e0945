#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "engine/IUiProgressCB.h"
#include "plugin_host/ISKFileScanner.h"
#include "plugin_host/ISKScanner.h"
#include "plugin_host/IScanCommunicator.h"

class SKItemManager;
struct ScanResult;

// Thrown inside the scan pass once a stop was requested.
class scan_stop_error : public std::exception {
public:
    const char* what() const noexcept override { return "scan stopped"; }
};

// Which drives exist and of what type; the scan manager asks it when it picks its target drives.
class IDriveProbe {
public:
    virtual ~IDriveProbe() = default;
    virtual DWORD LogicalDrives() = 0;
    virtual UINT DriveType(const std::wstring& root) = 0;
};

// Runs one scan: every general scanner once, then the file scanners over the explicit target files
// and every file of the target directories. Findings come back through IScanCommunicator, are
// merged into the item manager's results, and new threats go to the page. The scan runs on a thread
// of its own while the caller's thread waits as a watchdog that times each file's scan.
class SKScanManager : public IScanCommunicator {
public:
    // Both are borrowed. `drives` null: the real drives of this machine.
    SKScanManager(SKItemManager* items, IUiProgressCB* ui, std::shared_ptr<IDriveProbe> drives = nullptr);
    ~SKScanManager() override;
    SKScanManager(const SKScanManager&) = delete;
    SKScanManager& operator=(const SKScanManager&) = delete;

    void AddGeneralScanner(int32_t index, std::shared_ptr<ISKGeneralScanner> scanner);
    void AddFileScanner(int32_t index, std::shared_ptr<ISKFileScanner> scanner);

    // Runs a whole scan; returns when the scan thread has ended.
    void Scan();
    // Ends the scan at its next check; cancels the running general scanner. Any thread.
    void Stop();

    // Adds every fixed drive from C: to Z: as a recursive target directory, when some scanner
    // wants the target files at all.
    void EnumerateTargets();

    int32_t TotalFiles() const { return totalFiles_; }
    int32_t FilesDone() const { return filesDone_; }
    bool Finished() const { return finished_ != 0; }
    // The watchdog's ticks (one a second) since the file now being scanned was started.
    int32_t TicksOfCurrentFile() const { return tickCount_; }

    // IScanCommunicator
    void ReportModuleUsage(const std::wstring& modulePath, const std::wstring& usedBy) override;
    void ReportActivity(int32_t code, int32_t value, const std::wstring& text) override;
    void ReportFinding(const FindingRecord* finding) override;
    void ReportFindingFields(int32_t pluginId, const std::wstring& handlerName, int32_t detectionFlag, int32_t subRank,
                             int32_t sourceValue, int32_t itemType, const std::wstring& name,
                             const std::wstring& threatName, const std::wstring& threatClass,
                             const std::wstring& extraText1, const std::wstring& extraText2) override;
    void ReportActivityEx(int32_t pluginId, const std::wstring& handlerName, int32_t code, int32_t value,
                          const std::wstring& name, const std::wstring& text1, const std::wstring& text2,
                          const std::wstring& text3) override;
    int32_t QueryOption() override { return 0; }
    void Reserved() override {}

private:
    static DWORD WINAPI ScanThreadFunc(LPVOID self);
    void Watch(HANDLE thread);
    void RunScanPass();
    void ScanTargetFiles();
    void ScanDirectory(const std::wstring& root, int32_t recursive);
    void ScanDirectoryFile(const std::wstring& path);
    void CheckStop() const;
    void SignalFileStarted();
    void SignalFileFinished();
    void NotifyPage(const ScanResult& result);

    std::map<int32_t, std::shared_ptr<ISKGeneralScanner>> generalScanners_;
    std::map<int32_t, std::shared_ptr<ISKFileScanner>> targetFileScanners_;
    std::map<int32_t, std::shared_ptr<ISKFileScanner>> directoryFileScanners_;
    SKItemManager* items_;
    IUiProgressCB* ui_;
    std::shared_ptr<IDriveProbe> drives_;
    std::atomic<ISKGeneralScanner*> currentGeneralScanner_{nullptr};
    std::atomic<int32_t> stop_{0};
    int32_t totalFiles_ = 0;
    int32_t filesDone_ = 0;
    int32_t finished_ = 0;
    HANDLE fileStarted_ = nullptr;   // owned by Scan() while it runs
    HANDLE fileFinished_ = nullptr;

    // The watchdog's view of the file being scanned, written by the watchdog thread and read by the
    // scan thread for its time-out lines.
    std::atomic<uint32_t> tickIntervalMs_{1000};
    std::atomic<int32_t> timedOut_{0};
    std::atomic<int32_t> tickCount_{0};
};
