// The clean manager: which cleaner gets which item, and how outcomes reach the item and the page.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "engine/SKCleanManager.h"
#include "plugin_host/CleanRequestList.h"
#include "plugin_host/SKItemManager.h"
#include "tests/engine/RecordingUi.h"
#include "tests/support/LogCapture.h"

namespace {

const char kLogName[] = "clean_manager_test.log";

// A cleaner that records the requests meant for it and answers each with a scripted status.
class ScriptedCleaner : public SKItemCleaner {
public:
    ScriptedCleaner(int32_t id, std::wstring name, int32_t base, std::vector<CleanRequest>* seen = nullptr)
        : id_(id), name_(std::move(name)), base_(base), seen_(seen) {}
    int32_t IsAvailable() override { return 1; }
    int32_t GetId() override { return id_; }
    std::wstring GetName() override { return name_; }
    void Clean(CleanRequestList* requests) override {
        ++cleans;
        for (CleanRequest* request = requests->First(); request; request = requests->Next()) {
            if (request->operation != id_ + base_) continue;
            if (seen_) seen_->push_back(*request);
            CleanResult result(request->itemId, name_);
            result.kind = base_ == CleanOperation::FileBase ? L"File" : L"PLUGIN FOR TESTS";
            result.status = status;
            reporter_->ReportCleanResult(id_, request, &result);
        }
    }
    void SetReporter(ICleanReporter* reporter) override { reporter_ = reporter; }

    int32_t status = CleanStatus::Cleaned;
    int cleans = 0;

private:
    int32_t id_;
    std::wstring name_;
    int32_t base_;
    std::vector<CleanRequest>* seen_;
    ICleanReporter* reporter_ = nullptr;
};

int32_t AddItem(SKItemManager& items, int32_t type, const std::wstring& handler, const std::wstring& name,
                int32_t sourceValue = 0, bool chosen = true, const std::wstring& threatClass = L"Virus") {
    ScanResult result;
    result.itemType = type;
    result.handlerName = handler;
    result.name = name;
    result.sourceValue = sourceValue;
    result.threatClass = threatClass;
    result.severity = 4;
    result.excludedFromCleaning = chosen ? 0 : 1;
    return items.FileResult(result);
}

struct CleanFixture {
    explicit CleanFixture(SKCleanManager::DriveWritability writable = [](const std::wstring&) { return true; })
        : manager(&items, &ui, std::move(writable)) {}
    SKItemManager items;
    RecordingUi ui;
    SKCleanManager manager;
};

const int32_t kPluginType = 0x1001;

}  // namespace

TEST(CleanManager, EachChosenItemGoesToTheCleanersNamedLikeItsHandler) {
    CleanFixture f;
    std::vector<CleanRequest> generalSeen, otherSeen, fileSeen;
    f.manager.AddCleaner(0, new ScriptedCleaner(1, L"GRIMLET CLEANER", CleanOperation::GeneralBase, &generalSeen));
    f.manager.AddCleaner(1, new ScriptedCleaner(2, L"OTHER", CleanOperation::GeneralBase, &otherSeen));
    f.manager.AddCleaner(kFileCleanerKeyBase, new ScriptedCleaner(3, L"FileGuard", CleanOperation::FileBase, &fileSeen));
    const int32_t worm = AddItem(f.items, kPluginType, L"grimlet cleaner", L"thread 12", 5);
    AddItem(f.items, kPluginType, L"GRIMLET CLEANER", L"not chosen", 6, false);
    const int32_t file = AddItem(f.items, ItemType::File, L"FILEGUARD", L"C:\\evil.exe", 0);
    AddItem(f.items, kPluginType, L"NOBODY", L"orphan", 7);

    f.manager.Clean();

    ASSERT_EQ(1u, generalSeen.size());
    EXPECT_EQ(worm, generalSeen[0].itemId);
    EXPECT_EQ(1 + CleanOperation::GeneralBase, generalSeen[0].operation);
    EXPECT_EQ(5, generalSeen[0].sourceValue);
    EXPECT_TRUE(generalSeen[0].path.empty());
    EXPECT_TRUE(otherSeen.empty());
    ASSERT_EQ(1u, fileSeen.size());
    EXPECT_EQ(file, fileSeen[0].itemId);
    EXPECT_EQ(3 + CleanOperation::FileBase, fileSeen[0].operation);
    EXPECT_EQ(L"C:\\evil.exe", fileSeen[0].path);
    EXPECT_EQ(2u, f.ui.outcomes.size());
    EXPECT_EQ(1, f.ui.OutcomeOf(worm));
    EXPECT_EQ(1, f.ui.OutcomeOf(file));
    EXPECT_EQ(2u, f.items.CleanResults().size());
    EXPECT_EQ(1, f.items.FindResult(worm)->cleanState);
}

TEST(CleanManager, HandlerNamesMatchWithCaseIgnoredButEveryCharacterCounted) {
    CleanFixture f;
    std::vector<CleanRequest> umlautSeen, hyphenSeen;
    f.manager.AddCleaner(0, new ScriptedCleaner(1, L"\u00C4RGER", CleanOperation::GeneralBase, &umlautSeen));
    f.manager.AddCleaner(1, new ScriptedCleaner(2, L"SPLIT\u00AD", CleanOperation::GeneralBase, &hyphenSeen));
    const int32_t umlaut = AddItem(f.items, kPluginType, L"\u00E4rger", L"a");
    const int32_t hyphen = AddItem(f.items, kPluginType, L"split\u00AD", L"b");
    AddItem(f.items, kPluginType, L"\u00ADsplit", L"c");  // the soft hyphen elsewhere: another name

    f.manager.Clean();

    ASSERT_EQ(1u, umlautSeen.size());
    EXPECT_EQ(umlaut, umlautSeen[0].itemId);
    ASSERT_EQ(1u, hyphenSeen.size());
    EXPECT_EQ(hyphen, hyphenSeen[0].itemId);
}

TEST(CleanManager, FileItemsGoOnlyToFileCleanersAndTrojansToNone) {
    LogCapture log(kLogName);
    CleanFixture f;
    std::vector<CleanRequest> generalSeen, fileSeen;
    // A general cleaner of the same name must not receive file items.
    f.manager.AddCleaner(0, new ScriptedCleaner(1, L"X", CleanOperation::GeneralBase, &generalSeen));
    f.manager.AddCleaner(kFileCleanerKeyBase, new ScriptedCleaner(2, L"X", CleanOperation::FileBase, &fileSeen));
    AddItem(f.items, ItemType::File, L"X", L"C:\\trojan.exe", 0, true, L"Trojan");
    const int32_t virus = AddItem(f.items, ItemType::File, L"X", L"C:\\virus.exe", 1);
    AddItem(f.items, ItemType::Process, L"X", L"proc.exe");

    f.manager.Clean();

    EXPECT_TRUE(generalSeen.empty());
    ASSERT_EQ(1u, fileSeen.size());
    EXPECT_EQ(virus, fileSeen[0].itemId);
    EXPECT_EQ(1u, f.ui.outcomes.size());
    EXPECT_EQ(1u, log.Count("SKCleanManager: Detected item of type 3 not handled by any cleaner"));
    EXPECT_EQ(3u, log.Count("SKCleanManager::OrganizeList() Filter("));
}

TEST(CleanManager, StatusesReachItemAndPage) {
    struct Case {
        int32_t status, outcome, cleanState, reboot;
    };
    for (const Case& c : {Case{1, 1, 1, 0}, Case{2, 2, 2, 0}, Case{3, 3, 1, 1}, Case{0, 0, 0, 0}, Case{7, 0, 0, 0}}) {
        CleanFixture f;
        auto* cleaner = new ScriptedCleaner(1, L"H", CleanOperation::GeneralBase);
        cleaner->status = c.status;
        f.manager.AddCleaner(0, cleaner);
        const int32_t id = AddItem(f.items, kPluginType, L"H", L"item");
        f.manager.Clean();
        EXPECT_EQ(c.outcome, f.ui.OutcomeOf(id)) << "status " << c.status;
        EXPECT_EQ(c.cleanState, f.items.FindResult(id)->cleanState) << "status " << c.status;
        EXPECT_EQ(c.reboot, f.items.FindResult(id)->rebootNeeded) << "status " << c.status;
    }
}

TEST(CleanManager, AFileOnAReadOnlyDeviceIsReportedFailedWhateverTheCleanerSaid) {
    std::vector<std::wstring> asked;
    CleanFixture f([&asked](const std::wstring& drive) {
        asked.push_back(drive);
        return drive != L"D:";
    });
    f.manager.AddCleaner(kFileCleanerKeyBase, new ScriptedCleaner(1, L"F", CleanOperation::FileBase));
    const int32_t onCd = AddItem(f.items, ItemType::File, L"F", L"D:\\autorun.exe", 0);
    const int32_t onDisk = AddItem(f.items, ItemType::File, L"F", L"C:\\evil.exe", 1);

    f.manager.Clean();

    EXPECT_EQ(2, f.ui.OutcomeOf(onCd));
    EXPECT_EQ(1, f.ui.OutcomeOf(onDisk));
    EXPECT_EQ(2, f.items.FindResult(onCd)->cleanState);
    ASSERT_EQ(2u, f.items.CleanResults().size());
    EXPECT_EQ(5, f.items.CleanResults()[0].reasonCode);
    EXPECT_EQ(L"File is on a read-only device", f.items.CleanResults()[0].message);
    EXPECT_EQ((std::vector<std::wstring>{L"D:", L"C:"}), asked);
}

TEST(CleanManager, AResultForAnUnknownItemIsLoggedAndDropped) {
    LogCapture log(kLogName);
    CleanFixture f;
    CleanRequest request;
    request.itemId = 42;
    CleanResult result(42, L"H");
    f.manager.ReportCleanResult(1, &request, &result);
    EXPECT_TRUE(f.ui.outcomes.empty());
    EXPECT_TRUE(f.items.CleanResults().empty());
    EXPECT_EQ(1u, log.Count("SKCleanManager::ReportCleanResult() cannot find ScanResult of id(42)"));
}

TEST(CleanManager, EveryCleanerRunsEvenWithNothingChosenAndRequestsAccumulate) {
    CleanFixture f;
    auto* cleaner = new ScriptedCleaner(1, L"H", CleanOperation::GeneralBase);
    f.manager.AddCleaner(0, cleaner);
    f.manager.Clean();
    EXPECT_EQ(1, cleaner->cleans);
    AddItem(f.items, kPluginType, L"H", L"item");
    f.manager.Clean();
    f.manager.Clean();
    EXPECT_EQ(3, cleaner->cleans);
    EXPECT_EQ(2u, f.items.CleanRequests().Size());
}
