#pragma once

#include <QWidget>

#include <functional>

class QPainter;

namespace kavrel {

// A plain drawing surface whose painting and mouse input belong to its owner.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent = nullptr);

    // Paints the whole box; the painter is set up on the box.
    std::function<void(TPaintBox& sender, QPainter& canvas)> OnPaint;
    // Any button pressed at (x, y) in box pixels.
    std::function<void(TPaintBox& sender, Qt::MouseButton button, int x, int y)> OnMouseDown;
    // The wheel turned by `steps` notches (positive: away from the user) with the pointer at x.
    std::function<void(TPaintBox& sender, double steps, int x)> OnMouseWheel;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

// A container that tells its owner when its size changed.
class TPanel : public QWidget {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);

    std::function<void(TPanel& sender)> OnResize;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace kavrel
