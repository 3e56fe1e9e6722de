#include "menus/qt/TIniStore.h"

#include "settings/ReadWholeFile.h"
#include "settings/UserFolders.h"
#include "sound/TSafeWriter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kavrel {

namespace {

// The recent-files ini is a few hundred bytes; a file larger than this is not read, and so
// not rewritten either (which would lose what was not read).
constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

// How long Update waits for another program's lock on the folder before it goes on without.
constexpr auto kLockWait = std::chrono::seconds(5);

// Section and key as one index key; '\0' never occurs in either.
std::string IndexKey(const std::string& section, const std::string& key)
{
    std::string joined;
    joined.reserve(section.size() + 1 + key.size());
    joined += section;
    joined += '\0';
    joined += key;
    return joined;
}

// An exclusive flock on the folder of `file`, so that programs writing the file take turns. A
// holder that does not let go is waited for only so long: a lost update is better than a program
// that cannot close. Without a lock (a file system without flock) it goes on without.
class TFolderLock {
public:
    explicit TFolderLock(const std::string& file)
    {
        const std::filesystem::path folder = std::filesystem::path(file).parent_path();
        m_fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        const auto until = std::chrono::steady_clock::now() + kLockWait;
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~TFolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

private:
    int m_fd = -1;
};

std::string Trim(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool IsPlainKeyByte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A section or key name as QSettings writes it: '/' as '\', other bytes outside [A-Za-z0-9_.-]
// as %XX.
std::string EscapeKey(const std::string& key)
{
    std::string out;
    for (const char ch : key) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '/') {
            out += '\\';
        } else if (IsPlainKeyByte(c)) {
            out += ch;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string UnescapeKey(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            out += '/';
        } else if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 'U') {
            unsigned code = 0;
            std::size_t n = 0;
            for (; n < 4 && i + 2 + n < text.size() && HexValue(text[i + 2 + n]) >= 0; ++n)
                code = code * 16 + static_cast<unsigned>(HexValue(text[i + 2 + n]));
            AppendUtf8(out, code);
            i += 1 + n;
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A text value in double quotes, with the escapes QSettings reads; bytes from 0x80 up are kept
// as they are, so names in any 8-bit encoding survive.
std::string QuoteValue(const std::string& value)
{
    std::string out = "\"";
    if (!value.empty() && value.front() == '@')
        out += '@';
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%04X", c);
                out += hex;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

// The text a value line holds: quotes removed, escapes resolved, a comment after ';' dropped,
// blanks around it trimmed but those within quotes kept. nullopt for QSettings' "@Invalid()".
std::optional<std::string> UnquoteValue(const std::string& raw)
{
    std::string out;
    bool quoted = false;
    // The part of out that came from within quotes.
    std::size_t quotedFrom = std::string::npos;
    std::size_t quotedTo = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            quoted = !quoted;
            if (quoted)
                quotedFrom = std::min(quotedFrom, out.size());
            else
                quotedTo = out.size();
            continue;
        }
        if (!quoted && c == ';')
            break;
        if (c != '\\' || i + 1 >= raw.size()) {
            out += c;
            continue;
        }
        const char e = raw[++i];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case '0':
            out += '\0';
            break;
        case 'x': {
            unsigned code = 0;
            std::size_t n = 0;
            for (; n < 4 && i + 1 + n < raw.size() && HexValue(raw[i + 1 + n]) >= 0; ++n)
                code = code * 16 + static_cast<unsigned>(HexValue(raw[i + 1 + n]));
            AppendUtf8(out, code);
            i += n;
            break;
        }
        default:
            out += e;
        }
    }
    if (quoted)
        quotedTo = out.size();
    const std::size_t last = out.find_last_not_of(" \t\r");
    out.erase(std::max(last == std::string::npos ? 0 : last + 1, quotedTo));
    const std::size_t first = std::min(out.find_first_not_of(" \t\r"), quotedFrom);
    out.erase(0, std::min(first, out.size()));
    if (out == "@Invalid()")
        return std::nullopt;
    if (out.rfind("@@", 0) == 0)
        return out.substr(1);
    if (out.rfind("@String(", 0) == 0 && out.back() == ')')
        return out.substr(8, out.size() - 9);
    return out;
}

} // namespace

TIniStore::TIniStore(const std::string& fileName) : m_fileName(fileName)
{
    Read();
}

void TIniStore::Read()
{
    if (m_fileName.empty())
        return;
    // Only a regular file is read: a link to /dev/zero or a pipe holds no entries.
    std::string text;
    m_tooLarge = ReadWholeFile(m_fileName, kMaxFileBytes, text) == TReadResult::TooLarge;
    Parse(text);
}

void TIniStore::Parse(const std::string& text)
{
    std::string section = "General";
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::size_t stop = close == std::string::npos ? line.size() : close;
            section = UnescapeKey(line.substr(1, stop - 1));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = UnescapeKey(Trim(line.substr(0, equals)));
        if (!key.empty())
            Put(section, key, Trim(line.substr(equals + 1)));
    }
}

const TIniStore::TEntry* TIniStore::Find(const std::string& section, const std::string& key) const
{
    const auto found = m_index.find(IndexKey(section, key));
    return found == m_index.end() ? nullptr : &m_entries[found->second];
}

void TIniStore::Put(const std::string& section, const std::string& key, std::string raw)
{
    const auto [at, added] = m_index.try_emplace(IndexKey(section, key), m_entries.size());
    if (added)
        m_entries.push_back({section, key, std::move(raw)});
    else
        m_entries[at->second].Value = std::move(raw);
}

void TIniStore::Set(const std::string& section, const std::string& key, std::string raw)
{
    Touch(section);
    m_changed = true;
    Put(section, key, std::move(raw));
}

void TIniStore::Reindex()
{
    m_index.clear();
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        m_index.emplace(IndexKey(m_entries[i].Section, m_entries[i].Key), i);
}

void TIniStore::Touch(const std::string& section)
{
    m_touched.insert(section);
}

bool TIniStore::Touched(const std::string& section) const
{
    if (m_touched.empty())
        return false;
    // The section itself and each section it lies below ("a/b" lies below "a").
    for (std::size_t slash = section.size(); slash != std::string::npos;
         slash = slash == 0 ? std::string::npos : section.rfind('/', slash - 1))
        if (m_touched.count(section.substr(0, slash)) != 0)
            return true;
    return false;
}

void TIniStore::EraseSection(const std::string& section)
{
    Touch(section);
    const std::string below = section + "/";
    const std::size_t before = m_entries.size();
    std::erase_if(m_entries, [&](const TEntry& entry) {
        return entry.Section == section || entry.Section.rfind(below, 0) == 0;
    });
    if (m_entries.size() != before) {
        m_changed = true;
        Reindex();
    }
}

void TIniStore::WriteInteger(const std::string& section, const std::string& key, int value)
{
    Set(section, key, std::to_string(value));
}

int TIniStore::ReadInteger(const std::string& section, const std::string& key, int def)
{
    const TEntry* entry = Find(section, key);
    if (entry == nullptr)
        return def;
    const std::optional<std::string> text = UnquoteValue(entry->Value);
    if (!text || text->empty())
        return def;
    int number = 0;
    const char* first = text->data() + (text->front() == '+' ? 1 : 0);
    const char* last = text->data() + text->size();
    const auto [end, error] = std::from_chars(first, last, number);
    return error == std::errc() && end == last ? number : def;
}

void TIniStore::WriteString(const std::string& section, const std::string& key,
                            const std::string& value)
{
    Set(section, key, QuoteValue(value));
}

std::string TIniStore::ReadString(const std::string& section, const std::string& key,
                                  const std::string& def)
{
    const TEntry* entry = Find(section, key);
    if (entry == nullptr)
        return def;
    return UnquoteValue(entry->Value).value_or(def);
}

std::string TIniStore::Text() const
{
    // Sections in the order they first appear, each with its entries in order.
    std::unordered_map<std::string_view, std::size_t> order;
    std::vector<std::vector<const TEntry*>> sections;
    for (const TEntry& entry : m_entries) {
        const auto [at, added] = order.try_emplace(entry.Section, sections.size());
        if (added)
            sections.emplace_back();
        sections[at->second].push_back(&entry);
    }
    std::string text;
    for (const std::vector<const TEntry*>& entries : sections) {
        if (!text.empty())
            text += '\n';
        text += "[" + EscapeKey(entries.front()->Section) + "]\n";
        for (const TEntry* entry : entries)
            text += EscapeKey(entry->Key) + "=" + entry->Value + "\n";
    }
    return text;
}

void TIniStore::Flush()
{
    if (m_changed)
        Update({});
}

void TIniStore::Update(const std::function<void(TKeyValueStore& stored)>& merge)
{
    if (m_fileName.empty()) {
        if (merge)
            merge(*this);
        m_changed = false;
        m_touched.clear();
        return;
    }
    const std::filesystem::path folder = std::filesystem::path(m_fileName).parent_path();
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::create_directories(folder, ignored);
    const TFolderLock lock(m_fileName);
    TIniStore stored(m_fileName);
    if (stored.m_tooLarge)
        throw std::runtime_error("Can't write " + m_fileName + ": it is larger than " +
                                 std::to_string(kMaxFileBytes >> 20) +
                                 " MiB and so not read whole; it was left as it is");
    if (merge)
        merge(stored);
    // What was written here goes over what is stored, except where merge wrote itself.
    std::vector<TEntry> merged;
    merged.reserve(stored.m_entries.size() + m_entries.size());
    for (TEntry& entry : stored.m_entries)
        if (!Touched(entry.Section) || stored.Touched(entry.Section))
            merged.push_back(std::move(entry));
    for (const TEntry& entry : m_entries)
        if (Touched(entry.Section) && !stored.Touched(entry.Section))
            merged.push_back(entry);
    const bool changed = m_changed || stored.m_changed;
    m_entries = std::move(merged);
    Reindex();
    if (changed) {
        const std::string text = Text();
        try {
            TSafeWriter::WriteWhole(m_fileName, text.data(), text.size(),
                                    TSafeWriter::TPipes::Refuse);
        } catch (const ESafeWriteError& e) {
            throw std::runtime_error("Can't write " + m_fileName + ": " + e.Reason());
        }
    }
    m_changed = false;
    m_touched.clear();
}

std::string TIniStore::FileNameFor(const TProgId& id)
{
    const std::filesystem::path folder = ProgramFolder(id).Folder;
    return folder.empty() ? std::string() : (folder / (id.ProductName() + ".ini")).string();
}

TRecentFiles::TStoreFactory TIniStore::Factory()
{
    return [](const TProgId& id) -> std::unique_ptr<TKeyValueStore> {
        return std::make_unique<TIniStore>(FileNameFor(id));
    };
}

} // namespace kavrel
