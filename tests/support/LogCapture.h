#pragma once
// Turns the file log on for a scope, into a log file of the test's own, and reads its lines back.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/log/Logger.h"
#include "tests/support/TestSupport.h"

class LogCapture {
public:
    // `fileName` sits beside the test program; each test program uses its own name.
    explicit LogCapture(const char* fileName) : path_(testsupport::ThisProgramFolder() + L"\\" + testsupport::Widen(fileName)) {
        level_.reset(new testsupport::DebugLevelValue(0x2200007F));  // every level, to the file
        logger_.reset(new Logger(fileName));
    }
    ~LogCapture() {
        logger_.reset();
        level_.reset();
        DeleteFileW(path_.c_str());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Lines() const {
        return testsupport::SplitLines(testsupport::ReadFileBytes(path_));
    }
    // Lines whose text contains `part`, ignoring the banner.
    std::vector<std::string> Matching(const std::string& part) const {
        std::vector<std::string> found;
        for (const auto& line : Lines())
            if (line.find(part) != std::string::npos && line.find("LOG START") == std::string::npos)
                found.push_back(line);
        return found;
    }
    std::size_t Count(const std::string& part) const { return Matching(part).size(); }
    // Every line after the banner.
    std::size_t MessageCount() const { return Lines().empty() ? 0 : Lines().size() - 1; }

private:
    std::wstring path_;
    std::unique_ptr<testsupport::DebugLevelValue> level_;
    std::unique_ptr<Logger> logger_;
};
