#pragma once

#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QScrollArea;
class QSlider;

namespace kavrel {

class TResponsePlot;

// The "Filter controls" window: six sliders for the raw gain, the filtered gain and the pole's
// and zero's centre frequency and Q, a value label beside each, and the overload lamp. It holds
// no values of its own: the main window reads the sliders and writes the labels. Escape closes
// it; on a small screen it scrolls.
class TForm19 : public QWidget {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 661;
    // The sliders and the lamp take the top 375 pixels, the response plot the rest.
    static constexpr int ClientHeight = 375 + 250;
    static constexpr int TrackWidth = 509;

    explicit TForm19(QWidget* parent = nullptr);

    QSlider* rawgaintrack() const { return m_tracks[0]; }
    QSlider* gaintrack() const { return m_tracks[1]; }
    QSlider* pf0track() const { return m_tracks[2]; }
    QSlider* pqtrack() const { return m_tracks[3]; }
    QSlider* zf0track() const { return m_tracks[4]; }
    QSlider* zqtrack() const { return m_tracks[5]; }

    QLabel* rawgainlabel() const { return m_labels[0]; }
    QLabel* gainlabel() const { return m_labels[1]; }
    QLabel* polef0label() const { return m_labels[2]; }
    QLabel* poleqlabel() const { return m_labels[3]; }
    QLabel* zerof0label() const { return m_labels[4]; }
    QLabel* zeroqlabel() const { return m_labels[5]; }

    QLabel* redledimage() const { return m_redLed; }
    QLabel* greenledimage() const { return m_greenLed; }
    QLabel* OverloadText() const { return m_overloadText; }
    // The filter's magnitude response below the sliders, and the choice of note names on its
    // frequency axis.
    TResponsePlot* ResponsePlot() const { return m_responsePlot; }
    QCheckBox* notenamesbox() const { return m_noteNames; }

    // Writes the six labels: raw gain and filter gain factors, pole f0 in Hz, pole Q, zero f0
    // in Hz, zero Q, each in the short number format.
    void SetLabelValues(double rawGain, double filterGain, double poleF0, double poleQ,
                        double zeroF0, double zeroQ);

    // Places widget (the level meters) in the lamp's row, beside the text.
    void AddBesideLamp(QWidget* widget);

    // Shows the red lamp and hides the green one, or the other way round.
    void ShowOverload(bool overloaded);

    // Fired by every slider change (gaintrackChange), also by programmatic ones.
    std::function<void(TForm19& sender)> OnTrackChange;

protected:
    // Fits the window into the screen's available area.
    void showEvent(QShowEvent* event) override;

private:
    void gaintrackChange();

    std::array<QSlider*, 6> m_tracks{};
    std::array<QLabel*, 6> m_labels{};
    QLabel* m_redLed = nullptr;
    QLabel* m_greenLed = nullptr;
    QLabel* m_overloadText = nullptr;
    QHBoxLayout* m_lampRow = nullptr;
    TResponsePlot* m_responsePlot = nullptr;
    QCheckBox* m_noteNames = nullptr;
    QScrollArea* m_scroll = nullptr;
};

} // namespace kavrel
