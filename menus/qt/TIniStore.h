#pragma once

#include "menus/TKeyValueStore.h"
#include "menus/TRecentFiles.h"
#include "settings/TProgId.h"

#include <memory>
#include <string>

class QSettings;

namespace kavrel {

// An ini file as key-value store (QSettings in ini format, written atomically by Qt).
class TIniStore : public TKeyValueStore {
public:
    explicit TIniStore(const std::string& fileName);
    ~TIniStore() override;

    const std::string& FileName() const { return m_fileName; }

    void EraseSection(const std::string& section) override;
    void WriteInteger(const std::string& section, const std::string& key, int value) override;
    int ReadInteger(const std::string& section, const std::string& key, int def) override;
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) override;
    // Raises std::runtime_error naming the file when it could not be written.
    void Flush() override;

    // "<product name>.ini" in the program's per-user folder (beside the settings file).
    static std::string FileNameFor(const TProgId& id);
    // A factory for TRecentFiles that opens FileNameFor(id).
    static TRecentFiles::TStoreFactory Factory();

private:
    std::string m_fileName;
    std::unique_ptr<QSettings> m_settings;
};

} // namespace kavrel
