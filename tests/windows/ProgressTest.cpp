// Saving and opening long files under the progress dialog: Cancel and failures leave nothing
// behind, the filter in force when the export started is the one it uses, the window goes on
// handling events meanwhile.

#include "WindowFixture.h"

#include "axes/qt/TAxis.h"

#include <QProgressDialog>
#include <QSlider>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kavrel::test {
namespace {

std::string ReadAll(const QString& path)
{
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Names of the files in a folder.
QStringList FilesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

class Progress : public WindowFixture {
protected:
    // Three minutes of stereo at 44.1 kHz, made once: long enough for the progress dialog.
    static void SetUpTestSuite()
    {
        s_soundDir = new QTemporaryDir;
        s_sound = s_soundDir->filePath("long.wav");
        WriteWave(s_sound, 2, 44100, 180LL * 44100, Sine);
    }
    static void TearDownTestSuite()
    {
        delete s_soundDir;
        s_soundDir = nullptr;
    }

    void SetUp() override
    {
        WindowFixture::SetUp();
        m_sound = s_sound;
        Show();
    }

    // Calls `act` with the progress dialog each time the window handles events while one is up,
    // until it returns true.
    void WhileProgress(std::function<bool(QProgressDialog&)> act)
    {
        m_watch = new QTimer(m_form18.get());
        m_watch->setInterval(0);
        QObject::connect(m_watch, &QTimer::timeout, m_form18.get(), [this, act] {
            auto* dialog = m_form18->findChild<QProgressDialog*>();
            if (dialog != nullptr && dialog->isVisible()) {
                ++m_seen;
                if (act(*dialog))
                    m_watch->stop();
            }
        });
        m_watch->start();
    }

    static inline QTemporaryDir* s_soundDir = nullptr;
    static inline QString s_sound;
    QString m_sound;
    QTimer* m_watch = nullptr;
    int m_seen = 0;
};

TEST_F(Progress, CancelledExportLeavesNoFile)
{
    m_form18->LoadSoundFile(m_sound);
    for (int stopAt : {0, 500, 900}) {
        // At the start, in the filter pass and while the file is being written.
        m_seen = 0;
        WhileProgress([&](QProgressDialog& d) {
            if (d.value() < stopAt)
                return false;
            d.cancel();
            return true;
        });
        const QString target = Path("out.wav");
        EXPECT_FALSE(m_form18->ExportSoundFile(target)) << stopAt;
        EXPECT_GT(m_seen, 0);
        EXPECT_FALSE(QFile::exists(target)) << stopAt;
        EXPECT_EQ(FilesIn(m_dir.path()), QStringList()) << stopAt;
    }
    EXPECT_TRUE(m_errors.isEmpty()) << m_errors.join("\n").toStdString();
}

TEST_F(Progress, CancelledExportKeepsAnExistingFile)
{
    m_form18->LoadSoundFile(m_sound);
    const QString target = Path("existing.wav");
    WriteWave(target, 1, 8000, 1000, Sine);
    const std::string before = ReadAll(target);
    WhileProgress([](QProgressDialog& d) {
        if (d.value() < 850)
            return false;
        d.cancel();
        return true;
    });
    EXPECT_FALSE(m_form18->ExportSoundFile(target));
    EXPECT_EQ(ReadAll(target), before);
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList{"existing.wav"});
}

TEST_F(Progress, FailedExportIsReportedAndLeavesNothing)
{
    m_form18->LoadSoundFile(m_sound);
    // The target is a folder: the file cannot be made.
    const QString target = Path("folder.wav");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder.wav"));
    EXPECT_THROW(m_form18->ExportSoundFile(target), std::exception);
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList());
    EXPECT_EQ(QDir(target).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

// Slider moves while the export runs change the filter of the playback, not the export's.
TEST_F(Progress, ExportUsesTheFilterOfItsStart)
{
    m_form18->LoadSoundFile(m_sound);
    const QString quiet = Path("still.wav");
    ASSERT_TRUE(m_form18->ExportSoundFile(quiet));

    const QString moved = Path("moved.wav");
    const double poleF0 = Doc().FilterSection1().PoleF0();
    WhileProgress([&](QProgressDialog& d) {
        if (d.value() < 100)
            return false;
        m_form19->pf0track()->setValue(90);
        m_form19->zqtrack()->setValue(-80);
        return true;
    });
    ASSERT_TRUE(m_form18->ExportSoundFile(moved));
    EXPECT_NE(Doc().FilterSection1().PoleF0(), poleF0); // the move took effect for playback
    EXPECT_EQ(ReadAll(moved).size(), ReadAll(quiet).size());
    // The dither differs from run to run, so compare the sounds, not the bytes.
    TWav a;
    TWav b;
    a.ReadFile(QFile::encodeName(quiet).toStdString());
    b.ReadFile(QFile::encodeName(moved).toStdString());
    const auto sa = a.ChannelSamples(0);
    const auto sb = b.ChannelSamples(0);
    ASSERT_EQ(sa.size(), sb.size());
    int far = 0;
    for (std::size_t i = 0; i < sa.size(); ++i)
        far += std::abs(sa[i] - sb[i]) > 2;
    EXPECT_EQ(far, 0);
}

TEST_F(Progress, CancelledOpenKeepsTheDocument)
{
    const QString small = Path("small.wav");
    WriteWave(small, 1, 8000, 8000, Sine);
    m_form18->LoadSoundFile(small);
    const QString caption = m_form18->windowTitle();
    WhileProgress([](QProgressDialog& d) {
        d.cancel();
        return true;
    });
    m_form18->LoadSoundFile(m_sound);
    EXPECT_GT(m_seen, 0);
    EXPECT_EQ(Doc().SourceWav().Length(), 8000);
    EXPECT_EQ(m_form18->windowTitle(), caption);
    EXPECT_DOUBLE_EQ(m_form18->taxis()->HiValue(), 1.0);
}

TEST_F(Progress, WindowHandlesEventsWhileSaving)
{
    m_form18->LoadSoundFile(m_sound);
    int ticks = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start();
    WhileProgress([](QProgressDialog&) { return false; });
    ASSERT_TRUE(m_form18->ExportSoundFile(Path("out.wav")));
    EXPECT_GT(m_seen, 3);
    EXPECT_GT(ticks, 3);
}

} // namespace
} // namespace kavrel::test
