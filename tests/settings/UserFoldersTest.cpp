#include "settings/UserFolders.h"
#include "settings/TZELFile.h"

#include "tests/settings/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <unistd.h>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the lifetime of the object and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TProgId KavrelId()
{
    TProgId id;
    id.SetCompany("MorvaneData");
    id.SetProductName("Kavrel");
    id.SetVersion("0.0.0.2");
    return id;
}

class UserFoldersTest : public ::testing::Test {
protected:
    test::TempFolder folder;
};

TEST_F(UserFoldersTest, ConfigFolderPrefersXdgConfigHome)
{
    ScopedEnv xdg("XDG_CONFIG_HOME", (folder / "xdg").string());
    ScopedEnv home("HOME", (folder / "home").string());
    EXPECT_EQ(UserConfigFolder(), folder / "xdg");
}

TEST_F(UserFoldersTest, ConfigFolderFallsBackToHomeConfig)
{
    ScopedEnv home("HOME", (folder / "home").string());
    for (const std::optional<std::string>& value :
         {std::optional<std::string>{}, std::optional<std::string>{""},
          std::optional<std::string>{"relative/path"}}) {
        ScopedEnv xdg("XDG_CONFIG_HOME", value);
        EXPECT_EQ(UserConfigFolder(), folder / "home" / ".config");
    }
}

TEST_F(UserFoldersTest, DefaultFileNameLiesInCompanyProductVersionAndIsCreated)
{
    ScopedEnv xdg("XDG_CONFIG_HOME", folder.Path().string());
    const TProgId id = KavrelId();
    TZELFile file;
    file.SetProgId(&id);
    const fs::path expected = folder / "MorvaneData" / "Kavrel" / "0.0.0.2" / "settings.zelfile";
    EXPECT_EQ(fs::path(file.GetDefaultFileName()), expected);
    EXPECT_TRUE(fs::is_directory(expected.parent_path()));

    // The main window's file beside it goes through save and load with the default folder.
    const fs::path main =
        fs::path(file.GetDefaultFileName()).parent_path() / "Kavrelsettings.zelfile";
    file.WriteFloat("Settings", "PoleF0", 123.0);
    file.SaveToFile(main.string());
    file.Clear();
    ASSERT_TRUE(file.LoadFromFile(main.string()));
    EXPECT_EQ(file.ReadFloat("Settings", "PoleF0", 0.0), 123.0);

    // An empty name means the default file.
    file.SaveToFile();
    EXPECT_TRUE(fs::exists(expected));
    EXPECT_TRUE(file.LoadFromFile());
}

TEST_F(UserFoldersTest, UnusableConfigFolderFallsBackToHome)
{
    // A file where the configuration folder should be: nothing can be created below it.
    std::ofstream(folder / "blocked") << "x";
    ScopedEnv xdg("XDG_CONFIG_HOME", (folder / "blocked").string());
    fs::create_directories(folder / "home");
    ScopedEnv home("HOME", (folder / "home").string());
    const TProgId id = KavrelId();

    const TProgramFolder found = ProgramFolder(id);
    EXPECT_FALSE(found.Regular);
    EXPECT_EQ(found.Folder, folder / "home");

    TZELFile file;
    file.SetProgId(&id);
    EXPECT_EQ(fs::path(file.GetDefaultFileName()), folder / "home" / "Kavrel.zelfile");
    // The probe that checked the home folder left nothing behind.
    EXPECT_TRUE(fs::is_empty(folder / "home"));
}

// Settings go only where no other user can write: never into a shared folder such as /tmp, nor
// through a link another user planted there; without such a place nothing is kept.
TEST_F(UserFoldersTest, OnlyAPrivateFolderKeepsTheSettings)
{
    const fs::path shared = folder / "shared";
    const fs::path open = folder / "open";
    const fs::path mine = folder / "mine";
    for (const fs::path& made : {shared, open, mine})
        fs::create_directories(made);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(open, fs::perms::all);
    const fs::path planted = shared / "planted";
    fs::create_symlink(mine, planted);
    // Only root can give the link to another user; for anyone else it is the user's own link.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::lchown(planted.c_str(), 4321, 4321), 0);
    }
    struct TCase {
        std::optional<std::string> Xdg;
        std::optional<std::string> Home;
        bool Kept;
    };
    const TCase cases[] = {
        {std::nullopt, std::nullopt, false},
        {std::nullopt, shared.string(), false},
        {(shared / "config").string(), std::nullopt, false},
        {open.string(), std::nullopt, false},
        {planted.string(), std::nullopt, !root},
        {mine.string(), std::nullopt, true},
    };
    const TProgId id = KavrelId();
    for (const TCase& c : cases) {
        ScopedEnv xdg("XDG_CONFIG_HOME", c.Xdg);
        ScopedEnv home("HOME", c.Home);
        const std::string what = c.Xdg.value_or("-") + " " + c.Home.value_or("-");
        TZELFile file;
        file.SetProgId(&id);
        if (c.Kept) {
            EXPECT_EQ(fs::path(file.GetDefaultFileName()).parent_path(),
                      fs::path(c.Xdg.value_or("")) / "MorvaneData" / "Kavrel" / "0.0.0.2")
                << what;
        } else {
            EXPECT_TRUE(ProgramFolder(id).Folder.empty()) << what;
            EXPECT_THROW((void)file.GetDefaultFileName(), EZELfileError) << what;
        }
    }
    // Nothing was made in the shared folders on the way.
    EXPECT_EQ(std::distance(fs::directory_iterator(shared), {}), 1);
    EXPECT_TRUE(fs::is_empty(open));
}

} // namespace
} // namespace kavrel
