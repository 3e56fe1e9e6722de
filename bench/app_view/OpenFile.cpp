// Opens a sound file as the window does (the whole sound read, then the plots' summaries built)
// and prints the seconds each part took. For timing whole processes (with /usr/bin/time) against
// other programs on the same file: bench_open_file FILE
#include "app/view/TSoundSummary.h"

#include "sound/EWavError.h"
#include "sound/TWav.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_open_file FILE\n");
        return 2;
    }
    using TClock = std::chrono::steady_clock;
    const auto seconds = [](TClock::duration d) {
        return std::chrono::duration<double>(d).count();
    };
    try {
        const TClock::time_point start = TClock::now();
        kavrel::TWav sound;
        sound.ReadFile(argv[1], [](double) { return true; });
        const TClock::time_point read = TClock::now();
        kavrel::TSoundSummary summary;
        summary.Build(sound);
        const TClock::time_point built = TClock::now();
        std::printf("read %.3f s, summaries %.3f s, open %.3f s (%d channels, %lld frames)\n",
                    seconds(read - start), seconds(built - read), seconds(built - start),
                    sound.Channels(), static_cast<long long>(sound.Length()));
    } catch (const kavrel::EWavError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
