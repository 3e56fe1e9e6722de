#pragma once

// The list of recently opened files: 16 slots, of which the first MaxItems are shown as numbered
// menu items ("&1 path" ... "&F path", "&10 path" for slot 16), filtered by the kind of drive
// a file lies on and kept in a per-user store between runs. This class holds the logic only; a
// menu adapter turns it into menu items and message boxes through the On... events.
//
// Life cycle: set the properties, attach a menu, then call Loaded() once. Before Loaded() nothing
// is stored or refreshed, so setting properties never overwrites the stored list.

#include "menus/TDriveTypes.h"
#include "menus/TKeyValueStore.h"
#include "settings/EZELfileError.h"
#include "settings/TProgId.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kavrel {

class TRecentFiles {
public:
    static constexpr int SlotCount = 16;
    static constexpr int MaxItemsLimit = 15;
    static constexpr const char* SectionPrefix = "RecentFiles";
    static constexpr const char* CountKey = "nToUse";
    static constexpr const char* NotFoundCaption = "File not found";
    static constexpr const char* NotFoundText = "Can't find \r"; // followed by the path
    static constexpr const char* ClearQuestionCaption = "Clear list";
    static constexpr const char* ClearQuestionText =
        "Do you want to clear the list of recently used files?";

    // Builds the store once the identity is known (called by Loaded()).
    using TStoreFactory = std::function<std::unique_ptr<TKeyValueStore>(const TProgId&)>;

    // name is the component's name, used in the message about a missing ProgId.
    explicit TRecentFiles(std::string name = "RecentFiles1");

    const std::string& Name() const { return m_name; }

    // Number of slots shown and stored, clamped to 0..15; slots above it are emptied.
    int MaxItems() const { return m_maxItems; }
    void SetMaxItems(int value);

    // Index in the menu where the items go; past the end means at the end.
    int MenuPos() const { return m_menuPos; }
    void SetMenuPos(int value);

    bool BarBefore() const { return m_barBefore; }
    void SetBarBefore(bool value);

    bool IncludeClearItem() const { return m_includeClearItem; }
    void SetIncludeClearItem(bool value);

    // At most 255 bytes; longer texts are cut (at a character boundary).
    const std::string& ClearCaption() const { return m_clearCaption; }
    void SetClearCaption(const std::string& value);

    bool AllowFileOnRemovable() const { return m_allowRemovable; }
    void SetAllowFileOnRemovable(bool value) { m_allowRemovable = value; }
    bool AllowFileOnRemote() const { return m_allowRemote; }
    void SetAllowFileOnRemote(bool value) { m_allowRemote = value; }
    bool AllowFileOnFixed() const { return m_allowFixed; }
    void SetAllowFileOnFixed(bool value) { m_allowFixed = value; }
    bool AllowFileOnCDROM() const { return m_allowCDROM; }
    void SetAllowFileOnCDROM(bool value) { m_allowCDROM = value; }
    bool AllowFileOnRAMDisk() const { return m_allowRAMDisk; }
    void SetAllowFileOnRAMDisk(bool value) { m_allowRAMDisk = value; }

    // Not owned; must be set before Loaded().
    const TProgId* ProgId() const { return m_progId; }
    void SetProgId(const TProgId* value) { m_progId = value; }

    // Appended to "RecentFiles" to form the store section; empty in this program.
    const std::string& ListName() const { return m_listName; }
    void SetListName(std::string value) { m_listName = std::move(value); }
    std::string Section() const { return SectionPrefix + m_listName; }

    // Set by the menu adapter; without a menu nothing is loaded, stored or refreshed.
    bool MenuAttached() const { return m_menuAttached; }
    void SetMenuAttached(bool value);

    void SetStoreFactory(TStoreFactory factory) { m_storeFactory = std::move(factory); }
    bool HasStoreFactory() const { return static_cast<bool>(m_storeFactory); }
    // Default: the mount table of the running system.
    void SetDriveTypes(std::unique_ptr<TDriveTypes> driveTypes);
    // Default: std::filesystem::exists.
    void SetFileExists(std::function<bool(const std::string&)> fileExists);

    // A file item was chosen; index is its slot (1..16) when clicked, fileName its path.
    std::function<void(TRecentFiles& sender, int index, const std::string& fileName)> OnClick;
    // The menu items must be rebuilt from Caption/ItemVisible/BarVisible/ClearVisible.
    std::function<void(TRecentFiles& sender)> OnRefresh;
    // Show a warning box.
    std::function<void(TRecentFiles& sender, const std::string& caption, const std::string& text)>
        OnWarning;
    // Ask a yes/no question; true means yes. Without a handler the answer is no.
    std::function<bool(TRecentFiles& sender, const std::string& caption, const std::string& text)>
        OnQuestion;

    // Finishes set-up: raises EZELfileError "Nothing assigned to <Name>.ProgId" without ProgId,
    // makes the store, and with a menu attached loads the list and refreshes the menu.
    void Loaded();

    // Puts a file at the top when the kind of drive it lies on is allowed; an empty name is
    // ignored. Returns whether it was added.
    bool AddFile(const std::string& fileName);

    // The user chose file item slot (1..16): a vanished file is warned about and removed,
    // otherwise the file moves to the top and OnClick fires (only when OnClick is set).
    void ClickItem(int slot);
    // The user chose the clear item: asks, and on yes empties the list.
    void ClickClear();

    // Path in slot 1..16; empty when unused.
    const std::string& Slot(int slot) const;
    // "&<hex digit> <path>" for slots 1..15, "&10 <path>" for slot 16.
    std::string Caption(int slot) const;
    bool ItemVisible(int slot) const;
    bool BarVisible() const;
    bool ClearVisible() const;

    // Drops later case-insensitive duplicates and closes the gaps.
    void Normalize();
    // Stores the list and fires OnRefresh (after Loaded() and with a menu attached).
    void Refresh();
    // Writes the list to the store; failures are absorbed. Nothing happens while loading. Files
    // another instance of the program stored since this list was read are kept: the list is
    // merged with the stored one (files added here first, then those added there, then those
    // both kept) in one step with the write.
    void Store();
    // Reads the list from the store, drops vanished files, normalises; failures are absorbed.
    void Load();

private:
    bool Allowed(const std::string& fullPath) const;
    void PutOnTop(const std::string& fullPath);
    bool FileExists(const std::string& path) const;
    void Merge(const std::vector<std::string>& stored);

    std::string m_name;
    std::array<std::string, SlotCount> m_slots;
    // The list as last read from or written to the store.
    std::vector<std::string> m_base;
    int m_maxItems = 5;
    int m_menuPos = 100;
    bool m_barBefore = true;
    bool m_includeClearItem = true;
    std::string m_clearCaption = "&Clear list...";
    bool m_allowRemovable = false;
    bool m_allowRemote = true;
    bool m_allowFixed = true;
    bool m_allowCDROM = false;
    bool m_allowRAMDisk = false;
    const TProgId* m_progId = nullptr;
    std::string m_listName;
    bool m_menuAttached = false;
    bool m_loaded = false;
    bool m_loading = false;
    bool m_storeLoaded = false;
    TStoreFactory m_storeFactory;
    std::unique_ptr<TKeyValueStore> m_store;
    std::unique_ptr<TDriveTypes> m_driveTypes;
    std::function<bool(const std::string&)> m_fileExists;
};

} // namespace kavrel
