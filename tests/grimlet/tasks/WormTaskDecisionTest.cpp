// Whose task is the worm's: rundll32 or the DLL itself on a worm DLL of this scan (the same file or the
// same bytes), judged on files a fake look-up names; the control-panel task of every system is not.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "grimlet/plugin/WormTaskStep.h"
#include "grimlet/tasks/RegisteredTasks.h"
#include "grimlet/tasks/TaskFileLookup.h"
#include "grimlet/tasks/WormTaskDecision.h"
#include "tests/support/TestSupport.h"

namespace {

using Kind = WormTaskVerdict::Kind;

class FakeLookup final : public ITaskFileLookup {
public:
    Result Identify(const std::wstring& path, TaskFileIdentity& identity) override {
        if (path == unreadable) return Result::Unreadable;
        const auto it = files.find(path);
        if (it == files.end()) return Result::Absent;
        identity = it->second;
        return Result::Found;
    }
    std::map<std::wstring, TaskFileIdentity> files;
    std::wstring unreadable;
};

const wchar_t kSystem[] = L"C:\\windows\\system32";
const wchar_t kWorm[] = L"C:\\windows\\system32\\wrmhlp.dll";

class WormTaskDecisionTest : public ::testing::Test {
protected:
    WormTaskDecisionTest() {
        folders.systemFolders = {kSystem};
        folders.windowsFolder = L"C:\\windows";
        lookup.files[kWorm] = {7, 100, "aa11"};
        lookup.files[L"C:\\windows\\system32\\shell32.dll"] = {7, 200, "bb22"};
        lookup.files[L"C:\\windows\\system32\\rundll32.exe"] = {7, 300, "cc33"};
        worms.push_back({kWorm, {7, 100, "aa11"}});
    }
    WormTaskVerdict Judge(const std::wstring& program, const std::wstring& parameters, const std::wstring& directory = L"") {
        return WormTaskDecision(worms, folders, lookup).Judge({program, parameters, directory});
    }
    TaskSearchFolders folders;
    FakeLookup lookup;
    std::vector<ProvenWormDll> worms;
};

TEST_F(WormTaskDecisionTest, TheWormsTaskIsRundll32OnItsDll) {
    WormTaskVerdict verdict = Judge(L"rundll32.exe", L"\"C:\\windows\\system32\\wrmhlp.dll\",ServiceMain");
    EXPECT_EQ(verdict.kind, Kind::Worm);
    EXPECT_EQ(verdict.dllPath, kWorm);
    EXPECT_EQ(Judge(L"C:\\WINDOWS\\System32\\RUNDLL32.EXE", L"wrmhlp,ServiceMain").kind, Kind::Worm);
    EXPECT_EQ(Judge(L"\"rundll32\"", L"C:\\windows\\system32\\wrmhlp.dll ServiceMain").kind, Kind::NotWorm)
        << "an unquoted name with a blank names no one DLL";
    // A copy elsewhere with the same bytes, and the DLL as the program itself.
    lookup.files[L"D:\\copy.tmp"] = {9, 5, "aa11"};
    EXPECT_EQ(Judge(L"rundll32", L"D:\\copy.tmp,x").kind, Kind::Worm);
    EXPECT_EQ(Judge(kWorm, L"").kind, Kind::Worm);
}

TEST_F(WormTaskDecisionTest, OtherTasksAreNotTheWorms) {
    // At2.job of every system: a control-panel applet.
    WormTaskVerdict verdict = Judge(L"rundll32.exe", L"shell32.dll,Control_RunDLL desk.cpl");
    EXPECT_EQ(verdict.kind, Kind::NotWorm);
    EXPECT_EQ(verdict.dllPath, L"C:\\windows\\system32\\shell32.dll");
    EXPECT_EQ(Judge(L"C:\\windows\\system32\\rundll32.exe", L"").kind, Kind::NotWorm);
    EXPECT_EQ(Judge(L"notepad.exe", L"\"C:\\windows\\system32\\wrmhlp.dll\",x").kind, Kind::NotWorm);
    // A bare name loads from the system folder before the task's working directory.
    lookup.files[L"E:\\work\\shell32.dll"] = {8, 1, "aa11"};
    EXPECT_EQ(Judge(L"rundll32", L"shell32,Control_RunDLL", L"E:\\work").kind, Kind::NotWorm);
    EXPECT_EQ(Judge(L"rundll32", L"gone.dll,x").kind, Kind::NotWorm);
    lookup.files[L"E:\\work\\gone.dll"] = {8, 2, "aa11"};
    EXPECT_EQ(Judge(L"rundll32", L"gone.dll,x", L"E:\\work").kind, Kind::Worm);
    // The engine knows the worm by its bytes only: a file without a volume or index is never it by name.
    worms = {{L"", {0, 0, "dd44"}}};
    lookup.files[L"E:\\noindex.dll"] = {0, 0, "ee55"};
    EXPECT_EQ(Judge(L"rundll32", L"E:\\noindex.dll,x").kind, Kind::NotWorm);
}

TEST_F(WormTaskDecisionTest, WhatCannotBeCheckedIsSaid) {
    lookup.unreadable = kWorm;
    EXPECT_EQ(Judge(L"rundll32", L"wrmhlp.dll,x").kind, Kind::Unchecked);
    EXPECT_EQ(Judge(L"rundll32", L"sub\\wrmhlp.dll,x").kind, Kind::Unchecked);
}

TEST(WormTaskDecision, Rundll32Target) {
    std::wstring dll;
    EXPECT_TRUE(WormTaskDecision::Rundll32Target(L"  \"C:\\a b\\x.dll\" ,Entry", dll));
    EXPECT_EQ(dll, L"C:\\a b\\x.dll");
    EXPECT_TRUE(WormTaskDecision::Rundll32Target(L"x.dll,Entry arg", dll));
    EXPECT_EQ(dll, L"x.dll");
    for (const wchar_t* refused : {L"", L"\"\",x", L"\"C:\\x.dll", L"\"C:\\x.dll\"y,z", L"C:\\a b.dll,x", L",x"})
        EXPECT_FALSE(WormTaskDecision::Rundll32Target(refused, dll)) << refused;
}

// The real look-up: one file seen twice is the same file, a copy has the same bytes only, and a folder
// is no DLL to judge.
TEST(TaskFileLookup, NamesFilesByHandleAndBytes) {
    testsupport::ScratchFolder folder(L"tasks");
    ASSERT_TRUE(testsupport::WriteFileBytes(folder / L"worm.dll", "MZ worm bytes"));
    ASSERT_TRUE(testsupport::WriteFileBytes(folder / L"copy.dll", "MZ worm bytes"));
    ASSERT_TRUE(CreateDirectoryW((folder / L"dir.dll").c_str(), nullptr));
    TaskFileLookup lookup;
    TaskFileIdentity worm, again, copy;
    ASSERT_EQ(lookup.Identify(folder / L"worm.dll", worm), ITaskFileLookup::Result::Found);
    ASSERT_EQ(lookup.Identify(folder / L"worm.dll", again), ITaskFileLookup::Result::Found);
    ASSERT_EQ(lookup.Identify(folder / L"copy.dll", copy), ITaskFileLookup::Result::Found);
    EXPECT_EQ(worm.fileIndex, again.fileIndex);
    EXPECT_NE(worm.fileIndex, copy.fileIndex);
    EXPECT_EQ(worm.sha1, copy.sha1);
    EXPECT_EQ(worm.sha1.size(), 40u);
    EXPECT_EQ(lookup.Identify(folder / L"gone.dll", copy), ITaskFileLookup::Result::Absent);
    EXPECT_EQ(lookup.Identify(folder / L"dir.dll", copy), ITaskFileLookup::Result::Unreadable);
    // Only files of local fixed drives are opened for a task: never a pipe, a share, a device or a stick.
    for (const wchar_t* elsewhere : {L"\\\\.\\pipe\\w.dll", L"\\\\host\\share\\w.dll", L"\\\\?\\C:\\w.dll",
                                     L"C:\\COM1.dll", L"C:\\dir\\nul .txt", L"E:\\w.dll", L"w.dll"})
        EXPECT_EQ(lookup.Identify(elsewhere, copy), ITaskFileLookup::Result::Unreadable) << testsupport::Narrow(elsewhere);

    const std::vector<ProvenWormDll> worms = {{folder / L"worm.dll", worm}};
    const TaskSearchFolders folders;
    const std::wstring copyLine = L"\"" + (folder / L"copy.dll") + L"\",ServiceMain";
    EXPECT_EQ(WormTaskDecision(worms, folders, lookup).Judge({L"rundll32.exe", copyLine, L""}).kind, Kind::Worm);
}

}  // namespace

// The plug-in's step over tasks read elsewhere: one row per worm task with the DLL's proven SHA-1 for the
// engine, an unchecked line for a task that could not be read, nothing for anything else.
TEST_F(WormTaskDecisionTest, TheStepRowsWormTasksAndReportsUnreadableOnes) {
    TaskFileEntry at1;
    at1.name = L"At1.job";
    at1.read = true;
    at1.task.applicationName = u"rundll32.exe";
    at1.task.parameters = u"%SystemRoot%\\system32\\wrmhlp.dll,ServiceMain";
    TaskFileEntry at2 = at1;
    at2.name = L"At2.job";
    at2.task.parameters = u"shell32.dll,Control_RunDLL desk.cpl";
    TaskFileEntry cut;
    cut.name = L"At3.job";
    cut.problem = "cut short";
    wchar_t windows[MAX_PATH] = {};
    GetEnvironmentVariableW(L"SystemRoot", windows, MAX_PATH);
    const std::wstring expandedWorm = std::wstring(windows) + L"\\system32\\wrmhlp.dll";
    lookup.files[expandedWorm] = {7, 100, "aa11"};
    // A Task Scheduler 2.0 task is judged on all its actions; one that is also a .job file is judged as that.
    RegisteredTask wrm;
    wrm.path = L"\\Microsoft\\Wrm";
    wrm.read = true;
    wrm.actions = {{L"notepad.exe", L"", L""}, {L"rundll32.exe", L"wrmhlp.dll,Start", L""}};
    const std::vector<TaskFileEntry> jobs = {at1, at2};
    EXPECT_TRUE(IsAlsoJobFile(L"\\at1", jobs));
    EXPECT_FALSE(IsAlsoJobFile(L"\\Folder\\At1", jobs));
    EXPECT_FALSE(IsAlsoJobFile(L"\\At3", jobs));
    std::vector<ScanRecord> results;
    JudgeWormTasks({TaskFromJobFile(at1), TaskFromJobFile(at2), TaskFromJobFile(cut), TaskFromRegistered(wrm)}, worms,
                   folders, lookup, results);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[2].detail, L"任务:[\\Microsoft\\Wrm] 命令:[notepad.exe; rundll32.exe wrmhlp.dll,Start]");
    EXPECT_EQ(results[2].objectPath, L"\\Microsoft\\Wrm");
    EXPECT_EQ(results[0].kind, kScanRecordWormTask);
    EXPECT_EQ(results[0].title, L"GRIMLET计划任务:");
    EXPECT_EQ(results[0].detail, L"任务:[At1.job] 命令:[rundll32.exe %SystemRoot%\\system32\\wrmhlp.dll,ServiceMain]");
    EXPECT_EQ(results[0].objectPath, L"At1.job");
    EXPECT_EQ(results[0].sha1, "aa11");
    EXPECT_EQ(results[1].kind, kScanRecordUnchecked);
    EXPECT_EQ(results[1].detail, L"task At3.job");
    EXPECT_EQ(results[1].title, L"cut short");
}
