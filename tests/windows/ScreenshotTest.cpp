// Pictures of the windows for looking at them: runs only when KAVREL_SHOTS_DIR names a folder
// (and KAVREL_SHOTS_SOUND, optionally, the sound to show), e.g. under Xvfb with
// QT_QPA_PLATFORM=xcb.

#include "WindowFixture.h"

#include "app/windows/Pictures.h"
#include "app/windows/TAbout.h"
#include "axes/qt/TAxis.h"
#include "axes/qt/TAxisLimitForm.h"

#include <QPainter>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <cstdlib>

namespace kavrel::test {
namespace {

using Screenshots = WindowFixture;

TEST_F(Screenshots, OfEveryWindow)
{
    const char* dir = std::getenv("KAVREL_SHOTS_DIR");
    if (dir == nullptr || *dir == '\0')
        GTEST_SKIP() << "KAVREL_SHOTS_DIR is not set";
    const QString out = QString::fromLocal8Bit(dir) + "/";
    QString sound = QString::fromLocal8Bit(std::getenv("KAVREL_SHOTS_SOUND"));
    if (sound.isEmpty()) {
        sound = Path("stereo.wav");
        WriteWave(sound, 2, 8000, 24000, Sine);
    }
    Show(TForm18::ClientWidth, TForm18::ClientHeight + 22);
    m_form18->LoadSoundFile(sound);
    m_form18->playaction()->trigger();
    for (int i = 0; i < 20; ++i) {
        m_device->CompleteQueued();
        QApplication::processEvents();
    }
    QTest::qWait(100);
    EXPECT_TRUE(m_form18->grab().save(out + "main-window.png"));

    m_form19->show();
    QTest::qWait(100);
    EXPECT_TRUE(m_form19->grab().save(out + "filter-controls.png"));
    m_form19->rawgaintrack()->setValue(20);
    for (int i = 0; i < 30; ++i) {
        m_device->CompleteQueued();
        QApplication::processEvents();
    }
    QTest::qWait(50);
    EXPECT_TRUE(m_form19->grab().save(out + "filter-controls-overload.png"));
    m_form18->playaction()->trigger();

    TAxisLimitForm& limits = m_form18->taxis()->LimitForm();
    limits.OnShown = [&](TAxisLimitForm& form) {
        // Called from its show event, before the dialog's own loop runs.
        QTimer::singleShot(100, &form, [&] {
            EXPECT_TRUE(form.grab().save(out + "limits-dialog.png"));
            form.reject();
        });
    };
    QTest::mouseDClick(m_form18->taxis(), Qt::LeftButton, {}, QPoint(100, 10));
    limits.OnShown = nullptr;

    TAbout& about = m_form18->About();
    about.show();
    QTest::qWait(100);
    EXPECT_TRUE(about.grab().save(out + "about-box.png"));
    about.hide();

    // The toolbar pictures at 1x and 2x, side by side, enlarged four times without smoothing.
    QImage strip(6 * 48 + 6 * 24, 32, QImage::Format_ARGB32);
    strip.fill(Qt::white);
    {
        QPainter p(&strip);
        for (int i = 0; i < 6; ++i) {
            const QIcon icon = ToolbarIcon(i);
            QPixmap one = icon.pixmap(QSize(16, 16), 1.0);
            QPixmap two = icon.pixmap(QSize(16, 16), 2.0);
            p.drawImage(QRect(i * 72, 0, 32, 32), one.toImage().scaled(32, 32));
            p.drawImage(QRect(i * 72 + 36, 0, 32, 32), two.toImage());
        }
    }
    EXPECT_TRUE(strip.scaled(strip.size() * 3).save(out + "toolbar-pictures.png"));

    m_form18->resize(1100, 640);
    m_form18->taxis()->SetRange(1.0, 1.05);
    QTest::qWait(100);
    EXPECT_TRUE(m_form18->grab().save(out + "main-window-zoomed.png"));
}

} // namespace
} // namespace kavrel::test
