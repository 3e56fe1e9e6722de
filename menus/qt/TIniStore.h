#pragma once

#include "menus/TKeyValueStore.h"
#include "menus/TRecentFiles.h"
#include "settings/TProgId.h"

#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kavrel {

// An ini file as key-value store, in the format QSettings reads and writes (which kept this file
// before): "[section]" lines, "key=value" lines, texts in double quotes with backslash escapes.
// The file is read once when the store is made and written as a whole by Flush through
// TSafeWriter, so a link to /dev/null or another device is written in place, never replaced; a
// pipe in its place is neither waited for nor written. Names are 8-bit strings kept byte for
// byte. Reading, writing and flushing take time in proportion to the file's size.
class TIniStore : public TKeyValueStore {
public:
    // Reads fileName when it is a regular file; a missing or unreadable file is an empty store.
    // An empty name makes a store that lives in memory only (there is no private folder to keep
    // it in).
    explicit TIniStore(const std::string& fileName);

    const std::string& FileName() const { return m_fileName; }

    void EraseSection(const std::string& section) override;
    void WriteInteger(const std::string& section, const std::string& key, int value) override;
    int ReadInteger(const std::string& section, const std::string& key, int def) override;
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) override;
    // Writes the file when anything changed. Sections this store did not change are taken from
    // the file as it is then, so that other stores on the same file (the window places, the
    // output choice, another instance of the program) keep what they wrote meanwhile. Raises
    // std::runtime_error naming the file when it could not be written (or was too large to read
    // whole, which would lose its end); the file is then as it was.
    void Flush() override;
    // As Flush, with `merge` run first on the file's entries as they are then. Reading, merging
    // and writing hold a lock (flock on the file's folder) that other stores on the file take
    // too, so no other program writes the file in between.
    void Update(const std::function<void(TKeyValueStore& stored)>& merge) override;

    // The file's text for the current entries.
    std::string Text() const;

    // "<product name>.ini" in the program's per-user folder (beside the settings file); empty
    // when there is no private folder.
    static std::string FileNameFor(const TProgId& id);
    // A factory for TRecentFiles that opens FileNameFor(id).
    static TRecentFiles::TStoreFactory Factory();

private:
    struct TEntry {
        std::string Section;
        std::string Key;
        std::string Value; // as written in the file, escapes and quotes included
    };

    void Read();
    void Parse(const std::string& text);
    const TEntry* Find(const std::string& section, const std::string& key) const;
    void Put(const std::string& section, const std::string& key, std::string raw);
    void Set(const std::string& section, const std::string& key, std::string raw);
    void Reindex();

    // Notes a section as written or erased here; Touched: whether it, or a section it lies
    // below, was.
    void Touch(const std::string& section);
    bool Touched(const std::string& section) const;

    std::string m_fileName;
    std::vector<TEntry> m_entries;
    // Where each section and key lies in m_entries.
    std::unordered_map<std::string, std::size_t> m_index;
    // Sections written or erased here (an erased one with its subsections).
    std::unordered_set<std::string> m_touched;
    bool m_changed = false;
    // The file was too large to read whole: writing it would cut it.
    bool m_tooLarge = false;
};

} // namespace kavrel
