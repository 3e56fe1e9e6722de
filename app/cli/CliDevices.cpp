// The output-device command: devices.

#include "app/cli/Cli.h"
#include "app/cli/CliSupport.h"
#include "app/cli/Commands.h"
#include "audio/TMPCPlay.h"
#include "audio/pulse/TPulseWaveOutDevice.h"
#include "audio/qt/TQtEventPoster.h"

#include <cstdio>
#include <memory>

namespace kavrel::cli {

int RunDevices(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Lists the outputs of the sound server, one a line: the name that 'kavrel play --device' "
        "takes, a tab, and the description the window's Sound > Output device menu shows.");
    if (const std::optional<int> done = ParseCommand(parser, args, 0, 0))
        return *done;
    TQtEventPoster poster;
    const TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster);
    for (const TMPCPlay::TOutput& output : player.Outputs())
        std::printf("%s\t%s\n", output.Key.c_str(), output.Description.c_str());
    return ExitOk;
}

} // namespace kavrel::cli
