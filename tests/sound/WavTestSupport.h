#pragma once

// Shared by the wave-file tests: the known content of the fixtures (the same formula as
// make-fixtures.sh) and a scratch folder per test.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace kavrel::test {

inline std::string Fixture(const std::string& name)
{
    return std::string(KAVREL_SOURCE_DIR) + "/tests/sound/fixtures/" + name;
}

constexpr std::int64_t kFixtureFrames = 300;

// Sample i of channel c in the fixtures made from the 16-bit source.
inline std::int16_t Content(int channel, std::int64_t i)
{
    static constexpr int head[] = {-32768, 32767, 0, -1, 1, 256, -256};
    if (i < 7)
        return static_cast<std::int16_t>(head[(i + channel) % 7]);
    const std::int64_t v = channel % 2 == 0
                               ? (i * 40503 + std::int64_t{channel} * 7919) % 65536 - 32768
                               : (i * i * 37 + 11 * i + channel) % 65536 - 32768;
    return static_cast<std::int16_t>(v);
}

// The content with its low byte cleared, as in the 8-bit fixture (rounding towards -inf).
inline std::int16_t ContentHigh8(int channel, std::int64_t i)
{
    const int v = Content(channel, i);
    return static_cast<std::int16_t>((v >= 0 ? v / 256 : -((-v + 255) / 256)) * 256);
}

inline std::vector<std::byte> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(chars.size());
    for (std::size_t i = 0; i < chars.size(); ++i)
        bytes[i] = static_cast<std::byte>(chars[i]);
    return bytes;
}

inline void WriteBytes(const std::string& path, const std::vector<std::byte>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder, removed with everything in it at the end of the test.
class TScratchFolder {
public:
    TScratchFolder()
    {
        std::random_device seed;
        m_path = std::filesystem::temp_directory_path() /
                 ("kavrel-sound-test-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(m_path);
    }
    ~TScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    std::string File(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }
    // Names of everything in the folder.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_path))
            names.push_back(entry.path().filename().string());
        return names;
    }

private:
    std::filesystem::path m_path;
};

} // namespace kavrel::test
