#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/IDetectionEngine.h"
#include "engine/IUiProgressCB.h"
#include "platform/log/Lock.h"

class ScanReport;

// One scan, or one scan and the clean of everything it found, without a window: the engine's
// callbacks land here instead of in the detection page, and become report records. The engine is
// driven as the page drives it: Initialize with this callback, one whole scan, then, for a clean,
// every reported item chosen in the order it was reported, as the page's automatic cleaning does.
class UnattendedRun final : public IUiProgressCB {
public:
    enum class Work { Scan, Clean };

    // The counts behind the SUMMARY record and the exit code.
    struct Summary {
        int found = 0;
        int removed = 0;   // cleaned now
        int failed = 0;    // not removed (a failed outcome, or none at all)
        int restart = 0;   // removed once the machine restarts
        int unchecked = 0; // objects the scan could not check (never threats, never cleaned)
        // Settings (AutoRun left on): cleaned with the threats, counted apart from them.
        int settingsChanged = 0;
        int settingsFailed = 0;
    };

    // Exit codes of an unattended run that got as far as the engine.
    static constexpr int kNothingFound = 0;
    static constexpr int kThreatsFound = 1;
    static constexpr int kAllRemoved = 2;
    static constexpr int kRemovedAfterRestart = 3;
    static constexpr int kNotAllRemoved = 4;
    // Nothing found, or everything removed, but not everything could be checked: replaces 0 and 2 only.
    static constexpr int kNotAllChecked = 5;
    static constexpr int kNotPrepared = -1;

    UnattendedRun(IDetectionEngine& engine, ScanReport& report) : engine_(engine), report_(report) {}

    // Records FOUND, UNCHECKED, NOTE and CLEANED lines (and ERROR when the engine cannot start) and
    // returns the exit code: 0, 1, 2, 3, 4, 5, or -1 when the engine could not be started. The engine runs on a worker
    // thread of its own, as the dialog's does, while the calling thread waits.
    int Run(Work work);
    const Summary& GetSummary() const { return summary_; }

    static int ExitCode(Work work, const Summary& summary);

    // IUiProgressCB, called on the engine's scan thread and on the thread that cleans.
    int OnNotify(int32_t code) override;
    void OnItemFound(const FoundItemRecord& found) override;
    int ReportCleanResult(const CleanOutcomeRecord& result) override;

private:
    struct WorkerStart;
    static DWORD WINAPI WorkerProc(void* parameter);
    int RunHere(Work work);
    void RecordCleanOutcomes();

    IDetectionEngine& engine_;
    ScanReport& report_;
    CCriticalSectionLock lock_;
    std::vector<FoundItemRecord> found_;   // threats, in the order reported
    std::vector<FoundItemRecord> settings_;  // settings that leave the machine open: changed by a clean
    std::map<int32_t, CleanOutcomeRecord> outcomes_;  // item id -> its last outcome
    Summary summary_;
};
