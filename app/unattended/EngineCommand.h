#pragma once
#include <string>
#include <vector>

// Runs the cleanup engine RunMendrel.exe that this run unpacked into its own work folder, with one of
// the engine's quarantine command lines ("-list", "-restore=<SHA-1>"), hidden, and collects what it
// writes to its standard output. The engine's exit code keeps the engine's meaning.
class EngineCommand {
public:
    // `workFolder`: the prepared work folder (the engine is its "plugin\RunMendrel.exe").
    explicit EngineCommand(std::wstring workFolder) : workFolder_(std::move(workFolder)) {}

    // The engine's exit code, or false when it could not be started (the reason in Failure()).
    bool Run(const std::wstring& arguments, int& exitCode);
    // The lines of its standard output (UTF-8 decoded), without line breaks.
    const std::vector<std::wstring>& OutputLines() const { return lines_; }
    const std::wstring& Failure() const { return failure_; }

    // Splits UTF-8 text into lines ("\r\n" or "\n"); a last line without a break counts too.
    static std::vector<std::wstring> SplitOutput(const std::string& bytes);

private:
    std::wstring workFolder_;
    std::vector<std::wstring> lines_;
    std::wstring failure_;
};
