// The delivered program as a user starts it: it unpacks its payload into a fresh work folder, or shows
// its error box and ends with -1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/payload/PayloadStamp.h"
#include "platform/payload/ProgramCopyCheck.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kCaption[] = L"GRIMLET专杀工具";
const wchar_t kFailureText[] = L"初始化组件失败";
const std::string kMarker = std::string("quorvel") + " tidewash clean tool";
const std::string kStampTag = "TidewashPayload1";
constexpr std::size_t kImageDigestAt = 8 + PayloadStamp::kDigestSize;  // behind the payload's length and digest
constexpr std::size_t kStampSize = kImageDigestAt + PayloadStamp::kDigestSize;

std::wstring ProductExe() { return ProductFolder() + L"\\Tidewash.exe"; }
std::wstring ProductImage() { return ProductFolder() + L"\\..\\obj\\Tidewash.exe"; }

// The PE headers without the two fields that signing a release rewrites when it appends the certificate
// table: the checksum and the certificate table's directory entry.
std::string WithoutSignatureFields(std::string pe) {
    if (pe.size() < 0x40) return pe;
    uint32_t nt = 0;
    std::memcpy(&nt, &pe[0x3C], sizeof(nt));
    const std::size_t optional = std::size_t{nt} + 24;
    if (optional + 2 > pe.size()) return pe;
    const bool pe32plus = static_cast<unsigned char>(pe[optional + 1]) == 0x02;  // magic 0x20B
    const std::size_t checksum = optional + 64;
    const std::size_t security = optional + (pe32plus ? 112 : 96) + 4 * 8;
    if (security + 8 > pe.size()) return pe;
    std::fill_n(&pe[checksum], 4, '\0');
    std::fill_n(&pe[security], 8, '\0');
    return pe;
}

// The image as linked, and as packed: the same but for the payload's length and digest behind the tag.
TEST(DeliveredProgram, IsTheLinkedImageFollowedByTheMarkerAndA7zArchive) {
    const std::string image = ReadFileBytes(ProductImage());
    const std::string program = ReadFileBytes(ProductExe());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.find(kMarker), std::string::npos) << "the image holds the marker in one piece";
    ASSERT_GT(program.size(), image.size() + kMarker.size());
    const std::size_t tag = image.find(kStampTag);
    ASSERT_NE(tag, std::string::npos);
    EXPECT_EQ(image.find(kStampTag, tag + 1), std::string::npos);
    const std::size_t field = tag + kStampTag.size();
    EXPECT_EQ(image.substr(field, kStampSize), std::string(kStampSize, '\0'));
    PayloadStamp stamped;
    std::memcpy(&stamped.size, &program[field], 8);
    std::memcpy(stamped.sha256, &program[field + 8], PayloadStamp::kDigestSize);
    const std::size_t archive = image.size() + kMarker.size();
    ASSERT_LE(archive + stamped.size, program.size());
    EXPECT_TRUE(PayloadStamp::Of(reinterpret_cast<const unsigned char*>(&program[archive]), stamped.size) == stamped);
    ImageStamp ofImage;
    ASSERT_TRUE(ImageStamp::Of(reinterpret_cast<const unsigned char*>(program.data()), image.size(),
                               field + kImageDigestAt, ofImage));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ofImage.sha256), PayloadStamp::kDigestSize),
              program.substr(field + kImageDigestAt, PayloadStamp::kDigestSize));
    // A signed release also carries its signature behind the archive.
    std::string packedImage = program.substr(0, image.size());
    packedImage.replace(field, kStampSize, kStampSize, '\0');
    EXPECT_TRUE(WithoutSignatureFields(packedImage) == WithoutSignatureFields(image));
    EXPECT_EQ(program.find(kMarker), image.size());
    EXPECT_EQ(program.substr(image.size() + kMarker.size(), 6), std::string("7z\xBC\xAF\x27\x1C", 6));
    EXPECT_LT(image.size(), 2u * 1024 * 1024);
}

// The first process runs a copy only of bytes that are its own image and payload: the copy check on the
// shipped program's bytes, against the stamps they carry.
TEST(DeliveredProgram, ItsCopyCheckTakesOnlyItsOwnImageAndPayloadWhateverSigningRewrites) {
    const std::string program = ReadFileBytes(ProductExe());
    const std::size_t imageSize = program.find(kMarker);
    ASSERT_NE(imageSize, std::string::npos);
    const std::size_t field = program.find(kStampTag) + kStampTag.size();
    PayloadStamp payload;
    ImageStamp image;
    std::memcpy(&payload.size, &program[field], 8);
    std::memcpy(payload.sha256, &program[field + 8], PayloadStamp::kDigestSize);
    std::memcpy(image.sha256, &program[field + kImageDigestAt], PayloadStamp::kDigestSize);
    const ProgramCopyCheck check(image, field + kImageDigestAt, payload);
    const auto judge = [&check](const std::string& bytes) {
        return check.Judge(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    };
    using Verdict = ProgramCopyCheck::Verdict;
    EXPECT_EQ(judge(program), Verdict::Same);
    std::string signedAgain = program;
    uint32_t nt = 0;
    std::memcpy(&nt, &program[0x3C], sizeof nt);
    signedAgain[nt + 24 + 64] ^= 0x5A;  // the checksum
    EXPECT_EQ(judge(signedAgain + "certificate table"), Verdict::Same);
    for (std::size_t at : {std::size_t{0x200}, imageSize / 2, imageSize - 1, field, field + kImageDigestAt}) {
        std::string changed = program;
        changed[at] ^= 0x01;
        EXPECT_EQ(judge(changed), Verdict::ImageDiffers) << at;
    }
    std::string otherPayload = program;
    otherPayload[imageSize + kMarker.size() + 100] ^= 0x01;
    EXPECT_EQ(judge(otherPayload), Verdict::PayloadDiffers);
    EXPECT_EQ(judge(program.substr(0, program.size() - 1)), Verdict::PayloadDiffers);
    EXPECT_EQ(judge(program.substr(0, imageSize)), Verdict::NoMarker);
}

// While the dialog waits for its user, its components lie in a folder of its own under the per-machine
// Work folder, byte for byte, without the archive; the current directory stays empty, and the folder
// goes when the dialog ends.
TEST(DeliveredProgram, UnpacksThePackedComponentsIntoAFreshWorkFolderAndRemovesTheArchive) {
    ScratchFolder scratch;
    const std::wstring work = MachineDataFolder(L"Work");
    const std::set<std::wstring> before = EntriesIn(work);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION run = {};
    std::wstring line = L"\"" + ProductExe() + L"\"";
    ASSERT_TRUE(CreateProcessW(ProductExe().c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                               scratch.Path().c_str(), &startup, &run));
    HWND dialog = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (dialog = FindWindowW(L"#32770", L"Quorvel Tidewash Fix Tool")) != nullptr; }));
    std::set<std::wstring> added;
    for (const std::wstring& name : EntriesIn(work))
        if (!before.count(name)) added.insert(name);
    std::set<std::wstring> expected;
    for (const wchar_t* name : {L"grimlet.dll", L"RunMendrel.exe"}) {
        if (FileExists(ProductFolder() + L"\\" + name)) expected.insert(name);
    }
    if (added.size() == 1) {
        const std::wstring folder = work + L"\\" + *added.begin();
        EXPECT_EQ(FilesIn(folder + L"\\plugin"), expected);
        for (const std::wstring& name : expected) {
            EXPECT_TRUE(ReadFileBytes(folder + L"\\plugin\\" + name) == ReadFileBytes(ProductFolder() + L"\\" + name))
                << Narrow(name);
        }
        EXPECT_FALSE(FileExists(folder + L"\\Real.7z"));
    }
    EXPECT_EQ(added.size(), 1u);
    EXPECT_TRUE(EntriesIn(scratch.Path()).empty());
    if (dialog) PostMessageW(dialog, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(run.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(run.hProcess, 1);
    CloseHandle(run.hThread);
    CloseHandle(run.hProcess);
    EXPECT_EQ(EntriesIn(work), before);
}

TEST(DeliveredProgram, ShowsTheErrorBoxAndEndsWithMinusOneWhenTheWorkFolderCannotBeMade) {
    ScratchFolder scratch;
    // A file where the per-machine Work folder must go: no folder is made, "Real.7z" not written.
    const std::wstring work = MachineDataFolder(L"Work");
    RemoveDirectoryW(work.c_str());  // empty between runs
    ASSERT_TRUE(WriteFileBytes(work, "in the way"));
    MessageBoxAnswerer answerer(kCaption);
    MessageBoxAnswerer::Outcome outcome = answerer.Run(ProductExe(), scratch.Path());
    const std::string kept = ReadFileBytes(work);
    DeleteFileW(work.c_str());
    EXPECT_TRUE(outcome.boxSeen);
    EXPECT_EQ(outcome.boxText, kFailureText);
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_EQ(kept, "in the way");
    EXPECT_TRUE(EntriesIn(scratch.Path()).empty());
}

TEST(DeliveredProgram, WithoutItsPayloadShowsTheErrorBoxAndLogsWhy) {
    ScratchFolder scratch;
    const std::wstring bare = scratch / L"Tidewash.exe";
    ASSERT_TRUE(CopyFileW(ProductImage().c_str(), bare.c_str(), FALSE));
    DebugLevelValue level(0x2200007F);
    MessageBoxAnswerer answerer(kCaption);
    MessageBoxAnswerer::Outcome outcome = answerer.Run(bare, scratch.Path());
    EXPECT_TRUE(outcome.boxSeen);
    EXPECT_EQ(outcome.boxText, kFailureText);
    EXPECT_EQ(outcome.exitCode, -1);
    const std::string log = ReadFileBytes(scratch / L"qvcleantool.log");
    EXPECT_NE(log.find("The program is not run: the program carries no stamp of its image and payload"),
              std::string::npos)
        << log;
}

// The payload of `program`: everything behind its first marker.
std::string PayloadOf(const std::string& program) {
    const std::size_t marker = program.find(kMarker);
    return marker == std::string::npos ? std::string() : program.substr(marker + kMarker.size());
}

// The shipped program's image, stamped for `archive` and followed by it: what anyone can make of it.
std::string RepackedWith(const std::string& program, const std::string& archive) {
    std::string image = program.substr(0, program.find(kMarker));
    const std::size_t field = image.find(kStampTag) + kStampTag.size();
    const PayloadStamp stamp = PayloadStamp::Of(reinterpret_cast<const unsigned char*>(archive.data()), archive.size());
    image.replace(field, 8, reinterpret_cast<const char*>(&stamp.size), 8);
    image.replace(field + 8, PayloadStamp::kDigestSize, reinterpret_cast<const char*>(stamp.sha256),
                  PayloadStamp::kDigestSize);
    ImageStamp ofImage;
    ImageStamp::Of(reinterpret_cast<const unsigned char*>(image.data()), image.size(), field + kImageDigestAt, ofImage);
    image.replace(field + kImageDigestAt, PayloadStamp::kDigestSize, reinterpret_cast<const char*>(ofImage.sha256),
                  PayloadStamp::kDigestSize);
    return image + kMarker + archive;
}

// Started suspended from a folder its user may write, the program is renamed away and the same image
// with another payload is put at its path before it runs a line: it unpacks nothing of that payload,
// says so in its report and ends with -1. The other program, started itself, does load its plug-in
// (the probe), so the probe's silence means something.
TEST(DeliveredProgram, AnotherPayloadPutAtItsPathBeforeItUnpacksNeverRuns) {
    ScratchFolder scratch;
    const std::wstring probe = scratch / L"probe.txt";
    SetEnvironmentVariableW(L"TIDEWASH_PROBE_FILE", probe.c_str());
    const std::string other = RepackedWith(ReadFileBytes(ProductExe()),
                                           PayloadOf(ReadFileBytes(BinFolder() + L"\\other_payload\\Tidewash.exe")));
    const std::wstring program = scratch / L"Tidewash.exe";
    ASSERT_TRUE(WriteFileBytes(scratch / L"other.exe", other));
    RunProgram(scratch / L"other.exe", L"/scan /report=other.txt", scratch.Path(), 120000);
    EXPECT_TRUE(FileExists(probe)) << "the other program's own plug-in did not load";
    DeleteFileW(probe.c_str());

    ASSERT_TRUE(CopyFileW(ProductExe().c_str(), program.c_str(), FALSE));
    std::wstring line = L"\"" + program + L"\" /scan /report=report.txt";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION run = {};
    ASSERT_TRUE(CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               scratch.Path().c_str(), &startup, &run));
    const bool swapped = MoveFileW(program.c_str(), (scratch / L"moved.exe").c_str()) &&
                         WriteFileBytes(program, other);
    ResumeThread(run.hThread);
    EXPECT_EQ(WaitForSingleObject(run.hProcess, 120000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(run.hProcess, &code);
    CloseHandle(run.hThread);
    CloseHandle(run.hProcess);
    SetEnvironmentVariableW(L"TIDEWASH_PROBE_FILE", nullptr);
    ASSERT_TRUE(swapped);
    EXPECT_EQ(static_cast<int>(code), -1);
    EXPECT_FALSE(FileExists(probe)) << ReadFileBytes(probe);
    EXPECT_NE(ReadFileBytes(scratch / L"report.txt").find("ERROR\t"), std::string::npos);
}

// A process marked as a protected copy that does not lie in a checked run folder runs nothing and starts
// no further copy: the mark can only make a run stop.
TEST(DeliveredProgram, MarkedAsACopyOutsideItsRunFolderItRefusesAndStartsNoOtherCopy) {
    ScratchFolder scratch;
    const std::set<std::wstring> work = EntriesIn(MachineDataFolder(L"Work"));
    SetEnvironmentVariableW(L"TIDEWASH_PROTECTED_COPY", L"1");
    const int code = RunProgram(ProductExe(), L"/scan /report=report.txt", scratch.Path(), 120000);
    SetEnvironmentVariableW(L"TIDEWASH_PROTECTED_COPY", nullptr);
    EXPECT_EQ(code, -1);
    EXPECT_NE(ReadFileBytes(scratch / L"report.txt").find("lies in no folder that only administrators"),
              std::string::npos);
    for (const std::wstring& entry : EntriesIn(MachineDataFolder(L"Work")))
        EXPECT_TRUE(work.count(entry)) << "a run folder was made: " << Narrow(entry);
}

// The kind of each report line (its first field): what a scan found and did, without its times.
std::string RecordKinds(const std::string& report) {
    std::string kinds;
    for (std::size_t at = 0; at < report.size();) {
        const std::size_t end = std::min(report.find('\n', at), report.size());
        kinds += report.substr(at, std::min(report.find('\t', at), end) - at) + "\n";
        at = end + 1;
    }
    return kinds;
}

// A version.dll and a wintrust.dll beside the program, preferred to the system's as Windows prefers a
// non-KnownDLL from the program's folder, never run in it; the scan ends and reports as without them.
TEST(DeliveredProgram, DllsPlantedBesideItNeverRunAndTheScanWorks) {
    ScratchFolder scratch;
    const std::wstring probe = scratch / L"probe.txt";
    const std::wstring program = scratch / L"Tidewash.exe";
    ASSERT_TRUE(CopyFileW(ProductExe().c_str(), program.c_str(), FALSE));
    const int plain = RunProgram(program, L"/scan /report=plain.txt", scratch.Path(), 120000);

    const std::wstring probeDll = BinFolder() + L"\\tw_probe_dll.dll";
    for (const wchar_t* name : {L"version.dll", L"wintrust.dll"})
        ASSERT_TRUE(CopyFileW(probeDll.c_str(), (scratch / name).c_str(), FALSE)) << Narrow(name);
    SetEnvironmentVariableW(L"TIDEWASH_PROBE_FILE", probe.c_str());
    const NativeFirstDllsForProgram nativeFirst(L"Tidewash.exe", {L"version", L"wintrust"});
    const NativeFirstDllsForProgram nativeFirstInControl(L"loader.exe", {L"version", L"wintrust"});
    const int planted = RunProgram(program, L"/scan /report=planted.txt", scratch.Path(), 120000);
    const std::string probeBytes = ReadFileBytes(probe);  // UTF-16 lines
    const std::wstring loads(reinterpret_cast<const wchar_t*>(probeBytes.data()), probeBytes.size() / sizeof(wchar_t));
    // The control: a program in that folder that loads them by bare name runs the planted DLL.
    DeleteFileW(probe.c_str());
    const std::wstring loader = scratch / L"loader.exe";
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\tw_bare_name_loader.exe").c_str(), loader.c_str(), FALSE));
    const int loaded = RunProgram(loader, L"", scratch.Path(), 60000);
    SetEnvironmentVariableW(L"TIDEWASH_PROBE_FILE", nullptr);

    EXPECT_TRUE(FileExists(probe)) << "the planted DLL does not run even where it is loaded by bare name: " << loaded;
    // Each load the probe saw: "<DLL>\t<program>". Wine's own user32 imports version.dll by bare name
    // (Windows' does not), so there the first process, which only copies and starts, loads it; the copy,
    // which does the work, loads neither, and nothing loads wintrust.dll.
    const std::wstring plantedVersion = scratch / L"version.dll";
    std::wstring unexpected;
    for (std::size_t at = 0; at < loads.size();) {
        const std::size_t end = std::min(loads.find(L'\n', at), loads.size());
        const std::wstring load = loads.substr(at, end - at);
        at = end + 1;
        if (load.empty()) continue;
        const bool wineUser32Import = RunningOnWine() && load == plantedVersion + L"\t" + program;
        if (!wineUser32Import) unexpected += load + L"\n";
    }
    EXPECT_TRUE(unexpected.empty()) << Narrow(unexpected);
    EXPECT_EQ(planted, plain);
    const std::string plainReport = ReadFileBytes(scratch / L"plain.txt");
    EXPECT_FALSE(plainReport.empty());
    EXPECT_EQ(RecordKinds(ReadFileBytes(scratch / L"planted.txt")), RecordKinds(plainReport));
}

}  // namespace
