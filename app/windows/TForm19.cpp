#include "app/windows/TForm19.h"

#include "app/core/ControlMapping.h"
#include "app/windows/Pictures.h"
#include "app/windows/ShortNumber.h"
#include "app/windows/TResponsePlot.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QSlider>

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
constexpr int LabelLeft = TrackLeft + TForm19::TrackWidth + 8;
constexpr int LampLeft = 16;
constexpr int LampTop = TrackTop + 6 * TrackHeight + 24;
constexpr int LampWidth = 37;
constexpr int LampHeight = 34;
constexpr int ResponseTop = LampTop + LampHeight + 16;
constexpr int NoteNamesHeight = 22;

QLabel* MakeLamp(QWidget* parent, const char* name, bool red)
{
    auto* lamp = new QLabel(parent);
    lamp->setObjectName(name);
    lamp->setGeometry(LampLeft, LampTop, LampWidth, LampHeight);
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
    resize(ClientWidth, ClientHeight);
    setWindowIcon(AppIcon());

    for (std::size_t i = 0; i < kTracks.size(); ++i) {
        const TTrackDesc& d = kTracks[i];
        const int top = TrackTop + static_cast<int>(i) * TrackHeight;
        auto* track = new QSlider(Qt::Horizontal, this);
        track->setObjectName(d.track);
        track->setRange(d.range.Min, d.range.Max);
        track->setTickInterval(d.range.TickEvery);
        track->setTickPosition(QSlider::TicksBothSides);
        track->setSingleStep(1);
        track->setPageStep(d.range.TickEvery);
        track->setValue(d.range.Initial);
        track->setGeometry(TrackLeft, top, TrackWidth, TrackHeight);
        connect(track, &QSlider::valueChanged, this, [this] { gaintrackChange(); });
        m_tracks[i] = track;

        auto* label = new QLabel(d.text, this);
        label->setObjectName(d.label);
        label->setGeometry(LabelLeft, top, ClientWidth - LabelLeft - 4, TrackHeight);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        m_labels[i] = label;
    }

    // Both lamps show until the first block has been played, the green one on top.
    m_redLed = MakeLamp(this, "redledimage", true);
    m_greenLed = MakeLamp(this, "greenledimage", false);
    m_greenLed->raise();

    m_overloadText = new QLabel("If the light turns red, the digital signal is overloaded and you "
                                "need to reduce the raw and/or filtered gain",
                                this);
    m_overloadText->setObjectName("Label1");
    m_overloadText->setWordWrap(true);
    const int textLeft = LampLeft + LampWidth + 12;
    m_overloadText->setGeometry(textLeft, LampTop - 6, ClientWidth - textLeft - 16,
                                LampHeight + 12);

    m_responsePlot = new TResponsePlot(this);
    m_responsePlot->setObjectName("responseplot");
    m_responsePlot->setGeometry(TrackLeft, ResponseTop, ClientWidth - 2 * TrackLeft,
                                ClientHeight - ResponseTop - NoteNamesHeight - 4);
    m_noteNames = new QCheckBox("Note names", this);
    m_noteNames->setObjectName("notenamesbox");
    m_noteNames->setGeometry(TrackLeft + TResponsePlot::DbAxisWidth,
                             ClientHeight - NoteNamesHeight - 2, 200, NoteNamesHeight);
    connect(m_noteNames, &QCheckBox::toggled, this,
            [this](bool on) { m_responsePlot->SetMusicScale(on); });
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
