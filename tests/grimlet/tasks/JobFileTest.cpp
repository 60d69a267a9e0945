// The task-file reader: a file as the Task Scheduler writes it, and files that are cut short, point
// past their end, lie about their layout or are too large: each refused with a reason, never a crash.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "grimlet/tasks/JobFile.h"
#include "grimlet/tasks/TaskFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/support/JobFileBytes.h"

using testsupport::JobFileBytes;
using testsupport::JobFileFields;

namespace {

std::string ProblemOf(const std::vector<uint8_t>& bytes) {
    JobFileTask task;
    std::string problem;
    EXPECT_FALSE(JobFile::Parse(bytes.data(), bytes.size(), task, problem));
    EXPECT_FALSE(problem.empty());
    return problem;
}

JobFileFields At1Fields() {
    JobFileFields fields;
    fields.parameters = u"\"C:\\WINDOWS\\system32\\wrmhlp.dll\",ServiceMain -r";
    fields.workingDirectory = u"%SystemRoot%";
    fields.comment = u"";
    fields.userData = {1, 2, 3};
    fields.triggers = 2;
    return fields;
}

TEST(JobFile, ReadsEveryStringOfATaskFile) {
    const std::vector<uint8_t> bytes = JobFileBytes(At1Fields());
    JobFileTask task;
    std::string problem;
    ASSERT_TRUE(JobFile::Parse(bytes.data(), bytes.size(), task, problem)) << problem;
    EXPECT_EQ(task.productVersion, 0x0501);
    EXPECT_EQ(task.applicationName, u"rundll32.exe");
    EXPECT_EQ(task.parameters, At1Fields().parameters);
    EXPECT_EQ(task.workingDirectory, u"%SystemRoot%");
    EXPECT_EQ(task.author, u"WORKGROUP\\Administrator");
    EXPECT_EQ(task.comment, u"");
    EXPECT_EQ(task.triggerCount, 2);

    // A string of length 0 is absent; a job signature after the triggers is left unread.
    std::vector<uint8_t> absent = JobFileBytes(JobFileFields());
    absent[70 + 2 + 2 * 13] = 0;  // the parameters' count: "rundll32.exe" + NUL is 13 units
    absent.erase(absent.begin() + 74 + 2 * 13, absent.begin() + 76 + 2 * 13);
    const uint16_t triggers = static_cast<uint16_t>(absent[22] | (absent[23] << 8)) - 2;
    absent[22] = static_cast<uint8_t>(triggers);
    absent[23] = static_cast<uint8_t>(triggers >> 8);
    absent.insert(absent.end(), 64, 0xCC);
    ASSERT_TRUE(JobFile::Parse(absent.data(), absent.size(), task, problem)) << problem;
    EXPECT_EQ(task.parameters, u"");
}

TEST(JobFile, RefusesEveryCutAndEveryLie) {
    const std::vector<uint8_t> good = JobFileBytes(At1Fields());
    for (std::size_t size = 0; size < good.size(); ++size) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + size);
        ProblemOf(cut);
    }
    JobFileTask task;
    std::string problem;
    EXPECT_FALSE(JobFile::Parse(nullptr, 0, task, problem));

    std::vector<uint8_t> bytes = good;
    bytes[2] = 2;
    EXPECT_NE(ProblemOf(bytes).find("file version 2"), std::string::npos);
    bytes = good;
    bytes[20] = 90;  // the application name said to lie further on: another reader would see another command
    EXPECT_NE(ProblemOf(bytes).find("offset 90"), std::string::npos);
    bytes = good;
    bytes[70] = 0xFF; bytes[71] = 0xFF;  // a length far past the end
    EXPECT_EQ(ProblemOf(bytes), "application name runs past the end of the file");
    bytes = good;
    bytes[72 + 2 * 12] = u'x';  // the application name's NUL overwritten
    EXPECT_EQ(ProblemOf(bytes), "application name is not NUL-terminated");
    bytes = good;
    bytes[72 + 2 * 8] = 0;  // "rundll32\0exe": a reader that stops at the NUL sees another program
    EXPECT_EQ(ProblemOf(bytes), "application name holds a NUL inside");
    bytes = good;
    ++bytes[22];
    EXPECT_NE(ProblemOf(bytes).find("triggers are said to start"), std::string::npos);
    bytes = good;
    bytes[bytes.size() - 2 * 48 - 2] = 3;  // three triggers, two present
    EXPECT_EQ(ProblemOf(bytes), "triggers run past the end of the file");

    JobFileFields huge = At1Fields();
    huge.triggers = 0;
    bytes = JobFileBytes(huge);
    bytes.resize(JobFile::kMaxFileBytes + 1, 0);
    EXPECT_NE(ProblemOf(bytes).find("larger than"), std::string::npos);
}

// A Tasks folder: At1.job and At2.job read, a cut-short file and a folder named like a task said to be
// unchecked, and other files left alone.
TEST(TaskFolder, ReadsEveryTaskFileThroughItsHandle) {
    testsupport::ScratchFolder folder(L"tasks");
    const std::vector<uint8_t> at1 = JobFileBytes(At1Fields());
    JobFileFields applet;
    applet.parameters = u"shell32.dll,Control_RunDLL desk.cpl";
    const std::vector<uint8_t> at2 = JobFileBytes(applet);
    ASSERT_TRUE(testsupport::WriteFileBytes(folder / L"At1.job", std::string(at1.begin(), at1.end())));
    ASSERT_TRUE(testsupport::WriteFileBytes(folder / L"At2.job", std::string(at2.begin(), at2.end())));
    ASSERT_TRUE(testsupport::WriteFileBytes(folder / L"At3.job", std::string(at1.begin(), at1.begin() + 99)));
    ASSERT_TRUE(testsupport::WriteFileBytes(folder / L"desktop.ini", "[.ShellClassInfo]"));
    ASSERT_TRUE(CreateDirectoryW((folder / L"At4.job").c_str(), nullptr));
    std::map<std::wstring, TaskFileEntry> byName;
    for (const TaskFileEntry& entry : ReadTaskFolder(folder.Path())) byName[entry.name] = entry;
    ASSERT_EQ(byName.size(), 4u);
    EXPECT_TRUE(byName[L"At1.job"].read);
    EXPECT_EQ(byName[L"At1.job"].task.parameters, At1Fields().parameters);
    EXPECT_EQ(byName[L"At2.job"].task.parameters, applet.parameters);
    EXPECT_FALSE(byName[L"At3.job"].read);
    EXPECT_EQ(byName[L"At3.job"].problem, "parameters length lies past the end of the file");
    EXPECT_FALSE(byName[L"At4.job"].read);
    EXPECT_TRUE(ReadTaskFolder(folder / L"none").empty());
}

}  // namespace
