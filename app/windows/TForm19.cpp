#include "app/windows/TForm19.h"

#include "app/core/ControlMapping.h"
#include "app/windows/Pictures.h"
#include "app/windows/ScreenFit.h"
#include "app/windows/ShortNumber.h"
#include "app/windows/TResponsePlot.h"
#include "app/windows/TTrackBar.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QResizeEvent>
#include <QScrollArea>
#include <QShortcut>
#include <QSlider>
#include <QVBoxLayout>

namespace kavrel {

namespace {

struct TTrackDesc {
    const char* track;
    const char* label;
    const char* text;
    TSliderRange range;
};

constexpr std::array<TTrackDesc, 6> kTracks{{
    {"rawgaintrack", "rawgainlabel", "Raw gain: ", GainSliderRange},
    {"gaintrack", "gainlabel", "Filtered gain: ", GainSliderRange},
    {"pf0track", "polef0label", "Pole f0: ", F0SliderRange},
    {"pqtrack", "poleqlabel", "Pole Q: ", QSliderRange},
    {"zf0track", "zerof0label", "Zero f0: ", F0SliderRange},
    {"zqtrack", "zeroqlabel", "Zero Q: ", QSliderRange},
}};

constexpr int TrackLeft = 8;
constexpr int TrackTop = 8;
constexpr int TrackHeight = 45;
constexpr int RightMargin = 4;
constexpr int LabelGap = 8;
// At the window's own width the sliders are TrackWidth wide; the labels keep this width.
constexpr int LabelWidth =
    TForm19::ClientWidth - TrackLeft - TForm19::TrackWidth - LabelGap - RightMargin;
// Below this the sliders cannot be set with any precision.
constexpr int MinTrackWidth = 240;
constexpr int LampWidth = 37;
constexpr int LampHeight = 34;
constexpr int MinResponseHeight = 140;

QLabel* MakeLamp(QWidget* parent, const char* name, bool red)
{
    auto* lamp = new QLabel(parent);
    lamp->setObjectName(name);
    lamp->setGeometry(0, 0, LampWidth, LampHeight);
    lamp->setAttribute(Qt::WA_TranslucentBackground);
    lamp->setPixmap(LampPixmap(red, parent->devicePixelRatioF()));
    return lamp;
}

} // namespace

TForm19::TForm19(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName("Form19");
    setWindowTitle("Filter controls");
    QFont f = font();
    f.setFamilies({"Tahoma", "DejaVu Sans", "Liberation Sans"});
    f.setPointSize(8);
    setFont(f);
    setWindowIcon(AppIcon());

    // The sliders take the width and the response curve the height the window is given; on a
    // screen too small for both the window scrolls.
    auto* scroll = m_scroll = new QScrollArea(this);
    scroll->setObjectName("scrollbox");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    auto* grid = new QGridLayout(content);
    grid->setContentsMargins(TrackLeft, TrackTop, RightMargin, RightMargin);
    grid->setHorizontalSpacing(LabelGap);
    grid->setVerticalSpacing(0);
    grid->setColumnStretch(0, 1);
    for (std::size_t i = 0; i < kTracks.size(); ++i) {
        const TTrackDesc& d = kTracks[i];
        const int row = static_cast<int>(i);
        auto* track = new TTrackBar(content);
        track->setObjectName(d.track);
        track->setRange(d.range.Min, d.range.Max);
        track->setTickInterval(d.range.TickEvery);
        track->setTickPosition(QSlider::TicksBothSides);
        track->setSingleStep(1);
        track->setPageStep(d.range.TickEvery);
        track->setValue(d.range.Initial);
        track->setFixedHeight(TrackHeight);
        track->setMinimumWidth(MinTrackWidth);
        connect(track, &QSlider::valueChanged, this, [this] { gaintrackChange(); });
        grid->addWidget(track, row, 0);
        m_tracks[i] = track;

        auto* label = new QLabel(d.text, content);
        label->setObjectName(d.label);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setFixedWidth(LabelWidth);
        grid->addWidget(label, row, 1);
        m_labels[i] = label;
    }

    // Both lamps show until the first block has been played, the green one on top.
    auto* lampRow = new QHBoxLayout;
    lampRow->setContentsMargins(TrackLeft, 24, 16, 16);
    lampRow->setSpacing(12);
    auto* lampBox = new QWidget(content);
    lampBox->setFixedSize(LampWidth, LampHeight);
    m_redLed = MakeLamp(lampBox, "redledimage", true);
    m_greenLed = MakeLamp(lampBox, "greenledimage", false);
    m_greenLed->raise();
    lampRow->addWidget(lampBox, 0, Qt::AlignVCenter);
    m_overloadText = new QLabel("If the light turns red, the digital signal is overloaded and you "
                                "need to reduce the raw and/or filtered gain",
                                content);
    m_overloadText->setObjectName("Label1");
    m_overloadText->setWordWrap(true);
    lampRow->addWidget(m_overloadText, 1);
    m_lampRow = lampRow;
    grid->addLayout(lampRow, static_cast<int>(kTracks.size()), 0, 1, 2);

    m_responsePlot = new TResponsePlot(content);
    m_responsePlot->setObjectName("responseplot");
    m_responsePlot->setMinimumHeight(MinResponseHeight);
    const int responseRow = static_cast<int>(kTracks.size()) + 1;
    grid->addWidget(m_responsePlot, responseRow, 0, 1, 2);
    grid->setRowStretch(responseRow, 1);

    m_noteNames = new QCheckBox("&Note names", content);
    m_noteNames->setObjectName("notenamesbox");
    auto* noteRow = new QHBoxLayout;
    noteRow->setContentsMargins(TResponsePlot::DbAxisWidth, 2, 0, 0);
    noteRow->addWidget(m_noteNames);
    noteRow->addStretch(1);
    grid->addLayout(noteRow, responseRow + 1, 0, 1, 2);
    connect(m_noteNames, &QCheckBox::toggled, this,
            [this](bool on) { m_responsePlot->SetMusicScale(on); });

    scroll->setWidget(content);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    resize(ClientWidth, ClientHeight);
    // A hidden widget gets its resize events only when shown: the scroll area is told its size
    // now, so that the controls have their places from the start. Its scroll bars come on with
    // the window (showEvent), once it knows what it shows.
    outer->activate();
    QResizeEvent sized(scroll->size(), QSize());
    QCoreApplication::sendEvent(scroll, &sized);
    content->resize(scroll->viewport()->size());
    grid->invalidate();
    grid->activate();
}

void TForm19::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    FitToScreen(*this);
}

void TForm19::SetLabelValues(double rawGain, double filterGain, double poleF0, double poleQ,
                             double zeroF0, double zeroQ)
{
    const double values[6] = {rawGain, filterGain, poleF0, poleQ, zeroF0, zeroQ};
    // The user's decimal separator, as the axes use it; "." where it is not a single character.
    const QString point = locale().decimalPoint();
    const char separator =
        point.size() == 1 && point[0].unicode() < 128 ? point[0].toLatin1() : '.';
    for (std::size_t i = 0; i < kTracks.size(); ++i)
        m_labels[i]->setText(QString::fromLatin1(kTracks[i].text) +
                             QString::fromStdString(ShortNumberText(values[i], separator)));
}

void TForm19::AddBesideLamp(QWidget* widget)
{
    m_lampRow->addWidget(widget, 2);
}

void TForm19::ShowOverload(bool overloaded)
{
    m_redLed->setVisible(overloaded);
    m_greenLed->setVisible(!overloaded);
}

void TForm19::gaintrackChange()
{
    if (OnTrackChange)
        OnTrackChange(*this);
}

} // namespace kavrel
