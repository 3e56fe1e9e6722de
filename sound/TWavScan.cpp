#include "sound/TWavScan.h"

#include "sound/detail/FileSource.h"
#include "sound/detail/SoundReader.h"

namespace kavrel {

bool ScanWavFile(const std::string& path, TWavScanFormat& format, const TWavBlockSink& sink,
                 bool& truncated, const TWavProgress& progress)
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
    const std::optional<detail::TDecodedWav> result =
        detail::DecodeSound(detail::OpenFileSource(path), path, progress, &scan);
    if (!result)
        return false;
    truncated = result->truncated;
    return true;
}

} // namespace kavrel
