#include "settings/TZELFile.h"

#include "tests/settings/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <ostream>
#include <string>
#include <vector>

// Tracks the largest single allocation while armed, to show that a lying file is turned down
// before memory is asked for the size it claims.
namespace {
std::atomic<bool> g_trackAllocations{false};
std::atomic<std::size_t> g_largestAllocation{0};
} // namespace

// g++ sees these inlined into delete expressions and takes free() for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size)
{
    if (g_trackAllocations.load(std::memory_order_relaxed) &&
        size > g_largestAllocation.load(std::memory_order_relaxed))
        g_largestAllocation.store(size, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void PutInt(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutText(Bytes& out, const std::string& text)
{
    PutInt(out, static_cast<std::uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

Bytes Header(std::uint32_t count, const std::string& magic = "ZEL1")
{
    Bytes out(magic.begin(), magic.end());
    PutText(out, "");
    PutText(out, "0.0");
    PutText(out, "Kavrel");
    PutText(out, "0.0.0.2");
    PutInt(out, count);
    return out;
}

void PutItem(Bytes& out, const std::string& section, const std::string& key, std::uint32_t tag,
             const Bytes& value)
{
    PutText(out, section);
    PutText(out, key);
    PutInt(out, tag);
    PutInt(out, static_cast<std::uint32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

// 1.0 in the 80-bit format.
const Bytes OneExtended = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};

Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class TZELFileTest : public ::testing::Test {
protected:
    TZELFileTest()
    {
        id.SetCompany("MorvaneData");
        id.SetProductName("Kavrel");
        id.SetVersion("0.0.0.2");
        file.SetProgId(&id);
    }

    TProgId id;
    TZELFile file;
    test::TempFolder folder;
};

TEST_F(TZELFileTest, OneFloatItemIsWrittenByteForByte)
{
    file.WriteFloat("Settings", "RawGain", 1.0);
    const fs::path path = folder / "one.zelfile";
    file.SaveToFile(path.string());

    Bytes expected = Header(1);
    PutItem(expected, "Settings", "RawGain", 12, OneExtended);
    EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(TZELFileTest, WithoutItemsTheFileIsTheHeaderAndACountOfZero)
{
    EXPECT_EQ(file.SaveToBuffer(), Header(0));
}

TEST_F(TZELFileTest, HeaderCarriesFileIdFileVersionAndAutoVersion)
{
    file.SetFileId("id");
    file.SetFileVersion("2.5");
    id.SetAutoVersion(true);
    Bytes expected = {'Z', 'E', 'L', '1'};
    PutText(expected, "id");
    PutText(expected, "2.5");
    PutText(expected, "Kavrel");
    PutText(expected, "3.0");
    PutInt(expected, 0);
    EXPECT_EQ(file.SaveToBuffer(), expected);
}

TEST_F(TZELFileTest, WrittenFileReadsBack)
{
    const std::vector<std::pair<std::string, double>> values = {
        {"RawGain", 0.5},  {"FilterGain", 3.981071705534973},
        {"PoleF0", 440.0}, {"PoleBW", 1e-300},
        {"ZeroF0", 1e300}, {"ZeroBW", -0.1}};
    for (const auto& [key, value] : values)
        file.WriteFloat("Settings", key, value);
    file.SetFileId("kavrel test");
    const fs::path path = folder / "MorvaneData" / "deeper" / "back.zelfile";
    file.SaveToFile(path.string());

    TZELFile loaded;
    ASSERT_TRUE(loaded.LoadFromFile(path.string()));
    EXPECT_EQ(loaded.NodeCount(), 6);
    for (const auto& [key, value] : values)
        EXPECT_EQ(loaded.ReadFloat("Settings", key, 12345.0), value) << key;
    EXPECT_EQ(loaded.FileId(), "kavrel test");
    EXPECT_EQ(loaded.LoadedFileVersion(), "0.0");
    EXPECT_EQ(loaded.LoadedProductName(), "Kavrel");
    EXPECT_EQ(loaded.LoadedProgramVersion(), "0.0.0.2");
    for (int i = 0; i < loaded.NodeCount(); ++i)
        EXPECT_EQ(loaded.Nodes(i), file.Nodes(i));
}

TEST_F(TZELFileTest, MissingFileGivesTheDefaults)
{
    file.WriteFloat("Settings", "RawGain", 7.0);
    EXPECT_FALSE(file.LoadFromFile((folder / "none.zelfile").string()));
    EXPECT_EQ(file.NodeCount(), 0);
    EXPECT_EQ(file.ReadFloat("Settings", "RawGain", 1.0), 1.0);
}

TEST_F(TZELFileTest, LookupIgnoresLetterCase)
{
    file.WriteFloat("Settings", "PoleF0", 50.0);
    EXPECT_EQ(file.ReadFloat("settings", "polef0", 0.0), 50.0);
    EXPECT_EQ(file.IndexOfNode("SETTINGS", "POLEF0"), 0);
    EXPECT_EQ(file.IndexOfNode("Settings", "PoleF"), -1);
    EXPECT_EQ(file.IndexOfNode("Setting", "PoleF0"), -1);
}

TEST_F(TZELFileTest, WritingTheSameKeyTwiceKeepsOneItemWithTheSecondValue)
{
    file.WriteFloat("Settings", "ZeroBW", 1.0);
    file.WriteFloat("settings", "ZEROBW", 2.0);
    ASSERT_EQ(file.NodeCount(), 1);
    EXPECT_EQ(file.Nodes(0).Key, "ZeroBW");
    EXPECT_EQ(file.ReadFloat("Settings", "ZeroBW", 0.0), 2.0);
}

TEST_F(TZELFileTest, AddNodeAppendsAnEmptyItemOnlyOnce)
{
    EXPECT_EQ(file.AddNode("A", "b"), 0);
    EXPECT_EQ(file.AddNode("A", "c"), 1);
    EXPECT_EQ(file.AddNode("a", "B"), 0);
    EXPECT_EQ(file.Nodes(1), (tnode{"A", "c", {0, {}}}));
    file.Clear();
    EXPECT_EQ(file.NodeCount(), 0);
    EXPECT_THROW(file.Nodes(0), std::out_of_range);
}

TEST_F(TZELFileTest, GetDataReturnsTheDefaultForAMissingItem)
{
    const tdata def{5, {1, 2, 3}};
    EXPECT_EQ(file.GetData("S", "K", def), def);
    file.SetData("S", "K", {7, {9}});
    EXPECT_EQ(file.GetData("s", "k", def), (tdata{7, {9}}));
}

TEST_F(TZELFileTest, ChangedMagicStillLoads)
{
    file.WriteFloat("Settings", "RawGain", 0.25);
    Bytes bytes = file.SaveToBuffer();
    bytes[0] = 'X';
    bytes[3] = 0;
    TZELFile loaded;
    ASSERT_TRUE(loaded.LoadFromBuffer(bytes.data(), bytes.size()));
    EXPECT_EQ(loaded.ReadFloat("Settings", "RawGain", 1.0), 0.25);
}

TEST_F(TZELFileTest, UnknownTagSurvivesLoadAndSave)
{
    Bytes original = Header(3);
    PutItem(original, "Settings", "RawGain", 12, OneExtended);
    PutItem(original, "Other", "Blob", 0x7FFFFFFF, {0xDE, 0xAD, 0, 0xBE, 0xEF});
    PutItem(original, "Other", "Empty", static_cast<std::uint32_t>(-4), {});
    const fs::path path = folder / "unknown.zelfile";
    WriteFile(path, original);

    ASSERT_TRUE(file.LoadFromFile(path.string()));
    EXPECT_EQ(file.GetData("other", "blob", {}).DataType, 0x7FFFFFFF);
    EXPECT_EQ(file.GetData("other", "empty", {}).DataType, -4);
    file.SaveToFile(path.string());
    EXPECT_EQ(ReadFile(path), original);
}

TEST_F(TZELFileTest, WrongTypeNamesTheStoredTag)
{
    file.SetData("Settings", "RawGain", {3, {1, 2, 3, 4}});
    try {
        file.ReadFloat("Settings", "RawGain", 1.0);
        FAIL() << "no error";
    } catch (const EZELfileError& e) {
        EXPECT_STREQ(e.what(), "Data has wrong type: 3, not12");
    }
    file.SetData("Settings", "RawGain", {-1, {}});
    EXPECT_THROW(
        {
            try {
                file.ReadFloat("Settings", "RawGain", 1.0);
            } catch (const EZELfileError& e) {
                EXPECT_STREQ(e.what(), "Data has wrong type: -1, not12");
                throw;
            }
        },
        EZELfileError);
}

TEST_F(TZELFileTest, DuplicatesInAFileAreKeptAndTheLastWins)
{
    Bytes bytes = Header(3);
    PutItem(bytes, "Settings", "RawGain", 12, TZELFile::FloatToData(1.0).Bytes);
    PutItem(bytes, "Settings", "Other", 12, TZELFile::FloatToData(9.0).Bytes);
    PutItem(bytes, "SETTINGS", "rawgain", 12, TZELFile::FloatToData(2.0).Bytes);
    ASSERT_TRUE(file.LoadFromBuffer(bytes.data(), bytes.size()));
    EXPECT_EQ(file.NodeCount(), 3);
    EXPECT_EQ(file.ReadFloat("Settings", "RawGain", 0.0), 2.0);
    file.WriteFloat("Settings", "RawGain", 3.0);
    EXPECT_EQ(file.NodeCount(), 3);
    EXPECT_EQ(file.ReadFloat("Settings", "RawGain", 0.0), 3.0);
    EXPECT_EQ(TZELFile::DataToFloat(file.Nodes(0).Data), 1.0);
}

TEST_F(TZELFileTest, FloatItemWithOtherByteCountsReadsWithinItsBytes)
{
    // Four bytes: the missing ones (with exponent and sign) read as zero, so the value is tiny.
    EXPECT_EQ(TZELFile::DataToFloat({12, {0, 0, 0, 0x80}}), 0.0);
    EXPECT_EQ(TZELFile::DataToFloat({12, {}}), 0.0);
    Bytes longer = OneExtended;
    longer.insert(longer.end(), {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(TZELFile::DataToFloat({12, longer}), 1.0);

    // Such an item loads and is saved back unchanged.
    Bytes bytes = Header(1);
    PutItem(bytes, "Settings", "PoleF0", 12, {1, 2, 3});
    ASSERT_TRUE(file.LoadFromBuffer(bytes.data(), bytes.size()));
    EXPECT_EQ(file.SaveToBuffer(), bytes);
}

TEST_F(TZELFileTest, EveryTruncationIsAbsorbed)
{
    file.SetFileId("abc");
    file.WriteFloat("Settings", "RawGain", 2.0);
    file.SetData("Settings", "Raw", {99, {1, 2, 3}});
    const Bytes whole = file.SaveToBuffer();

    TZELFile loaded;
    ASSERT_TRUE(loaded.LoadFromBuffer(whole.data(), whole.size()));
    for (std::size_t size = 0; size < whole.size(); ++size) {
        loaded.WriteFloat("Stale", "Item", 1.0);
        const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(loaded.LoadFromBuffer(part.data(), part.size())) << size;
        EXPECT_EQ(loaded.NodeCount(), 0) << size;
        EXPECT_EQ(loaded.LoadedFileVersion(), "") << size;
        EXPECT_EQ(loaded.LoadedProductName(), "") << size;
        EXPECT_EQ(loaded.LoadedProgramVersion(), "") << size;
    }
    // Also from a file on disk.
    const fs::path path = folder / "short.zelfile";
    WriteFile(path, Bytes(whole.begin(), whole.end() - 1));
    EXPECT_FALSE(loaded.LoadFromFile(path.string()));
    EXPECT_EQ(loaded.NodeCount(), 0);
}

struct LyingFile {
    const char* Name;
    Bytes Content;
};

void PrintTo(const LyingFile& file, std::ostream* out)
{
    *out << file.Name;
}

Bytes WithLyingCount()
{
    Bytes bytes = Header(0x7FFFFFFF);
    PutItem(bytes, "S", "K", 12, OneExtended);
    return bytes;
}

Bytes WithLyingText()
{
    Bytes bytes = {'Z', 'E', 'L', '1'};
    PutInt(bytes, 0x7FFFFFF0);
    bytes.insert(bytes.end(), 64, 'x');
    return bytes;
}

Bytes WithLyingValue()
{
    Bytes bytes = Header(1);
    PutText(bytes, "S");
    PutText(bytes, "K");
    PutInt(bytes, 12);
    PutInt(bytes, 0xFFFFFFF0); // a negative length as well as a huge one
    bytes.insert(bytes.end(), 10, 0);
    return bytes;
}

Bytes WithLyingValueLength()
{
    Bytes bytes = Header(1);
    PutText(bytes, "S");
    PutText(bytes, "K");
    PutInt(bytes, 12);
    PutInt(bytes, 0x40000000);
    bytes.insert(bytes.end(), 10, 0);
    return bytes;
}

class TZELFileLying : public ::testing::TestWithParam<LyingFile> {};

TEST_P(TZELFileLying, FailsWithoutAllocatingTheClaimedSize)
{
    const Bytes& content = GetParam().Content;
    TZELFile file;
    g_largestAllocation = 0;
    g_trackAllocations = true;
    const bool loaded = file.LoadFromBuffer(content.data(), content.size());
    g_trackAllocations = false;
    EXPECT_FALSE(loaded);
    EXPECT_EQ(file.NodeCount(), 0);
    EXPECT_LE(g_largestAllocation.load(), content.size() + 64);
}

INSTANTIATE_TEST_SUITE_P(Files, TZELFileLying,
                         ::testing::Values(LyingFile{"count", WithLyingCount()},
                                           LyingFile{"text", WithLyingText()},
                                           LyingFile{"value", WithLyingValue()},
                                           LyingFile{"valueLength", WithLyingValueLength()}),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST_F(TZELFileTest, NegativeCountIsRefused)
{
    const Bytes bytes = Header(0xFFFFFFFF);
    EXPECT_FALSE(file.LoadFromBuffer(bytes.data(), bytes.size()));
}

TEST_F(TZELFileTest, FolderInsteadOfFileIsAbsorbed)
{
    EXPECT_FALSE(file.LoadFromFile(folder.Path().string()));
    EXPECT_EQ(file.NodeCount(), 0);
}

TEST_F(TZELFileTest, WithoutProgIdSavingAndTheDefaultNameRaise)
{
    TZELFile bare;
    bare.WriteFloat("Settings", "RawGain", 1.0);
    for (auto action : {+[](TZELFile& f) { f.SaveToFile("x.zelfile"); },
                        +[](TZELFile& f) { (void)f.GetDefaultFileName(); },
                        +[](TZELFile& f) { (void)f.SaveToBuffer(); }}) {
        try {
            action(bare);
            ADD_FAILURE() << "no error";
        } catch (const EZELfileError& e) {
            EXPECT_STREQ(e.what(), "Nothing assigned to ProgId");
        }
    }
    // Loading the default file without identity is absorbed like any other failure.
    EXPECT_FALSE(bare.LoadFromFile());
    EXPECT_EQ(bare.NodeCount(), 0);
}

// Saving goes through a temporary file: when the write fails, the old file stays as it was and
// no temporary file is left behind.
void ExpectOldFileKept(const fs::path& folderPath, const fs::path& target, const Bytes& old)
{
    EXPECT_EQ(ReadFile(target), old);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folderPath))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(TZELFileTest, FailedWriteLeavesTheOldFileIntact)
{
    const fs::path target = folder / "kept.zelfile";
    file.WriteFloat("Settings", "RawGain", 0.5);
    file.SaveToFile(target.string());
    const Bytes old = ReadFile(target);

    // A file size limit makes the write of a larger file fail half-way, even for root.
    for (int i = 0; i < 100; ++i)
        file.WriteFloat("Settings", "Key" + std::to_string(i), i);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 200;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        file.SaveToFile(target.string());
    } catch (const fs::filesystem_error& e) {
        raised = true;
        EXPECT_NE(std::string(e.what()).find("kept.zelfile"), std::string::npos) << e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(raised);
    ExpectOldFileKept(folder.Path(), target, old);
}

TEST_F(TZELFileTest, ReadOnlyFolderRaisesAndKeepsTheOldFile)
{
    const fs::path target = folder / "kept.zelfile";
    file.WriteFloat("Settings", "RawGain", 0.5);
    file.SaveToFile(target.string());
    const Bytes old = ReadFile(target);
    fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    {
        std::ofstream probe(folder / "probe");
        if (probe) {
            fs::permissions(folder.Path(), fs::perms::owner_all);
            fs::remove(folder / "probe");
            GTEST_SKIP() << "permissions do not bind this user (root)";
        }
    }
    file.WriteFloat("Settings", "RawGain", 2.0);
    EXPECT_THROW(file.SaveToFile(target.string()), fs::filesystem_error);
    fs::permissions(folder.Path(), fs::perms::owner_all);
    ExpectOldFileKept(folder.Path(), target, old);
}

TEST_F(TZELFileTest, TargetThatCannotBeReplacedRaisesAndLeavesNoTemporaryFile)
{
    const fs::path target = folder / "taken";
    fs::create_directories(target / "inside");
    EXPECT_THROW(file.SaveToFile(target.string()), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(target / "inside"));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.Path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(TZELFileTest, LinkedFileIsReplacedWhereItLies)
{
    fs::create_directories(folder / "real");
    const fs::path real = folder / "real" / "settings.zelfile";
    WriteFile(real, {1, 2, 3});
    const fs::path link = folder / "link.zelfile";
    fs::create_symlink(real, link);
    file.WriteFloat("Settings", "RawGain", 0.5);
    file.SaveToFile(link.string());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(real), file.SaveToBuffer());
}

// A settings file linked to /dev/null (to keep the program from saving) is written there without
// a complaint, and the device stays a device; a write-protected file is refused and kept.
TEST_F(TZELFileTest, LinkToADeviceIsWrittenInPlaceAndAProtectedFileIsKept)
{
    const fs::path link = folder / "Kavrelsettings.zelfile";
    fs::create_symlink("/dev/null", link);
    file.WriteFloat("Settings", "RawGain", 0.5);
    EXPECT_NO_THROW(file.SaveToFile(link.string()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_FALSE(file.LoadFromFile(link.string()));

    const fs::path locked = folder / "locked.zelfile";
    WriteFile(locked, {1, 2, 3});
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read);
    EXPECT_THROW(file.SaveToFile(locked.string()), fs::filesystem_error);
    EXPECT_EQ(ReadFile(locked), Bytes({1, 2, 3}));
}

// A pipe in the settings file's place is no settings file: it is neither read nor written, and
// neither waits for the other end (which would hang the start or the close for good).
TEST_F(TZELFileTest, APipeInPlaceOfTheFileIsRefusedWithoutWaiting)
{
    const fs::path fifo = folder / "Kavrelsettings.zelfile";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::alarm(20);
    EXPECT_FALSE(file.LoadFromFile(fifo.string()));
    file.WriteFloat("Settings", "RawGain", 0.5);
    try {
        file.SaveToFile(fifo.string());
        ADD_FAILURE() << "written";
    } catch (const fs::filesystem_error& e) {
        EXPECT_NE(std::string(e.what()).find("is a pipe"), std::string::npos) << e.what();
    }
    ::alarm(0);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(TZELFileTest, FolderThatCannotBeCreatedRaises)
{
    WriteFile(folder / "file", {1});
    EXPECT_THROW(file.SaveToFile((folder / "file" / "sub" / "x.zelfile").string()),
                 fs::filesystem_error);
}

} // namespace
} // namespace kavrel
