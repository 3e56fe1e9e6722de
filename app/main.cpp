#include "app/cli/Cli.h"

#ifdef KAVREL_HAVE_WINDOWS
#include "app/windows/ErrorReport.h"
#include "app/windows/Pictures.h"
#include "app/windows/TForm18.h"
#include "app/windows/TForm19.h"
#include "app/windows/TKavrelApplication.h"

#include <QTimer>

#include <cstdio>
#include <cstdlib>
#endif

namespace {

#ifdef KAVREL_HAVE_WINDOWS
// `kavrel [FILE]`: the main window, then the filter controls window; FILE is opened once the
// window is up.
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
    QGuiApplication::setApplicationDisplayName("Kavrel");
    QGuiApplication::setDesktopFileName("kavrel");
    QGuiApplication::setWindowIcon(kavrel::AppIcon());

    kavrel::TForm18 form18;
    kavrel::TForm19 form19;
    form19.setAttribute(Qt::WA_QuitOnClose, false);
    form18.SetForm19(&form19);
    form18.show();

    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1) {
        const QString file = args.at(1);
        QTimer::singleShot(0, &form18, [&form18, file] {
            kavrel::RunGuarded(&form18, [&] { form18.LoadSoundFile(file); });
        });
    }
    return app.exec();
}

#endif

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && kavrel::cli::IsCommand(argv[1]))
        return kavrel::cli::Run(argc, argv);
#ifdef KAVREL_HAVE_WINDOWS
    return RunWindows(argc, argv);
#else
    return kavrel::cli::Run(1, argv);
#endif
}
