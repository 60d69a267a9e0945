#pragma once
// The page as the engine sees it, recording what the engine tells it.
#include <vector>

#include "engine/IUiProgressCB.h"

class RecordingUi : public IUiProgressCB {
public:
    int OnNotify(int32_t) override { return 1; }
    void OnItemFound(const FoundItemRecord& found) override { this->found.push_back(found); }
    int ReportCleanResult(const CleanOutcomeRecord& result) override {
        outcomes.push_back(result);
        return 1;
    }

    std::vector<int32_t> FoundIds() const {
        std::vector<int32_t> ids;
        for (const auto& item : found) ids.push_back(item.itemId);
        return ids;
    }
    // Outcome per item id, -1 when none was reported; fails loudly on a second report for one id.
    int32_t OutcomeOf(int32_t itemId) const {
        int32_t outcome = -1;
        for (const auto& reported : outcomes) {
            if (reported.itemId != itemId) continue;
            if (outcome != -1) return -2;
            outcome = reported.outcome;
        }
        return outcome;
    }

    std::vector<FoundItemRecord> found;
    std::vector<CleanOutcomeRecord> outcomes;
};
