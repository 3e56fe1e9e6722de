#include "app/windows/TSoundLoader.h"

#include "app/cli/NativeName.h"
#include "app/core/TSoundDocument.h"
#include "app/view/TSoundSummary.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressDialog>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

namespace kavrel {

namespace {

// While a long job runs, events are handled at least this often (ms).
constexpr qint64 EventInterval = 25;
// While a job runs on a worker thread, the UI thread handles events this often (ms).
constexpr int WorkerPoll = 5;
// The worker's nice value while something plays, and how far (in thousandths) it may run ahead
// of the dialog.
constexpr int WorkerNice = 10;
constexpr int MaxAhead = 50;

} // namespace

TSoundLoader::TSoundLoader(QWidget* window, const TSoundDocument& document)
    : m_window(window), m_document(document)
{
}

TSoundLoader::~TSoundLoader() = default;

bool TSoundLoader::WithProgress(const QString& text, std::int64_t samples,
                                const std::function<bool(const std::function<bool(double)>&)>& job,
                                bool onWorker)
{
    if (samples < ProgressSamples) {
        // Over in a moment: no dialog, and no events meanwhile.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const struct TRestore {
            ~TRestore() { QApplication::restoreOverrideCursor(); }
        } restore;
        return job({});
    }
    QProgressDialog dialog(text, "Cancel", 0, 1000, m_window);
    dialog.setObjectName("ProgressDialog");
    dialog.setWindowTitle("Kavrel");
    // Modal to the main window only, so that nothing else touches the document meanwhile, while
    // the filter controls stay in use (an export works on a copy of the filter) and playback and
    // repaints go on: the job hands the events over to the event loop as it progresses.
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setValue(0);
    dialog.show();
    QCoreApplication::processEvents();
    const auto dialogValue = [](double fraction) {
        return std::isfinite(fraction) ? static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000)
                                       : 0;
    };
    if (onWorker) {
        // Nothing on the UI thread waits longer than a few milliseconds for the job. The job
        // keeps within MaxAhead of what the dialog has shown, so that a Cancel pressed at some
        // point stops it close to there.
        std::mutex lock;
        std::condition_variable shown;
        int shownValue = 0;
        std::atomic<double> done{0.0};
        std::atomic<bool> cancelled{false};
        // While something plays the job runs below the UI thread, which feeds the sound: on a
        // busy machine the job waits then, not the playback. Otherwise it runs at the program's
        // own priority, as fast as the machine allows. Threads the job starts inherit it; a
        // playback started meanwhile lowers it from then on (it cannot be raised again).
        std::atomic<pid_t> worker{0};
        bool lowered = m_document.Playing();
        auto task = std::async(std::launch::async, [&, lowered] {
            worker = gettid();
            if (lowered)
                setpriority(PRIO_PROCESS, static_cast<id_t>(worker.load()), WorkerNice);
            return job([&](double fraction) {
                done = fraction;
                const int value = dialogValue(fraction);
                std::unique_lock<std::mutex> held(lock);
                shown.wait(held, [&] { return value - shownValue <= MaxAhead || cancelled; });
                return !cancelled;
            });
        });
        while (task.wait_for(std::chrono::milliseconds(WorkerPoll)) != std::future_status::ready) {
            if (!lowered && worker != 0 && m_document.Playing()) {
                setpriority(PRIO_PROCESS, static_cast<id_t>(worker.load()), WorkerNice);
                lowered = true;
            }
            dialog.setValue(dialogValue(done));
            QCoreApplication::processEvents();
            {
                const std::lock_guard<std::mutex> held(lock);
                cancelled = dialog.wasCanceled();
                shownValue = dialog.value();
            }
            shown.notify_all();
        }
        return task.get();
    }
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    const bool done = job([&](double fraction) {
        const int value = dialogValue(fraction);
        if (value != dialog.value() || sinceEvents.elapsed() >= EventInterval) {
            sinceEvents.restart();
            dialog.setValue(value);
            QCoreApplication::processEvents();
        }
        return !dialog.wasCanceled();
    });
    return done;
}

bool TSoundLoader::Read(const QString& path, TWav& sound, TSoundSummary& summary)
{
    const std::string file = NativeName(path);
    const QString name = QFileInfo(path).fileName();
    // A 16-bit file holds about half as many samples as bytes.
    const std::int64_t samples = QFileInfo(path).size() / 2;
    // A long sound is read, and its plots' summaries made, on a worker while playback goes on.
    return WithProgress(
        "Reading " + name + "...", samples,
        [&](const auto& progress) {
            if (!sound.ReadFile(file, progress))
                return false;
            summary.Build(sound);
            return true;
        },
        true);
}

void TSoundLoader::Release(TWav old)
{
    // Giving back the pages of an hour of sound takes a while: not on the UI thread, which
    // does not wait for an earlier release either (the new one does), and below it while
    // something plays, as the reading was.
    m_release =
        std::async(std::launch::async, [old = std::move(old), earlier = std::move(m_release),
                                        lower = m_document.Playing()]() mutable {
            if (lower)
                setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), WorkerNice);
            if (earlier.valid())
                earlier.wait();
            old = TWav();
        });
}

} // namespace kavrel
