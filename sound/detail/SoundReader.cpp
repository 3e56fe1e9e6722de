// Which reader a file goes to is decided by its first bytes, not by its name: a RIFF (or RIFX)
// file goes to the program's own wave reader, whose messages say what is wrong with a damaged
// wave file; anything else to libsndfile. A file neither knows gets the wave reader's message
// when it is named as a wave file, and a plain "not a sound file" otherwise.
#include "sound/detail/SoundReader.h"

#include "sound/EWavError.h"
#include "sound/SoundFileNames.h"
#include "sound/detail/SndfileReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace kavrel::detail {

namespace {

bool NamedAsWave(const std::string& name)
{
    const std::string extension = FileNameExtension(name);
    return extension == "wav" || extension == "wave";
}

// The source again from its start: by seeking back when it can, otherwise by handing out the
// bytes already read before the rest.
TWavSource Rewound(const TWavSource& source, const std::byte* head, std::size_t count,
                   const std::string& name)
{
    if (source.Seek) {
        if (!source.Seek(0))
            throw EWavError(name, "cannot read the file: it cannot be read from its start again");
        return source;
    }
    struct TPrefix {
        std::array<std::byte, 12> Bytes{};
        std::size_t Count = 0;
        std::size_t Given = 0;
    };
    auto prefix = std::make_shared<TPrefix>();
    std::memcpy(prefix->Bytes.data(), head, count);
    prefix->Count = count;
    TWavSource again;
    again.Size = source.Size;
    again.Read = [prefix, read = source.Read](std::byte* dst, std::size_t bytes) {
        const std::size_t first = std::min(bytes, prefix->Count - prefix->Given);
        std::memcpy(dst, prefix->Bytes.data() + prefix->Given, first);
        prefix->Given += first;
        return first + (bytes > first ? read(dst + first, bytes - first) : 0);
    };
    return again;
}

// libsndfile knows RF64 but not its twin BW64, the same layout under another tag: it is shown the
// file with the tag it knows.
TWavSource AsRf64(const TWavSource& source)
{
    auto position = std::make_shared<std::uint64_t>(0);
    TWavSource patched;
    patched.Size = source.Size;
    if (source.Seek)
        patched.Seek = [position, seek = source.Seek](std::uint64_t offset) {
            if (!seek(offset))
                return false;
            *position = offset;
            return true;
        };
    patched.Read = [position, read = source.Read](std::byte* dst, std::size_t bytes) {
        static constexpr char tag[] = "RF64";
        const std::size_t got = read(dst, bytes);
        for (std::size_t i = 0; i < got && *position + i < 4; ++i)
            dst[i] = static_cast<std::byte>(tag[*position + i]);
        *position += got;
        return got;
    };
    return patched;
}

} // namespace

std::optional<TDecodedWav> DecodeSound(const TWavSource& source, const std::string& name,
                                       const TWavProgress& progress, const TScanSink* scan)
{
    if (!source.Read)
        throw EWavError(name, "nothing to read from");
    std::array<std::byte, 12> head{};
    std::size_t got = 0;
    while (got < head.size()) {
        const std::size_t n = source.Read(head.data() + got, head.size() - got);
        if (n == 0)
            break;
        got += n;
    }
    const TWavSource again = Rewound(source, head.data(), got, name);
    const bool riff = got >= 4 && (std::memcmp(head.data(), "RIFF", 4) == 0 ||
                                   std::memcmp(head.data(), "RIFX", 4) == 0);
    if (got == 0 || riff)
        return DecodeWav(again, name, progress, scan);
    if (got < head.size()) {
        if (NamedAsWave(name))
            return DecodeWav(again, name, progress, scan);
        throw EWavError(name, "not a sound file of a format this program reads");
    }

    bool unrecognised = false;
    const bool bw64 = std::memcmp(head.data(), "BW64", 4) == 0;
    std::optional<TDecodedWav> sound =
        DecodeSndfile(bw64 ? AsRf64(again) : again, name, progress, scan, unrecognised);
    if (!unrecognised)
        return sound;
    if (NamedAsWave(name)) {
        const TWavSource fromStart = Rewound(again, head.data(), got, name);
        return DecodeWav(fromStart, name, progress, scan);
    }
    throw EWavError(name, "not a sound file of a format this program reads");
}

} // namespace kavrel::detail
