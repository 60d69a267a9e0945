#pragma once
#include <cstdint>
#include <string>

// One threat as the page lists it: the first column, the second column and the item id that the
// page hands back when the user chooses what to clean.
struct FoundItemRecord {
    std::wstring threatName;
    std::wstring description;  // the item's name; the full path for files
    int32_t itemId = -1;
    // Not a threat but information ("InformationFeedBack"): an object the scan could not check (class
    // "Unchecked": the description names it, the threat name says why) or a note (class "Note"). It is
    // never chosen or cleaned, and not counted among the threats.
    bool information = false;
    std::wstring threatClass;
    // Not a threat but a setting that leaves the machine open (class "Setting", such as AutoRun): ticked
    // and cleaned like a threat, by the plug-in that found it, yet never counted among the threats.
    bool setting = false;
};

// One clean outcome for the page. Outcome codes: 1 cleaned, 2 failed, 3 cleaned after a restart;
// 0 for anything else.
struct CleanOutcomeRecord {
    int32_t itemId = -1;
    int32_t outcome = 0;
    int32_t pluginOutcome = 0;  // the plug-in's own code behind it (a failure's reason)
};

// What the engine tells the detection page. The engine calls it on its own threads (the scan thread
// and the page's clean worker); the page updates its controls directly. Slot order is fixed:
// destructor, OnNotify, OnItemFound, ReportCleanResult.
class IUiProgressCB {
public:
    virtual ~IUiProgressCB() = default;
    // Reserved notification; the page answers 1. Neither the scan nor the clean manager calls it.
    virtual int OnNotify(int32_t code) = 0;
    // A new threat that the user can choose to clean.
    virtual void OnItemFound(const FoundItemRecord& found) = 0;
    // The outcome of cleaning one chosen item. Returns 0 when the page knows no such item.
    virtual int ReportCleanResult(const CleanOutcomeRecord& result) = 0;
};
