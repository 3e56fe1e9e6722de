#include "app/core/FilterSettingsFile.h"

#include "settings/EZELfileError.h"
#include "settings/TZELFile.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace kavrel {

namespace {

constexpr const char* Section = "Settings";
// A file of six values takes a few hundred bytes; anything past this is not one.
constexpr std::uintmax_t MaxFileSize = 1 << 20;

// The keys, in the order of the controls, with where each value lives.
constexpr std::array<std::pair<const char*, double TFilterSettings::*>, 6> Keys{{
    {"RawGain", &TFilterSettings::RawGain},
    {"FilterGain", &TFilterSettings::FilterGain},
    {"PoleF0", &TFilterSettings::PoleF0},
    {"PoleBW", &TFilterSettings::PoleBW},
    {"ZeroF0", &TFilterSettings::ZeroF0},
    {"ZeroBW", &TFilterSettings::ZeroBW},
}};

[[noreturn]] void Fail(const std::string& path, const std::string& problem)
{
    throw EZELfileError(path + ": " + problem);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (path.empty())
        Fail(path, "no file name");
    if (fs::is_directory(path, ec))
        Fail(path, "is a folder");
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec)
        Fail(path, ec.message());
    if (size > MaxFileSize)
        Fail(path, "too large for a settings file");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in || in.gcount() != static_cast<std::streamsize>(bytes.size()))
        Fail(path, "cannot be read");
    return bytes;
}

} // namespace

void SaveFilterSettings(const std::string& path, const TFilterSettings& settings,
                        const TProgId& progId)
{
    if (path.empty())
        Fail(path, "no file name");
    TZELFile file;
    file.SetProgId(&progId);
    for (const auto& [key, member] : Keys)
        file.WriteFloat(Section, key, settings.*member);
    try {
        file.SaveToFile(path);
    } catch (const std::filesystem::filesystem_error& e) {
        Fail(path, e.code().message());
    }
}

TFilterSettings LoadFilterSettings(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    TZELFile file;
    if (!file.LoadFromBuffer(bytes.data(), bytes.size()))
        Fail(path, "not a settings file, or a damaged one");
    TFilterSettings settings;
    for (const auto& [key, member] : Keys) {
        if (file.IndexOfNode(Section, key) < 0)
            Fail(path, std::string("holds no value for ") + key);
        double value = 0.0;
        try {
            value = file.ReadFloat(Section, key, 0.0);
        } catch (const EZELfileError&) {
            Fail(path, std::string("the value for ") + key + " is not a number");
        }
        if (!(value > 0.0) || !std::isfinite(value)) {
            std::ostringstream text;
            text << key << " = " << value << " is out of range";
            Fail(path, text.str());
        }
        settings.*member = value;
    }
    return settings;
}

} // namespace kavrel
