#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <functional>
#include <utility>

class QPainter;

namespace kavrel {

// A drawing surface whose painting and mouse input belong to its owner. The box keeps what the
// owner drew in an image and paints from it until the owner calls Invalidate (or the size
// changes), so that the play-position line can move over it without the picture being drawn
// again.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent = nullptr);

    // The owner's picture changed: OnPaint draws it afresh at the next paint.
    void Invalidate();

    // Column of the play-position line, -1 when it is hidden. Moving it repaints the two columns
    // from the kept picture only.
    int LineX() const { return m_lineX; }
    void SetLineX(int x);
    // The palette's highlight unless set.
    QColor LineColor() const;
    void SetLineColor(const QColor& color);
    // The box's size in the screen's pixels (its size times the device pixel ratio).
    QSize DeviceSize() const;

    // The picture OnPaint last drew, without the line (for tests and screenshots); it has
    // DeviceSize() pixels and the box's device pixel ratio.
    const QImage& KeptImage() const { return m_image; }
    // How often OnPaint has drawn the picture.
    int RenderCount() const { return m_renderCount; }

    // Draws the whole box; the painter is set up on the kept picture, which is filled with the
    // palette's base colour.
    std::function<void(TPaintBox& sender, QPainter& canvas)> OnPaint;
    // Any button pressed at (x, y) in box pixels.
    std::function<void(TPaintBox& sender, Qt::MouseButton button, int x, int y)> OnMouseDown;
    // The pointer moved to column x with `buttons` held (only while one is).
    std::function<void(TPaintBox& sender, Qt::MouseButtons buttons, int x)> OnMouseMove;
    // A button released at column x.
    std::function<void(TPaintBox& sender, Qt::MouseButton button, int x)> OnMouseUp;
    // The keyboard modifiers held at the last press, move or release.
    Qt::KeyboardModifiers MouseModifiers() const { return m_modifiers; }
    // Columns [first, end) in box pixels drawn shaded over the picture, asked at each paint;
    // none when end <= first. update() shows a change without the picture being drawn again.
    std::function<std::pair<double, double>(const TPaintBox& sender)> ShadeColumns;
    // A double click with any button (after the press it follows, which OnMouseDown has had).
    std::function<void(TPaintBox& sender)> OnDoubleClick;
    // The wheel turned by `steps` notches (positive: away from the user) with the pointer at x.
    std::function<void(TPaintBox& sender, double steps, int x)> OnMouseWheel;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void Render();

    QImage m_image;
    bool m_stale = true;
    int m_renderCount = 0;
    int m_lineX = -1;
    QColor m_lineColor; // invalid: the palette's highlight
    Qt::KeyboardModifiers m_modifiers;
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
