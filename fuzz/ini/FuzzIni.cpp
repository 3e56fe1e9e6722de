// The ini store's parser on any file: its text, read again, gives the same text; and a value
// written into it under a section and key taken from the input reads back the same after the
// text has been written out and read again.

#include "fuzz/FuzzFiles.h"
#include "menus/qt/TIniStore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string first = kavrel::fuzz::TempFile("first.ini");
    const std::string second = kavrel::fuzz::TempFile("second.ini");
    const kavrel::fuzz::TRemoveFiles remove{{first, second}};
    kavrel::fuzz::WriteFile(first, data, size);

    kavrel::TIniStore store(first);
    const std::string text = store.Text();
    kavrel::fuzz::WriteFile(second, reinterpret_cast<const std::uint8_t*>(text.data()),
                            text.size());
    if (kavrel::TIniStore(second).Text() != text)
        std::abort();

    // The input's first three lines as section, key and value of one more entry.
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string parts[3];
    std::size_t at = 0;
    for (std::string& part : parts) {
        const std::size_t end = std::min(input.find('\n', at), input.size());
        part = at < input.size() ? input.substr(at, end - at) : std::string();
        at = end + 1;
    }
    const std::string& section = parts[0];
    const std::string& key = parts[1];
    const std::string& value = parts[2];
    if (section.empty() || key.empty())
        return 0;
    store.WriteString(section, key, value);
    store.WriteInteger(section, key + "#", static_cast<int>(size));
    const std::string written = store.Text();
    kavrel::fuzz::WriteFile(second, reinterpret_cast<const std::uint8_t*>(written.data()),
                            written.size());
    kavrel::TIniStore again(second);
    if (again.ReadString(section, key, value + "?") != value ||
        again.ReadInteger(section, key + "#", -1) != static_cast<int>(size))
        std::abort();
    return 0;
}
