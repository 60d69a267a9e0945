// The adapters between plug-in handlers and the host's scanners and cleaners.
#include <gtest/gtest.h>

#include <memory>

#include "plugin_host/CleanRequestList.h"
#include "plugin_host/ICleanReporter.h"
#include "plugin_host/IScanCommunicator.h"
#include "plugin_host/ItemTypeRegistry.h"
#include "plugin_host/IFile.h"
#include "plugin_host/SKPluginFileCleaner.h"
#include "plugin_host/SKPluginFileScanner.h"
#include "plugin_host/SKPluginGeneralCleaner.h"
#include "plugin_host/SKPluginGeneralScanner.h"
#include "tests/plugin_host/FakePluginObjects.h"

using Gantry::plugin::SKPluginFileCleaner;
using Gantry::plugin::SKPluginFileScanner;
using Gantry::plugin::SKPluginGeneralScanner;
using fakes::FakeFileHandler;
using fakes::FakeFound;
using fakes::FakeGeneralHandler;

namespace {

struct FieldsCall {
    int32_t pluginId, detectionFlag, subRank, sourceValue, itemType;
    std::wstring handlerName, name, threatName, threatClass, extra1, extra2;
};

class RecordingCommunicator : public IScanCommunicator {
public:
    void ReportModuleUsage(const std::wstring&, const std::wstring&) override {}
    void ReportActivity(int32_t, int32_t, const std::wstring&) override {}
    void ReportFinding(const FindingRecord* finding) override { findings.push_back(*finding); }
    void ReportFindingFields(int32_t pluginId, const std::wstring& handlerName, int32_t detectionFlag, int32_t subRank,
                             int32_t sourceValue, int32_t itemType, const std::wstring& name,
                             const std::wstring& threatName, const std::wstring& threatClass,
                             const std::wstring& extra1, const std::wstring& extra2) override {
        fields.push_back({pluginId, detectionFlag, subRank, sourceValue, itemType, handlerName, name, threatName,
                          threatClass, extra1, extra2});
    }
    void ReportActivityEx(int32_t, const std::wstring&, int32_t, int32_t, const std::wstring&, const std::wstring&,
                          const std::wstring&, const std::wstring&) override {}
    int32_t QueryOption() override { return 0; }
    void Reserved() override {}

    std::vector<FindingRecord> findings;
    std::vector<FieldsCall> fields;
};

struct ReportedResult {
    int32_t pluginId;
    CleanRequest request;
    CleanResult result;
};

class RecordingCleanReporter : public ICleanReporter {
public:
    void ReportModuleUsage(const std::wstring&, const std::wstring&) override {}
    void ReportCleanResult(int32_t pluginId, const CleanRequest* request, CleanResult* result) override {
        results.push_back({pluginId, *request, *result});
    }
    void ReportActivity(int32_t, int32_t, const std::wstring&) override {}
    void ReportActivityEx(int32_t, const std::wstring&, int32_t, int32_t, const std::wstring&, const std::wstring&,
                          const std::wstring&, const std::wstring&) override {}
    std::vector<ReportedResult> results;
};

// A file that knows only its path.
class PathOnlyFile : public IFile {
public:
    explicit PathOnlyFile(std::wstring path) : path_(std::move(path)) {}
    std::wstring GetPath() override { return path_; }
    std::wstring GetProductName() override { return {}; }
    std::wstring GetCompanyName() override { return {}; }
    std::wstring GetFileDescription() override { return {}; }
    std::wstring GetSigner() override { return {}; }
    int ComputeDigests(const unsigned char**, const unsigned char**) override { return 0; }
    int GetSha1(const unsigned char**) override { return 0; }
    int GetMd5(const unsigned char**) override { return 0; }
    int PeekSha1(const unsigned char**) override { return 0; }
    int PeekMd5(const unsigned char**) override { return 0; }
    void SetSha1(const unsigned char (&)[20]) override {}
    void SetMd5(const unsigned char (&)[16]) override {}

private:
    std::wstring path_;
};

CleanRequest GeneralRequest(int32_t itemId, int32_t pluginId, int32_t foundId) {
    CleanRequest request;
    request.itemId = itemId;
    request.operation = pluginId + CleanOperation::GeneralBase;
    request.sourceValue = foundId;
    return request;
}

CleanRequest FileRequest(int32_t itemId, int32_t pluginId, const std::wstring& path) {
    CleanRequest request;
    request.itemId = itemId;
    request.operation = pluginId + CleanOperation::FileBase;
    request.path = path;
    return request;
}

}  // namespace

TEST(GeneralScannerAdapter, ReportsEachFindingAsADetectedThreatOfThePluginType) {
    FakeGeneralHandler handler(3, L"GRIMLET CLEANER");
    handler.script.findings.emplace_back(0, 4097, L"svchost.exe:1234", L"Worm.Grimlet", L"Virus");
    handler.script.findings.emplace_back(1, 4097, L"netsvcs\\bad");
    RecordingCommunicator communicator;
    SKPluginGeneralScanner scanner(&handler);
    scanner.SetReporter(&communicator);

    scanner.Scan(nullptr);

    EXPECT_EQ(1, handler.setReporterCalls);
    ASSERT_EQ(2u, communicator.fields.size());
    const FieldsCall& first = communicator.fields[0];
    EXPECT_EQ(3, first.pluginId);
    EXPECT_EQ(L"GRIMLET CLEANER", first.handlerName);
    EXPECT_EQ(1, first.detectionFlag);
    EXPECT_EQ(3, first.subRank);
    EXPECT_EQ(0, first.sourceValue);
    EXPECT_EQ(4097, first.itemType);
    EXPECT_EQ(L"svchost.exe:1234", first.name);
    EXPECT_EQ(L"Worm.Grimlet", first.threatName);
    EXPECT_EQ(L"Virus", first.threatClass);
    EXPECT_TRUE(first.extra1.empty() && first.extra2.empty());
    EXPECT_EQ(1, communicator.fields[1].sourceValue);
    EXPECT_EQ(1, scanner.IsGeneral());
    EXPECT_EQ(3, scanner.GetId());
}

TEST(FileScannerAdapter, AFileFindingIsAlwaysAFileOfTopSeverityWhateverTheFoundTypeSays) {
    FakeFileHandler handler(2, L"FileGuard");
    handler.script.findings.emplace_back(0, 4097, L"");  // claims a plug-in type
    RecordingCommunicator communicator;
    SKPluginFileScanner scanner(&handler);
    scanner.SetReporter(&communicator);
    PathOnlyFile file(L"C:\\windows\\evil.exe");

    scanner.Scan(static_cast<IFile*>(&file));

    ASSERT_EQ(1u, handler.scannedPaths.size());
    EXPECT_EQ(L"C:\\windows\\evil.exe", handler.scannedPaths[0]);
    ASSERT_EQ(1u, communicator.findings.size());
    const FindingRecord& finding = communicator.findings[0];
    EXPECT_EQ(2, finding.pluginId);
    EXPECT_EQ(L"FileGuard", finding.handlerName);
    EXPECT_EQ(ItemType::File, finding.itemType);
    EXPECT_EQ(4, finding.severity);
    EXPECT_EQ(3, finding.subRank);
    EXPECT_EQ(L"C:\\windows\\evil.exe", finding.name);
    EXPECT_EQ(L"Trojan.File", finding.threatName);
    EXPECT_EQ(0, finding.count);
    EXPECT_EQ(0, scanner.IsGeneral());
    EXPECT_EQ(1, scanner.ScansTargetFiles());
    EXPECT_EQ(1, scanner.ScansDirectoryFiles());
}

TEST(GeneralCleanerAdapter, HandsAllOfItsFoundIdsToOneCleanCallInListOrder) {
    FakeGeneralHandler handler(1, L"A");
    FakeGeneralHandler other(2, L"B");
    for (int id : {5, 2, 9}) handler.script.findings.emplace_back(id, 4097, L"item");
    other.script.findings.emplace_back(4, 4097, L"other item");
    RecordingCleanReporter reporter;
    SKPluginGeneralCleaner cleaner(&handler);
    SKPluginGeneralCleaner otherCleaner(&other);
    cleaner.SetReporter(&reporter);
    otherCleaner.SetReporter(&reporter);
    CleanRequestList requests;
    requests.Append(GeneralRequest(10, 1, 5));
    requests.Append(GeneralRequest(11, 2, 4));
    requests.Append(GeneralRequest(12, 1, 2));
    requests.Append(FileRequest(13, 1, L"C:\\x"));  // same id, file kind: not this cleaner's
    requests.Append(GeneralRequest(14, 1, 9));

    cleaner.Clean(&requests);
    otherCleaner.Clean(&requests);

    ASSERT_EQ(1u, handler.cleanCalls.size());
    EXPECT_EQ((std::vector<int>{5, 2, 9}), handler.cleanCalls[0]);
    ASSERT_EQ(1u, other.cleanCalls.size());
    EXPECT_EQ((std::vector<int>{4}), other.cleanCalls[0]);
    ASSERT_EQ(4u, reporter.results.size());
    EXPECT_EQ(10, reporter.results[0].result.itemId);
    EXPECT_EQ(12, reporter.results[1].result.itemId);
    EXPECT_EQ(14, reporter.results[2].result.itemId);
    EXPECT_EQ(11, reporter.results[3].result.itemId);
}

TEST(GeneralCleanerAdapter, WithoutChosenItemsTheHandlerGetsItsReporterButNoClean) {
    FakeGeneralHandler handler(1, L"A");
    RecordingCleanReporter reporter;
    SKPluginGeneralCleaner cleaner(&handler);
    cleaner.SetReporter(&reporter);
    CleanRequestList requests;
    requests.Append(GeneralRequest(0, 2, 0));

    cleaner.Clean(&requests);

    EXPECT_EQ(1, handler.setReporterCalls);
    EXPECT_TRUE(handler.cleanCalls.empty());
    EXPECT_TRUE(reporter.results.empty());
}

TEST(GeneralCleanerAdapter, MapsOutcomesAndNamesTheKindFromTheRegistry) {
    const int32_t grimletType = ItemTypeRegistry::Instance().RegisterTypeName(L"PLUGIN FOR GRIMLET");
    struct Case {
        int outcome;
        int32_t status;
    };
    for (const Case& c : {Case{kPluginCleanDone, 1}, Case{kPluginCleanNeedsRestart, 3}, Case{1, 2}, Case{-1, 2},
                          Case{7, 2}}) {
        FakeGeneralHandler handler(1, L"GRIMLET CLEANER");
        handler.script.findings.emplace_back(2, grimletType, L"service grimsvc");
        handler.script.cleanOutcome = c.outcome;
        RecordingCleanReporter reporter;
        SKPluginGeneralCleaner cleaner(&handler);
        cleaner.SetReporter(&reporter);
        CleanRequestList requests;
        requests.Append(GeneralRequest(0, 1, 1));
        requests.Append(GeneralRequest(1, 1, 2));

        cleaner.Clean(&requests);

        ASSERT_EQ(1u, reporter.results.size()) << "outcome " << c.outcome;
        const CleanResult& result = reporter.results[0].result;
        EXPECT_EQ(1, result.itemId);
        EXPECT_EQ(c.status, result.status) << "outcome " << c.outcome;
        EXPECT_EQ(L"PLUGIN FOR GRIMLET", result.kind);
        EXPECT_EQ(L"Clean", result.action);
        EXPECT_EQ(L"GRIMLET CLEANER", result.handlerName);
        EXPECT_EQ(L"service grimsvc", result.name);
        EXPECT_EQ(2, reporter.results[0].request.sourceValue);
    }
}

TEST(GeneralCleanerAdapter, AnUnregisteredTypeIsOfKindUnknownAndAnUnmatchedOutcomeIsDropped) {
    FakeGeneralHandler handler(1, L"A");
    handler.script.findings.emplace_back(3, 0x7777, L"odd");
    handler.script.findings.emplace_back(8, 0x7777, L"never chosen");
    RecordingCleanReporter reporter;
    SKPluginGeneralCleaner cleaner(&handler);
    cleaner.SetReporter(&reporter);
    CleanRequestList requests;
    requests.Append(GeneralRequest(0, 1, 3));
    cleaner.Clean(&requests);
    ASSERT_EQ(1u, reporter.results.size());
    EXPECT_EQ(L"Unknown", reporter.results[0].result.kind);

    FakeFound stray(8, 0x7777, L"never chosen");
    cleaner.ReportCleanResult(1, &stray, 0);
    EXPECT_EQ(1u, reporter.results.size());
}

TEST(FileCleanerAdapter, CleansEachOwnFileAndARestartOutcomeBecomesStatusThree) {
    FakeFileHandler handler(4, L"FileGuard");
    handler.script.cleanOutcome = kPluginCleanNeedsRestart;
    RecordingCleanReporter reporter;
    SKPluginFileCleaner cleaner(&handler);
    cleaner.SetReporter(&reporter);
    CleanRequestList requests;
    requests.Append(FileRequest(3, 4, L"C:\\a.exe"));
    requests.Append(FileRequest(4, 5, L"C:\\other.exe"));
    requests.Append(GeneralRequest(5, 4, 0));
    requests.Append(FileRequest(6, 4, L"C:\\b.exe"));

    cleaner.Clean(&requests);

    EXPECT_EQ((std::vector<std::wstring>{L"C:\\a.exe", L"C:\\b.exe"}), handler.cleanedPaths);
    ASSERT_EQ(2u, reporter.results.size());
    EXPECT_EQ(3, reporter.results[0].result.itemId);
    EXPECT_EQ(6, reporter.results[1].result.itemId);
    for (const auto& reported : reporter.results) {
        EXPECT_EQ(3, reported.result.status);
        EXPECT_EQ(L"File", reported.result.kind);
        EXPECT_EQ(L"Clean", reported.result.action);
    }
}

TEST(FileCleanerAdapter, AnOutcomeBeforeAnyCleanFileIsDropped) {
    FakeFileHandler handler(4, L"FileGuard");
    RecordingCleanReporter reporter;
    SKPluginFileCleaner cleaner(&handler);
    cleaner.SetReporter(&reporter);
    FakeFound stray(1, 2, L"C:\\x");
    cleaner.ReportCleanResult(4, &stray, 0);
    EXPECT_TRUE(reporter.results.empty());
}
