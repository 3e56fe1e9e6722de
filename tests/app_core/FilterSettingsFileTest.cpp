#include "app/core/FilterSettingsFile.h"

#include "TestSounds.h"
#include "settings/EZELfileError.h"
#include "settings/TZELFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>

using namespace kavrel;
using namespace kavrel::testing_sounds;

namespace {

TProgId Kavrel()
{
    TProgId id;
    id.SetProductName("Kavrel");
    id.SetCompany("MorvaneData");
    id.SetVersion("0.0.0.2");
    return id;
}

// The message of the EZELfileError that action raises; empty when it raises none.
std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EZELfileError& e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(FilterSettingsFile, RoundTripsTheSixValuesInTheSettingsFormat)
{
    TScratchFolder dir;
    const TProgId id = Kavrel();
    const TFilterSettings s{0.5, 2.0, 123.4, 45.6, 789.0, 1.25};
    const std::string path = dir.File("a.zelfile");
    SaveFilterSettings(path, s, id);
    const TFilterSettings r = LoadFilterSettings(path);
    EXPECT_EQ(r.RawGain, s.RawGain);
    EXPECT_EQ(r.FilterGain, s.FilterGain);
    EXPECT_EQ(r.PoleF0, s.PoleF0);
    EXPECT_EQ(r.PoleBW, s.PoleBW);
    EXPECT_EQ(r.ZeroF0, s.ZeroF0);
    EXPECT_EQ(r.ZeroBW, s.ZeroBW);
    // The settings file reads it as its own.
    TZELFile file;
    ASSERT_TRUE(file.LoadFromFile(path));
    EXPECT_EQ(file.ReadFloat("Settings", "PoleF0", 0.0), 123.4);
    EXPECT_EQ(file.LoadedProductName(), "Kavrel");
}

// Every kind of bad file is refused with its name and what is wrong with it.
TEST(FilterSettingsFile, ABadFileIsNamedWithItsProblem)
{
    TScratchFolder dir;
    const TProgId id = Kavrel();
    const auto write = [&](const std::string& name, const std::function<void(TZELFile&)>& fill) {
        TZELFile f;
        f.SetProgId(&id);
        for (const char* key : {"RawGain", "FilterGain", "PoleF0", "PoleBW", "ZeroF0", "ZeroBW"})
            f.WriteFloat("Settings", key, 1.0);
        fill(f);
        f.SaveToFile(dir.File(name));
        return dir.File(name);
    };
    std::ofstream(dir.File("junk.zelfile")) << "not a settings file at all";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::string path;
        std::string problem;
    } cases[] = {
        {dir.File("missing.zelfile"), "No such file or directory"},
        {dir.Path().string(), "is a folder"},
        {dir.File("junk.zelfile"), "not a settings file"},
        {write("lacking.zelfile", [](TZELFile& f) { f.Clear(); }), "holds no value for RawGain"},
        {write("text.zelfile",
               [](TZELFile& f) {
                   f.SetData("Settings", "PoleBW", tdata{1, {'x'}});
               }),
         "the value for PoleBW is not a number"},
        {write("zero.zelfile", [](TZELFile& f) { f.WriteFloat("Settings", "ZeroF0", 0.0); }),
         "ZeroF0 = 0 is out of range"},
        {write("nan.zelfile", [&](TZELFile& f) { f.WriteFloat("Settings", "FilterGain", nan); }),
         "FilterGain = nan is out of range"},
    };
    for (const auto& c : cases) {
        const std::string message = ErrorOf([&] { LoadFilterSettings(c.path); });
        EXPECT_EQ(message.rfind(c.path + ": ", 0), 0U) << message;
        EXPECT_NE(message.find(c.problem), std::string::npos) << message;
    }
    const std::string blocked = dir.File("junk.zelfile") + "/below.zelfile";
    EXPECT_EQ(ErrorOf([&] { SaveFilterSettings(blocked, {}, id); }).rfind(blocked + ": ", 0), 0U);
}
