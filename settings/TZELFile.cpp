#include "settings/TZELFile.h"

#include "settings/Extended80.h"
#include "settings/ReadWholeFile.h"
#include "settings/UserFolders.h"
#include "sound/TSafeWriter.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace kavrel {

namespace fs = std::filesystem;

namespace {

constexpr char Magic[4] = {'Z', 'E', 'L', '1'};
// Section, key, tag and byte count: the least an item record takes.
constexpr std::size_t MinItemSize = 16;
// Settings files are a few hundred bytes; anything far larger is not one of ours.
constexpr std::size_t MaxFileSize = std::size_t{16} << 20;

// Lower-cases ASCII letters only, so multi-byte UTF-8 sequences stay intact.
std::string Lower(const std::string& text)
{
    std::string result = text;
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

// Reads the fields of a loaded file, never past its end and never allocating more than the bytes
// that are left.
class TReader {
public:
    TReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::size_t Left() const { return m_size - m_pos; }

    std::optional<std::int32_t> Int()
    {
        if (Left() < 4)
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | m_data[m_pos + static_cast<std::size_t>(i)];
        m_pos += 4;
        return static_cast<std::int32_t>(value);
    }

    // A 32-bit length and that many bytes; fails on a negative length or one past the end.
    std::optional<std::vector<std::uint8_t>> Counted()
    {
        const auto length = Int();
        if (!length || *length < 0 || static_cast<std::size_t>(*length) > Left())
            return std::nullopt;
        const auto n = static_cast<std::size_t>(*length);
        std::vector<std::uint8_t> bytes(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return bytes;
    }

    std::optional<std::string> Text()
    {
        auto bytes = Counted();
        if (!bytes)
            return std::nullopt;
        return std::string(bytes->begin(), bytes->end());
    }

    bool Skip(std::size_t n)
    {
        if (Left() < n)
            return false;
        m_pos += n;
        return true;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

void PutInt(std::vector<std::uint8_t>& out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

void PutCounted(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(INT32_MAX))
        throw std::length_error("Settings value too long to store");
    PutInt(out, static_cast<std::int32_t>(size));
    out.insert(out.end(), data, data + size);
}

void PutText(std::vector<std::uint8_t>& out, const std::string& text)
{
    PutCounted(out, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

[[noreturn]] void ThrowNoProgId()
{
    throw EZELfileError("Nothing assigned to ProgId");
}

} // namespace

std::string TZELFile::GetDefaultFileName() const
{
    if (m_progId == nullptr)
        ThrowNoProgId();
    const TProgramFolder folder = ProgramFolder(*m_progId);
    if (folder.Folder.empty())
        throw EZELfileError(NoProgramFolderText);
    if (folder.Regular)
        return (folder.Folder / m_settingsFileName).string();
    return (folder.Folder / (m_progId->ProductName() + ".zelfile")).string();
}

void TZELFile::ResetAfterFailedLoad()
{
    m_nodes.clear();
    m_loadedFileVersion.clear();
    m_loadedProductName.clear();
    m_loadedProgramVersion.clear();
}

bool TZELFile::LoadFromFile(const std::string& fileName)
{
    ResetAfterFailedLoad();
    try {
        const std::string path = fileName.empty() ? GetDefaultFileName() : fileName;
        std::string bytes;
        if (ReadWholeFile(path, MaxFileSize, bytes) != TReadResult::Read)
            return false;
        return LoadFromBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    } catch (...) {
        // A missing identity, a vanished file or no memory: the same as no file.
        ResetAfterFailedLoad();
        return false;
    }
}

bool TZELFile::LoadFromBuffer(const std::uint8_t* data, std::size_t size)
{
    ResetAfterFailedLoad();
    if (data == nullptr && size != 0)
        return false;
    TReader in(data, size);
    // The magic is not checked: files with other first letters load as well.
    if (!in.Skip(sizeof Magic))
        return false;
    auto fileId = in.Text();
    auto fileVersion = in.Text();
    auto productName = fileVersion ? in.Text() : std::nullopt;
    auto programVersion = productName ? in.Text() : std::nullopt;
    const auto count = programVersion ? in.Int() : std::nullopt;
    if (!fileId || !count || *count < 0 ||
        static_cast<std::size_t>(*count) > in.Left() / MinItemSize)
        return false;

    std::vector<tnode> nodes;
    nodes.reserve(static_cast<std::size_t>(*count));
    for (std::int32_t i = 0; i < *count; ++i) {
        auto section = in.Text();
        auto key = section ? in.Text() : std::nullopt;
        const auto tag = key ? in.Int() : std::nullopt;
        auto bytes = tag ? in.Counted() : std::nullopt;
        if (!bytes)
            return false;
        nodes.push_back({std::move(*section), std::move(*key), {*tag, std::move(*bytes)}});
    }

    m_fileId = std::move(*fileId);
    m_loadedFileVersion = std::move(*fileVersion);
    m_loadedProductName = std::move(*productName);
    m_loadedProgramVersion = std::move(*programVersion);
    m_nodes = std::move(nodes);
    return true;
}

std::vector<std::uint8_t> TZELFile::SaveToBuffer() const
{
    if (m_progId == nullptr)
        ThrowNoProgId();
    if (m_nodes.size() > static_cast<std::size_t>(INT32_MAX))
        throw std::length_error("Too many settings to store");
    std::vector<std::uint8_t> out(std::begin(Magic), std::end(Magic));
    PutText(out, m_fileId);
    PutText(out, m_fileVersion);
    PutText(out, m_progId->ProductName());
    PutText(out, m_progId->ProgramVersion());
    PutInt(out, static_cast<std::int32_t>(m_nodes.size()));
    for (const tnode& node : m_nodes) {
        PutText(out, node.Section);
        PutText(out, node.Key);
        PutInt(out, node.Data.DataType);
        PutCounted(out, node.Data.Bytes.data(), node.Data.Bytes.size());
    }
    return out;
}

void TZELFile::SaveToFile(const std::string& fileName) const
{
    const std::vector<std::uint8_t> bytes = SaveToBuffer();
    const fs::path target = fileName.empty() ? fs::path(GetDefaultFileName()) : fs::path(fileName);
    if (target.has_parent_path())
        fs::create_directories(target.parent_path());
    // The safe writer replaces the file only once the new one is whole (a full disk or a crash
    // half-way leaves the old one), follows a link to where the file really lies, and writes a
    // device such as /dev/null in place instead of replacing it. A pipe is no settings file:
    // writing it would wait for a reader.
    try {
        TSafeWriter::WriteWhole(target.string(), bytes.data(), bytes.size(),
                                TSafeWriter::TPipes::Refuse);
    } catch (const ESafeWriteError& e) {
        throw fs::filesystem_error(
            "Can't write the settings file: " + e.Reason(), target,
            std::error_code(e.Error() != 0 ? e.Error() : EIO, std::generic_category()));
    }
}

const tnode& TZELFile::Nodes(int index) const
{
    if (index < 0 || index >= NodeCount())
        throw std::out_of_range("Settings item index " + std::to_string(index) + " out of range");
    return m_nodes[static_cast<std::size_t>(index)];
}

int TZELFile::IndexOfNode(const std::string& section, const std::string& key) const
{
    const std::string lowSection = Lower(section);
    const std::string lowKey = Lower(key);
    for (int i = NodeCount() - 1; i >= 0; --i) {
        const tnode& node = m_nodes[static_cast<std::size_t>(i)];
        if (Lower(node.Section) == lowSection && Lower(node.Key) == lowKey)
            return i;
    }
    return -1;
}

int TZELFile::AddNode(const std::string& section, const std::string& key)
{
    const int index = IndexOfNode(section, key);
    if (index >= 0)
        return index;
    m_nodes.push_back({section, key, {}});
    return NodeCount() - 1;
}

void TZELFile::SetData(const std::string& section, const std::string& key, const tdata& data)
{
    m_nodes[static_cast<std::size_t>(AddNode(section, key))].Data = data;
}

tdata TZELFile::GetData(const std::string& section, const std::string& key, const tdata& def) const
{
    const int index = IndexOfNode(section, key);
    return index < 0 ? def : m_nodes[static_cast<std::size_t>(index)].Data;
}

tdata TZELFile::FloatToData(double value)
{
    const TExtended80 bytes = DoubleToExtended80(value);
    return {tdata::FloatType, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

double TZELFile::DataToFloat(const tdata& data)
{
    if (data.DataType != tdata::FloatType) {
        throw EZELfileError("Data has wrong type: " + std::to_string(data.DataType) + ", not" +
                            std::to_string(tdata::FloatType));
    }
    TExtended80 bytes{};
    std::copy_n(data.Bytes.begin(), std::min(data.Bytes.size(), bytes.size()), bytes.begin());
    return Extended80ToDouble(bytes);
}

void TZELFile::WriteFloat(const std::string& section, const std::string& key, double value)
{
    SetData(section, key, FloatToData(value));
}

double TZELFile::ReadFloat(const std::string& section, const std::string& key, double def) const
{
    return DataToFloat(GetData(section, key, FloatToData(def)));
}

} // namespace kavrel
