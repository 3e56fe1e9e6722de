#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <future>

class QWidget;

namespace kavrel {

class TSoundDocument;
class TSoundSummary;
class TWav;

// The main window's long jobs on a sound: reading a file (with its plots' summaries) while
// playback goes on, giving back the memory of the sound it replaced, and the progress dialog
// with Cancel that the reading, the export and Analyze run under. Workers yield to the UI thread,
// which feeds the sound, while something plays.
class TSoundLoader {
public:
    // Jobs on sounds of at least this many samples (over all channels) run under a progress
    // dialog; shorter ones run without.
    static constexpr std::int64_t ProgressSamples = std::int64_t{1} << 23;

    // window: the progress dialog's parent; both must outlive this object.
    TSoundLoader(QWidget* window, const TSoundDocument& document);
    // Waits for the release of a replaced sound to end.
    ~TSoundLoader();
    TSoundLoader(const TSoundLoader&) = delete;
    TSoundLoader& operator=(const TSoundLoader&) = delete;

    // Runs a job on `samples` samples, a long one under a progress dialog; job gets a callback
    // that takes the fraction done and returns false once the user cancelled. onWorker: a long
    // job runs on a thread of its own while the UI thread handles events (it must then touch
    // nothing that the UI thread changes); otherwise the callback handles them. Returns the
    // job's result; passes its exceptions on.
    bool WithProgress(const QString& text, std::int64_t samples,
                      const std::function<bool(const std::function<bool(double)>&)>& job,
                      bool onWorker = false);
    // Reads the sound file at path into sound and its plots' summaries into summary, a long one
    // on a worker while playback goes on. Returns false when the user cancelled; raises the wave
    // file's error.
    bool Read(const QString& path, TWav& sound, TSoundSummary& summary);
    // Frees old's memory on a thread of its own, after any earlier release; the UI thread does
    // not wait.
    void Release(TWav old);

private:
    QWidget* m_window;
    const TSoundDocument& m_document;
    std::future<void> m_release; // frees the memory of the sound opened before the present one
};

} // namespace kavrel
