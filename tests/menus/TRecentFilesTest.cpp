#include "menus/TRecentFiles.h"

#include "tests/menus/Fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kavrel {
namespace {

using test::TFakeDriveTypes;
using test::TMemoryStore;
using test::TStoreData;

struct Click {
    TRecentFiles* Sender;
    int Index;
    std::string FileName;
};

struct Box {
    std::string Caption;
    std::string Text;
};

class TRecentFilesTest : public ::testing::Test {
protected:
    TRecentFilesTest()
    {
        id.SetCompany("MorvaneData");
        id.SetProductName("Kavrel");
        id.SetVersion("0.0.0.2");
        store = std::make_shared<TStoreData>();
        list.SetDriveTypes(std::make_unique<TFakeDriveTypes>(
            std::vector<std::pair<std::string, TDriveType>>{{"/cdrom/", TDriveType::CDROM},
                                                            {"/media/", TDriveType::Removable},
                                                            {"/net/", TDriveType::Remote},
                                                            {"/ram/", TDriveType::RAMDisk},
                                                            {"/unknown/", TDriveType::Unknown},
                                                            {"/noroot/", TDriveType::NoRootDir}}));
        list.SetFileExists([this](const std::string& path) { return existing.count(path) > 0; });
        list.SetStoreFactory([this](const TProgId&) -> std::unique_ptr<TKeyValueStore> {
            return std::make_unique<TMemoryStore>(store);
        });
        list.OnRefresh = [this](TRecentFiles&) { ++refreshes; };
        list.OnWarning = [this](TRecentFiles&, const std::string& caption,
                                const std::string& text) {
            warnings.push_back({caption, text});
        };
        list.OnQuestion = [this](TRecentFiles&, const std::string& caption,
                                 const std::string& text) {
            questions.push_back({caption, text});
            return answer;
        };
    }

    // The main window's list: in the File menu at 2, 9 items, bar, clear item, fixed and remote
    // drives only.
    void SetUpAsMainWindow()
    {
        list.SetMenuPos(2);
        list.SetMaxItems(9);
        list.SetBarBefore(true);
        list.SetIncludeClearItem(true);
        list.SetClearCaption("&Clear list...");
        list.SetAllowFileOnRemovable(false);
        list.SetAllowFileOnRemote(true);
        list.SetAllowFileOnFixed(true);
        list.SetAllowFileOnCDROM(false);
        list.SetAllowFileOnRAMDisk(false);
        list.SetProgId(&id);
        list.SetMenuAttached(true);
        list.Loaded();
    }

    std::vector<std::string> Slots() const
    {
        std::vector<std::string> slots;
        for (int slot = 1; slot <= TRecentFiles::SlotCount && !list.Slot(slot).empty(); ++slot)
            slots.push_back(list.Slot(slot));
        return slots;
    }

    void AddExisting(const std::string& path)
    {
        existing.insert(path);
        ASSERT_TRUE(list.AddFile(path)) << path;
    }

    const std::map<std::string, std::string>& Stored() { return store->Sections["RecentFiles"]; }

    TProgId id;
    TRecentFiles list;
    std::shared_ptr<TStoreData> store;
    std::set<std::string> existing;
    int refreshes = 0;
    std::vector<Box> warnings;
    std::vector<Box> questions;
    bool answer = false;
};

TEST_F(TRecentFilesTest, DefaultsAreThoseOfTheComponent)
{
    EXPECT_EQ(list.MaxItems(), 5);
    EXPECT_EQ(list.MenuPos(), 100);
    EXPECT_TRUE(list.BarBefore());
    EXPECT_TRUE(list.IncludeClearItem());
    EXPECT_EQ(list.ClearCaption(), "&Clear list...");
    EXPECT_FALSE(list.AllowFileOnRemovable());
    EXPECT_TRUE(list.AllowFileOnRemote());
    EXPECT_TRUE(list.AllowFileOnFixed());
    EXPECT_FALSE(list.AllowFileOnCDROM());
    EXPECT_FALSE(list.AllowFileOnRAMDisk());
    EXPECT_EQ(list.Section(), "RecentFiles");
}

TEST_F(TRecentFilesTest, SameFileTwiceInOtherCaseLeavesOneEntryAtTheTop)
{
    SetUpAsMainWindow();
    AddExisting("/data/Song.wav");
    AddExisting("/data/other.wav");
    AddExisting("/data/SONG.wav");
    EXPECT_EQ(Slots(), (std::vector<std::string>{"/data/SONG.wav", "/data/other.wav"}));
}

TEST_F(TRecentFilesTest, TenthFilePushesTheOldestOutOfView)
{
    SetUpAsMainWindow();
    for (int i = 1; i <= 10; ++i)
        AddExisting("/data/" + std::to_string(i) + ".wav");
    EXPECT_EQ(list.Slot(1), "/data/10.wav");
    EXPECT_EQ(list.Slot(9), "/data/2.wav");
    EXPECT_TRUE(list.ItemVisible(9));
    EXPECT_FALSE(list.ItemVisible(10));

    // Only what is shown is stored.
    EXPECT_EQ(Stored().size(), 10u);
    EXPECT_EQ(Stored().at("nToUse"), "9");
    EXPECT_EQ(Stored().at("1"), "/data/10.wav");
    EXPECT_EQ(Stored().at("9"), "/data/2.wav");
    EXPECT_EQ(Stored().count("A"), 0u);
}

struct DriveCase {
    const char* Path;
    bool AddedByMainWindow;
};

class TRecentFilesDrives : public TRecentFilesTest,
                           public ::testing::WithParamInterface<DriveCase> {};

TEST_P(TRecentFilesDrives, OnlyAllowedDrivesAreAdded)
{
    SetUpAsMainWindow();
    EXPECT_EQ(list.AddFile(GetParam().Path), GetParam().AddedByMainWindow);
    EXPECT_EQ(list.Slot(1), GetParam().AddedByMainWindow ? GetParam().Path : "");
}

INSTANTIATE_TEST_SUITE_P(
    Drives, TRecentFilesDrives,
    ::testing::Values(DriveCase{"/data/fixed.wav", true}, DriveCase{"/net/remote.wav", true},
                      DriveCase{"/unknown/any.wav", true}, DriveCase{"/cdrom/track.wav", false},
                      DriveCase{"/media/stick.wav", false}, DriveCase{"/ram/temp.wav", false},
                      DriveCase{"/noroot/x.wav", false}));

TEST_F(TRecentFilesTest, EachAllowFlagOpensItsDrive)
{
    SetUpAsMainWindow();
    list.SetAllowFileOnCDROM(true);
    EXPECT_TRUE(list.AddFile("/cdrom/track.wav"));
    list.SetAllowFileOnRemovable(true);
    EXPECT_TRUE(list.AddFile("/media/stick.wav"));
    list.SetAllowFileOnRAMDisk(true);
    EXPECT_TRUE(list.AddFile("/ram/temp.wav"));
    list.SetAllowFileOnFixed(false);
    EXPECT_FALSE(list.AddFile("/data/fixed.wav"));
    list.SetAllowFileOnRemote(false);
    EXPECT_FALSE(list.AddFile("/net/remote.wav"));
    EXPECT_EQ(Slots(),
              (std::vector<std::string>{"/ram/temp.wav", "/media/stick.wav", "/cdrom/track.wav"}));
}

TEST_F(TRecentFilesTest, NamesAreExpandedAndEmptyNamesIgnored)
{
    SetUpAsMainWindow();
    EXPECT_FALSE(list.AddFile(""));
    EXPECT_TRUE(list.AddFile("/data/./sub/../a.wav"));
    EXPECT_EQ(list.Slot(1), "/data/a.wav");
    EXPECT_TRUE(list.AddFile("relative.wav"));
    EXPECT_EQ(list.Slot(1), (std::filesystem::current_path() / "relative.wav").string());
}

TEST_F(TRecentFilesTest, MaxItemsIsClampedAndEmptiesTheSlotsAbove)
{
    SetUpAsMainWindow();
    list.SetMaxItems(20);
    EXPECT_EQ(list.MaxItems(), 15);
    list.SetMaxItems(-3);
    EXPECT_EQ(list.MaxItems(), 0);

    list.SetMaxItems(15);
    for (int i = 1; i <= 17; ++i)
        AddExisting("/data/" + std::to_string(i) + ".wav");
    EXPECT_EQ(Slots().size(), 16u);
    EXPECT_EQ(list.Slot(16), "/data/2.wav");
    list.SetMaxItems(3);
    EXPECT_EQ(Slots(), (std::vector<std::string>{"/data/17.wav", "/data/16.wav", "/data/15.wav"}));
}

TEST_F(TRecentFilesTest, CaptionsNumberTheSlotsInHexadecimal)
{
    SetUpAsMainWindow();
    list.SetMaxItems(15);
    for (int i = 16; i >= 1; --i)
        AddExisting("/f/" + std::to_string(i) + ".wav");
    EXPECT_EQ(list.Caption(1), "&1 /f/1.wav");
    EXPECT_EQ(list.Caption(9), "&9 /f/9.wav");
    EXPECT_EQ(list.Caption(10), "&A /f/10.wav");
    EXPECT_EQ(list.Caption(15), "&F /f/15.wav");
    EXPECT_EQ(list.Caption(16), "&10 /f/16.wav");
    EXPECT_TRUE(list.ItemVisible(15));
    EXPECT_FALSE(list.ItemVisible(16));
    EXPECT_EQ(Stored().at("F"), "/f/15.wav");
}

TEST_F(TRecentFilesTest, ClickingADeletedFileWarnsAndRemovesIt)
{
    SetUpAsMainWindow();
    AddExisting("/data/a.wav");
    AddExisting("/data/b.wav");
    AddExisting("/data/c.wav");
    existing.erase("/data/b.wav");
    int clicks = 0;
    list.OnClick = [&](TRecentFiles&, int, const std::string&) { ++clicks; };

    list.ClickItem(2);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].Caption, "File not found");
    EXPECT_EQ(warnings[0].Text, "Can't find \r/data/b.wav");
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(Slots(), (std::vector<std::string>{"/data/c.wav", "/data/a.wav"}));
    EXPECT_EQ(Stored().at("2"), "/data/a.wav");
    EXPECT_EQ(Stored().at("3"), "");
}

TEST_F(TRecentFilesTest, ClickingAFileMovesItToTheTopAndReportsIt)
{
    SetUpAsMainWindow();
    AddExisting("/data/a.wav");
    AddExisting("/data/b.wav");
    AddExisting("/data/c.wav");

    // Without a handler nothing happens.
    list.ClickItem(3);
    EXPECT_EQ(list.Slot(1), "/data/c.wav");

    std::vector<Click> clicks;
    list.OnClick = [&](TRecentFiles& sender, int index, const std::string& fileName) {
        clicks.push_back({&sender, index, fileName});
    };
    list.ClickItem(3);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].Sender, &list);
    EXPECT_EQ(clicks[0].Index, 3);
    EXPECT_EQ(clicks[0].FileName, "/data/a.wav");
    EXPECT_EQ(Slots(), (std::vector<std::string>{"/data/a.wav", "/data/c.wav", "/data/b.wav"}));

    list.ClickItem(0);
    list.ClickItem(4);
    list.ClickItem(17);
    EXPECT_EQ(clicks.size(), 1u);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(TRecentFilesTest, ClearAsksAndEmptiesOnlyOnYes)
{
    SetUpAsMainWindow();
    AddExisting("/data/a.wav");
    AddExisting("/data/b.wav");

    answer = false;
    list.ClickClear();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].Caption, "Clear list");
    EXPECT_EQ(questions[0].Text, "Do you want to clear the list of recently used files?");
    EXPECT_EQ(Slots().size(), 2u);

    answer = true;
    list.ClickClear();
    EXPECT_TRUE(Slots().empty());
    EXPECT_FALSE(list.BarVisible());
    EXPECT_FALSE(list.ClearVisible());
    EXPECT_EQ(Stored().at("1"), "");

    AddExisting("/data/a.wav");
    list.OnQuestion = nullptr;
    list.ClickClear();
    EXPECT_EQ(Slots().size(), 1u);
}

TEST_F(TRecentFilesTest, BarAndClearItemShowOnlyWithVisibleFiles)
{
    SetUpAsMainWindow();
    EXPECT_FALSE(list.BarVisible());
    EXPECT_FALSE(list.ClearVisible());
    AddExisting("/data/a.wav");
    EXPECT_TRUE(list.BarVisible());
    EXPECT_TRUE(list.ClearVisible());
    list.SetBarBefore(false);
    EXPECT_FALSE(list.BarVisible());
    EXPECT_TRUE(list.ClearVisible());
    list.SetIncludeClearItem(false);
    EXPECT_FALSE(list.ClearVisible());
    list.SetBarBefore(true);
    list.SetIncludeClearItem(true);
    list.SetMaxItems(0);
    EXPECT_FALSE(list.ItemVisible(1));
    EXPECT_FALSE(list.BarVisible());
    EXPECT_FALSE(list.ClearVisible());
}

TEST_F(TRecentFilesTest, StoringClearsTheSectionFirst)
{
    store->Sections["RecentFiles"]["C"] = "/stale.wav";
    store->Sections["Other"]["1"] = "kept";
    SetUpAsMainWindow();
    AddExisting("/data/a.wav");
    EXPECT_EQ(Stored().count("C"), 0u);
    EXPECT_EQ(store->Sections["Other"]["1"], "kept");
    const auto erase = std::find(store->Log.rbegin(), store->Log.rend(), "erase RecentFiles");
    const auto write = std::find(store->Log.rbegin(), store->Log.rend(), "write RecentFiles/1");
    ASSERT_NE(erase, store->Log.rend());
    EXPECT_LT(write, erase); // reverse iterators: the write came after the erase
    EXPECT_EQ(store->Log.back(), "flush");
}

TEST_F(TRecentFilesTest, LoadingAppliesTheCountDropsVanishedFilesAndStoresNothingMeanwhile)
{
    auto& section = store->Sections["RecentFiles"];
    section = {{"nToUse", "4"},      {"1", "/data/x.wav"}, {"2", "/data/gone.wav"},
               {"3", "/data/X.WAV"}, {"4", "/data/y.wav"}, {"5", "/data/beyond.wav"}};
    existing = {"/data/x.wav", "/data/X.WAV", "/data/y.wav", "/data/beyond.wav"};
    list.SetMaxItems(9);
    list.SetProgId(&id);
    list.SetMenuAttached(true);
    EXPECT_TRUE(store->Log.empty()); // nothing before Loaded()
    list.Loaded();

    EXPECT_EQ(list.MaxItems(), 4);
    EXPECT_EQ(Slots(), (std::vector<std::string>{"/data/x.wav", "/data/y.wav"}));
    const auto firstErase = std::find(store->Log.begin(), store->Log.end(), "erase RecentFiles");
    ASSERT_NE(firstErase, store->Log.end());
    for (auto op = firstErase; op != store->Log.end(); ++op)
        EXPECT_NE(op->rfind("read", 0), 0u) << *op;
    EXPECT_EQ(std::count(store->Log.begin(), store->Log.end(), "erase RecentFiles"), 1);
    EXPECT_GE(refreshes, 1);
}

TEST_F(TRecentFilesTest, StoredCountOutOfRangeReadsAsTheDefault)
{
    // A damaged count must not switch the list off for good: it reads as the list's own (9).
    for (const char* stored : {"99", "-5", "16", "x"}) {
        store->Sections["RecentFiles"] = {{"nToUse", stored}};
        TRecentFiles other;
        other.SetStoreFactory([this](const TProgId&) -> std::unique_ptr<TKeyValueStore> {
            return std::make_unique<TMemoryStore>(store);
        });
        other.SetMaxItems(9);
        other.SetProgId(&id);
        other.SetMenuAttached(true);
        other.Loaded();
        EXPECT_EQ(other.MaxItems(), 9) << stored;
    }
    store->Sections["RecentFiles"] = {{"nToUse", "0"}};
    SetUpAsMainWindow();
    EXPECT_EQ(list.MaxItems(), 0);
}

TEST_F(TRecentFilesTest, WithoutMenuNothingIsStored)
{
    list.SetProgId(&id);
    list.Loaded();
    AddExisting("/data/a.wav");
    EXPECT_EQ(list.Slot(1), "/data/a.wav");
    EXPECT_TRUE(store->Log.empty());
    EXPECT_EQ(refreshes, 0);
}

TEST_F(TRecentFilesTest, MenuAttachedLaterStillLoadsBeforeStoring)
{
    store->Sections["RecentFiles"] = {{"nToUse", "9"}, {"1", "/data/kept.wav"}};
    existing.insert("/data/kept.wav");
    list.SetProgId(&id);
    list.Loaded();
    list.SetMenuAttached(true);
    EXPECT_EQ(list.Slot(1), "/data/kept.wav");
    EXPECT_EQ(Stored().at("1"), "/data/kept.wav");
}

TEST_F(TRecentFilesTest, MissingProgIdNamesTheComponent)
{
    TRecentFiles named("RecentFiles7");
    try {
        named.Loaded();
        FAIL() << "no error";
    } catch (const EZELfileError& e) {
        EXPECT_STREQ(e.what(), "Nothing assigned to RecentFiles7.ProgId");
    }
    try {
        list.Loaded();
        FAIL() << "no error";
    } catch (const EZELfileError& e) {
        EXPECT_STREQ(e.what(), "Nothing assigned to RecentFiles1.ProgId");
    }
}

TEST_F(TRecentFilesTest, StoreFailuresAreAbsorbed)
{
    store->Sections["RecentFiles"] = {{"nToUse", "9"}};
    store->Fail = true;
    EXPECT_NO_THROW(SetUpAsMainWindow());
    AddExisting("/data/a.wav");
    AddExisting("/data/b.wav");
    EXPECT_EQ(Slots(), (std::vector<std::string>{"/data/b.wav", "/data/a.wav"}));

    // A failure half-way through loading keeps the list in memory as it was.
    store->Fail = false;
    list.Load();
    EXPECT_EQ(list.Slot(1), "");
    AddExisting("/data/c.wav");
    store->Fail = true;
    list.Load();
    EXPECT_EQ(list.Slot(1), "/data/c.wav");
}

TEST_F(TRecentFilesTest, StoreThatCannotBeOpenedIsAbsorbed)
{
    list.SetStoreFactory([](const TProgId&) -> std::unique_ptr<TKeyValueStore> {
        throw std::runtime_error("no store");
    });
    EXPECT_NO_THROW(SetUpAsMainWindow());
    AddExisting("/data/a.wav");
    EXPECT_EQ(list.Slot(1), "/data/a.wav");
}

TEST_F(TRecentFilesTest, ClearCaptionIsCutAt255BytesOnACharacterBoundary)
{
    list.SetClearCaption(std::string(300, 'x'));
    EXPECT_EQ(list.ClearCaption(), std::string(255, 'x'));
    // 254 ASCII bytes, then a two-byte letter that would straddle the limit.
    list.SetClearCaption(std::string(254, 'x') + "\xC3\xA9" + "tail");
    EXPECT_EQ(list.ClearCaption(), std::string(254, 'x'));
}

} // namespace
} // namespace kavrel
