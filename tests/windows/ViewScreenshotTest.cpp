// Pictures of what the windows show of long sounds, of the filter's response and of the progress
// dialog: runs only when KAVREL_SHOTS_DIR names a folder, and KAVREL_SHOTS_LONG_SOUND a long
// sound to show (e.g. under Xvfb with QT_QPA_PLATFORM=xcb).

#include "WindowFixture.h"

#include "app/windows/TPaintBox.h"
#include "app/windows/TResponsePlot.h"
#include "axes/qt/TAxis.h"

#include <QCheckBox>
#include <QProgressDialog>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <cstdlib>

namespace kavrel::test {
namespace {

using ViewScreenshots = WindowFixture;

QString ShotsDir()
{
    const char* dir = std::getenv("KAVREL_SHOTS_DIR");
    return dir == nullptr ? QString() : QString::fromLocal8Bit(dir);
}

TEST_F(ViewScreenshots, FilterResponseAtTwoSettings)
{
    const QString dir = ShotsDir();
    if (dir.isEmpty())
        GTEST_SKIP() << "KAVREL_SHOTS_DIR is not set";
    Show();
    m_form19->show();
    QTest::qWait(100);
    EXPECT_TRUE(m_form19->grab().save(dir + "/response-at-rest.png"));
    m_form19->gaintrack()->setValue(0);
    m_form19->pf0track()->setValue(75);
    m_form19->pqtrack()->setValue(100);
    m_form19->zf0track()->setValue(30);
    m_form19->zqtrack()->setValue(60);
    QTest::qWait(50);
    EXPECT_TRUE(m_form19->grab().save(dir + "/response-peak-and-notch.png"));
    m_form19->notenamesbox()->setChecked(true);
    QTest::qWait(50);
    EXPECT_TRUE(m_form19->grab().save(dir + "/response-note-names.png"));
}

TEST_F(ViewScreenshots, LongSoundAndProgress)
{
    const QString dir = ShotsDir();
    const char* sound = std::getenv("KAVREL_SHOTS_LONG_SOUND");
    if (dir.isEmpty() || sound == nullptr)
        GTEST_SKIP() << "KAVREL_SHOTS_DIR or KAVREL_SHOTS_LONG_SOUND is not set";
    Show(1100, 640);
    // Grabs the progress dialog (and the window behind it) once it is past `from` per mille;
    // cancels the job afterwards when asked.
    const auto grabProgress = [&](const QString& name, int from, bool cancel) {
        auto* timer = new QTimer(m_form18.get());
        timer->setInterval(20);
        QObject::connect(timer, &QTimer::timeout, [=, this] {
            auto* dialog = m_form18->findChild<QProgressDialog*>();
            if (dialog == nullptr || !dialog->isVisible() || dialog->value() < from)
                return;
            timer->stop();
            EXPECT_TRUE(dialog->grab().save(dir + "/" + name + ".png"));
            EXPECT_TRUE(m_form18->screen()->grabWindow(0).save(dir + "/" + name + "-screen.png"));
            if (cancel)
                dialog->cancel();
            timer->deleteLater();
        });
        timer->start();
    };
    grabProgress("progress-open", 300, false);
    m_form18->LoadSoundFile(QString::fromLocal8Bit(sound));
    QTest::qWait(100);
    EXPECT_TRUE(m_form18->grab().save(dir + "/long-sound-whole.png"));

    m_form18->taxis()->SetRange(1234.5, 1234.58);
    m_form18->playaction()->trigger();
    QTest::mouseClick(m_form18->PaintBox1(), Qt::LeftButton, {}, QPoint(300, 30));
    QTest::qWait(100);
    EXPECT_TRUE(m_form18->grab().save(dir + "/long-sound-zoomed-playing.png"));
    m_form18->playaction()->trigger();
    m_form18->taxis()->SetRange(1200, 1260);
    QTest::qWait(100);
    EXPECT_TRUE(m_form18->grab().save(dir + "/long-sound-minute.png"));

    m_form19->show();
    m_form19->move(m_form18->x() + 300, m_form18->y() + 40);
    grabProgress("progress-save", 500, true);
    EXPECT_FALSE(m_form18->ExportSoundFile(Path("saved.wav")));
    EXPECT_FALSE(QFile::exists(Path("saved.wav")));
}

} // namespace
} // namespace kavrel::test
