// The autorun.inf reader: sections and keys in any case, the first key winning, junk, the byte-order
// marks, files cut short or oversized, and the rundll32 target a command names on its drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grimlet/common/AutoRunInf.h"

using namespace std::string_literals;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> Utf16(const std::u16string& text) {
    std::vector<uint8_t> bytes{0xFF, 0xFE};
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

std::vector<AutoRunInf::Action> Actions(const std::vector<uint8_t>& bytes) {
    AutoRunInf::Contents contents;
    std::string problem;
    EXPECT_TRUE(AutoRunInf::Parse(bytes, contents, problem)) << problem;
    return contents.actions;
}

}  // namespace

TEST(AutoRunInf, ReadsTheActionsOfBothSectionsInAnyCaseFirstKeyWinning) {
    const auto actions = Actions(Bytes(
        "; written by the worm\r\n"
        "[autoRUN]\r\n"
        "junk without an equals sign\r\n"
        "=no key\r\n"
        "icon=x.ico\r\n"
        "  OPEN = \"rundll32.exe RECYCLER\\w.dll,Go\" \r\n"
        "open=setup.exe\r\n"
        "shell=verb\r\n"
        "shell\\Verb\\Command=rundll32 w.dll,Go\n"
        "shell\\a\\b\\command=nested.exe\r"
        "[Other]\r\n"
        "shellexecute=other.exe\r\n"
        "[AutoRun.AMD64\r\n"  // junk: no closing bracket, the section stays [Other]
        "shellexecute=still-other.exe\r\n"
        "[ AutoRun.Amd64 ] trailing text\r\n"
        "ShellExecute=rundll32 x64.dll,Go\r\n"
        "[AUTORUN]\r\n"
        "open=late.exe\r\n"
        "shellexecute=late.exe"));  // cut short: no final line break
    ASSERT_EQ(actions.size(), 4u);
    EXPECT_EQ(actions[0].key, u"OPEN");
    EXPECT_EQ(actions[0].command, u"rundll32.exe RECYCLER\\w.dll,Go");
    EXPECT_EQ(actions[1].key, u"shell\\Verb\\Command");
    EXPECT_EQ(actions[2].command, u"rundll32 x64.dll,Go");
    EXPECT_EQ(actions[3].key, u"shellexecute");  // the first shellexecute of [AutoRun]
    EXPECT_EQ(actions[3].command, u"late.exe");
}

TEST(AutoRunInf, ReadsUtf16AndMarkedUtf8AndHidesNothingBehindNul) {
    const auto wide = Actions(Utf16(u"[AutoRun]\r\nopen=rundll32 \u7121.dll,Go\r\n"));
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0].command, u"rundll32 \u7121.dll,Go");

    // An odd last byte is dropped; a NUL ends a line, not the file.
    std::vector<uint8_t> odd = Utf16(u"[AutoRun]\0open=rundll32 w.dll"s);
    odd.push_back(0x41);
    ASSERT_EQ(Actions(odd).size(), 1u);

    const auto marked = Actions(Bytes("\xEF\xBB\xBF[AutoRun]\nopen=rundll32 \xC3\xA9.dll"));
    ASSERT_EQ(marked.size(), 1u);
    EXPECT_EQ(marked[0].command, u"rundll32 \uFFFD\uFFFD.dll");
    EXPECT_TRUE(Actions({}).empty());
    EXPECT_TRUE(Actions(Bytes("\xFF\xFE")).empty());
}

TEST(AutoRunInf, RefusesAnOversizedFile) {
    std::vector<uint8_t> bytes = Bytes("[AutoRun]\r\nopen=rundll32 w.dll\r\n");
    bytes.resize(AutoRunInf::kMaxBytes, ' ');
    EXPECT_EQ(Actions(bytes).size(), 1u);
    bytes.push_back(' ');
    AutoRunInf::Contents contents;
    std::string problem;
    EXPECT_FALSE(AutoRunInf::Parse(bytes, contents, problem));
    EXPECT_FALSE(problem.empty());
}

TEST(AutoRunInf, FindsTheRundll32TargetOnlyOnTheDrive) {
    struct Case {
        const char16_t* command;
        const char16_t* target;  // null: no target
    } cases[] = {
        {u"rundll32.exe RECYCLER\\w.dll,Go", u"RECYCLER\\w.dll"},
        {u"RunDll32 w.dll Go", u"w.dll"},
        {u"\"C:\\WINDOWS\\system32\\rundll32.exe\" \"sub dir/w.dll\",Go", u"sub dir\\w.dll"},
        {u"rundll32 e:\\w.dll,Go", u"w.dll"},
        {u"rundll32 \\\\w.dll,Go", nullptr},  // a share
        {u"rundll32 \\w.dll,Go", u"w.dll"},
        {u"rundll32 f:\\w.dll,Go", nullptr},
        {u"rundll32 %TEMP%\\w.dll,Go", nullptr},
        {u"rundll32 ..\\w.dll,Go", nullptr},
        {u"rundll32 a\\.\\w.dll,Go", u"a\\w.dll"},
        {u"rundll32 .\\w.dll,Go", u"w.dll"},
        {u"rundll32 .\\,Go", nullptr},
        {u"rundll32 w.dll:hidden,Go", nullptr},
        {u"rundll32 dir\\,Go", nullptr},
        {u"rundll32 \uFFFD.dll,Go", nullptr},
        {u"rundll32", nullptr},
        {u"\"rundll32.exe", nullptr},  // cut short inside the quotes
        {u"setup.exe w.dll", nullptr},
        {u"notrundll32.exe w.dll", nullptr},
    };
    for (const Case& c : cases) {
        std::u16string target;
        std::string problem;
        const bool found = AutoRunInf::Rundll32Target(c.command, u'E', target, problem);
        EXPECT_EQ(found, c.target != nullptr) << std::string(c.command, c.command + std::char_traits<char16_t>::length(c.command));
        EXPECT_EQ(target, c.target ? c.target : u"");
        EXPECT_EQ(problem.empty(), c.target != nullptr);
    }
}
