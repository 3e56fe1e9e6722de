#include "WindowFixture.h"

#include "app/core/ControlMapping.h"
#include "app/windows/TAbout.h"
#include "app/windows/TOutputMenu.h"
#include "app/windows/TPaintBox.h"
#include "axes/qt/TAxis.h"
#include "settings/TZELFile.h"
#include "sound/EWavError.h"

#include <QAction>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QUrl>
#include <QWheelEvent>

#include <cmath>
#include <limits>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace kavrel::test {
namespace {

using TForm18Test = WindowFixture;

std::int16_t Alternating(int, std::int64_t frame)
{
    return frame % 2 == 0 ? 20000 : -20000;
}

bool ColumnHasInk(const QImage& image, int x)
{
    for (int y = 0; y < image.height(); ++y)
        if (qGray(image.pixel(x, y)) < 128)
            return true;
    return false;
}

bool AllWhite(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                return false;
    return true;
}

// Drags mime over the window and drops it there, as the window system delivers it.
void DragAndDrop(QWidget* window, QMimeData& mime)
{
    const QPointF at(20, 60);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TEST_F(TForm18Test, ComponentsAsTheWindowIsCreated)
{
    EXPECT_EQ(m_form18->windowTitle(), "Kavrel");
    EXPECT_EQ(m_form18->ToolBar1()->height(), TForm18::ToolBarHeight);
    // Toolbar: open | play, use filter | show filter, analyze.
    QStringList names;
    for (QAction* a : m_form18->ToolBar1()->actions())
        names << (a->isSeparator() ? QString("|") : a->objectName());
    EXPECT_EQ(names.join(' '),
              "openaction | playaction usefilteraction | showfilteraction Analyzeaction");
    EXPECT_EQ(m_form18->openaction()->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(m_form18->saveaction()->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_EQ(m_form18->playaction()->shortcut(), QKeySequence("F9"));
    EXPECT_EQ(m_form18->saveaction()->toolTip(), "Save soundfile through the Vesk filter");
    EXPECT_TRUE(m_form18->playaction()->isCheckable());
    EXPECT_TRUE(m_form18->usefilteraction()->isCheckable());
    EXPECT_FALSE(m_form18->Analyzeaction()->isCheckable());
    EXPECT_DOUBLE_EQ(m_form18->taxis()->LoValue(), 0);
    EXPECT_DOUBLE_EQ(m_form18->taxis()->HiValue(), 1);
    EXPECT_EQ(m_form18->taxis()->AxisText(), "[s]");
    EXPECT_DOUBLE_EQ(m_form18->Axis1()->MaxLoValue(), -0.01);
    EXPECT_DOUBLE_EQ(m_form18->Axis2()->MinHiValue(), 0.01);
    EXPECT_EQ(m_form18->Axis1()->width(), 43);
    EXPECT_EQ(m_form18->taxis()->height(), 24);
}

TEST_F(TForm18Test, FirstActivationDisablesPlayAndAppliesTheSliders)
{
    EXPECT_TRUE(m_form18->playaction()->isEnabled());
    Show();
    EXPECT_TRUE(m_form18->Activated());
    EXPECT_FALSE(m_form18->playaction()->isEnabled());
    EXPECT_NEAR(Doc().RawGain(), 0.316227766, 1e-9);
    // A second activation changes nothing.
    m_form19->rawgaintrack()->setValue(0);
    m_form18->playaction()->setEnabled(true);
    m_form18->FormActivate();
    EXPECT_TRUE(m_form18->playaction()->isEnabled());
}

TEST_F(TForm18Test, LoadSoundFileMakesTheFileTheDocument)
{
    Show();
    WriteWave(Path("tone.wav"), 2, 8000, 12000, Sine);
    Doc().SetPlayPos(500);
    m_form18->LoadSoundFile(Path("tone.wav"));
    EXPECT_EQ(m_form18->windowTitle(), "tone.wav - Kavrel");
    EXPECT_EQ(m_form18->StatusText(), QFileInfo(Path("tone.wav")).absoluteFilePath());
    EXPECT_DOUBLE_EQ(m_form18->taxis()->LoValue(), 0);
    EXPECT_DOUBLE_EQ(m_form18->taxis()->HiValue(), 1.5);
    EXPECT_DOUBLE_EQ(m_form18->taxis()->MaxHiValue(), 1.5);
    EXPECT_DOUBLE_EQ(m_form18->taxis()->MinLoValue(), 0);
    EXPECT_TRUE(m_form18->playaction()->isEnabled());
    EXPECT_EQ(Doc().PlayPos(), 0);
    EXPECT_EQ(Doc().SourceWav().Channels(), 2);
    EXPECT_EQ(m_form18->SaveFileName(), Path("tone_Vesk.wav"));
}

TEST_F(TForm18Test, FailedLoadLeavesThePreviousDocument)
{
    Show();
    WriteWave(Path("good.wav"), 2, 8000, 16000, Sine);
    m_form18->LoadSoundFile(Path("good.wav"));
    Doc().SetPlayPos(777);
    WriteBytes(Path("broken.wav"), QByteArray("RIFF\x10\0\0\0WAVEjunkjunk", 20));
    try {
        m_form18->LoadSoundFile(Path("broken.wav"));
        FAIL() << "a broken file loaded";
    } catch (const EWavError& e) {
        EXPECT_NE(std::string(e.what()).find("broken.wav"), std::string::npos) << e.what();
    }
    EXPECT_EQ(m_form18->windowTitle(), "good.wav - Kavrel");
    EXPECT_EQ(m_form18->StatusText(), QFileInfo(Path("good.wav")).absoluteFilePath());
    EXPECT_DOUBLE_EQ(m_form18->taxis()->HiValue(), 2.0);
    EXPECT_EQ(Doc().PlayPos(), 777);
    EXPECT_EQ(Doc().SourceWav().Length(), 16000);
    // The steps before the read have run.
    EXPECT_EQ(m_form18->SaveFileName(), Path("broken_Vesk.wav"));
}

struct SaveNameCase {
    const char* path;
    const char* saveName;
};

class SaveNameTest : public WindowFixture, public testing::WithParamInterface<SaveNameCase> {};

TEST_P(SaveNameTest, PresetBeforeTheRead)
{
    // None of these files exists: the load fails after the save name is set.
    EXPECT_THROW(m_form18->LoadSoundFile(GetParam().path), EWavError);
    EXPECT_EQ(m_form18->SaveFileName(), GetParam().saveName);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SaveNameTest,
    testing::Values(SaveNameCase{"C:\\a\\b.wav", "C:\\a\\b_Vesk.wav"},
                    SaveNameCase{"/nowhere/take.one.wav", "/nowhere/take.one_Vesk.wav"},
                    SaveNameCase{"/nowhere/sound", "/nowhere/sound_Vesk"},
                    SaveNameCase{"/nowhere/my.dir/sound", "/nowhere/my.dir/sound_Vesk"}));

TEST_F(TForm18Test, ClickIntoAPlotSetsThePlayPosition)
{
    Show(800, 500);
    WriteWave(Path("tone.wav"), 2, 8000, 16000, Sine);
    m_form18->LoadSoundFile(Path("tone.wav"));
    QTest::mouseClick(m_form18->PaintBox1(), Qt::LeftButton, {}, QPoint(300, 10));
    const auto expected = [&](int x) {
        return static_cast<std::int32_t>(std::nearbyint(8000 * m_form18->taxis()->PixelToValue(x)));
    };
    EXPECT_EQ(Doc().PlayPos(), expected(300));
    EXPECT_GT(Doc().PlayPos(), 0);
    QTest::mouseClick(m_form18->PaintBox2(), Qt::RightButton, {}, QPoint(123, 30));
    EXPECT_EQ(Doc().PlayPos(), expected(123));
}

TEST_F(TForm18Test, ResizePlacesAxesAndPlots)
{
    Show();
    for (QSize size : {QSize(800, 600), QSize(584, 420), QSize(1000, 333), QSize(641, 481)}) {
        m_form18->resize(size);
        QApplication::processEvents();
        const int w = m_form18->Panel1()->width();
        const int h = m_form18->Panel1()->height();
        const int taxisTop = h - 24 - 2;
        const int axisHeight = (taxisTop - 2) / 2 - 1;
        EXPECT_EQ(m_form18->Axis1()->geometry(), QRect(2, 2, 43, axisHeight)) << w << "x" << h;
        EXPECT_EQ(m_form18->taxis()->geometry(), QRect(45, taxisTop, w - 45, 24));
        EXPECT_EQ(m_form18->Axis2()->geometry(), QRect(2, 2 + axisHeight + 2, 43, axisHeight));
        EXPECT_EQ(m_form18->PaintBox1()->geometry(), QRect(45, 2, w - 45, axisHeight));
        EXPECT_EQ(m_form18->PaintBox2()->geometry(),
                  QRect(45, 2 + axisHeight + 2, w - 45, axisHeight));
    }
}

TEST_F(TForm18Test, MonoFileLeavesTheLowerPlotWhite)
{
    Show(700, 500);
    WriteWave(Path("mono.wav"), 1, 8000, 8000, Alternating);
    m_form18->LoadSoundFile(Path("mono.wav"));
    const QImage upper = m_form18->PaintBox1()->grab().toImage();
    const QImage lower = m_form18->PaintBox2()->grab().toImage();
    EXPECT_TRUE(ColumnHasInk(upper, 1));
    EXPECT_TRUE(ColumnHasInk(upper, upper.width() / 2));
    EXPECT_TRUE(AllWhite(lower));
}

TEST_F(TForm18Test, WaveformColumnSpansTheSamplesExtremes)
{
    Show(700, 500);
    WriteWave(Path("alt.wav"), 2, 8000, 8000, Alternating);
    m_form18->LoadSoundFile(Path("alt.wav"));
    const QImage upper = m_form18->PaintBox1()->grab().toImage();
    const int x = upper.width() / 3;
    const int top = m_form18->Axis1()->ValueToPixel(20000 / 32768.0);
    const int bottom = m_form18->Axis1()->ValueToPixel(-20000 / 32768.0);
    for (int y = 0; y < upper.height(); ++y)
        EXPECT_EQ(qGray(upper.pixel(x, y)) < 128, y >= top && y <= bottom) << "y " << y;
}

TEST_F(TForm18Test, ZoomPastTheEndDrawsUpToTheLastColumnInsideTheSound)
{
    Show(800, 500);
    WriteWave(Path("alt.wav"), 2, 8000, 8000, Alternating);
    m_form18->LoadSoundFile(Path("alt.wav"));
    TAxis& t = *m_form18->taxis();
    t.SetMaxHiValue(2);
    t.SetHiValue(2);
    QApplication::processEvents();
    const QImage image = m_form18->PaintBox1()->grab().toImage();
    ASSERT_EQ(image.width(), t.width());
    int last = -1;
    for (int x = 0; x <= t.width() - 2; ++x) {
        if (std::nearbyint(8000 * t.PixelToValue(x + 1)) > 7999)
            break;
        last = x;
    }
    ASSERT_GT(last, t.width() / 3);
    ASSERT_LT(last, t.width() * 2 / 3);
    for (int x = 0; x < image.width(); ++x)
        EXPECT_EQ(ColumnHasInk(image, x), x <= last) << "column " << x;
}

TEST_F(TForm18Test, WheelZoomsTheTimeAxisAroundThePointer)
{
    Show(800, 500);
    WriteWave(Path("tone.wav"), 2, 8000, 16000, Sine);
    m_form18->LoadSoundFile(Path("tone.wav"));
    const QSize before = m_form18->size();
    TAxis& t = *m_form18->taxis();
    const double at = t.PixelToValue(200);
    QWheelEvent wheel(QPointF(200, 20), QPointF(200, 20), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_form18->PaintBox1(), &wheel);
    EXPECT_EQ(m_form18->size(), before);
    EXPECT_NEAR(t.HiValue() - t.LoValue(), 2.0 * 0.8, 1e-9);
    EXPECT_NEAR(t.PixelToValue(200), at, 2 * (t.HiValue() - t.LoValue()) / t.width());
    // Zooming out stops at the sound's ends.
    QWheelEvent out(QPointF(200, 20), QPointF(200, 20), QPoint(), QPoint(0, -1200), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_form18->PaintBox1(), &out);
    EXPECT_DOUBLE_EQ(t.LoValue(), 0);
    EXPECT_DOUBLE_EQ(t.HiValue(), 2);
}

TEST_F(TForm18Test, SettingsWrittenAtCloseComeBackAtTheNextStart)
{
    Show();
    m_form19->rawgaintrack()->setValue(5);
    m_form19->gaintrack()->setValue(-20);
    m_form19->pf0track()->setValue(80);
    m_form19->pqtrack()->setValue(30);
    m_form19->zf0track()->setValue(20);
    m_form19->zqtrack()->setValue(-50);
    const std::string file = m_form18->SettingsFilePath();
    EXPECT_EQ(std::filesystem::path(file).filename(), "Kavrelsettings.zelfile");
    EXPECT_NE(file.find("MorvaneData/Kavrel/0.0.0.2"), std::string::npos) << file;
    EXPECT_TRUE(m_form18->close());
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(m_form18->ZELFile1().NodeCount(), 0);

    Destroy();
    Create();
    EXPECT_EQ(m_form19->rawgaintrack()->value(), -10);
    Show();
    EXPECT_EQ(m_form19->rawgaintrack()->value(), 5);
    EXPECT_EQ(m_form19->gaintrack()->value(), -20);
    EXPECT_EQ(m_form19->pf0track()->value(), 80);
    EXPECT_EQ(m_form19->pqtrack()->value(), 30);
    EXPECT_EQ(m_form19->zf0track()->value(), 20);
    EXPECT_EQ(m_form19->zqtrack()->value(), -50);
    EXPECT_DOUBLE_EQ(Doc().RawGain(), GainFromSlider(5));
    EXPECT_DOUBLE_EQ(Doc().FilterSection2().PoleF0(), F0FromSlider(80));
    EXPECT_EQ(m_form18->ZELFile1().NodeCount(), 0);
}

TEST_F(TForm18Test, UntrustedSettingsLeaveOrClampTheSliders)
{
    {
        TZELFile file;
        file.SetProgId(&m_form18->ProgId1());
        const double nan = std::numeric_limits<double>::quiet_NaN();
        file.WriteFloat("Settings", "RawGain", 0.5); // -6.02 dB: snaps to -6
        file.WriteFloat("Settings", "FilterGain", 0);
        file.WriteFloat("Settings", "PoleF0", nan);
        file.WriteFloat("Settings", "PoleBW", 5);
        file.WriteFloat("Settings", "ZeroF0", 1e9);
        file.WriteFloat("Settings", "ZeroBW", 0);
        file.SaveToFile(m_form18->SettingsFilePath());
    }
    Show();
    EXPECT_EQ(m_form19->rawgaintrack()->value(), -6);
    EXPECT_EQ(m_form19->gaintrack()->value(), -10);
    EXPECT_EQ(m_form19->pf0track()->value(), 50);
    EXPECT_EQ(m_form19->pqtrack()->value(), 0);
    EXPECT_EQ(m_form19->zf0track()->value(), 100);
    EXPECT_EQ(m_form19->zqtrack()->value(), 0);
    EXPECT_DOUBLE_EQ(Doc().RawGain(), GainFromSlider(-6));
    EXPECT_DOUBLE_EQ(Doc().FilterSection1().ZeroF0(), 1000);
    EXPECT_DOUBLE_EQ(Doc().FilterSection1().ZeroBW(), 1000);
    EXPECT_TRUE(m_errors.isEmpty()) << m_errors.join('\n').toStdString();
}

TEST_F(TForm18Test, SettingOfTheWrongTypeIsIgnored)
{
    {
        TZELFile file;
        file.SetProgId(&m_form18->ProgId1());
        file.WriteFloat("Settings", "RawGain", 1.0);
        file.SetData("Settings", "FilterGain", tdata{3, {1, 2, 3, 4}});
        file.SaveToFile(m_form18->SettingsFilePath());
    }
    Show();
    EXPECT_EQ(m_form19->rawgaintrack()->value(), 0);
    EXPECT_EQ(m_form19->gaintrack()->value(), -10);
    EXPECT_TRUE(m_errors.isEmpty()) << m_errors.join('\n').toStdString();
}

TEST_F(TForm18Test, ClosingWhilePlayingStopsThePlayerAndSaves)
{
    Show();
    WriteWave(Path("tone.wav"), 2, 8000, 16000, Sine);
    m_form18->LoadSoundFile(Path("tone.wav"));
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    ASSERT_TRUE(m_form18->playaction()->isChecked());
    ASSERT_TRUE(Doc().Playing());
    EXPECT_TRUE(m_form18->taxis()->MarkerVisible());
    EXPECT_TRUE(m_form18->close());
    QApplication::processEvents();
    EXPECT_FALSE(Doc().Playing());
    EXPECT_FALSE(m_form18->playaction()->isChecked());
    EXPECT_TRUE(std::filesystem::exists(m_form18->SettingsFilePath()));
    EXPECT_TRUE(m_errors.isEmpty()) << m_errors.join('\n').toStdString();
}

TEST_F(TForm18Test, SettingsThatCannotBeWrittenAreReportedAndTheWindowCloses)
{
    Show();
    // A folder where the file should be: nothing can replace it.
    std::filesystem::create_directories(m_form18->SettingsFilePath());
    EXPECT_TRUE(m_form18->close());
    EXPECT_FALSE(m_form18->isVisible());
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_TRUE(m_errors[0].contains("Kavrelsettings.zelfile")) << m_errors[0].toStdString();
    m_errors.clear();
}

// A pipe in the place of the ini holds up neither the start (the recent list is stored as the
// window is made) nor the close; it is said on stderr, not in a box.
TEST_F(TForm18Test, AnIniReplacedByAPipeHoldsUpNeitherStartNorClose)
{
    Destroy();
    const std::filesystem::path folder = ConfigFolder() / "Kavrel" / "0.0.0.2";
    std::filesystem::create_directories(folder);
    std::filesystem::remove(folder / "Kavrel.ini");
    ASSERT_EQ(::mkfifo((folder / "Kavrel.ini").c_str(), 0600), 0);
    ::alarm(20);
    testing::internal::CaptureStderr();
    Create();
    Show();
    EXPECT_TRUE(m_form18->close());
    const std::string err = testing::internal::GetCapturedStderr();
    ::alarm(0);
    EXPECT_NE(err.find("Kavrel.ini: is a pipe"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "Kavrel.ini"));
}

// An object whose event handler fails, as a window's handler can.
class TThrowingObject : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("handler failed: demo.wav");
        return QObject::event(e);
    }
};

TEST_F(TForm18Test, EventLoopShowsAnEscapingExceptionAndGoesOn)
{
    TThrowingObject target;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &event));
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_EQ(m_errors[0], "handler failed: demo.wav");
    m_errors.clear();
    // Posted through the loop as well.
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_errors.size(), 1);
    m_errors.clear();
}

TEST_F(TForm18Test, PlayFailureIsReportedAndUnchecksPlay)
{
    Show();
    WriteWave(Path("tone.wav"), 2, 8000, 16000, Sine);
    m_form18->LoadSoundFile(Path("tone.wav"));
    m_device->FailNext(TFakeWaveOutDevice::TOp::Open, weBadDeviceId);
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(m_form18->playaction()->isChecked());
    EXPECT_FALSE(Doc().Playing());
    ASSERT_EQ(m_errors.size(), 1);
    m_errors.clear();
}

// Captions of the output menu as it opens, the checked one marked with "*".
QStringList OpenOutputMenu(TForm18& form)
{
    QMenu* menu = form.OutputMenu().Menu();
    emit menu->aboutToShow();
    QStringList captions;
    for (QAction* a : menu->actions())
        captions << (a->isChecked() ? "*" : "") + a->text();
    return captions;
}

void ChooseOutput(TForm18& form, const QString& caption)
{
    for (QAction* a : form.OutputMenu().Menu()->actions())
        if (a->text() == caption)
            a->trigger();
}

TEST_F(TForm18Test, OutputDeviceMenuChoosesByNameAndFallsBackWhenItIsGone)
{
    Show();
    EXPECT_EQ(m_form18->OutputMenu().Menu()->menuAction()->text(), "&Output device");
    m_device->SetOutputs({"Speakers", "Headphones"}, {"sink.speakers", "sink.phones"});
    EXPECT_EQ(OpenOutputMenu(*m_form18), QStringList({"*Default", "Speakers", "Headphones"}));
    ChooseOutput(*m_form18, "Headphones");
    EXPECT_EQ(Doc().MPCPlay1().OutputKey(), "sink.phones");

    // Outputs come and go: the menu shows those there are when it opens.
    m_device->SetOutputs({"USB", "Headphones"}, {"sink.usb", "sink.phones"});
    EXPECT_EQ(OpenOutputMenu(*m_form18), QStringList({"Default", "USB", "*Headphones"}));

    // The next run plays on the same output, whatever its place in the list.
    {
        TForm18 next(std::make_unique<TFakeWaveOutDevice>());
        EXPECT_EQ(next.Document().MPCPlay1().OutputKey(), "sink.phones");
    }
    WriteWave(Path("tone.wav"), 1, 8000, 16000, Sine);
    m_form18->LoadSoundFile(Path("tone.wav"));
    m_form18->playaction()->trigger();
    EXPECT_EQ(m_device->OpenedDeviceId(), 1);
    m_form18->playaction()->trigger();
    QApplication::processEvents();

    // Gone at the next Play: the default output, and the status bar says so.
    m_device->SetOutputs({"USB"}, {"sink.usb"});
    m_form18->playaction()->trigger();
    EXPECT_TRUE(Doc().Playing());
    EXPECT_EQ(m_device->OpenedDeviceId(), TWaveOutDevice::DefaultDevice);
    const QString message = m_form18->statusBar()->currentMessage();
    EXPECT_TRUE(message.contains("Headphones") && message.contains("default"))
        << message.toStdString();
    m_form18->playaction()->trigger();
    QApplication::processEvents();
}

TEST_F(TForm18Test, OutputLostWhilePlayingUnchecksPlayAndSaysWhyOnce)
{
    Show();
    WriteWave(Path("tone.wav"), 2, 8000, 16000, Sine);
    m_form18->LoadSoundFile(Path("tone.wav"));
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    m_device->Break(weDisconnected);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_FALSE(m_form18->playaction()->isChecked());
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_EQ(m_errors[0],
              "Playback stopped: " + QString::fromStdString(DefaultWaveErrorText(weDisconnected)));
    m_errors.clear();
    // Play again while the output is still gone: only the new failure is reported.
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_TRUE(m_errors[0].startsWith("WaveOutOpen:")) << m_errors[0].toStdString();
    m_errors.clear();
    m_device->Repair();
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(m_form18->playaction()->isChecked());
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(m_form18->playaction()->isChecked());
}

TEST_F(TForm18Test, DroppedFilesOpenOrReportTheirProblem)
{
    Show();
    WriteBytes(Path("broken.wav"), QByteArray("RIFF"));
    QMimeData broken;
    broken.setUrls({QUrl::fromLocalFile(Path("broken.wav"))});
    DragAndDrop(m_form18.get(), broken);
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_TRUE(m_errors[0].contains("broken.wav")) << m_errors[0].toStdString();
    EXPECT_EQ(m_form18->windowTitle(), "Kavrel");

    WriteWave(Path("tone.wav"), 1, 8000, 800, Sine);
    QMimeData good;
    good.setUrls({QUrl::fromLocalFile(Path("tone.wav"))});
    DragAndDrop(m_form18.get(), good);
    EXPECT_EQ(m_form18->windowTitle(), "tone.wav - Kavrel");
    EXPECT_EQ(m_errors.size(), 1);
    m_errors.clear();

    // The other formats come the same way; a file of no sound format is not taken.
    QMimeData flac;
    flac.setUrls({QUrl::fromLocalFile(QString(KAVREL_SOURCE_DIR) +
                                      "/tests/sound/fixtures/formats/pcm16-stereo.flac")});
    DragAndDrop(m_form18.get(), flac);
    EXPECT_EQ(m_form18->windowTitle(), "pcm16-stereo.flac - Kavrel");
    EXPECT_EQ(Doc().SourceWav().Length(), 300);
    WriteBytes(Path("notes.txt"), QByteArray("text"));
    QMimeData text;
    text.setUrls({QUrl::fromLocalFile(Path("notes.txt"))});
    DragAndDrop(m_form18.get(), text);
    EXPECT_EQ(m_form18->windowTitle(), "pcm16-stereo.flac - Kavrel");
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(TForm18Test, AnalyzeShowsTheLevelsInTheStatusBar)
{
    Show();
    WriteWave(Path("alt.wav"), 2, 8000, 8000, Alternating);
    m_form18->LoadSoundFile(Path("alt.wav"));
    m_form18->Analyzeaction()->trigger();
    EXPECT_TRUE(m_form18->StatusText().startsWith("Ch 0: RMS=-4.29 dB"))
        << m_form18->StatusText().toStdString();
    EXPECT_TRUE(m_form18->StatusText().contains("Ch 1:"));
}

TEST_F(TForm18Test, UseFilterFollowsItsAction)
{
    EXPECT_FALSE(Doc().UseFilter());
    m_form18->usefilteraction()->trigger();
    EXPECT_TRUE(Doc().UseFilter());
    m_form18->usefilteraction()->trigger();
    EXPECT_FALSE(Doc().UseFilter());
}

TEST_F(TForm18Test, ExitClosesTheMainWindow)
{
    Show();
    m_form19->show();
    m_form18->exitaction()->trigger();
    EXPECT_FALSE(m_form18->isVisible());
    EXPECT_FALSE(m_form19->isVisible());
}

TEST_F(TForm18Test, AboutBoxNamesVersionRightsDateAndSystems)
{
    TAbout& about = m_form18->About();
    EXPECT_EQ(about.windowTitle(), "About Kavrel");
    EXPECT_EQ(about.TitleLabel()->text(), "Kavrel");
    EXPECT_EQ(about.VersionLabel()->text(), "Version 0.0.0.2");
    EXPECT_TRUE(about.RightsLabel()->text().contains("MorvaneData"));
    // The date the window's code was compiled, which an incremental build may have done on
    // another day than this test's.
    EXPECT_TRUE(QRegularExpression(R"(^Compiled [A-Z][a-z]{2} [ 0-9]\d \d{4} \d\d:\d\d:\d\d$)")
                    .match(about.CompiledLabel()->text())
                    .hasMatch())
        << about.CompiledLabel()->text().toStdString();
    EXPECT_TRUE(about.SystemsLabel()->text().contains("Linux"));
    EXPECT_EQ(m_form18->Help1()->actions().value(0), m_form18->aboutaction());
    EXPECT_EQ(m_form18->aboutaction()->text(), "&About Kavrel...");
}

} // namespace
} // namespace kavrel::test
