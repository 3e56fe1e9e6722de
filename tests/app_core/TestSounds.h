#pragma once

// Generated sounds and a scratch folder for the document's tests.

#include "sound/TWav.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace kavrel::testing_sounds {

// A sound of the given channels (all the same length) at rate Hz.
inline TWav MakeWav(std::int32_t rate, const std::vector<std::vector<std::int16_t>>& channels)
{
    TWav w;
    w.SetSampleRate(rate);
    w.SetChannels(static_cast<std::int32_t>(channels.size()));
    w.SetLength(channels.empty() ? 0 : static_cast<std::int64_t>(channels[0].size()));
    for (std::size_t c = 0; c < channels.size(); ++c)
        for (std::size_t i = 0; i < channels[c].size(); ++i)
            w.SetSample(static_cast<std::int32_t>(c), static_cast<std::int64_t>(i), channels[c][i]);
    return w;
}

// Uniform noise in ±amplitude, repeatable by seed.
inline std::vector<std::int16_t> Noise(std::size_t n, int amplitude, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    std::vector<std::int16_t> v(n);
    for (auto& s : v)
        s = static_cast<std::int16_t>(dist(gen));
    return v;
}

// amplitude·sin(2π·f·i/rate), rounded.
inline std::vector<std::int16_t> SineWave(std::size_t n, double f, double rate, double amplitude)
{
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::int16_t>(std::lround(
            amplitude * std::sin(2.0 * std::numbers::pi * f * static_cast<double>(i) / rate)));
    return v;
}

// A fresh folder under the temporary folder, removed with the object.
class TScratchFolder {
public:
    TScratchFolder()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kavrel-doc-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~TScratchFolder()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    std::string File(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace kavrel::testing_sounds
