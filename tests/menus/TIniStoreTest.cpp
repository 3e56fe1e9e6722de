#include "menus/qt/TIniStore.h"

#include "menus/TRecentFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

class TIniStoreTest : public ::testing::Test {
protected:
    TIniStoreTest()
    {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        folder = fs::temp_directory_path() / ("kavrel-ini-" + std::to_string(stamp));
        fs::create_directories(folder);
        id.SetCompany("MorvaneData");
        id.SetProductName("Kavrel");
        id.SetVersion("0.0.0.2");
    }
    ~TIniStoreTest() override
    {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    std::string Touch(const std::string& name)
    {
        const fs::path path = folder / name;
        std::ofstream(path) << "RIFF";
        return path.string();
    }

    fs::path folder;
    TProgId id;
};

TEST_F(TIniStoreTest, ValuesAndSectionEraseGoThroughTheFile)
{
    const std::string name = (folder / "Kavrel.ini").string();
    {
        TIniStore store(name);
        store.WriteInteger("RecentFiles", "nToUse", 9);
        store.WriteString("RecentFiles", "1", "/a b/c=d;e.wav");
        store.WriteString("Other", "1", "kept");
        store.Flush();
    }
    TIniStore store(name);
    EXPECT_EQ(store.ReadInteger("RecentFiles", "nToUse", 0), 9);
    EXPECT_EQ(store.ReadString("RecentFiles", "1", ""), "/a b/c=d;e.wav");
    EXPECT_EQ(store.ReadInteger("RecentFiles", "missing", -7), -7);
    EXPECT_EQ(store.ReadInteger("RecentFiles", "1", -7), -7); // not a number
    store.EraseSection("RecentFiles");
    store.Flush();
    TIniStore again(name);
    EXPECT_EQ(again.ReadString("RecentFiles", "1", "none"), "none");
    EXPECT_EQ(again.ReadString("Other", "1", ""), "kept");
}

TEST_F(TIniStoreTest, TwoStoresOnOneFileKeepEachOthersSections)
{
    const std::string name = (folder / "Kavrel.ini").string();
    TIniStore recent(name); // long-lived, as the recent list's
    recent.WriteString("RecentFiles", "1", "/a.wav");
    recent.Flush();
    {
        TIniStore output(name); // made for one write, as the output choice's
        output.WriteString("Output", "Device", "sink.phones");
        output.Flush();
    }
    recent.WriteString("RecentFiles", "1", "/b.wav");
    recent.Flush();
    TIniStore again(name);
    EXPECT_EQ(again.ReadString("Output", "Device", ""), "sink.phones");
    EXPECT_EQ(again.ReadString("RecentFiles", "1", ""), "/b.wav");
}

// What QSettings wrote before reads the same: quotes, escapes, "@String()", escaped keys.
TEST_F(TIniStoreTest, ReadsTheFilesQSettingsWrote)
{
    const std::string name = (folder / "Kavrel.ini").string();
    std::ofstream(name) << "[General]\nx=1\n\n[RecentFiles]\nnToUse=9\n"
                           "1=\"/a b/c=d;e.wav\"\n2=/plain/take.wav\n"
                           "3=\"/q\\\"uote\\\\back.wav\"\n4=@String(/s.wav)\n"
                           "5=\"@@at.wav\"\n6=/caf\xc3\xa9.wav ; comment\n"
                           "%U00E9=7\n";
    TIniStore store(name);
    EXPECT_EQ(store.ReadInteger("RecentFiles", "nToUse", 0), 9);
    EXPECT_EQ(store.ReadString("RecentFiles", "1", ""), "/a b/c=d;e.wav");
    EXPECT_EQ(store.ReadString("RecentFiles", "2", ""), "/plain/take.wav");
    EXPECT_EQ(store.ReadString("RecentFiles", "3", ""), "/q\"uote\\back.wav");
    EXPECT_EQ(store.ReadString("RecentFiles", "4", ""), "/s.wav");
    EXPECT_EQ(store.ReadString("RecentFiles", "5", ""), "@at.wav");
    EXPECT_EQ(store.ReadString("RecentFiles", "6", ""), "/caf\xc3\xa9.wav");
    EXPECT_EQ(store.ReadInteger("RecentFiles", "\xc3\xa9", 0), 7);
    EXPECT_EQ(store.ReadInteger("General", "x", 0), 1);
}

// Every byte of a name survives a store and a load, also bytes that are not UTF-8 and blanks at
// either end.
TEST_F(TIniStoreTest, NamesRoundTripByteForByte)
{
    const std::string name = (folder / "Kavrel.ini").string();
    const std::string odd = "/n\xe9 \"q\" \\ ;,=\t@\x01.wav ";
    {
        TIniStore store(name);
        store.WriteString("RecentFiles", "1", odd);
        store.WriteString("RecentFiles", "2", "@lead.wav");
        store.WriteString("RecentFiles", "3", " lead and trail ");
        store.Flush();
    }
    TIniStore store(name);
    EXPECT_EQ(store.ReadString("RecentFiles", "1", ""), odd);
    EXPECT_EQ(store.ReadString("RecentFiles", "2", ""), "@lead.wav");
    EXPECT_EQ(store.ReadString("RecentFiles", "3", ""), " lead and trail ");
}

// Linked to /dev/null, the ini is written there and the link and the device stay.
TEST_F(TIniStoreTest, LinkToADeviceIsWrittenInPlace)
{
    const fs::path link = folder / "Kavrel.ini";
    fs::create_symlink("/dev/null", link);
    TIniStore store(link.string());
    store.WriteInteger("RecentFiles", "nToUse", 9);
    EXPECT_NO_THROW(store.Flush());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// A folder or a pipe in the file's place: the flush raises, and a pipe is neither read nor
// written, so that nothing waits for its other end.
TEST_F(TIniStoreTest, UnwritableFileRaisesOnFlush)
{
    fs::create_directories(folder / "taken.ini");
    ASSERT_EQ(::mkfifo((folder / "pipe.ini").c_str(), 0600), 0);
    ::alarm(20);
    for (const char* name : {"taken.ini", "pipe.ini"}) {
        TIniStore store((folder / name).string());
        store.WriteInteger("RecentFiles", "nToUse", 1);
        EXPECT_THROW(store.Flush(), std::runtime_error) << name;
    }
    ::alarm(0);
}

// However large the file, it is read whole and written whole: nothing past some size is lost.
TEST_F(TIniStoreTest, ALargeFileIsKeptWhole)
{
    const std::string name = (folder / "Kavrel.ini").string();
    {
        std::ofstream out(name);
        for (int i = 0; i < 20000; ++i)
            out << "[Section" << i << "]\nkey=\"" << std::string(90, 'v') << "\"\n\n";
    }
    ASSERT_GT(fs::file_size(name), std::uintmax_t{2} << 20);
    TIniStore store(name);
    store.WriteString("RecentFiles", "1", "/a.wav");
    store.Flush();
    const TIniStore again(name);
    const std::string text = again.Text();
    EXPECT_NE(text.find("[Section0]\n"), std::string::npos);
    EXPECT_NE(text.find("[Section19999]\nkey=\"" + std::string(90, 'v') + "\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("[RecentFiles]\n1=\"/a.wav\"\n"), std::string::npos);
}

// Two instances of the program adding files and storing the list at the same moments: each
// one's files stay, as the stores take turns (a lock around read, merge and write) and each
// merges the files the other stored into its own list.
TEST_F(TIniStoreTest, TwoProgramsStoringAtOnceKeepEachOthersFiles)
{
    const std::string ini = (folder / "Kavrel.ini").string();
    std::vector<std::string> files;
    for (int i = 0; i < 14; ++i)
        files.push_back(Touch("take " + std::to_string(i) + ".wav"));
    std::vector<pid_t> children;
    for (int program = 0; program < 2; ++program) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child != 0) {
            children.push_back(child);
            continue;
        }
        TRecentFiles list;
        list.SetStoreFactory([ini](const TProgId&) -> std::unique_ptr<TKeyValueStore> {
            return std::make_unique<TIniStore>(ini);
        });
        list.SetMaxItems(15);
        list.SetProgId(&id);
        list.SetMenuAttached(true);
        list.Loaded();
        for (std::size_t i = static_cast<std::size_t>(program); i < files.size(); i += 2)
            list.AddFile(files[i]);
        ::_exit(0);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    TIniStore store(ini);
    std::set<std::string> stored;
    for (const char slot : std::string("123456789ABCDEF"))
        stored.insert(store.ReadString("RecentFiles", std::string(1, slot), ""));
    for (const std::string& file : files)
        EXPECT_EQ(stored.count(file), 1u) << file;
}

TEST_F(TIniStoreTest, FileNameLiesBesideTheSettingsFile)
{
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old != nullptr ? old : "";
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    EXPECT_EQ(fs::path(TIniStore::FileNameFor(id)),
              folder / "MorvaneData" / "Kavrel" / "0.0.0.2" / "Kavrel.ini");
    if (old != nullptr)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST_F(TIniStoreTest, RecentFilesSurviveAStoreAndLoad)
{
    const std::string ini = (folder / "Kavrel.ini").string();
    auto factory = [ini](const TProgId&) -> std::unique_ptr<TKeyValueStore> {
        return std::make_unique<TIniStore>(ini);
    };
    std::vector<std::string> files;
    for (int i = 1; i <= 10; ++i)
        files.push_back(Touch("take " + std::to_string(i) + ".wav"));
    {
        TRecentFiles list;
        list.SetStoreFactory(factory);
        list.SetMaxItems(9);
        list.SetProgId(&id);
        list.SetMenuAttached(true);
        list.Loaded();
        for (const std::string& file : files)
            ASSERT_TRUE(list.AddFile(file));
    }
    std::ifstream in(ini);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("[RecentFiles]"), std::string::npos) << text;
    EXPECT_NE(text.find("nToUse=9"), std::string::npos) << text;

    fs::remove(files[4]); // "take 5.wav" vanished between runs
    TRecentFiles list;
    list.SetStoreFactory(factory);
    list.SetProgId(&id);
    list.SetMenuAttached(true);
    list.Loaded();
    EXPECT_EQ(list.MaxItems(), 9);
    std::vector<std::string> expected;
    for (int i = 10; i >= 2; --i) {
        if (i != 5)
            expected.push_back(files[static_cast<std::size_t>(i - 1)]);
    }
    for (std::size_t slot = 1; slot <= expected.size(); ++slot)
        EXPECT_EQ(list.Slot(static_cast<int>(slot)), expected[slot - 1]) << slot;
    EXPECT_EQ(list.Slot(static_cast<int>(expected.size()) + 1), "");
}

} // namespace
} // namespace kavrel
