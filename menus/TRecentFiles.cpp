#include "menus/TRecentFiles.h"

#include "menus/TMountDriveTypes.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unordered_set>

namespace kavrel {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MaxCaptionBytes = 255;

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

// Slot number as it appears in captions and store keys: one hexadecimal digit, "10" for 16.
std::string SlotNumber(int slot)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    if (slot >= 16)
        return "10";
    return std::string(1, Digits[slot]);
}

// The list as `store` holds it under `section`: `count` (out of range, as damage, the value it
// had) and that many slots.
std::vector<std::string> StoredList(TKeyValueStore& store, const std::string& section, int& count)
{
    const int stored = store.ReadInteger(section, TRecentFiles::CountKey, count);
    if (stored >= 0 && stored <= TRecentFiles::MaxItemsLimit)
        count = stored;
    std::vector<std::string> list;
    for (int slot = 1; slot <= count; ++slot)
        list.push_back(store.ReadString(section, SlotNumber(slot), {}));
    return list;
}

// The names of a list, without regard to case.
template <typename TList> std::unordered_set<std::string> NameSet(const TList& list)
{
    std::unordered_set<std::string> names;
    for (const std::string& path : list)
        if (!path.empty())
            names.insert(Lower(path));
    return names;
}

bool ExistsOnDisk(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

} // namespace

TRecentFiles::TRecentFiles(std::string name)
    : m_name(std::move(name)), m_driveTypes(std::make_unique<TMountDriveTypes>()),
      m_fileExists(ExistsOnDisk)
{
}

void TRecentFiles::SetMaxItems(int value)
{
    m_maxItems = std::clamp(value, 0, MaxItemsLimit);
    for (int slot = m_maxItems + 1; slot <= SlotCount; ++slot)
        m_slots[static_cast<std::size_t>(slot - 1)].clear();
    Refresh();
}

void TRecentFiles::SetMenuPos(int value)
{
    m_menuPos = value;
    Refresh();
}

void TRecentFiles::SetBarBefore(bool value)
{
    m_barBefore = value;
    Refresh();
}

void TRecentFiles::SetIncludeClearItem(bool value)
{
    m_includeClearItem = value;
    Refresh();
}

void TRecentFiles::SetClearCaption(const std::string& value)
{
    std::size_t size = std::min(value.size(), MaxCaptionBytes);
    if (size < value.size()) {
        while (size > 0 && (static_cast<unsigned char>(value[size]) & 0xC0u) == 0x80u)
            --size;
    }
    m_clearCaption = value.substr(0, size);
    Refresh();
}

void TRecentFiles::SetMenuAttached(bool value)
{
    m_menuAttached = value;
    Refresh();
}

void TRecentFiles::SetDriveTypes(std::unique_ptr<TDriveTypes> driveTypes)
{
    m_driveTypes = driveTypes ? std::move(driveTypes) : std::make_unique<TMountDriveTypes>();
}

void TRecentFiles::SetFileExists(std::function<bool(const std::string&)> fileExists)
{
    m_fileExists = fileExists ? std::move(fileExists) : ExistsOnDisk;
}

void TRecentFiles::Loaded()
{
    if (m_progId == nullptr)
        throw EZELfileError("Nothing assigned to " + m_name + ".ProgId");
    m_loaded = true;
    if (!m_store && m_storeFactory) {
        try {
            m_store = m_storeFactory(*m_progId);
        } catch (...) {
            // No store: the list works for this session and is not kept.
            m_store.reset();
        }
    }
    if (m_menuAttached && !m_storeLoaded)
        Load();
    Refresh();
}

bool TRecentFiles::FileExists(const std::string& path) const
{
    try {
        return m_fileExists(path);
    } catch (...) {
        return false;
    }
}

bool TRecentFiles::Allowed(const std::string& fullPath) const
{
    switch (m_driveTypes->DriveTypeOf(fullPath)) {
    case TDriveType::NoRootDir:
        return false;
    case TDriveType::Removable:
        return m_allowRemovable;
    case TDriveType::Fixed:
        return m_allowFixed;
    case TDriveType::Remote:
        return m_allowRemote;
    case TDriveType::CDROM:
        return m_allowCDROM;
    case TDriveType::RAMDisk:
        return m_allowRAMDisk;
    case TDriveType::Unknown:
        break;
    }
    return true;
}

void TRecentFiles::PutOnTop(const std::string& fullPath)
{
    std::move_backward(m_slots.begin(), m_slots.end() - 1, m_slots.end());
    m_slots[0] = fullPath;
}

bool TRecentFiles::AddFile(const std::string& fileName)
{
    if (fileName.empty())
        return false;
    std::string fullPath;
    try {
        fullPath = fs::absolute(fs::path(fileName)).lexically_normal().string();
    } catch (...) {
        fullPath = fileName;
    }
    if (!Allowed(fullPath))
        return false;
    PutOnTop(fullPath);
    Normalize();
    Refresh();
    return true;
}

void TRecentFiles::ClickItem(int slot)
{
    if (slot < 1 || slot > SlotCount || Slot(slot).empty())
        return;
    const std::string path = Slot(slot);
    if (!FileExists(path)) {
        if (OnWarning)
            OnWarning(*this, NotFoundCaption, NotFoundText + path);
        m_slots[static_cast<std::size_t>(slot - 1)].clear();
        Normalize();
        Refresh();
        return;
    }
    if (!OnClick)
        return;
    PutOnTop(path);
    Normalize();
    Refresh();
    OnClick(*this, slot, path);
}

void TRecentFiles::ClickClear()
{
    if (!OnQuestion || !OnQuestion(*this, ClearQuestionCaption, ClearQuestionText))
        return;
    for (std::string& path : m_slots)
        path.clear();
    Normalize();
    Refresh();
}

const std::string& TRecentFiles::Slot(int slot) const
{
    static const std::string none;
    if (slot < 1 || slot > SlotCount)
        return none;
    return m_slots[static_cast<std::size_t>(slot - 1)];
}

std::string TRecentFiles::Caption(int slot) const
{
    if (slot < 1 || slot > SlotCount)
        return {};
    return "&" + SlotNumber(slot) + " " + Slot(slot);
}

bool TRecentFiles::ItemVisible(int slot) const
{
    return slot >= 1 && slot <= m_maxItems && !Slot(slot).empty();
}

bool TRecentFiles::BarVisible() const
{
    if (!m_barBefore)
        return false;
    for (int slot = 1; slot <= m_maxItems; ++slot) {
        if (ItemVisible(slot))
            return true;
    }
    return false;
}

bool TRecentFiles::ClearVisible() const
{
    if (!m_includeClearItem)
        return false;
    for (int slot = 1; slot <= m_maxItems; ++slot) {
        if (ItemVisible(slot))
            return true;
    }
    return false;
}

void TRecentFiles::Normalize()
{
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].empty())
            continue;
        const std::string low = Lower(m_slots[i]);
        for (std::size_t j = i + 1; j < m_slots.size(); ++j) {
            if (!m_slots[j].empty() && Lower(m_slots[j]) == low)
                m_slots[j].clear();
        }
    }
    const auto used = std::stable_partition(m_slots.begin(), m_slots.end(),
                                            [](const std::string& path) { return !path.empty(); });
    std::fill(used, m_slots.end(), std::string());
}

void TRecentFiles::Refresh()
{
    if (!m_loaded || !m_menuAttached || m_loading)
        return;
    // A menu attached after Loaded() still shows, and later keeps, what was stored.
    if (!m_storeLoaded)
        Load();
    Store();
    if (OnRefresh)
        OnRefresh(*this);
}

void TRecentFiles::Merge(const std::vector<std::string>& stored)
{
    const auto shown = m_slots.begin() + m_maxItems;
    const std::unordered_set<std::string> base = NameSet(m_base);
    const std::unordered_set<std::string> ours = NameSet(std::vector(m_slots.begin(), shown));
    const std::unordered_set<std::string> theirs = NameSet(stored);
    const auto in = [](const std::unordered_set<std::string>& names, const std::string& path) {
        return names.count(Lower(path)) != 0;
    };
    std::vector<std::string> merged;
    // Added here, added by another program, then what both kept; the rest of the slots last.
    for (auto path = m_slots.begin(); path != shown; ++path)
        if (!path->empty() && !in(base, *path))
            merged.push_back(*path);
    for (const std::string& path : stored)
        if (!path.empty() && !in(base, path) && !in(ours, path))
            merged.push_back(path);
    for (auto path = m_slots.begin(); path != shown; ++path)
        if (!path->empty() && in(base, *path) && in(theirs, *path))
            merged.push_back(*path);
    merged.insert(merged.end(), shown, m_slots.end());
    m_slots = {};
    std::copy_n(merged.begin(), std::min(merged.size(), m_slots.size()), m_slots.begin());
    Normalize();
}

void TRecentFiles::Store()
{
    if (!m_store || m_loading)
        return;
    try {
        const std::string section = Section();
        std::vector<std::string> written;
        // Another instance of the program may have stored files of its own since this list was
        // read: they are merged in, in one step with the write.
        m_store->Update([&](TKeyValueStore& stored) {
            int count = m_maxItems;
            Merge(StoredList(stored, section, count));
            stored.EraseSection(section);
            stored.WriteInteger(section, CountKey, m_maxItems);
            written.assign(m_slots.begin(), m_slots.begin() + m_maxItems);
            for (int slot = 1; slot <= m_maxItems; ++slot)
                stored.WriteString(section, SlotNumber(slot), Slot(slot));
        });
        m_base = std::move(written);
    } catch (...) {
        // The list is a convenience: a store that cannot be written must not disturb the user.
    }
}

void TRecentFiles::Load()
{
    m_storeLoaded = true;
    if (!m_store)
        return;
    m_loading = true;
    try {
        // A count out of range is damage, not a wish to switch the list off: it reads as the
        // list's own setting.
        int count = m_maxItems;
        std::vector<std::string> stored = StoredList(*m_store, Section(), count);
        m_base = stored;
        std::array<std::string, SlotCount> slots;
        for (std::size_t i = 0; i < stored.size(); ++i)
            if (!stored[i].empty() && FileExists(stored[i]))
                slots[i] = std::move(stored[i]);
        m_maxItems = count;
        m_slots = std::move(slots);
        Normalize();
    } catch (...) {
        // An unreadable store leaves the list as it was.
    }
    m_loading = false;
}

} // namespace kavrel
