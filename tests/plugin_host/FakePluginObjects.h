#pragma once
// In-process stand-ins for the plug-in side of the interface, recording every call the host makes.
#include <string>
#include <vector>

#include "plugin_host/PluginInterface.h"

namespace fakes {

class FakeFound : public IPluginFound {
public:
    FakeFound(int id, int typeId, std::wstring name, std::wstring threatName = L"Worm.Test",
              std::wstring threatClass = L"Virus")
        : id_(id), typeId_(typeId), name_(std::move(name)), threatName_(std::move(threatName)),
          threatClass_(std::move(threatClass)) {}
    virtual ~FakeFound() = default;
    int SK_PLUGIN_CALL GetId() override { return id_; }
    int SK_PLUGIN_CALL GetTypeId() override { return typeId_; }
    const wchar_t* SK_PLUGIN_CALL GetName() override { return name_.c_str(); }
    const wchar_t* SK_PLUGIN_CALL GetThreatClass() override { return threatClass_.c_str(); }
    const wchar_t* SK_PLUGIN_CALL GetThreatName() override { return threatName_.c_str(); }

private:
    int id_;
    int typeId_;
    std::wstring name_, threatName_, threatClass_;
};

// What a handler does when the host calls it: findings to report from Scan/ScanFile, and the
// outcome to report per found id from Clean/CleanFile.
struct Script {
    std::vector<FakeFound> findings;
    int cleanOutcome = kPluginCleanDone;
};

class FakeGeneralHandler : public IPluginGeneralHandler {
public:
    FakeGeneralHandler(int id, std::wstring name) : id_(id), name_(std::move(name)) {}
    virtual ~FakeGeneralHandler() = default;
    int SK_PLUGIN_CALL GetId() override { return id_; }
    const wchar_t* SK_PLUGIN_CALL GetName() override { return name_.c_str(); }
    int SK_PLUGIN_CALL QueryInterface(const wchar_t*, void** out) override {
        *out = this;
        return 1;
    }
    void SK_PLUGIN_CALL Release() override { ++releases; }
    int SK_PLUGIN_CALL Initialize() override { return 1; }
    void SK_PLUGIN_CALL SetReporter(IPluginReporter* reporter) override {
        reporter_ = reporter;
        ++setReporterCalls;
    }
    void SK_PLUGIN_CALL Scan() override {
        ++scans;
        for (auto& found : script.findings) reporter_->ReportFound(id_, &found);
    }
    void SK_PLUGIN_CALL Clean(const int* foundIds, unsigned int count) override {
        cleanCalls.emplace_back(foundIds, foundIds + count);
        for (unsigned int i = 0; i < count; ++i) {
            for (auto& found : script.findings) {
                if (found.GetId() == foundIds[i]) reporter_->ReportCleanResult(id_, &found, script.cleanOutcome);
            }
        }
    }

    Script script;
    int releases = 0;
    int setReporterCalls = 0;
    int scans = 0;
    std::vector<std::vector<int>> cleanCalls;

private:
    int id_;
    std::wstring name_;
    IPluginReporter* reporter_ = nullptr;
};

class FakeFileHandler : public IPluginFileHandler {
public:
    FakeFileHandler(int id, std::wstring name) : id_(id), name_(std::move(name)) {}
    virtual ~FakeFileHandler() = default;
    int SK_PLUGIN_CALL GetId() override { return id_; }
    const wchar_t* SK_PLUGIN_CALL GetName() override { return name_.c_str(); }
    int SK_PLUGIN_CALL QueryInterface(const wchar_t*, void** out) override {
        *out = this;
        return 1;
    }
    void SK_PLUGIN_CALL Release() override { ++releases; }
    int SK_PLUGIN_CALL Initialize() override { return 1; }
    void SK_PLUGIN_CALL SetReporter(IPluginReporter* reporter) override { reporter_ = reporter; }
    // Reports one finding for the scanned file, typed as the script's first finding says.
    void SK_PLUGIN_CALL ScanFile(const wchar_t* path) override {
        scannedPaths.push_back(path);
        const int typeId = script.findings.empty() ? 99 : script.findings.front().GetTypeId();
        FakeFound found(7, typeId, path, L"Trojan.File", L"Virus");
        reporter_->ReportFound(id_, &found);
    }
    void SK_PLUGIN_CALL CleanFile(const wchar_t* path) override {
        cleanedPaths.push_back(path);
        FakeFound found(7, 2, path);
        reporter_->ReportCleanResult(id_, &found, script.cleanOutcome);
    }

    Script script;
    int releases = 0;
    std::vector<std::wstring> scannedPaths;
    std::vector<std::wstring> cleanedPaths;

private:
    int id_;
    std::wstring name_;
    IPluginReporter* reporter_ = nullptr;
};

}  // namespace fakes
