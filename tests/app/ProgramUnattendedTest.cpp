// The shipped program run unattended, as an administrator's start-up script runs it: a command line, no
// display (a Wine session without one, tools/wine_headless_run.sh), a report and an exit code, over the
// simulated infection of the worm tests' fixtures. Every run is watched through the debugging interface
// for any attempt to make a window or show a box.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "grimlet/tasks/JobFile.h"
#include "tests/support/AutoRunValues.h"
#include "tests/support/FakeService.h"
#include "tests/support/FixtureProcess.h"
#include "tests/support/JobFileBytes.h"
#include "tests/support/TestDrives.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TrustedTestRoot.h"
#include "tests/support/WindowCreationWatch.h"

using namespace testsupport;

namespace {

const wchar_t kNetsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";
const char kServiceThreat[] = "GRIMLET\xE6\x9C\x8D\xE5\x8A\xA1(\xE9\x9A\x90\xE8\x97\x8F\xE6\xB3\xA8\xE5\x86\x8C\xE8\xA1\xA8):";

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(name, &size);
    return name;
}

std::wstring DataFolder(const wchar_t* leaf) {
    wchar_t common[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    return std::wstring(common) + L"\\Quorvel\\Tidewash\\" + leaf;
}

// The records of one kind, without their first word.
std::vector<std::string> Records(const std::vector<std::string>& report, const std::string& word) {
    std::vector<std::string> records;
    for (const std::string& line : report)
        if (line.compare(0, word.size() + 1, word + "\t") == 0 || line.compare(0, word.size() + 1, word + " ") == 0)
            records.push_back(line.substr(word.size() + 1));
    return records;
}

// A share for the report: under Wine "\\server\share" is the prefix's dosdevices\unc\server\share
// folder; on Windows the administrative share of the scratch folder's drive.
class ReportShare {
public:
    explicit ReportShare(const ScratchFolder& scratch) {
        wchar_t prefix[MAX_PATH] = {};
        if (GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) {
            std::wstring unixPath(prefix);
            for (wchar_t& c : unixPath)
                if (c == L'/') c = L'\\';
            local_ = L"Z:" + unixPath + L"\\dosdevices\\unc\\tidewash-test\\reports" + std::to_wstring(GetCurrentProcessId());
            CreateDirectoryW((L"Z:" + unixPath + L"\\dosdevices\\unc").c_str(), nullptr);
            CreateDirectoryW((L"Z:" + unixPath + L"\\dosdevices\\unc\\tidewash-test").c_str(), nullptr);
            CreateDirectoryW(local_.c_str(), nullptr);
            unc_ = L"\\\\tidewash-test\\reports" + std::to_wstring(GetCurrentProcessId());
        } else {
            local_ = scratch / L"share";
            CreateDirectoryW(local_.c_str(), nullptr);
            unc_ = L"\\\\localhost\\" + local_.substr(0, 1) + L"$" + local_.substr(2);
        }
    }
    ~ReportShare() {
        for (const std::wstring& name : FilesIn(local_)) DeleteFileW((local_ + L"\\" + name).c_str());
        RemoveDirectoryW(local_.c_str());
        RemoveDirectoryW(local_.substr(0, local_.rfind(L'\\')).c_str());  // the server's folder, when empty
    }
    const std::wstring& Unc() const { return unc_; }
    const std::wstring& Local() const { return local_; }

private:
    std::wstring local_;
    std::wstring unc_;
};

// Worm services of the netsvcs group: one whose key denies everybody everything and one whose DLL is
// hidden and read-only, as the dialog's end-to-end test and the demonstration plant them.
class SimulatedInfection {
public:
    SimulatedInfection(const ScratchFolder& scratch, const std::wstring& stem)
        : lockedDll_(scratch / L"locked.dll"),
          hiddenDll_(scratch / L"hidden.dll"),
          locked_(stem + L"1Locked", kNetsvcs, lockedDll_.c_str()),
          hidden_(stem + L"2Hidden", kNetsvcs, hiddenDll_.c_str()),
          listing_({locked_.Name()}) {
        // Contents of their own, never seen before, so that each is its own quarantined item.
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const std::string unique = Narrow(stem) + " " + std::to_string(now.dwHighDateTime) + "." +
                                   std::to_string(now.dwLowDateTime);
        planted_ = WriteFileBytes(lockedDll_, "MZ simulated GRIMLET service DLL, locked key, " + unique) &&
                   WriteFileBytes(hiddenDll_, "MZ simulated GRIMLET service DLL, hidden, " + unique) &&
                   SetFileAttributesW(hiddenDll_.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY) &&
                   FakeService::DenyEverybody(locked_.KeyPath());
    }
    bool Planted() const { return planted_; }
    const FakeService& Locked() const { return locked_; }
    const FakeService& Hidden() const { return hidden_; }
    const std::wstring& LockedDll() const { return lockedDll_; }
    const std::wstring& HiddenDll() const { return hiddenDll_; }
    // The descriptions the report gives the two services, in the order the plug-in finds them.
    std::vector<std::string> Descriptions() const {
        return {Narrow(L"服务:[" + locked_.KeyPath() + L"] 文件:[" + lockedDll_ + L"]"),
                Narrow(L"服务:[" + hidden_.KeyPath() + L"] 文件:[" + hiddenDll_ + L"]")};
    }
    // What a scan must leave as it was: both keys' owners and access lists, both files' attributes.
    std::wstring State() const {
        return FakeService::SecurityAsSddl(locked_.KeyPath()) + L"|" + FakeService::SecurityAsSddl(hidden_.KeyPath()) +
               L"|" + std::to_wstring(GetFileAttributesW(lockedDll_.c_str())) + L"|" +
               std::to_wstring(GetFileAttributesW(hiddenDll_.c_str()));
    }
    bool AnyKeyLeft() const {
        return FakeService::KeyExists(locked_.KeyPath()) || FakeService::KeyExists(hidden_.KeyPath());
    }

private:
    std::wstring lockedDll_;
    std::wstring hiddenDll_;
    FakeService locked_;
    FakeService hidden_;
    NetsvcsListing listing_;  // only a listed service's denied key may be unlocked
    bool planted_ = false;
};

// Where the worm spreads from and starts itself again, for a simulated infection: its DLLs' copies with
// an autorun.inf on the removable drive E: and the network drive N:, a stick from another machine on F:
// (an unsigned DLL and its autorun.inf, both hidden and system), a software stick on G:, and a task that
// runs a worm DLL through rundll32 beside one that opens a control-panel applet. Everything else on
// the drives, and the drives themselves, are the user's.
class SpreadTraces {
public:
    explicit SpreadTraces(const SimulatedInfection& infection) {
        wchar_t windows[MAX_PATH] = {};
        GetSystemWindowsDirectoryW(windows, MAX_PATH);
        tasks_ = std::wstring(windows) + L"\\Tasks";
        CreateDirectoryW(tasks_.c_str(), nullptr);
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        CreateDirectoryW(L"E:\\sys", nullptr);
        CreateDirectoryW(L"E:\\photos", nullptr);
        testsupport::JobFileFields worm;
        worm.parameters = u"\"" + std::u16string(infection.HiddenDll().begin(), infection.HiddenDll().end()) + u"\",Start";
        testsupport::JobFileFields applet;
        applet.parameters = u"shell32.dll,Control_RunDLL desk.cpl";
        const std::vector<uint8_t> at1 = testsupport::JobFileBytes(worm);
        const std::vector<uint8_t> at2 = testsupport::JobFileBytes(applet);
        planted_ = Plant(L"E:\\sys\\wrm.dll", ReadFileBytes(infection.HiddenDll())) &&
                   Plant(L"E:\\autorun.inf", "[AutoRun]\r\nopen=rundll32.exe sys\\wrm.dll,Start\r\nicon=sys\\wrm.dll\r\n") &&
                   Plant(L"E:\\photos\\a.jpg", "holiday") &&
                   Plant(L"N:\\wrm.dll", ReadFileBytes(infection.LockedDll())) &&
                   Plant(L"N:\\autorun.inf", "[autorun]\r\nshellexecute=RUNDLL32 wrm.dll,Start\r\n") &&
                   Plant(L"F:\\x.dll", ReadFileBytes(std::wstring(system) + L"\\version.dll"), hiddenSystem) &&
                   Plant(L"F:\\autorun.inf", "[AutoRun]\r\nshell\\go\\command=rundll32.exe x.dll,Go\r\n", hiddenSystem) &&
                   Plant(L"G:\\setup.exe", ReadFileBytes(std::wstring(system) + L"\\version.dll")) &&
                   Plant(L"G:\\autorun.inf", "[AutoRun]\r\nopen=setup.exe\r\n") &&
                   Plant(At1(), std::string(at1.begin(), at1.end())) && Plant(At2(), std::string(at2.begin(), at2.end()));
    }
    ~SpreadTraces() {
        for (const std::wstring& task : {At1(), At2()}) DeleteFileW(task.c_str());
    }
    bool Planted() const { return planted_; }
    std::wstring At1() const { return tasks_ + L"\\At1.job"; }
    std::wstring At2() const { return tasks_ + L"\\At2.job"; }
    // The worm's: both copies of this machine's DLLs, the other machine's stick, and the first task.
    static std::vector<std::wstring> WormFiles() {
        return {L"E:\\sys\\wrm.dll", L"E:\\autorun.inf", L"N:\\wrm.dll", L"N:\\autorun.inf", L"F:\\x.dll",
                L"F:\\autorun.inf"};
    }
    // Every planted file that is not the worm's, with its bytes and attributes.
    std::wstring UsersState() const {
        std::wstring state;
        for (const std::wstring& path : {std::wstring(L"E:\\photos\\a.jpg"), std::wstring(L"G:\\setup.exe"),
                                         std::wstring(L"G:\\autorun.inf"), At2()})
            state += path + L"=" + std::to_wstring(GetFileAttributesW(path.c_str())) + L":" +
                     Widen(std::to_string(std::hash<std::string>()(ReadFileBytes(path)))) + L";";
        return state;
    }
    std::wstring WormState() const {
        std::wstring state;
        for (const std::wstring& path : WormFiles())
            state += path + L"=" + std::to_wstring(GetFileAttributesW(path.c_str())) + L":" +
                     Widen(std::to_string(std::hash<std::string>()(ReadFileBytes(path)))) + L";";
        return state + std::to_wstring(GetFileAttributesW(At1().c_str()));
    }
    // The rows the scan shows for them.
    static std::vector<std::string> Rows(const std::wstring& at1Command) {
        const std::string copy = Narrow(L"GRIMLET副本(自动运行):") + "\t";
        return {copy + Narrow(L"驱动器:[E:] 文件:[E:\\sys\\wrm.dll] 自动运行:[E:\\autorun.inf]"),
                copy + Narrow(L"驱动器:[F:] 文件:[F:\\x.dll] 自动运行:[F:\\autorun.inf]"),
                copy + Narrow(L"驱动器:[N:] 文件:[N:\\wrm.dll] 自动运行:[N:\\autorun.inf]"),
                Narrow(L"GRIMLET计划任务:") + "\t" + Narrow(L"任务:[At1.job] 命令:[rundll32.exe " + at1Command + L"]")};
    }

private:
    static bool Plant(const std::wstring& path, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
        return !bytes.empty() && WriteFileBytes(path, bytes) && SetFileAttributesW(path.c_str(), attributes);
    }
    testsupport::EmptiedTestDrives drives_;
    std::wstring tasks_;
    bool planted_ = false;
};

// A running netsvcs-like service of the service manager whose process holds its ServiceDll open without
// sharing, and lets go of it when stopped (bin\service_host.exe run as "svchost.exe"). Deleted at the end.
class RunningService {
public:
    RunningService(const ScratchFolder& scratch, const std::wstring& name, const std::wstring& dll) : name_(name) {
        const std::wstring host = scratch / L"svchost.exe";
        CopyFileW((BinFolder() + L"\\service_host.exe").c_str(), host.c_str(), FALSE);
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        const std::wstring image = L"\"" + host + L"\" -k netsvcs \"" + dll + L"\"";
        service_ = CreateServiceW(manager_, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                  SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, image.c_str(), nullptr, nullptr, nullptr,
                                  nullptr, nullptr);
        if (!service_) return;
        FakeService::SetString(L"SYSTEM\\CurrentControlSet\\Services\\" + name + L"\\Parameters", L"ServiceDll", dll);
        started_ = StartServiceW(service_, 0, nullptr) && WaitUntil([this] { return Running(); }, 20000);
    }
    ~RunningService() {
        if (!service_) return;
        SERVICE_STATUS status;
        ControlService(service_, SERVICE_CONTROL_STOP, &status);
        WaitUntil([this] { return State() == SERVICE_STOPPED; }, 20000);
        DeleteService(service_);
        CloseServiceHandle(service_);
        CloseServiceHandle(manager_);
        FakeService::ForceDelete(L"SYSTEM\\CurrentControlSet\\Services\\" + name_);
    }
    bool Started() const { return started_; }
    DWORD State() const {
        SERVICE_STATUS status = {};
        return QueryServiceStatus(service_, &status) ? status.dwCurrentState : 0;
    }
    bool Running() const { return State() == SERVICE_RUNNING; }

private:
    std::wstring name_;
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    bool started_ = false;
};

class ProgramUnattended : public ::testing::Test {
protected:
    void SetUp() override {
        EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
        reportsBefore_ = FilesIn(DataFolder(L"Reports"));
    }
    void TearDown() override {
        for (const std::wstring& report : NewMachineReports()) DeleteFileW(report.c_str());
    }

    // The names in a folder, files and folders.
    static std::set<std::wstring> EntriesIn(const std::wstring& folder) {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            if (wcscmp(entry.cFileName, L".") && wcscmp(entry.cFileName, L"..")) names.insert(entry.cFileName);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
        return names;
    }

    // The shipped Tidewash.exe with `arguments`, from the scratch folder. No run may make a window or
    // show a box, whatever its outcome, and none leaves a work folder behind.
    int Run(const std::wstring& arguments) {
        const std::set<std::wstring> workBefore = EntriesIn(DataFolder(L"Work"));
        WindowCreationWatch::Outcome outcome =
            WindowCreationWatch::Run(ProductFolder() + L"\\Tidewash.exe", arguments, scratch_.Path());
        // Folders that runs cut short left (a dialog ended by force) may go; none may come.
        for (const std::wstring& name : EntriesIn(DataFolder(L"Work")))
            EXPECT_EQ(workBefore.count(name), 1u) << Narrow(arguments) << " left its work folder " << Narrow(name);
        EXPECT_FALSE(DirectoryExists(scratch_ / L"GRIMLET专杀")) << Narrow(arguments) << " unpacked where it started";
        EXPECT_GT(outcome.breakpointsArmed, 0) << "the watch never saw user32 in the program";
        EXPECT_TRUE(outcome.attempts.empty()) << Narrow(arguments) << " tried to show a window:\n"
                                              << WindowCreationWatch::Describe(outcome.attempts);
        EXPECT_TRUE(outcome.stuck.empty()) << Narrow(arguments) << " did not end:\n" << outcome.stuck;
        return outcome.exitCode;
    }

    // Reports that appeared in the per-machine folder since the test began.
    std::vector<std::wstring> NewMachineReports() const {
        std::vector<std::wstring> added;
        for (const std::wstring& name : FilesIn(DataFolder(L"Reports")))
            if (!reportsBefore_.count(name)) added.push_back(DataFolder(L"Reports") + L"\\" + name);
        return added;
    }

    // The start of a report: version and mode, this machine, the plug-in's own description of the
    // system, and a start and end in UTC.
    static void ExpectHeader(const std::vector<std::string>& report, const char* mode) {
        ASSERT_GE(report.size(), 5u);
        EXPECT_EQ(report[0], std::string("TIDEWASH\t1.60.0.1000\t") + mode);
        EXPECT_EQ(report[1], "COMPUTER\t" + Narrow(ComputerName()));
        EXPECT_EQ(report[2].rfind("OS\tWindows", 0), 0u) << report[2];
        const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
        ASSERT_EQ(Records(report, "START").size(), 1u);
        EXPECT_TRUE(std::regex_match(Records(report, "START")[0], utc));
        ASSERT_EQ(Records(report, "END").size(), 1u);
        EXPECT_GE(Records(report, "END")[0], Records(report, "START")[0]);
        EXPECT_EQ(report.back().rfind("END\t", 0), 0u);
    }

    static std::vector<std::string> Report(const std::wstring& path) { return SplitLines(ReadFileBytes(path)); }

    // Every clean turns AutoRun off in the prefix: it is put back after each test.
    AutoRunValuesGuard autoRun_;
    ScratchFolder scratch_{L"unattended"};
    std::set<std::wstring> reportsBefore_;
};

TEST_F(ProgramUnattended, ScanReportsEveryFindingAndChangesNothingCleanRemovesThemASecondCleanFindsNothing) {
    SimulatedInfection infection(scratch_, UniqueServiceStem(L"Unat"));
    ASSERT_TRUE(infection.Planted());
    SpreadTraces spread(infection);
    ASSERT_TRUE(spread.Planted());
    const std::wstring wormFilesBefore = spread.WormState();
    const std::wstring usersFiles = spread.UsersState();
    ReportShare share(scratch_);
    DebugLevelValue level(0x2200007F);  // so that the plug-in logs its description of the system

    // Scan, reporting to a share.
    const std::wstring before = infection.State();
    const std::wstring shared = share.Unc() + L"\\" + ComputerName() + L".txt";
    EXPECT_EQ(Run(L"/scan /report=" + shared), 1);
    const std::vector<std::string> scan = Report(share.Local() + L"\\" + ComputerName() + L".txt");
    ExpectHeader(scan, "scan");
    std::vector<std::string> ours;
    for (const std::string& found : Records(scan, "FOUND"))
        if (found.find(Narrow(infection.Locked().Name())) != std::string::npos ||
            found.find(Narrow(infection.Hidden().Name())) != std::string::npos)
            ours.push_back(found);
    ASSERT_EQ(ours.size(), 2u) << ReadFileBytes(share.Local() + L"\\" + ComputerName() + L".txt");
    EXPECT_EQ(ours[0], std::string(kServiceThreat) + "\t" + infection.Descriptions()[0]);
    EXPECT_EQ(ours[1], std::string(kServiceThreat) + "\t" + infection.Descriptions()[1]);
    const size_t found = Records(scan, "FOUND").size();
    // Wine's Task Scheduler 2.0 lists no task (or, in a session without its service, is not there): that
    // one check cannot be made, and the report says so.
    const std::vector<std::string> gaps = Records(scan, "UNCHECKED");
    EXPECT_LE(gaps.size(), 1u);
    for (const std::string& gap : gaps)
        EXPECT_TRUE(gap.rfind("task \\\t", 0) == 0 || gap.rfind("Task Scheduler 2.0\t", 0) == 0) << gap;
    EXPECT_EQ(Records(scan, "SUMMARY"), (std::vector<std::string>{"found=" + std::to_string(found) +
                                                                  " removed=0 failed=0 restart=0 unchecked=" +
                                                                  std::to_string(gaps.size())}));
    EXPECT_TRUE(Records(scan, "CLEANED").empty());
    EXPECT_TRUE(Records(scan, "ERROR").empty());
    EXPECT_EQ(infection.State(), before) << "the scan changed the services";
    // The copies on the drives and the task are rows of their own; the scan changed none of them.
    const std::vector<std::string> scanFound = Records(scan, "FOUND");
    const std::vector<std::string> spreadRows = SpreadTraces::Rows(L"\"" + infection.HiddenDll() + L"\",Start");
    for (const std::string& row : spreadRows)
        EXPECT_EQ(std::count(scanFound.begin(), scanFound.end(), row), 1) << row << "\n" << ReadFileBytes(share.Local() + L"\\" + ComputerName() + L".txt");
    EXPECT_EQ(spread.WormState(), wormFilesBefore);
    EXPECT_EQ(spread.UsersState(), usersFiles);
    EXPECT_TRUE(FakeService::KeyExists(infection.Locked().KeyPath()));
    EXPECT_TRUE(FakeService::KeyExists(infection.Hidden().KeyPath()));
    // The OS record is the description the plug-in wrote into its own log.
    const std::vector<std::string> pluginLog = SplitLines(ReadFileBytes(ProductFolder() + L"\\plugin.GRIMLET CLEANER.log"));
    std::string logged;
    for (const std::string& line : pluginLog) {
        const size_t at = line.find("] System: ");
        if (at != std::string::npos) logged = line.substr(at + 10, line.rfind("[PluginGeneralImpl(") - at - 10);
    }
    EXPECT_FALSE(logged.empty());
    EXPECT_EQ(scan[2], "OS\t" + logged);
    EXPECT_TRUE(NewMachineReports().empty()) << "a report reached the share and went nowhere else";

    // Clean, with the locked service's DLL held open sharing only reading (it then goes at the next
    // restart: RESTART and 3) and a report that cannot be written where asked: 16 on top of the clean's
    // own outcome, the report in the per-machine folder.
    HANDLE held = CreateFileW(infection.LockedDll().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const int clean = Run(L"/clean \"/report=" + (scratch_ / L"missing\\clean.txt") + L"\"");
    CloseHandle(held);
    EXPECT_FALSE(infection.AnyKeyLeft());
    const std::vector<std::wstring> machineReports = NewMachineReports();
    ASSERT_EQ(machineReports.size(), 1u);
    EXPECT_EQ(machineReports[0].rfind(DataFolder(L"Reports") + L"\\" + ComputerName() + L"-", 0), 0u);
    const std::vector<std::string> cleaned = Report(machineReports[0]);
    ExpectHeader(cleaned, "clean");
    const std::vector<std::string> outcomes = Records(cleaned, "CLEANED");
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), infection.Descriptions()[0] + "\tRESTART"), 1)
        << ReadFileBytes(machineReports[0]);
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), infection.Descriptions()[1] + "\tOK"), 1);
    EXPECT_EQ(clean, 19);
    for (const std::string& row : spreadRows)
        EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), row.substr(row.find('\t') + 1) + "\tOK"), 1) << row;
    for (const std::wstring& path : SpreadTraces::WormFiles()) EXPECT_FALSE(FileExists(path)) << Narrow(path);
    EXPECT_FALSE(FileExists(spread.At1()));
    EXPECT_EQ(spread.UsersState(), usersFiles) << "the software stick, the user's files or At2.job changed";
    const std::vector<std::string> summary = Records(cleaned, "SUMMARY");
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_NE(summary[0].find(" restart=1"), std::string::npos) << summary[0];
    EXPECT_EQ(Records(cleaned, "QUARANTINE"), (std::vector<std::string>{Narrow(DataFolder(L"Quarantine"))}));
    EXPECT_EQ(Records(cleaned, "FOUND").size(), outcomes.size());

    // The administrator's way back: the listing names both removed DLLs, in the report and on standard
    // output; the hidden one's restore puts its file and key back; a second restore has nothing to do.
    EXPECT_EQ(Run(L"/quarantine /report=list.txt"), 0);
    const std::vector<std::string> listed = Report(scratch_ / L"list.txt");
    ExpectHeader(listed, "quarantine");
    std::string hiddenSha1, stickId, otherStickId, taskId;
    bool lockedListed = false;
    for (const std::string& item : Records(listed, "ITEM")) {
        if (item.find(Narrow(infection.HiddenDll())) != std::string::npos && item.find("At1") == std::string::npos)
            hiddenSha1 = item.substr(0, 40);
        if (item.find("E:\\sys\\wrm.dll") != std::string::npos) stickId = item.substr(0, 40);
        if (item.find("F:\\x.dll") != std::string::npos) otherStickId = item.substr(0, 40);
        if (item.find("At1.job") != std::string::npos) taskId = item.substr(0, 40);
        lockedListed = lockedListed || item.find(Narrow(infection.LockedDll())) != std::string::npos;
    }
    EXPECT_TRUE(lockedListed) << ReadFileBytes(scratch_ / L"list.txt");
    ASSERT_EQ(hiddenSha1.size(), 40u) << ReadFileBytes(scratch_ / L"list.txt");
    std::string output;
    EXPECT_EQ(RunProgram(ProductFolder() + L"\\Tidewash.exe", L"/quarantine /report=list2.txt", scratch_.Path(), 120000,
                         &output),
              0);
    EXPECT_NE(output.find("ITEM\t" + hiddenSha1 + "\t" + Narrow(infection.HiddenDll())), std::string::npos) << output;

    const std::string quarantineBefore = ReadFileBytes(DataFolder(L"Quarantine") + L"\\manifest.txt");
    EXPECT_EQ(Run(L"/restore=" + Widen(hiddenSha1.substr(0, 39)) + L" /report=bad.txt"), 87);
    EXPECT_EQ(Run(L"/restore=" + Widen(hiddenSha1) + L" /clean"), 87);
    EXPECT_EQ(ReadFileBytes(DataFolder(L"Quarantine") + L"\\manifest.txt"), quarantineBefore);
    EXPECT_FALSE(FileExists(infection.HiddenDll()));

    EXPECT_EQ(Run(L"/restore=" + Widen(hiddenSha1) + L" /report=restore.txt"), 0);
    EXPECT_EQ(Records(Report(scratch_ / L"restore.txt"), "RESTORED"), (std::vector<std::string>{hiddenSha1}));
    EXPECT_TRUE(FileExists(infection.HiddenDll()));
    EXPECT_TRUE(FakeService::KeyExists(infection.Hidden().KeyPath()));
    // A copy comes back with its autorun.inf, and the task with its definition. (Wine keeps a volume's
    // serial for the life of its server: the refusal of another volume is shown on the engine's seam.)
    ASSERT_EQ(stickId.size(), 40u) << ReadFileBytes(scratch_ / L"list.txt");
    ASSERT_EQ(taskId.size(), 40u) << ReadFileBytes(scratch_ / L"list.txt");
    ASSERT_EQ(otherStickId.size(), 40u) << ReadFileBytes(scratch_ / L"list.txt");
    EXPECT_NE(stickId, hiddenSha1);
    EXPECT_EQ(Run(L"/restore=" + Widen(stickId) + L" /report=stick.txt"), 0);
    EXPECT_EQ(Run(L"/restore=" + Widen(taskId) + L" /report=task.txt"), 0);
    EXPECT_EQ(ReadFileBytes(L"E:\\sys\\wrm.dll"), ReadFileBytes(infection.HiddenDll()));
    EXPECT_TRUE(FileExists(L"E:\\autorun.inf"));
    EXPECT_TRUE(FileExists(spread.At1()));
    EXPECT_EQ(Run(L"/restore=" + Widen(hiddenSha1) + L" /report=again.txt"), 8);
    EXPECT_EQ(Records(Report(scratch_ / L"again.txt"), "ERROR").size(), 1u);
    // The restored service is the worm's again for the clean below.
    EXPECT_EQ(Run(L"/clean /report=reclean.txt"), gaps.empty() ? 2 : 5);

    // A second clean finds nothing left.
    EXPECT_EQ(Run(L"-CLEAN -Report=second.txt"), 0);
    const std::vector<std::string> second = Report(scratch_ / L"second.txt");
    ExpectHeader(second, "clean");
    EXPECT_TRUE(Records(second, "FOUND").empty());
    EXPECT_EQ(Records(second, "SUMMARY"),
              (std::vector<std::string>{"found=0 removed=0 failed=0 restart=0 unchecked=0"}));
}

// The owner and access list (SDDL) of every key under Services and of its Parameters subkey.
std::map<std::wstring, std::wstring> ServiceKeySecurity() {
    std::map<std::wstring, std::wstring> security;
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, services.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS)
        return security;
    wchar_t name[256];
    for (DWORD index = 0; RegEnumKeyW(key, index, name, 256) == ERROR_SUCCESS; ++index) {
        const std::wstring path = services + L"\\" + name;
        security[path] = FakeService::SecurityAsSddl(path);
        security[path + L"\\Parameters"] = FakeService::SecurityAsSddl(path + L"\\Parameters");
    }
    RegCloseKey(key);
    return security;
}

// A scan changes no key's security: the denied key of a listed netsvcs service (read for backup, or
// unlocked for the check and handed back where that is refused) and that of a service the netsvcs list
// does not name (never unlocked: UNCHECKED) end as every other key does, exactly as they were.
TEST_F(ProgramUnattended, AScanLeavesTheOwnerAndAccessListOfEveryServiceKeyAsTheyWere) {
    const std::wstring stem = UniqueServiceStem(L"Sddl");
    SimulatedInfection infection(scratch_, stem);
    ASSERT_TRUE(infection.Planted());
    const std::wstring dll = scratch_ / L"unlisted.dll";
    ASSERT_TRUE(WriteFileBytes(dll, "MZ simulated GRIMLET service DLL, not in the netsvcs list"));
    FakeService unlisted(stem + L"3Unlisted", kNetsvcs, dll.c_str());
    ASSERT_TRUE(FakeService::DenyEverybody(unlisted.KeyPath()));
    const std::map<std::wstring, std::wstring> before = ServiceKeySecurity();
    ASSERT_FALSE(before.at(unlisted.KeyPath()).empty());
    ASSERT_FALSE(before.at(infection.Locked().KeyPath()).empty());

    EXPECT_EQ(Run(L"/scan /report=scan.txt"), 1);
    const std::vector<std::string> report = Report(scratch_ / L"scan.txt");
    const std::vector<std::string> found = Records(report, "FOUND");
    EXPECT_EQ(std::count(found.begin(), found.end(), std::string(kServiceThreat) + "\t" + infection.Descriptions()[0]), 1)
        << ReadFileBytes(scratch_ / L"scan.txt");
    bool named = false;
    for (const std::string& record : Records(report, "UNCHECKED"))
        named = named || record.find(Narrow(unlisted.KeyPath()) + "\tit denies reading, cannot be opened for backup") !=
                             std::string::npos;
    EXPECT_TRUE(named) << ReadFileBytes(scratch_ / L"scan.txt");

    const std::map<std::wstring, std::wstring> after = ServiceKeySecurity();
    EXPECT_EQ(before.size(), after.size());
    for (const auto& key : before) {
        const auto now = after.find(key.first);
        EXPECT_TRUE(now != after.end() && now->second == key.second) << Narrow(key.first) << " was " << Narrow(key.second);
    }
}

// A worm service whose key under Services is a registry link to its real key elsewhere (the service
// manager follows it): never a clean bill. The link is named UNCHECKED and the scan does not give 0.
TEST_F(ProgramUnattended, AWormServiceReachedThroughARegistryLinkIsNeverCalledClean) {
    const std::wstring stem = UniqueServiceStem(L"Link");
    // Under SYSTEM, which a 32-bit process on 64-bit Windows sees unredirected, as the link leads.
    const std::wstring real = L"SYSTEM\\" + stem + L"Real";
    const std::wstring dll = scratch_ / L"linked.dll";
    ASSERT_TRUE(WriteFileBytes(dll, "MZ simulated GRIMLET service DLL behind a link"));
    ASSERT_TRUE(SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    FakeService::SetString(real, L"ImagePath", kNetsvcs, REG_EXPAND_SZ);
    FakeService::SetString(real + L"\\Parameters", L"ServiceDll", dll);
    const std::wstring linkPath = L"SYSTEM\\CurrentControlSet\\Services\\" + stem + L"Linked";
    {
        FakeRegistryLink link(linkPath, real);
        ASSERT_TRUE(link.Made());
        const int scan = Run(L"/scan /report=scan.txt");
        EXPECT_NE(scan, 0);
        EXPECT_TRUE(scan == 1 || scan == 5) << scan;
        const std::vector<std::string> report = Report(scratch_ / L"scan.txt");
        bool named = false;
        for (const std::string& record : Records(report, "UNCHECKED"))
            named = named || record.find(Narrow(linkPath) + "\tit is a registry link to \\Registry\\Machine\\" +
                                         Narrow(real) + "; not followed; its target is a netsvcs service with the "
                                         "untrusted DLL " + Narrow(dll)) != std::string::npos;
        EXPECT_TRUE(named) << ReadFileBytes(scratch_ / L"scan.txt");
        ASSERT_EQ(Records(report, "SUMMARY").size(), 1u);
        EXPECT_EQ(Records(report, "SUMMARY")[0].find(" unchecked=0"), std::string::npos) << Records(report, "SUMMARY")[0];
        EXPECT_TRUE(FakeRegistryLink::Exists(linkPath)) << "a scan changes nothing";
    }
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_NORMAL);
    FakeService::ForceDelete(real);
}

// A legitimate DLL that its running service holds locked looks like the worm's to the scan (its signer is
// unknown while it cannot be read). The engine stops the service to read it, finds a trusted signer and
// refuses: the service runs again, and the report keeps the engine's reason.
TEST_F(ProgramUnattended, ARunningServiceWhoseTrustedDllIsHeldLockedRunsAgainAfterAClean) {
    TrustedTestRoot root;
    ASSERT_TRUE(root.Added());
    const std::wstring dll = scratch_ / L"legit.dll";
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\signer\\trusted.dll").c_str(), dll.c_str(), FALSE));
    RunningService service(scratch_, UniqueServiceStem(L"Legit") + L"Held", dll);
    ASSERT_TRUE(service.Started());
    ASSERT_EQ(CreateFileW(dll.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE) << "the service holds its DLL";

    const int clean = Run(L"/clean /report=clean.txt");
    EXPECT_TRUE(WaitUntil([&] { return service.Running(); }, 20000)) << "state " << service.State();
    EXPECT_TRUE(FileExists(dll));
    EXPECT_EQ(clean, 4);
    const std::vector<std::string> cleaned = Records(Report(scratch_ / L"clean.txt"), "CLEANED");
    bool refused = false;
    for (const std::string& record : cleaned)
        refused = refused || (record.find(Narrow(dll)) != std::string::npos &&
                              record.find("\tFAILED\tplug-in outcome 20 (cleanup engine code 4)") != std::string::npos);
    EXPECT_TRUE(refused) << ReadFileBytes(scratch_ / L"clean.txt");
}

TEST_F(ProgramUnattended, TheFakeWormsForeignThreadsAreReportedByAScanAndEndedByAClean) {
    grimlettest::FakeWorm worm(scratch_ / L"worm", L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    ASSERT_FALSE(worm.Threads().foreign.empty());
    const char kThreadRecord[] = "GRIMLET\xE7\xBA\xBF\xE7\xA8\x8B:\t\xE7\x94\xB1\xE7\x97\x85\xE6\xAF\x92\xE5\x88\x9B"
                                 "\xE5\xBB\xBA\xE7\x9A\x84\xE6\x81\xB6\xE6\x84\x8F\xE7\xBA\xBF\xE7\xA8\x8B";

    EXPECT_EQ(Run(L"/scan /report=scan.txt"), 1);
    const std::vector<std::string> scan = Records(Report(scratch_ / L"scan.txt"), "FOUND");
    EXPECT_NE(std::find(scan.begin(), scan.end(), kThreadRecord), scan.end());
    for (DWORD thread : worm.Threads().foreign) EXPECT_TRUE(grimlettest::ThreadRunning(thread)) << "after the scan";

    const int clean = Run(L"/clean /report=clean.txt");
    EXPECT_TRUE(clean == 2 || clean == 3) << clean;
    const std::vector<std::string> cleaned = Records(Report(scratch_ / L"clean.txt"), "CLEANED");
    EXPECT_TRUE(std::find(cleaned.begin(), cleaned.end(), std::string(strchr(kThreadRecord, '\t') + 1) + "\tOK") !=
                    cleaned.end() ||
                std::find(cleaned.begin(), cleaned.end(), std::string(strchr(kThreadRecord, '\t') + 1) + "\tRESTART") !=
                    cleaned.end());
    for (DWORD thread : worm.Threads().foreign) EXPECT_FALSE(grimlettest::ThreadRunning(thread)) << "after the clean";
    for (DWORD thread : worm.Threads().own) EXPECT_TRUE(grimlettest::ThreadRunning(thread)) << "the host's own thread";

    EXPECT_EQ(Run(L"/clean /report=again.txt"), 0);
}

// The worm's hooks in its host: shown by a scan, undone by a clean before its threads are ended, and
// the host keeps resolving names without reaching the worm's code; as the system is, and as Windows XP.
void HooksAreShownAndUndone(const ScratchFolder& scratch, const std::function<int(const std::wstring&)>& run) {
    const std::wstring status = scratch / L"dns.status";
    grimlettest::FakeWorm worm(scratch / L"hooked", L"svchost.exe", L"-k netsvcs --hook-dns \"" + status + L"\"");
    ASSERT_TRUE(worm.Ready());
    ASSERT_TRUE(grimlettest::WaitForFile(status));
    const std::string hookRow = "API\xE6\x8C\x82\xE9\x92\xA9\t";  // "API挂钩"
    const std::string id = "ID:[" + std::to_string(worm.Process().Id()) + "], API:[";

    EXPECT_EQ(run(L"/scan /report=hooks-scan.txt"), 1);
    std::vector<std::string> found = Records(SplitLines(ReadFileBytes(scratch / L"hooks-scan.txt")), "FOUND");
    for (const char* entry : {"DnsQuery_A]", "DnsQuery_W]"})
        EXPECT_EQ(1, std::count_if(found.begin(), found.end(), [&](const std::string& line) {
                      return line.rfind(hookRow, 0) == 0 && line.find(id + entry) != std::string::npos;
                  })) << entry;
    EXPECT_EQ(grimlettest::ReadDnsHookStatus(status).last, grimlettest::kWormsDnsAnswer) << "the scan changed nothing";

    const int clean = run(L"/clean /report=hooks-clean.txt");
    EXPECT_TRUE(clean == 2 || clean == 3) << clean;
    const std::vector<std::string> cleaned = Records(SplitLines(ReadFileBytes(scratch / L"hooks-clean.txt")), "CLEANED");
    EXPECT_EQ(2, std::count_if(cleaned.begin(), cleaned.end(), [&](const std::string& line) {
                  return line.find(id) != std::string::npos && line.size() > 3 && line.compare(line.size() - 3, 3, "\tOK") == 0;
              }));
    const grimlettest::DnsHookStatus after = grimlettest::ReadDnsHookStatus(status);
    EXPECT_TRUE(WaitUntil([&] { return grimlettest::ReadDnsHookStatus(status).calls > after.calls + 40; }, 20000));
    const grimlettest::DnsHookStatus later = grimlettest::ReadDnsHookStatus(status);
    EXPECT_EQ(later.hookRuns, after.hookRuns) << "the worm's code still runs";
    EXPECT_NE(later.last, grimlettest::kWormsDnsAnswer);
    EXPECT_TRUE(worm.Process().Running());
    for (DWORD thread : worm.Threads().foreign) EXPECT_FALSE(grimlettest::ThreadRunning(thread));
    EXPECT_EQ(run(L"/scan /report=hooks-again.txt"), 0) << "no worm thread came back";
}

TEST_F(ProgramUnattended, TheWormsHooksAreShownAndUndoneAndItsCodeIsNoLongerReached) {
    HooksAreShownAndUndone(scratch_, [this](const std::wstring& arguments) { return Run(arguments); });
}

TEST_F(ProgramUnattended, TheWormsHooksAreShownAndUndoneOnWindowsXp) {
    const WineVersionForProgram xp(L"Tidewash.exe", sizeof(void*) == 8 ? L"winxp64" : L"winxp");
    HooksAreShownAndUndone(scratch_, [this](const std::wstring& arguments) { return Run(arguments); });
    const std::vector<std::string> os = Records(Report(scratch_ / L"hooks-scan.txt"), "OS");
    ASSERT_EQ(os.size(), 1u);
    EXPECT_NE(os[0].find("Windows XP"), std::string::npos) << os[0];
}

// As Windows XP: hooks that are not the worm's are neither shown nor touched, and a worm thread that
// runs on in a module's code is left running, which the clean reports.
TEST_F(ProgramUnattended, HooksThatAreNotTheWormsAndABusyWormThreadAreLeftAloneOnWindowsXp) {
    const WineVersionForProgram xp(L"Tidewash.exe", sizeof(void*) == 8 ? L"winxp64" : L"winxp");
    const std::wstring intoModule = scratch_ / L"module.status", relay = scratch_ / L"relay.status";
    grimlettest::FakeWorm module(scratch_ / L"module", L"svchost.exe",
                                 L"-k netsvcs --hook-dns \"" + intoModule + L"\" --hook-into-module --busy-in-module");
    grimlettest::FakeWorm foreign(scratch_ / L"relay", L"svchost.exe",
                                  L"-k netsvcs --hook-dns \"" + relay + L"\" --foreign-relay");
    ASSERT_TRUE(module.Ready() && foreign.Ready());
    ASSERT_TRUE(grimlettest::WaitForFile(intoModule) && grimlettest::WaitForFile(relay));
    EXPECT_EQ(Run(L"/clean /report=others.txt"), 4) << "the busy worm thread was left running";
    const std::vector<std::string> report = Report(scratch_ / L"others.txt");
    for (const std::string& line : Records(report, "FOUND")) EXPECT_EQ(line.find("API\xE6\x8C\x82"), std::string::npos) << line;
    for (const std::wstring& status : {intoModule, relay}) {
        const grimlettest::DnsHookStatus before = grimlettest::ReadDnsHookStatus(status);
        EXPECT_TRUE(WaitUntil([&] { return grimlettest::ReadDnsHookStatus(status).calls > before.calls + 20; }, 20000));
        EXPECT_EQ(grimlettest::ReadDnsHookStatus(status).last, grimlettest::kWormsDnsAnswer) << "the hook was left";
    }
    EXPECT_TRUE(grimlettest::ThreadRunning(module.Threads().busy.at(0)));
    for (DWORD thread : module.Threads().foreign) EXPECT_FALSE(grimlettest::ThreadRunning(thread));
    EXPECT_TRUE(module.Process().Running() && foreign.Process().Running());
}

// The PATCH record of a scan: the native System32's netapi32.dll against the bulletin, as the system
// that Wine plays. The fixture carries 5.2.3790.4391, one below the fix for XP x64 SP2.
TEST_F(ProgramUnattended, ThePatchStatusFollowsTheNativeNetapi32AndTheSystem) {
    std::string fixture = ReadFileBytes(BinFolder() + L"\\netapi32_fixture.dll");
    const std::string::size_type signature = fixture.find(std::string("\xBD\x04\xEF\xFE", 4));
    ASSERT_NE(signature, std::string::npos);
    SystemFolderFile netapi32(SystemFolderFile::kNativeSystem32, L"netapi32.dll", fixture);
    ASSERT_TRUE(netapi32.Written());
    auto patchRecord = [&](const wchar_t* report) {
        const std::vector<std::string> records = Records(Report(scratch_ / report), "PATCH");
        return records.size() == 1 ? records[0] : std::string("(") + std::to_string(records.size()) + " records)";
    };
    auto fields = [](const std::string& record) {
        std::vector<std::string> parts;
        std::string::size_type start = 0, tab;
        while ((tab = record.find('\t', start)) != std::string::npos) {
            parts.push_back(record.substr(start, tab - start));
            start = tab + 1;
        }
        parts.push_back(record.substr(start));
        return parts;
    };
    {
        const WineVersionForProgram xp64(L"Tidewash.exe", L"winxp64");
        EXPECT_EQ(Run(L"/scan /report=patch-missing.txt"), 0) << "a setting, never a threat";
        std::vector<std::string> missing = fields(patchRecord(L"patch-missing.txt"));
        ASSERT_EQ(missing.size(), 5u) << patchRecord(L"patch-missing.txt");
        EXPECT_EQ(missing[0], "KB958644");
        EXPECT_EQ(missing[1], "missing");
        EXPECT_EQ(missing[2], "5.2.3790.4391");
        EXPECT_NE(missing[3].find("5.2.3790"), std::string::npos) << missing[3];
        EXPECT_EQ(missing[4], "the fix brings 5.2.3790.4392");

        // The file version of the fix: the fixed block's last word one higher.
        fixture[signature + 12] = static_cast<char>(fixture[signature + 12] + 1);
        ASSERT_TRUE(netapi32.Rewrite(fixture));
        EXPECT_EQ(Run(L"/scan /report=patch-installed.txt"), 0);
        EXPECT_EQ(fields(patchRecord(L"patch-installed.txt")).at(1), "installed");
        EXPECT_EQ(fields(patchRecord(L"patch-installed.txt")).at(2), "5.2.3790.4392");

        HANDLE held = netapi32.OpenExclusively();
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Run(L"/scan /report=patch-unknown.txt"), 0);
        CloseHandle(held);
        EXPECT_EQ(fields(patchRecord(L"patch-unknown.txt")).at(1), "unknown");
        EXPECT_EQ(fields(patchRecord(L"patch-unknown.txt")).at(2), "-");
    }
    // The prefix itself plays Windows 7.
    EXPECT_EQ(Run(L"/scan /report=patch-seven.txt"), 0);
    EXPECT_EQ(fields(patchRecord(L"patch-seven.txt")).at(1), "not affected");
}

// Task files and an autorun.inf that the worm or anyone shaped, cut short, lying about their lengths or
// oversized, are reported UNCHECKED by name, and the run goes on to its end; the scan runs as Windows XP
// too, where only the .job files exist.
TEST_F(ProgramUnattended, ShapedTaskFilesAndAnOversizedAutorunInfAreUncheckedNeverACrash) {
    SimulatedInfection infection(scratch_, UniqueServiceStem(L"Bad"));
    ASSERT_TRUE(infection.Planted());
    EmptiedTestDrives drives;
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring tasks = std::wstring(windows) + L"\\Tasks";
    CreateDirectoryW(tasks.c_str(), nullptr);
    JobFileFields worm;
    worm.parameters = u"\"" + std::u16string(infection.HiddenDll().begin(), infection.HiddenDll().end()) + u"\",Start";
    std::vector<uint8_t> cut = JobFileBytes(worm);
    cut.resize(cut.size() / 2);
    std::vector<uint8_t> lying = JobFileBytes(worm);
    lying[JobFile::kApplicationNameOffset] = 0xFF;  // the name's length points past the end
    lying[JobFile::kApplicationNameOffset + 1] = 0x7F;
    const std::vector<std::wstring> names = {tasks + L"\\Cut.job", tasks + L"\\Lying.job", tasks + L"\\Huge.job"};
    ASSERT_TRUE(WriteFileBytes(names[0], std::string(cut.begin(), cut.end())));
    ASSERT_TRUE(WriteFileBytes(names[1], std::string(lying.begin(), lying.end())));
    ASSERT_TRUE(WriteFileBytes(names[2], std::string(JobFile::kMaxFileBytes + 1, '\x01')));
    ASSERT_TRUE(WriteFileBytes(L"E:\\autorun.inf", "[AutoRun]\r\nopen=rundll32 x.dll,Go\r\n" + std::string(70000, ';')));
    for (const wchar_t* version : {L"", sizeof(void*) == 8 ? L"winxp64" : L"winxp"}) {
        std::unique_ptr<WineVersionForProgram> played;
        if (*version) played.reset(new WineVersionForProgram(L"Tidewash.exe", version));
        EXPECT_EQ(Run(L"/scan /report=bad.txt"), 1);
        const std::vector<std::string> unchecked = Records(Report(scratch_ / L"bad.txt"), "UNCHECKED");
        for (const char* what : {"task Cut.job", "task Lying.job", "task Huge.job", "file E:\\autorun.inf"})
            EXPECT_EQ(std::count_if(unchecked.begin(), unchecked.end(),
                                    [&](const std::string& record) { return record.rfind(what, 0) == 0; }),
                      1)
                << what << " as " << Narrow(version) << "\n" << ReadFileBytes(scratch_ / L"bad.txt");
    }
    for (const std::wstring& name : names) DeleteFileW(name.c_str());
}

// AutoRun on, as a healthy machine has it: a setting, never a threat. A scan names it and changes
// nothing, still ending with 0 (also as XP x64 plays it); a clean turns it off in the native registry
// view only; the quarantine lists the change, and a restore puts back exactly what was there, the
// absent mapping included.
TEST_F(ProgramUnattended, AutoRunLeftOnIsNoThreatACleanTurnsItOffAndARestorePutsItBackExactly) {
    const std::vector<AutoRunValue> start = {AutoRunValue(kAutoRunMappingKey, nullptr),
                                             AutoRunDword(kAutoRunPolicyKey, kAutoRunPolicyValue, 0x91)};
    for (const AutoRunValue& value : start) WriteAutoRunValue(value);
    ASSERT_TRUE(ReadAutoRunValues() == start);
    const std::string on = "on\tAutorun.inf=absent\tNoDriveTypeAutoRun=0x91";
    {
        const WineVersionForProgram xp64(L"Tidewash.exe", L"winxp64");
        EXPECT_EQ(Run(L"/scan /report=scan-xp.txt"), 0);
        EXPECT_EQ(Records(Report(scratch_ / L"scan-xp.txt"), "AUTORUN"), (std::vector<std::string>{on}));
    }
    EXPECT_EQ(Run(L"/scan /report=scan.txt"), 0);
    const std::vector<std::string> scan = Report(scratch_ / L"scan.txt");
    EXPECT_EQ(Records(scan, "AUTORUN"), (std::vector<std::string>{on}));
    EXPECT_TRUE(Records(scan, "FOUND").empty());
    const std::vector<std::string> nothingCounted = {"found=0 removed=0 failed=0 restart=0 unchecked=0"};
    EXPECT_EQ(Records(scan, "SUMMARY"), nothingCounted);
    EXPECT_TRUE(ReadAutoRunValues() == start) << "the scan changed AutoRun";

    // What a 32-bit program sees under WOW64 is not what the shell reads, and is left alone.
    HKEY wow = nullptr;
    const bool hasWowView = NativeRegistryView() != 0;
    EXPECT_EQ(Run(L"/clean /report=clean.txt"), 0);
    const std::vector<std::string> clean = Report(scratch_ / L"clean.txt");
    EXPECT_EQ(Records(clean, "AUTORUN"),
              (std::vector<std::string>{"turned off\tAutorun.inf=@SYS:DoesNotExist\tNoDriveTypeAutoRun=0xFF"}));
    EXPECT_TRUE(Records(clean, "CLEANED").empty());
    EXPECT_EQ(Records(clean, "SUMMARY"), nothingCounted);
    EXPECT_TRUE(ReadAutoRunValues() ==
                (std::vector<AutoRunValue>{AutoRunString(kAutoRunMappingKey, nullptr, L"@SYS:DoesNotExist"),
                                           AutoRunDword(kAutoRunPolicyKey, kAutoRunPolicyValue, 0xFF)}));
    if (hasWowView) {
        EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAutoRunMappingKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &wow),
                  ERROR_SUCCESS);
        if (wow) RegCloseKey(wow);
    }
    EXPECT_EQ(Run(L"/scan /report=off.txt"), 0);
    EXPECT_EQ(Records(Report(scratch_ / L"off.txt"), "AUTORUN"),
              (std::vector<std::string>{"off\tAutorun.inf=@SYS:DoesNotExist\tNoDriveTypeAutoRun=0xFF"}));

    EXPECT_EQ(Run(L"/quarantine /report=list.txt"), 0);
    std::string sha1;
    for (const std::string& item : Records(Report(scratch_ / L"list.txt"), "ITEM"))
        if (item.size() > 41 && item.compare(40, 9, "\tAutoRun\t") == 0) sha1 = item.substr(0, 40);
    ASSERT_EQ(sha1.size(), 40u) << ReadFileBytes(scratch_ / L"list.txt");
    EXPECT_EQ(Run(L"/restore=" + Widen(sha1) + L" /report=restore.txt"), 0);
    EXPECT_EQ(Records(Report(scratch_ / L"restore.txt"), "RESTORED"), (std::vector<std::string>{sha1}));
    EXPECT_TRUE(ReadAutoRunValues() == start) << "not exactly what was there";
    EXPECT_EQ(Run(L"/restore=" + Widen(sha1) + L" /report=again.txt"), 8);
}

TEST_F(ProgramUnattended, ACommandLineItDoesNotUnderstandChangesNothingAndGives87) {
    const std::wstring workFolder = scratch_ / L"GRIMLET专杀";
    EXPECT_EQ(Run(L"/scan /bogus"), 87);
    EXPECT_EQ(Run(L"/scan /report="), 87);
    EXPECT_EQ(Run(L"/bogus /report=usage.txt"), 87);
    EXPECT_FALSE(DirectoryExists(workFolder)) << "nothing was unpacked";
    EXPECT_TRUE(NewMachineReports().empty());
    // Asked for a report, it explains itself there.
    const std::vector<std::string> usage = Report(scratch_ / L"usage.txt");
    ASSERT_GE(usage.size(), 3u);
    EXPECT_EQ(usage[1], "ERROR\tunknown switch: /bogus");
    EXPECT_FALSE(Records(usage, "USAGE").empty());
}

// A report path that leads to another file (a second hard link here, or a folder of the path that is
// a link: the build's Unix symbolic link, which Wine shows as Windows shows a junction) is never written
// through: the file keeps its bytes, the report goes to the per-machine folder and the exit code
// carries 16 beside the scan's own outcome.
TEST_F(ProgramUnattended, AReportPathThatIsALinkOrCannotBeWrittenAdds16AndTheReportGoesToTheMachinesFolder) {
    ASSERT_TRUE(WriteFileBytes(scratch_ / L"target.ini", "someone else's"));
    ASSERT_TRUE(CreateHardLinkW((scratch_ / L"linked.txt").c_str(), (scratch_ / L"target.ini").c_str(), nullptr));
    const std::wstring behindLink = BinFolder() + L"\\enum_links\\real\\report_target.txt";
    ASSERT_TRUE(WriteFileBytes(behindLink, "behind the link"));
    for (const std::wstring& path : {scratch_ / L"linked.txt", scratch_ / L"missing\\report.txt",
                                     BinFolder() + L"\\enum_links\\link\\report_target.txt"}) {
        const int code = Run(L"/scan \"/report=" + path + L"\"");
        const std::vector<std::wstring> machineReports = NewMachineReports();
        ASSERT_EQ(machineReports.size(), 1u) << Narrow(path);
        const std::vector<std::string> report = Report(machineReports[0]);
        ExpectHeader(report, "scan");
        ASSERT_EQ(Records(report, "SUMMARY").size(), 1u);
        EXPECT_EQ(code, 16 + (Records(report, "SUMMARY")[0].rfind("found=0 ", 0) == 0 ? 0 : 1)) << Narrow(path);
        DeleteFileW(machineReports[0].c_str());
    }
    EXPECT_EQ(ReadFileBytes(scratch_ / L"target.ini"), "someone else's");
    EXPECT_EQ(ReadFileBytes(behindLink), "behind the link");
    DeleteFileW(behindLink.c_str());
    EXPECT_FALSE(DirectoryExists(scratch_ / L"missing"));
}

// Started from a folder where users may write, with an old work folder there whose planted DLL is held
// open: the run works in a folder of its own under the per-machine folder and leaves the old one alone.
TEST_F(ProgramUnattended, AScanFromAFolderUsersMayWriteNeverTouchesOrLoadsWhatIsThere) {
    const std::wstring plugin = scratch_ / L"GRIMLET专杀\\plugin";
    ASSERT_TRUE(CreateDirectoryW((scratch_ / L"GRIMLET专杀").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(plugin.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(plugin + L"\\planted.dll", "MZ not ours"));
    HANDLE held = CreateFileW((plugin + L"\\planted.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // A folder that a run cut short left under Work goes too.
    const std::set<std::wstring> workBefore = EntriesIn(DataFolder(L"Work"));
    const std::wstring leftover = DataFolder(L"Work") + L"\\cut-short-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(DataFolder(L"Work").c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(leftover.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(leftover + L"\\grimlet.dll", "MZ left behind"));
    WindowCreationWatch::Outcome outcome =
        WindowCreationWatch::Run(ProductFolder() + L"\\Tidewash.exe", L"/scan /report=scan.txt", scratch_.Path());
    CloseHandle(held);
    EXPECT_FALSE(DirectoryExists(leftover));
    EXPECT_TRUE(outcome.attempts.empty());
    EXPECT_TRUE(outcome.exitCode == 0 || outcome.exitCode == 1) << outcome.exitCode;
    EXPECT_TRUE(Records(Report(scratch_ / L"scan.txt"), "ERROR").empty());
    EXPECT_EQ(Records(Report(scratch_ / L"scan.txt"), "SUMMARY").size(), 1u);
    EXPECT_EQ(EntriesIn(plugin), (std::set<std::wstring>{L"planted.dll"}));
    EXPECT_EQ(EntriesIn(DataFolder(L"Work")), workBefore);
    RemoveDirectoryW(plugin.c_str());
}

// While another run is alive (played by holding its name), a start touches nothing and says why.
TEST_F(ProgramUnattended, ASecondStartWhileAnotherRunsTouchesNothingAndGives170) {
    HANDLE firstRun = CreateMutexW(nullptr, TRUE, L"Global\\Quorvel.Tidewash.Run");
    ASSERT_NE(firstRun, nullptr);
    const std::string quarantineBefore = ReadFileBytes(DataFolder(L"Quarantine") + L"\\manifest.txt");
    const int code = Run(L"/clean /report=busy.txt");
    CloseHandle(firstRun);
    EXPECT_EQ(code, 170);
    const std::vector<std::string> report = Report(scratch_ / L"busy.txt");
    ExpectHeader(report, "clean");
    EXPECT_EQ(Records(report, "ERROR"),
              (std::vector<std::string>{"another Tidewash run is in progress on this machine; nothing was done"}));
    EXPECT_TRUE(Records(report, "SUMMARY").empty());
    EXPECT_EQ(ReadFileBytes(DataFolder(L"Quarantine") + L"\\manifest.txt"), quarantineBefore);
}

TEST_F(ProgramUnattended, ComponentsThatCannotBePreparedAreAnErrorRecordAndMinusOneWithoutABox) {
    // A file where the per-machine Work folder must go: no work folder, nothing unpacked or loaded.
    const std::wstring work = DataFolder(L"Work");
    RemoveDirectoryW(work.c_str());  // empty between runs
    ASSERT_TRUE(WriteFileBytes(work, "in the way"));
    const int code = Run(L"/clean /report=failed.txt");
    DeleteFileW(work.c_str());
    EXPECT_EQ(code, -1);
    const std::vector<std::string> report = Report(scratch_ / L"failed.txt");
    ExpectHeader(report, "clean");
    ASSERT_EQ(Records(report, "ERROR").size(), 1u);
    EXPECT_NE(Records(report, "ERROR")[0].find(Narrow(work) + " is not a folder"), std::string::npos)
        << Records(report, "ERROR")[0];
    EXPECT_EQ(Records(report, "ERROR")[0].rfind("\xE5\x88\x9D\xE5\xA7\x8B\xE5\x8C\x96\xE7\xBB\x84\xE4\xBB\xB6"
                                                "\xE5\xA4\xB1\xE8\xB4\xA5", 0), 0u);  // 初始化组件失败
    EXPECT_TRUE(Records(report, "SUMMARY").empty()) << "a stopped run has no summary";
}

TEST_F(ProgramUnattended, WithoutArgumentsTheDialogIsTriedAndCannotAppearInThisSessionWithoutDisplay) {
    // The control of the watch and of the session: the dialog's attempt is caught, and the program is
    // ended right there. Nor could the dialog have appeared: this session cannot make any window.
    WindowCreationWatch::Outcome outcome =
        WindowCreationWatch::Run(ProductFolder() + L"\\Tidewash.exe", L"", scratch_.Path(), 120000);
    bool dialog = false;
    for (const WindowCreationWatch::Attempt& attempt : outcome.attempts)
        dialog = dialog || attempt.function == "user32.dll!DialogBoxParamW";
    EXPECT_TRUE(dialog) << WindowCreationWatch::Describe(outcome.attempts);
    EXPECT_EQ(outcome.exitCode, WindowCreationWatch::kEndedAtAttempt);
    HWND window = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (window) DestroyWindow(window);
    EXPECT_EQ(window, nullptr) << "run this test through tools/wine_headless_run.sh";
}

}  // namespace
