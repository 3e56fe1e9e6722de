// The paths a user's file takes, fed from a real file: the input is written to a temporary file,
// which is then read as the window opens it, scanned as analyze and export read it (with samples
// and counting only, as info does), and exported through the filter into /dev/null. They must
// agree with each other, and nothing but the documented errors may come out of them.

#include "app/core/LevelAnalysis.h"
#include "app/core/SoundExport.h"
#include "fuzz/FuzzFiles.h"
#include "fuzz/FuzzFilter.h"
#include "sound/TWav.h"
#include "sound/TWavScan.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = kavrel::fuzz::TempFile("wavfile.wav");
    const kavrel::fuzz::TRemoveFiles remove{{path}};
    kavrel::fuzz::WriteFile(path, data, size);

    kavrel::TWav wav;
    bool read = false;
    try {
        read = wav.ReadFile(path);
    } catch (const kavrel::EWavError&) {
    }

    // The scan behind analyze and export hands over exactly what the read loads.
    kavrel::TWavScanFormat format;
    bool truncated = false;
    std::vector<std::int16_t> scanned;
    bool scannedOk = false;
    try {
        scannedOk = kavrel::ScanWavFile(
            path, format,
            [&scanned](std::span<const std::int16_t> block) {
                scanned.insert(scanned.end(), block.begin(), block.end());
            },
            truncated);
    } catch (const kavrel::EWavError&) {
    }
    if (scannedOk != read)
        std::abort();
    if (read) {
        if (format.Channels != wav.Channels() || format.Frames != wav.Length() ||
            truncated != wav.Truncated() || format.Oversized != wav.Oversized() ||
            scanned.size() !=
                static_cast<std::size_t>(wav.Length()) * static_cast<std::size_t>(wav.Channels()))
            std::abort();
        std::size_t k = 0;
        for (std::int64_t i = 0; i < wav.Length(); ++i)
            for (std::int32_t c = 0; c < wav.Channels(); ++c)
                if (scanned[k++] != wav.Sample(c, i))
                    std::abort();
        // Counting only, as info does: the same sizes.
        kavrel::TWavScanFormat counted;
        bool countedTruncated = false;
        if (!kavrel::ScanWavFile(path, counted, {}, countedTruncated) ||
            counted.Frames != wav.Length() || countedTruncated != wav.Truncated())
            std::abort();
        if (kavrel::AnalyzeFileLevels(path).size() != static_cast<std::size_t>(wav.Channels()))
            std::abort();
    }

    // The export from the file; a readable file fails only as silent or unstorable.
    kavrel::TDitherRandom dither(7);
    try {
        if (!kavrel::ExportFilteredFile(path, kavrel::fuzz::ExportFilter(), "/dev/null", dither))
            std::abort();
    } catch (const kavrel::EWavError&) {
    } catch (const kavrel::EExportError& e) {
        const std::string what = e.what();
        if (read && what.find("silent") == std::string::npos &&
            what.find("no sound") == std::string::npos)
            std::abort();
    }
    return 0;
}
