#pragma once

#include <functional>
#include <string>

namespace kavrel {

// A per-user key-value store with sections, integer and text values and section erase, where the
// recent files list keeps its entries. Any operation may raise on a failure of the store.
class TKeyValueStore {
public:
    virtual ~TKeyValueStore() = default;

    virtual void EraseSection(const std::string& section) = 0;
    virtual void WriteInteger(const std::string& section, const std::string& key, int value) = 0;
    virtual int ReadInteger(const std::string& section, const std::string& key, int def) = 0;
    virtual void WriteString(const std::string& section, const std::string& key,
                             const std::string& value) = 0;
    virtual std::string ReadString(const std::string& section, const std::string& key,
                                   const std::string& def) = 0;
    // Makes what was written durable; raises when it could not be.
    virtual void Flush() {}
    // Runs `merge` on the values as they are stored now and makes the result durable, with what
    // was written here, so that no other program sharing the store writes in between: for a
    // change that must keep what another program stored meanwhile. `stored` is valid during the
    // call only. The default, for a store no one shares, merges into this one and flushes.
    virtual void Update(const std::function<void(TKeyValueStore& stored)>& merge)
    {
        if (merge)
            merge(*this);
        Flush();
    }
};

} // namespace kavrel
