// The window program, kept apart from the command-line one so that the commands start without
// loading Qt's widget, GUI and display libraries: `kavrel` runs it in its own place (same process,
// same arguments) when no command is given.
#include "app/cli/Cli.h"
#include "app/cli/NativeName.h"
#include "app/cli/TStopSignal.h"
#include "app/windows/ErrorReport.h"
#include "app/windows/Palettes.h"
#include "app/windows/Pictures.h"
#include "app/windows/ScreenFit.h"
#include "app/windows/TForm18.h"
#include "app/windows/TForm19.h"
#include "app/windows/TKavrelApplication.h"

#include <QAction>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Window options, before FILE: --palette dark|light (the windows' colours whatever the
// desktop's), --play (playback starts once FILE is open).
// `kavrel [FILE]`: the main window, then the filter controls window; FILE is opened once the
// window is up ("kavrel -- FILE" for a name that begins with '-'). SIGTERM, SIGINT and SIGHUP
// close the window as its own close does: the player stops, the settings are stored as far as
// they can be (what cannot is reported on stderr, no message box waits), exit 0.
int RunWindows(int argc, char** argv)
{
    // Without a display Qt aborts with a note about platform plugins; say what is wrong instead.
    const bool platformChosen = std::getenv("QT_QPA_PLATFORM") != nullptr;
    if (!platformChosen && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr) {
        std::fputs("kavrel: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY "
                   "is set); the commands run without one, see 'kavrel help'\n",
                   stderr);
        return kavrel::cli::ExitFailure;
    }
    kavrel::TKavrelApplication app(argc, argv);
    QCoreApplication::setApplicationName("kavrel");
    QCoreApplication::setOrganizationName("MorvaneData");
    // No application display name: Qt would append it to every window's title.
    QGuiApplication::setDesktopFileName("com.morvanedata.Kavrel");
    QGuiApplication::setWindowIcon(kavrel::AppIcon());

    // Qt has taken its own options out of argv by now; the name is used byte for byte.
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--palette") == 0) {
        if (!kavrel::UsePalette(QString::fromLocal8Bit(argv[2]))) {
            std::fputs("kavrel: --palette takes 'dark' or 'light'\n", stderr);
            return kavrel::cli::ExitUsage;
        }
        first = 3;
    }
    bool play = false;
    if (argc > first && std::strcmp(argv[first], "--play") == 0) {
        play = true;
        ++first;
    }
    if (argc > first && std::strcmp(argv[first], "--") == 0)
        ++first;

    // Watched from here on: a signal that comes while the windows are made waits in the event
    // loop and closes them once they are up.
    kavrel::TStopSignal stopSignal;
    kavrel::TForm18 form18;
    kavrel::TForm19 form19;
    form19.setAttribute(Qt::WA_QuitOnClose, false);
    form18.SetForm19(&form19);
    kavrel::FitToScreen(form18);
    form18.show();

    QObject::connect(&stopSignal.Notifier(), &QSocketNotifier::activated, &form18, [&] {
        stopSignal.Drain();
        kavrel::TKavrelApplication::Stop(form18);
    });

    if (argc > first) {
        const QString file = kavrel::TextFromNative(argv[first]);
        QTimer::singleShot(0, &form18, [&form18, file, play] {
            kavrel::RunGuarded(&form18, [&] {
                form18.LoadSoundFile(file);
                if (play && form18.playaction()->isEnabled())
                    form18.playaction()->trigger();
            });
        });
    }
    const int code = app.exec();
    // form19 is destroyed before form18, which must not reach it from its destructor.
    form18.SetForm19(nullptr);
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    return RunWindows(argc, argv);
}
