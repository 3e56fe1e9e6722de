#pragma once

// The program's binary settings file: a flat list of items, each a typed value addressed by a
// section and a key. All integers are 32-bit little-endian, texts are counted 8-bit strings:
//   "ZEL1", file id, file version, product name, program version, item count,
//   then per item: section, key, type tag, byte count, bytes.
// Loading never fails loudly (a missing or damaged file is the first-run case); saving raises.

#include "settings/EZELfileError.h"
#include "settings/TProgId.h"
#include "settings/tdata.h"
#include "settings/tnode.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavrel {

class TZELFile {
public:
    TZELFile() = default;

    // The identity that names the default folder and fills the header; not owned, may be null.
    const TProgId* ProgId() const { return m_progId; }
    void SetProgId(const TProgId* value) { m_progId = value; }

    // Free identification text of the header; overwritten by a load.
    const std::string& FileId() const { return m_fileId; }
    void SetFileId(std::string value) { m_fileId = std::move(value); }

    // File name used by the default location.
    const std::string& SettingsFileName() const { return m_settingsFileName; }
    void SetSettingsFileName(std::string value) { m_settingsFileName = std::move(value); }

    // Format version text written into the header.
    const std::string& FileVersion() const { return m_fileVersion; }
    void SetFileVersion(std::string value) { m_fileVersion = std::move(value); }

    // Header texts of the last loaded file; empty after a failed load.
    const std::string& LoadedFileVersion() const { return m_loadedFileVersion; }
    const std::string& LoadedProductName() const { return m_loadedProductName; }
    const std::string& LoadedProgramVersion() const { return m_loadedProgramVersion; }

    // Full name of the settings file in the program's per-user folder; creates that folder.
    // Raises EZELfileError without ProgId, and with NoProgramFolderText when there is no private
    // folder for it (see ProgramFolder).
    std::string GetDefaultFileName() const;

    // Replaces the items with the file's; an empty name means the default file. Any failure
    // leaves no items and empty header texts. Returns whether the file was read.
    bool LoadFromFile(const std::string& fileName = {});
    // As LoadFromFile, from bytes in memory.
    bool LoadFromBuffer(const std::uint8_t* data, std::size_t size);

    // Writes every item; an empty name means the default file. Creates the folders and saves
    // through TSafeWriter: the old file stays whole when anything fails, a link is followed, a
    // device (a link to /dev/null) is written in place, a write-protected file and a pipe are
    // refused.
    // Raises EZELfileError without ProgId, and std::filesystem::filesystem_error naming the file
    // when it cannot be written.
    void SaveToFile(const std::string& fileName = {}) const;
    // The bytes SaveToFile writes. Raises EZELfileError without ProgId.
    std::vector<std::uint8_t> SaveToBuffer() const;

    void Clear() { m_nodes.clear(); }

    int NodeCount() const { return static_cast<int>(m_nodes.size()); }
    // Item at a 0-based index; raises std::out_of_range outside 0..NodeCount()-1.
    const tnode& Nodes(int index) const;

    // Index of the last item whose section and key match without regard to case, or -1.
    int IndexOfNode(const std::string& section, const std::string& key) const;
    // Index of the matching item; appends an item with tag 0 and no bytes when there is none.
    int AddNode(const std::string& section, const std::string& key);
    void SetData(const std::string& section, const std::string& key, const tdata& data);
    tdata GetData(const std::string& section, const std::string& key, const tdata& def) const;

    static tdata FloatToData(double value);
    // Raises EZELfileError "Data has wrong type: <tag>, not12" when the tag is not 12. A value
    // with fewer than 10 bytes is read as if padded with zero bytes; bytes past 10 are ignored.
    static double DataToFloat(const tdata& data);

    void WriteFloat(const std::string& section, const std::string& key, double value);
    // The stored value, or def when there is no such item; raises as DataToFloat.
    double ReadFloat(const std::string& section, const std::string& key, double def) const;

private:
    void ResetAfterFailedLoad();

    const TProgId* m_progId = nullptr;
    std::string m_fileId;
    std::string m_settingsFileName = "settings.zelfile";
    std::string m_fileVersion = "0.0";
    std::string m_loadedFileVersion;
    std::string m_loadedProductName;
    std::string m_loadedProgramVersion;
    std::vector<tnode> m_nodes;
};

} // namespace kavrel
