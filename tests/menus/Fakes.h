#pragma once

#include "menus/TDriveTypes.h"
#include "menus/TKeyValueStore.h"

#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kavrel::test {

// Values of a store, shared between a test and the store it hands to the list.
struct TStoreData {
    std::map<std::string, std::map<std::string, std::string>> Sections;
    std::vector<std::string> Log; // "erase S", "write S/K", "read S/K", "flush"
    bool Fail = false;
};

class TMemoryStore : public TKeyValueStore {
public:
    explicit TMemoryStore(std::shared_ptr<TStoreData> data) : m_data(std::move(data)) {}

    void EraseSection(const std::string& section) override
    {
        Check("erase " + section);
        m_data->Sections.erase(section);
    }
    void WriteInteger(const std::string& section, const std::string& key, int value) override
    {
        Check("write " + section + "/" + key);
        m_data->Sections[section][key] = std::to_string(value);
    }
    int ReadInteger(const std::string& section, const std::string& key, int def) override
    {
        Check("read " + section + "/" + key);
        const std::string* value = Find(section, key);
        return value != nullptr ? std::stoi(*value) : def;
    }
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override
    {
        Check("write " + section + "/" + key);
        m_data->Sections[section][key] = value;
    }
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) override
    {
        Check("read " + section + "/" + key);
        const std::string* value = Find(section, key);
        return value != nullptr ? *value : def;
    }
    void Flush() override { Check("flush"); }

private:
    void Check(const std::string& operation)
    {
        m_data->Log.push_back(operation);
        if (m_data->Fail)
            throw std::runtime_error("store failed");
    }
    const std::string* Find(const std::string& section, const std::string& key) const
    {
        const auto s = m_data->Sections.find(section);
        if (s == m_data->Sections.end())
            return nullptr;
        const auto k = s->second.find(key);
        return k == s->second.end() ? nullptr : &k->second;
    }

    std::shared_ptr<TStoreData> m_data;
};

// Drive types by path prefix; Fixed when no prefix matches.
class TFakeDriveTypes : public TDriveTypes {
public:
    explicit TFakeDriveTypes(std::vector<std::pair<std::string, TDriveType>> prefixes)
        : m_prefixes(std::move(prefixes))
    {
    }
    TDriveType DriveTypeOf(const std::string& path) const override
    {
        for (const auto& [prefix, type] : m_prefixes) {
            if (path.compare(0, prefix.size(), prefix) == 0)
                return type;
        }
        return TDriveType::Fixed;
    }

private:
    std::vector<std::pair<std::string, TDriveType>> m_prefixes;
};

} // namespace kavrel::test
