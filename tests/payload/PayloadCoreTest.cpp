// The search-and-copy window and the entry-name check on their own, with data made in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/payload/ArchiveEntryName.h"
#include "platform/payload/PayloadCopier.h"

namespace {

// Hands out the data in reads of at most `chunk` bytes, and optionally fails at one offset.
class MemorySource : public IPayloadSource {
public:
    MemorySource(std::string data, std::size_t chunk, std::size_t failAt = std::string::npos)
        : data_(std::move(data)), chunk_(chunk), failAt_(failAt) {}
    bool Read(unsigned char* buffer, std::size_t size, std::size_t* got) override {
        if (position_ >= failAt_) return false;
        std::size_t count = std::min({size, chunk_, data_.size() - position_});
        data_.copy(reinterpret_cast<char*>(buffer), count, position_);
        position_ += count;
        *got = count;
        ++reads_;
        return true;
    }
    int reads_ = 0;

private:
    std::string data_;
    std::size_t chunk_;
    std::size_t failAt_;
    std::size_t position_ = 0;
};

class StringSink : public IPayloadSink {
public:
    void Write(const unsigned char* data, std::size_t size) override {
        text.append(reinterpret_cast<const char*>(data), size);
        ++writes;
    }
    std::string text;
    int writes = 0;
};

std::string Archive() {
    std::string archive = "7z\xBC\xAF\x27\x1C";
    for (int i = 0; i < 9000; ++i) archive += static_cast<char>(i * 7 + i / 251);
    return archive;
}

// Text that keeps almost matching the marker: every offset looks like a start.
std::string NearMisses(std::size_t size) {
    const std::string almost = PayloadCopier::Marker().substr(0, 26) + "q";
    std::string text;
    while (text.size() < size) text += almost;
    return text.substr(0, size);
}

TEST(PayloadCopier, FindsTheMarkerWhereverItFallsAgainstTheWindowAndCopiesFromTheNextByte) {
    const std::string archive = Archive();
    // Offsets around the first and second window boundary, where the marker is split across reads.
    for (std::size_t offset : {0u, 1u, 4069u, 4070u, 4071u, 4083u, 4095u, 4096u, 4097u, 8139u, 8140u, 8166u}) {
        for (std::size_t chunk : {std::size_t{4096}, std::size_t{1000}, std::size_t{1}}) {
            SCOPED_TRACE("marker at " + std::to_string(offset) + ", reads of " + std::to_string(chunk));
            MemorySource source(NearMisses(offset) + PayloadCopier::Marker() + archive, chunk);
            StringSink sink;
            PayloadCopier copier;
            ASSERT_EQ(copier.Copy(source, sink), PayloadCopyResult::Copied);
            EXPECT_EQ(copier.PayloadOffset(), offset + 27);
            EXPECT_TRUE(sink.text == archive) << "copied " << sink.text.size() << " of " << archive.size();
        }
    }
}

TEST(PayloadCopier, TheFirstMarkerCountsAndTheWindowsBytesAfterItAreWrittenFirst) {
    const std::string marker = PayloadCopier::Marker();
    MemorySource source("image" + marker + "AB" + marker + "CD", 4096);
    StringSink sink;
    PayloadCopier copier;
    ASSERT_EQ(copier.Copy(source, sink), PayloadCopyResult::Copied);
    EXPECT_EQ(sink.text, "AB" + marker + "CD");
    EXPECT_EQ(sink.writes, 1);
}

TEST(PayloadCopier, AMarkerAtTheVeryEndGivesAnEmptyArchive) {
    MemorySource source("image" + PayloadCopier::Marker(), 4096);
    StringSink sink;
    PayloadCopier copier;
    EXPECT_EQ(copier.Copy(source, sink), PayloadCopyResult::Copied);
    EXPECT_EQ(sink.text, "");
}

TEST(PayloadCopier, GivesUpAfterTwoMegabytesPlusOneWindow) {
    const std::string marker = PayloadCopier::Marker();
    // The last window looked at starts at 515 * 4070 bytes: a marker must end inside it.
    const std::size_t lastFound = 515 * 4070 + 4096 - 27;
    {
        MemorySource source(std::string(lastFound, 'x') + marker + "A", 4096);
        StringSink sink;
        EXPECT_EQ(PayloadCopier().Copy(source, sink), PayloadCopyResult::Copied);
        EXPECT_EQ(sink.text, "A");
    }
    {
        MemorySource source(std::string(lastFound + 1, 'x') + marker + "A", 4096);
        StringSink sink;
        EXPECT_EQ(PayloadCopier().Copy(source, sink), PayloadCopyResult::MarkerBeyondLimit);
        EXPECT_EQ(sink.writes, 0);
        EXPECT_LE(source.reads_, 517);
    }
}

TEST(PayloadCopier, EndsAtTheEndOfTheDataOrAtAReadError) {
    for (std::size_t size : {std::size_t{0}, std::size_t{10}, std::size_t{26}, std::size_t{5000}}) {
        MemorySource source(NearMisses(size), 4096);
        StringSink sink;
        EXPECT_EQ(PayloadCopier().Copy(source, sink), PayloadCopyResult::EndOfFileBeforeMarker) << size;
    }
    {
        MemorySource source(std::string(10000, 'x') + PayloadCopier::Marker(), 4096, 4096);
        StringSink sink;
        EXPECT_EQ(PayloadCopier().Copy(source, sink), PayloadCopyResult::ReadFailed);
    }
    {
        // A read error while copying ends the copy: what came before is kept.
        MemorySource source(PayloadCopier::Marker() + std::string(10000, 'a'), 4096, 4096);
        StringSink sink;
        EXPECT_EQ(PayloadCopier().Copy(source, sink), PayloadCopyResult::Copied);
        EXPECT_EQ(sink.text, std::string(4096 - 27, 'a'));
    }
}

EntryNameVerdict Check(const std::u16string& name) { return CheckArchiveEntryName(name.data(), name.size()); }

TEST(ArchiveEntryName, AcceptsNamesInsideTheFolder) {
    for (const char16_t* name : {u"plugin", u"plugin/grimlet.dll", u"plugin\\RunMendrel.exe", u"plugin/./a.txt",
                                 u"a..b/c", u"..a", u"plugin/v1.2..3.txt", u"专杀/数据.dat", u"console.txt",
                                 u"COM10", u"LPT0.txt", u"nul_file", u""}) {
        EXPECT_EQ(Check(name), EntryNameVerdict::Inside) << std::string(name, name + std::char_traits<char16_t>::length(name));
    }
}

TEST(ArchiveEntryName, RefusesNamesThatLeaveTheFolder) {
    const struct {
        const char16_t* name;
        EntryNameVerdict verdict;
    } cases[] = {
        {u"/escape.txt", EntryNameVerdict::Rooted},
        {u"\\escape.txt", EntryNameVerdict::Rooted},
        {u"\\\\server\\share\\x", EntryNameVerdict::Rooted},
        {u"\\\\?\\C:\\x", EntryNameVerdict::Rooted},
        {u"C:escape.txt", EntryNameVerdict::HasColon},
        {u"C:/Windows/x.dll", EntryNameVerdict::HasColon},
        {u"plugin/file.txt:stream", EntryNameVerdict::HasColon},
        {u"..", EntryNameVerdict::ParentStep},
        {u"../escape.txt", EntryNameVerdict::ParentStep},
        {u"plugin/../../escape.txt", EntryNameVerdict::ParentStep},
        {u"plugin\\..\\..\\escape.txt", EntryNameVerdict::ParentStep},
        {u"plugin/..", EntryNameVerdict::ParentStep},
        {u"plugin/.. /x", EntryNameVerdict::ParentStep},
        {u"plugin/.../x", EntryNameVerdict::ParentStep},
        {u"plugin/NUL", EntryNameVerdict::DeviceName},
        {u"plugin/nul.txt", EntryNameVerdict::DeviceName},
        {u"CON", EntryNameVerdict::DeviceName},
        {u"plugin/com1 .log", EntryNameVerdict::DeviceName},
        {u"lpt9", EntryNameVerdict::DeviceName},
        {u"Aux/x", EntryNameVerdict::DeviceName},
    };
    for (const auto& c : cases) {
        std::u16string name(c.name);
        EXPECT_EQ(Check(name), c.verdict) << std::string(name.begin(), name.end());
    }
}

}  // namespace
