#pragma once
// grimlet.dll's one handler: a general handler that scans for the worm and removes what it found.
#include <cstdint>
#include <map>
#include <vector>

#include "grimlet/plugin/OutOfReachProcesses.h"
#include "grimlet/plugin/PluginFoundImpl.h"
#include "grimlet/plugin/ScanRecord.h"
#include "grimlet/tasks/WormTaskDecision.h"
#include "plugin_host/PluginInterface.h"

// The steps the handler runs; the product's are those of GrimletSteps.h and EnablePrivilege.h.
struct PluginSteps {
    bool (*enablePrivilege)(const wchar_t* name);
    void (*setUpOsInfo)();
    void (*scanWormServices)(std::vector<ScanRecord>& results);
    void (*scanWormThreads)(std::vector<ScanRecord>& results, OutOfReachProcesses& outOfReach);
    void (*scanApiHooks)(std::vector<ScanRecord>& results, OutOfReachProcesses& outOfReach);
    int (*cleanRecord)(const std::vector<ScanRecord>& results, uint32_t index);  // a plug-in clean outcome
    // Undoes the hooks of one process (the records all name it); one result per record. When null,
    // each hook record goes through cleanRecord.
    std::vector<bool> (*repairHooks)(const std::vector<const ScanRecord*>& records) = nullptr;
    // Appends the AutoRun record when AutoRun is not off for good; none when null.
    void (*scanAutoRun)(std::vector<ScanRecord>& results) = nullptr;
    // The worm's copies on removable and network drives, and its scheduled tasks, judged against the
    // worm DLLs of the service records found so far; none when null.
    std::vector<ProvenWormDll> (*proveWormDlls)(const std::vector<ScanRecord>& results) = nullptr;
    void (*scanDriveCopies)(const std::vector<std::string>& provenSha1, std::vector<ScanRecord>& results) = nullptr;
    void (*scanWormTasks)(const std::vector<ProvenWormDll>& proven, std::vector<ScanRecord>& results) = nullptr;

    static PluginSteps Product();
};

class PluginGeneralImpl final : public IPluginGeneralHandler {
public:
    static constexpr wchar_t kName[] = L"GRIMLET CLEANER";
    static constexpr wchar_t kThreatClass[] = L"Virus";
    // Objects that are not threats go to the host as the fixed item type "InformationFeedBack", their
    // class telling what they are: an object that could not be checked, or a note.
    static constexpr int kInformationFeedBackType = 11;
    static constexpr wchar_t kUncheckedClass[] = L"Unchecked";
    static constexpr wchar_t kNoteClass[] = L"Note";
    // A weakness of a healthy machine, not a threat: the plug-in's own type, so that the host routes it
    // to this cleaner, and this class, so that the host never counts it.
    static constexpr wchar_t kSettingClass[] = L"Setting";

    // The process-wide handler, created on first use.
    static PluginGeneralImpl* Get();

    explicit PluginGeneralImpl(const PluginSteps& steps) : steps_(steps) {}
    ~PluginGeneralImpl() = default;
    PluginGeneralImpl(const PluginGeneralImpl&) = delete;
    PluginGeneralImpl& operator=(const PluginGeneralImpl&) = delete;

    int SK_PLUGIN_CALL GetId() override;
    const wchar_t* SK_PLUGIN_CALL GetName() override { return kName; }
    int SK_PLUGIN_CALL QueryInterface(const wchar_t* name, void** out) override;
    void SK_PLUGIN_CALL Release() override;
    int SK_PLUGIN_CALL Initialize() override;
    void SK_PLUGIN_CALL SetReporter(IPluginReporter* reporter) override { reporter_ = reporter; }
    void SK_PLUGIN_CALL Scan() override;
    void SK_PLUGIN_CALL Clean(const int* foundIds, unsigned int count) override;

private:
    // The chosen findings in the order of their removal: every hook first, grouped by process, so that
    // no hook restarts a worm thread once the threads are ended; then the threads, so that no running
    // worm writes its copy again; then the copies on drives and the tasks, which the engine proves
    // against the service DLL and so must go before it; then the rest in the order chosen.
    std::vector<std::vector<int>> RemovalOrder(const int* foundIds, unsigned int count);
    void Report(int id, int outcome);

    PluginSteps steps_;
    IPluginReporter* reporter_ = nullptr;      // the host's; not owned
    std::map<int, PluginFoundImpl> found_;     // every finding reported so far, for Clean
};
