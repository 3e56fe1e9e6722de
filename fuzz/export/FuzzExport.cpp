// The export of a file of any format, read twice in blocks, against the export of the same file
// loaded as the window loads it: both fail alike, or both write the same bytes and warn alike.

#include "app/core/SoundExport.h"
#include "fuzz/FuzzFiles.h"
#include "fuzz/FuzzFilter.h"
#include "sound/TWav.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// What an export ended in: "" when written, else the kind of error.
template <typename F> std::string Outcome(F export_)
{
    try {
        if (!export_())
            std::abort(); // nothing cancels
        return {};
    } catch (const kavrel::EWavError&) {
        return "read";
    } catch (const kavrel::EExportError& e) {
        return e.what();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string in = kavrel::fuzz::TempFile("export-in");
    const std::string fromFile = kavrel::fuzz::TempFile("export-file.wav");
    const std::string fromMemory = kavrel::fuzz::TempFile("export-memory.wav");
    const kavrel::fuzz::TRemoveFiles remove{{in, fromFile, fromMemory}};
    kavrel::fuzz::WriteFile(in, data, size);

    kavrel::TWav loaded;
    bool read = false;
    try {
        read = loaded.ReadFile(in);
    } catch (const kavrel::EWavError&) {
    }
    kavrel::TDitherRandom d1(3);
    std::string warning;
    const std::string file = Outcome([&] {
        return kavrel::ExportFilteredFile(in, kavrel::fuzz::ExportFilter(), fromFile, d1, {},
                                          &warning);
    });
    if (!read) {
        if (file != "read")
            std::abort();
        return 0;
    }
    kavrel::TWav scratch;
    kavrel::TDitherRandom d2(3);
    const std::string memory = Outcome([&] {
        return kavrel::ExportFiltered(loaded, kavrel::fuzz::ExportFilter(), scratch, fromMemory,
                                      d2);
    });
    // The messages name different output files; what they say after the name must agree.
    const auto reason = [](const std::string& what, const std::string& path) {
        return what.rfind(path, 0) == 0 ? what.substr(path.size()) : what;
    };
    if (reason(file, fromFile) != reason(memory, fromMemory))
        std::abort();
    if (file.empty() && (kavrel::fuzz::Contents(fromFile) != kavrel::fuzz::Contents(fromMemory) ||
                         warning != loaded.ReadWarning() || d1.Next() != d2.Next()))
        std::abort();
    return 0;
}
