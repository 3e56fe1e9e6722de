#pragma once

#include <QSlider>

namespace kavrel {

// A slider that draws a frame in the palette's highlight around itself while it has the
// keyboard focus, so that the user sees which slider the arrow keys move.
class TTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TTrackBar(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kavrel
