#include "sound/TWavScan.h"

#include "sound/detail/FileSource.h"
#include "sound/detail/SampleDecode.h"
#include "sound/detail/SoundReader.h"

#include <new>

namespace kavrel {

bool ScanWavFile(const std::string& path, TWavScanFormat& format, const TWavBlockSink& sink,
                 bool& truncated, const TWavProgress& progress, const TWavBlockPlace& place)
{
    if (path.empty())
        throw EWavError({}, "no wave file named to read");
    detail::TScanSink scan;
    scan.OnFormat = [&format](std::int32_t channels, std::int32_t rate, TWavEncoding encoding,
                              std::int64_t frames) {
        format.Frames = frames;
        format.Channels = channels;
        format.SampleRate = rate;
        format.Encoding = encoding;
    };
    scan.OnBlock = sink;
    scan.Place = place;
    std::optional<detail::TDecodedWav> result;
    try {
        result = detail::DecodeSound(detail::OpenFileSource(path), path, progress, &scan);
    } catch (const std::bad_alloc&) {
        throw EWavError(path, "not enough memory to read the file");
    }
    if (!result)
        return false;
    truncated = result->truncated;
    format.Frames = result->length;
    format.Oversized = result->oversized;
    return true;
}

} // namespace kavrel
