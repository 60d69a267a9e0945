#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

std::wstring ProductExe() { return ProductFolder() + L"\\Tidewash.exe"; }
std::wstring ProductLog() { return ProductFolder() + L"\\qvcleantool.log"; }

std::wstring MachineWorkFolder() { return MachineDataFolder(L"Work"); }

// Starts the program, closes its dialog as a user would and returns the exit code (the dialog's result).
// A message box it answered on the way (the start-up's error box) is named in the failure.
int RunAndCloseDialog(const std::wstring& currentDirectory, const std::wstring& arguments = std::wstring()) {
    MessageBoxAnswerer closer(L"GRIMLET专杀工具");
    const MessageBoxAnswerer::Outcome outcome = closer.Run(ProductExe(), currentDirectory, true, 60000, arguments);
    EXPECT_FALSE(outcome.boxSeen) << "the program showed: " << Narrow(outcome.boxText);
    return outcome.exitCode;
}

// Starts the program and answers the box it shows; returns the box's text ("" when none) and exit code.
MessageBoxAnswerer::Outcome RunAndAnswerBox(const std::wstring& currentDirectory) {
    MessageBoxAnswerer answerer(L"GRIMLET专杀工具");
    return answerer.Run(ProductExe(), currentDirectory, true);
}

// Everything of a "GRIMLET专杀" that a user prepared in the current directory, down to its read-only
// and hidden files and a DLL held open in its "plugin" folder, stays as it was: the dialog works in a
// folder of its own under the per-machine Work folder and removes that one when it ends.
TEST(StartUp, APreparedOldWorkFolderInTheCurrentDirectoryIsNeverTouchedAndTheLogHasTheConfiguredMask) {
    ScratchFolder scratch;
    std::wstring work = scratch / L"GRIMLET专杀";
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((work + L"\\old").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((work + L"\\plugin").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(work + L"\\old\\stale.dll", "stale"));
    ASSERT_TRUE(WriteFileBytes(work + L"\\readonly.txt", "ro"));
    ASSERT_TRUE(WriteFileBytes(work + L"\\plugin\\grimlet.dll", "planted"));
    SetFileAttributesW((work + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((work + L"\\old\\stale.dll").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    HANDLE held = CreateFileW((work + L"\\plugin\\grimlet.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::set<std::wstring> machineWork = EntriesIn(MachineWorkFolder());

    DebugLevelValue level(0x2200007F);
    // A file dropped on the program is no request: the dialog, as without arguments.
    EXPECT_EQ(RunAndCloseDialog(scratch.Path(), L"\"" + (scratch / L"dropped.txt") + L"\""), 1);
    CloseHandle(held);
    EXPECT_EQ(EntriesIn(scratch.Path()), (std::set<std::wstring>{L"GRIMLET专杀"}));
    EXPECT_EQ(EntriesIn(work), (std::set<std::wstring>{L"old", L"plugin", L"readonly.txt"}));
    EXPECT_EQ(ReadFileBytes(work + L"\\readonly.txt"), "ro");
    EXPECT_EQ(ReadFileBytes(work + L"\\old\\stale.dll"), "stale");
    EXPECT_EQ(EntriesIn(work + L"\\plugin"), (std::set<std::wstring>{L"grimlet.dll"}));
    EXPECT_EQ(ReadFileBytes(work + L"\\plugin\\grimlet.dll"), "planted");
    // Folders that runs cut short left there may go; the dialog's own goes with it.
    for (const std::wstring& entry : EntriesIn(MachineWorkFolder()))
        EXPECT_TRUE(machineWork.count(entry)) << "the dialog left its work folder " << Narrow(entry);

    auto lines = SplitLines(ReadFileBytes(ProductLog()));
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_search(lines[0], std::regex(R"(\[ \] ===== \[1\.60\.0\.1000\]\[.*\\qvcleantool\.log\] LOG START =====\[\(0\)\]$)")))
        << lines[0];
}

TEST(StartUp, WithoutConfigurationDeletesThePreviousLogAndWritesNone) {
    ScratchFolder scratch;
    DebugLevelValue::Remove();
    ASSERT_TRUE(WriteFileBytes(ProductLog(), "previous run\n"));
    EXPECT_EQ(RunAndCloseDialog(scratch.Path()), 1);
    EXPECT_FALSE(FileExists(ProductLog()));
    EXPECT_TRUE(EntriesIn(scratch.Path()).empty());
}

// A run folder that an earlier run left under the per-machine Work folder, with a DLL in it held open,
// cannot be removed: it stays as it is, and the dialog works in a new folder of its own beside it.
TEST(StartUp, ALeftoverRunFolderThatCannotBeRemovedStaysAndIsNeverUsed) {
    ScratchFolder scratch;
    const std::wstring leftover = MachineWorkFolder() + L"\\cut-short-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring plugin = leftover + L"\\plugin";
    CreateDirectoryW(MachineWorkFolder().c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(leftover.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(plugin.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(plugin + L"\\planted.dll", "planted"));
    HANDLE held = CreateFileW((plugin + L"\\planted.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunAndCloseDialog(scratch.Path()), 1);
    CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(plugin + L"\\planted.dll"), "planted");
    EXPECT_FALSE(FileExists(plugin + L"\\grimlet.dll")) << "unpacked beside the stranger's DLL";
    EXPECT_EQ(EntriesIn(MachineWorkFolder()), (std::set<std::wstring>{leftover.substr(leftover.rfind(L'\\') + 1)}));
    DeleteFileW((plugin + L"\\planted.dll").c_str());
    RemoveDirectoryW(plugin.c_str());
    RemoveDirectoryW(leftover.c_str());
}

// While another run is alive (played here by holding its name), a start touches nothing and says why.
TEST(StartUp, ASecondStartTouchesNothingAndSaysThatTidewashIsRunning) {
    ScratchFolder scratch;
    ASSERT_TRUE(CreateDirectoryW((scratch / L"GRIMLET专杀").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(scratch / L"GRIMLET专杀\\first-run.txt", "the first run's"));
    HANDLE firstRun = CreateMutexW(nullptr, TRUE, L"Global\\Quorvel.Tidewash.Run");
    ASSERT_NE(firstRun, nullptr);
    const MessageBoxAnswerer::Outcome outcome = RunAndAnswerBox(scratch.Path());
    CloseHandle(firstRun);
    EXPECT_TRUE(outcome.boxSeen);
    EXPECT_EQ(outcome.boxText, L"GRIMLET专杀工具已在运行。");
    EXPECT_EQ(outcome.exitCode, 170);
    EXPECT_EQ(ReadFileBytes(scratch / L"GRIMLET专杀\\first-run.txt"), "the first run's");
}

// A real first run, a dialog waiting for its user: a second dialog and an unattended run both leave its
// work folder and plug-in alone and say why.
TEST(StartUp, WhileTheDialogRunsASecondDialogAndAnUnattendedRunTouchNothing) {
    ScratchFolder first, second;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION dialogRun = {};
    std::wstring line = L"\"" + ProductExe() + L"\"";
    ASSERT_TRUE(CreateProcessW(ProductExe().c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                               first.Path().c_str(), &startup, &dialogRun));
    HWND dialog = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (dialog = FindWindowW(L"#32770", L"Quorvel Tidewash Fix Tool")) != nullptr; }));
    const std::set<std::wstring> runFolders = EntriesIn(MachineWorkFolder());
    ASSERT_EQ(runFolders.size(), 1u);
    const std::wstring plugin = MachineWorkFolder() + L"\\" + *runFolders.begin() + L"\\plugin\\grimlet.dll";
    const std::string pluginBytes = ReadFileBytes(plugin);
    EXPECT_FALSE(pluginBytes.empty());

    // The second dialog runs on a desktop of its own, where it cannot bring the first one forward.
    const MessageBoxAnswerer::Outcome secondDialog = RunAndAnswerBox(second.Path());
    EXPECT_EQ(secondDialog.boxText, L"GRIMLET专杀工具已在运行。");
    EXPECT_EQ(secondDialog.exitCode, 170);
    EXPECT_EQ(EntriesIn(MachineWorkFolder()), runFolders);

    PROCESS_INFORMATION unattended = {};
    std::wstring scanLine = L"\"" + ProductExe() + L"\" /scan /report=busy.txt";
    ASSERT_TRUE(CreateProcessW(ProductExe().c_str(), &scanLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               second.Path().c_str(), &startup, &unattended));
    EXPECT_EQ(WaitForSingleObject(unattended.hProcess, 60000), WAIT_OBJECT_0);
    DWORD scanCode = 0;
    GetExitCodeProcess(unattended.hProcess, &scanCode);
    CloseHandle(unattended.hThread);
    CloseHandle(unattended.hProcess);
    EXPECT_EQ(scanCode, 170u);
    EXPECT_NE(ReadFileBytes(second / L"busy.txt").find("ERROR\tanother Tidewash run is in progress"), std::string::npos);

    EXPECT_EQ(WaitForSingleObject(dialogRun.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the first run ended";
    EXPECT_EQ(ReadFileBytes(plugin), pluginBytes);
    if (dialog) PostMessageW(dialog, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(dialogRun.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(dialogRun.hProcess, 1);
    CloseHandle(dialogRun.hThread);
    CloseHandle(dialogRun.hProcess);
}

// Every shipped program asks for an administrator's full token, in the form that Windows XP reads too,
// and asks for nothing else that would change its look or behaviour.
TEST(StartUp, TheProgramsCarryAManifestThatRequiresAdministratorRights) {
    for (const wchar_t* program : {L"Tidewash.exe", L"RunMendrel.exe"}) {
        SCOPED_TRACE(Narrow(program));
        HMODULE image = LoadLibraryExW((ProductFolder() + L"\\" + program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(image, nullptr);
        HRSRC found = FindResourceExW(image, RT_MANIFEST, MAKEINTRESOURCEW(1),
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
        ASSERT_NE(found, nullptr);
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
        const std::string manifest(bytes, SizeofResource(image, found));
        FreeLibrary(image);

        for (const char* wanted : {
                 R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">)",
                 R"(<trustInfo xmlns="urn:schemas-microsoft-com:asm.v2">)",
                 R"(<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)",
                 R"(<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">)",
                 R"(<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>)",   // Vista
                 R"(<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>)"}) {  // 7
            EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;
        }
        // No common-controls 6 (the dialog would change its look), no asm.v3 (XP fails on it), no DPI
        // awareness or other settings.
        for (const char* unwanted : {"dependency", "Common-Controls", "asm.v3", "dpiAware", "windowsSettings"})
            EXPECT_EQ(manifest.find(unwanted), std::string::npos) << unwanted;
    }
}

}  // namespace
