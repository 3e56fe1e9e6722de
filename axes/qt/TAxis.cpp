#include "axes/qt/TAxis.h"

#include "axes/EAxisError.h"

#include <QApplication>
#include <QCursor>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <exception>
#include <map>

namespace kavrel {

namespace {

// Pixels of a line from (x0, y0) towards (x1, y1), end point left out, as a rectangle; the axis
// only draws horizontal and vertical lines.
QRect LineRect(int x0, int y0, int x1, int y1)
{
    if (y0 == y1 && x0 != x1) {
        return x1 > x0 ? QRect(x0, y0, x1 - x0, 1) : QRect(x1 + 1, y0, x0 - x1, 1);
    }
    if (x0 == x1 && y0 != y1) {
        return y1 > y0 ? QRect(x0, y0, 1, y1 - y0) : QRect(x0, y1 + 1, 1, y0 - y1);
    }
    return {};
}

// The rectangle of a line as the screen shows it: one screen pixel thick across the line, for a
// painter whose scale is the device pixel ratio.
QRectF ThinRect(const QRect& line, qreal ratio)
{
    const qreal thin = 1.0 / ratio;
    return line.height() == 1 ? QRectF(line.x(), line.y(), line.width(), thin)
                              : QRectF(line.x(), line.y(), thin, line.height());
}

// Inverts the image's pixels under a line, one screen pixel thick, in place: the play marker
// moves this way many times a second, and a painter begun on the image for a few pixels costs
// more than the pixels.
void InvertRect(QImage& image, const QRect& rect)
{
    const QRect area =
        rect.intersected(QRect(QPoint(0, 0), image.deviceIndependentSize().toSize()));
    if (area.isEmpty() || image.format() != QImage::Format_RGB32) {
        return;
    }
    const qreal ratio = image.devicePixelRatio();
    const int left = qRound(area.x() * ratio);
    const int top = qRound(area.y() * ratio);
    const int right = area.height() == 1 ? qRound((area.x() + area.width()) * ratio) : left + 1;
    const int bottom = area.height() == 1 ? top + 1 : qRound((area.y() + area.height()) * ratio);
    const QRect pixels = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1))
                             .intersected(QRect(QPoint(0, 0), image.size()));
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            row[x] ^= 0x00FFFFFFu;
        }
    }
}

// Paints the model onto the kept image, in the image's logical pixels; lines are one screen
// pixel thick, text takes the palette's colour for text on buttons.
class TImageCanvas : public TAxisCanvas {
public:
    TImageCanvas(QImage& image, const QFont& font, const QColor& ink)
        : m_bounds(QPoint(0, 0), image.deviceIndependentSize().toSize()),
          m_ratio(image.devicePixelRatio()), m_ink(ink), m_painter(&image),
          m_ascent(QFontMetrics(font).ascent())
    {
        m_painter.setFont(font);
        m_painter.setPen(ink);
    }

    void FillRect(int x, int y, int width, int height, TColor color) override
    {
        m_painter.fillRect(QRect(x, y, width, height), QColor::fromRgb(color));
    }

    void DrawText(int x, int y, const std::string& text) override
    {
        if (y > m_bounds.height() || y < -1000 || x > m_bounds.width() || x < -100000) {
            return;
        }
        m_painter.drawText(QPoint(x, y + m_ascent), QString::fromStdString(text));
    }

    void Line(int x0, int y0, int x1, int y1) override
    {
        const QRect rect = LineRect(x0, y0, x1, y1).intersected(m_bounds);
        if (!rect.isEmpty()) {
            m_painter.fillRect(ThinRect(rect, m_ratio), m_ink);
        }
    }

    void InvertLine(int x0, int y0, int x1, int y1) override
    {
        const QRect rect = LineRect(x0, y0, x1, y1).intersected(m_bounds);
        if (rect.isEmpty()) {
            return;
        }
        m_painter.save();
        m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        m_painter.fillRect(ThinRect(rect, m_ratio), Qt::white);
        m_painter.restore();
    }

private:
    QRect m_bounds;
    qreal m_ratio;
    QColor m_ink;
    QPainter m_painter;
    int m_ascent;
};

// A 32 x 32 cursor: a vertical arrow (pointing up, down or both ways) with a bar at the end it
// points to for the ends of an axis; turned a quarter for horizontal axes.
QCursor MakeCursor(bool up, bool down, bool horizontal)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (horizontal) {
        // Up becomes right, down becomes left.
        painter.translate(32, 0);
        painter.rotate(90);
    }
    QPainterPath path;
    path.addRect(14, 9, 4, 14);
    if (up) {
        path.addPolygon(QPolygonF({QPointF(16, 2), QPointF(23, 10), QPointF(9, 10)}));
    }
    if (down) {
        path.addPolygon(QPolygonF({QPointF(16, 30), QPointF(23, 22), QPointF(9, 22)}));
    }
    if (up != down) {
        path.addRect(9, up ? 0 : 30, 15, 2);
    }
    path.setFillRule(Qt::WindingFill);
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(Qt::black);
    painter.drawPath(path.simplified());
    painter.end();
    return QCursor(pixmap, 16, 16);
}

const std::map<int, QCursor>& Cursors()
{
    // Made on first use, after the application object exists, and kept for all axes.
    static const std::map<int, QCursor> cursors = {
        {crVUpper, MakeCursor(true, false, false)}, {crVLower, MakeCursor(false, true, false)},
        {crVMiddle, MakeCursor(true, true, false)}, {crHUpper, MakeCursor(true, false, true)},
        {crHLower, MakeCursor(false, true, true)},  {crHMiddle, MakeCursor(true, true, true)},
    };
    return cursors;
}

TMouseButton ButtonOf(Qt::MouseButton button)
{
    switch (button) {
    case Qt::RightButton:
        return TMouseButton::mbRight;
    case Qt::MiddleButton:
        return TMouseButton::mbMiddle;
    default:
        return TMouseButton::mbLeft;
    }
}

TShiftState ShiftOf(const QMouseEvent* event)
{
    TShiftState shift = 0;
    const auto modifiers = event->modifiers();
    const auto buttons = event->buttons();
    if (modifiers & Qt::ShiftModifier) {
        shift |= ssShift;
    }
    if (modifiers & Qt::AltModifier) {
        shift |= ssAlt;
    }
    if (modifiers & Qt::ControlModifier) {
        shift |= ssCtrl;
    }
    if (buttons & Qt::LeftButton) {
        shift |= ssLeft;
    }
    if (buttons & Qt::RightButton) {
        shift |= ssRight;
    }
    if (buttons & Qt::MiddleButton) {
        shift |= ssMiddle;
    }
    return shift;
}

char LocaleSeparator()
{
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 128) {
        return static_cast<char>(point[0].unicode());
    }
    return '.';
}

} // namespace

TAxis::TAxis(QWidget* parent, TAxisDefaults defaults)
    : QWidget(parent), m_model(std::make_unique<TAxisModel>(defaults)),
      m_limitForm(std::make_unique<TAxisLimitForm>())
{
    Cursors();
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(200, 200);
    m_model->SetSize(200, 200);
    m_model->SetBackgroundColor(palette().color(QPalette::Button).rgb() & 0xFFFFFFu);
    const char separator = LocaleSeparator();
    m_model->SetDecimalSeparator(separator);
    m_limitForm->SetDecimalSeparator(separator);
    m_model->SetHost(this);
    m_model->SetLimitDialog(m_limitForm.get());
    m_model->OnScaleChanged = [this](TAxisModel&) {
        if (OnScaleChanged) {
            OnScaleChanged(*this);
        }
    };
    m_model->OnScaleChanging = [this](TAxisModel&) {
        if (OnScaleChanging) {
            OnScaleChanging(*this);
        }
    };
}

TAxis::~TAxis()
{
    m_model->SetHost(nullptr);
    m_model->SetLimitDialog(nullptr);
}

const QCursor& TAxis::DragCursor(int number)
{
    const auto& cursors = Cursors();
    const auto found = cursors.find(number);
    static const QCursor arrow(Qt::ArrowCursor);
    return found != cursors.end() ? found->second : arrow;
}

// ---- size -----------------------------------------------------------------------------------

void TAxis::SyncSize() const
{
    m_model->SetSize(width(), height());
}

void TAxis::SetWidth(int width)
{
    SyncSize();
    m_model->SetWidth(width);
}

void TAxis::SetHeight(int height)
{
    SyncSize();
    m_model->SetHeight(height);
}

void TAxis::Resized(int width, int height)
{
    resize(width, height);
}

void TAxis::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    SyncSize();
}

// ---- forwarding -----------------------------------------------------------------------------

double TAxis::LoValue() const
{
    return m_model->LoValue();
}

void TAxis::SetLoValue(double value)
{
    SyncSize();
    m_model->SetLoValue(value);
}

double TAxis::HiValue() const
{
    return m_model->HiValue();
}

void TAxis::SetHiValue(double value)
{
    SyncSize();
    m_model->SetHiValue(value);
}

void TAxis::SetRange(double lo, double hi)
{
    SyncSize();
    m_model->SetRange(lo, hi);
}

void TAxis::SetMinLoValue(double value)
{
    m_model->SetMinLoValue(value);
}

void TAxis::SetMaxLoValue(double value)
{
    m_model->SetMaxLoValue(value);
}

void TAxis::SetMinHiValue(double value)
{
    m_model->SetMinHiValue(value);
}

void TAxis::SetMaxHiValue(double value)
{
    m_model->SetMaxHiValue(value);
}

void TAxis::SetMinValueDifference(double value)
{
    m_model->SetMinValueDifference(value);
}

void TAxis::SetMaxValueDifference(double value)
{
    m_model->SetMaxValueDifference(value);
}

void TAxis::SetPosition(tposition position)
{
    m_model->SetPosition(position);
}

void TAxis::SetLogarithmic(bool logarithmic)
{
    m_model->SetLogarithmic(logarithmic);
}

void TAxis::SetMusicScale(bool musicScale)
{
    m_model->SetMusicScale(musicScale);
}

void TAxis::SetFont(const QFont& font)
{
    setFont(font);
}

void TAxis::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        SyncSize();
        m_model->FontChanged();
    }
    if (event->type() == QEvent::PaletteChange) {
        if (m_backgroundFromPalette) {
            m_model->SetBackgroundColor(palette().color(QPalette::Button).rgb() & 0xFFFFFFu);
        }
        Invalidate();
    }
}

void TAxis::SetShowTickmarks(bool show)
{
    m_model->SetShowTickmarks(show);
}

QColor TAxis::BackgroundColor() const
{
    return QColor::fromRgb(m_model->BackgroundColor());
}

void TAxis::SetBackgroundColor(const QColor& color)
{
    m_backgroundFromPalette = false;
    m_model->SetBackgroundColor(color.rgb() & 0xFFFFFFu);
}

void TAxis::SetTickMarkSize(int size)
{
    m_model->SetTickMarkSize(size);
}

void TAxis::SetTickSpaceAim(int pixels)
{
    m_model->SetTickSpaceAim(pixels);
}

void TAxis::SetAxisText(const QString& text)
{
    m_model->SetAxisText(text.toStdString());
}

void TAxis::SetReverse(bool reverse)
{
    m_model->SetReverse(reverse);
}

void TAxis::SetMarkerVisible(bool visible)
{
    m_model->SetMarkerVisible(visible);
}

void TAxis::SetMarkerValue(double value)
{
    SyncSize();
    m_model->SetMarkerValue(value);
}

int TAxis::MarkerPixel() const
{
    SyncSize();
    return m_model->MarkerPixel();
}

void TAxis::SetMarkerPixel(int pixel)
{
    SyncSize();
    m_model->SetMarkerPixel(pixel);
}

void TAxis::SetIsInteger(bool isInteger)
{
    m_model->SetIsInteger(isInteger);
}

void TAxis::SetAutosize(bool autosize)
{
    SyncSize();
    m_model->SetAutosize(autosize);
}

void TAxis::SetDecimalSeparator(QChar separator)
{
    const char c = separator.unicode() < 128 ? static_cast<char>(separator.unicode()) : '.';
    m_model->SetDecimalSeparator(c);
    m_limitForm->SetDecimalSeparator(c);
}

int TAxis::ValueToPixel(double value) const
{
    SyncSize();
    return m_model->ValueToPixel(value);
}

int TAxis::RawValueToPixel(double value) const
{
    SyncSize();
    return m_model->RawValueToPixel(value);
}

double TAxis::PixelToValue(int pixel) const
{
    SyncSize();
    return m_model->PixelToValue(pixel);
}

int TAxis::TickCount() const
{
    SyncSize();
    return m_model->TickCount();
}

QString TAxis::TickLabel(int index) const
{
    SyncSize();
    return QString::fromStdString(m_model->TickLabel(index));
}

void TAxis::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    m_model->SetVisible(visible);
}

// ---- host -----------------------------------------------------------------------------------

int TAxis::TextWidth(const std::string& text)
{
    return QFontMetrics(font()).horizontalAdvance(QString::fromStdString(text));
}

int TAxis::TextHeight(const std::string& text)
{
    return text.empty() ? 0 : QFontMetrics(font()).height();
}

void TAxis::Invalidate()
{
    m_imageStale = true;
    update();
}

void TAxis::InvertLine(int x0, int y0, int x1, int y1)
{
    const QRect line = LineRect(x0, y0, x1, y1);
    if (!m_image.isNull()) {
        InvertRect(m_image, line);
    }
    // Only the line's pixels change: the rest of the strip is not painted again.
    update(line);
}

// ---- painting -------------------------------------------------------------------------------

void TAxis::RenderImage()
{
    m_imageStale = false;
    ++m_renderCount;
    const qreal ratio = devicePixelRatioF();
    m_image = QImage(DeviceSize(), QImage::Format_RGB32);
    m_image.setDevicePixelRatio(ratio);
    TImageCanvas canvas(m_image, font(), palette().color(QPalette::ButtonText));
    m_model->Paint(canvas);
}

QSize TAxis::DeviceSize() const
{
    const qreal ratio = devicePixelRatioF();
    return {std::max(qRound(width() * ratio), 1), std::max(qRound(height() * ratio), 1)};
}

void TAxis::paintEvent(QPaintEvent*)
{
    SyncSize();
    if (m_imageStale || m_image.size() != DeviceSize()) {
        RenderImage();
    }
    QPainter painter(this);
    painter.drawImage(0, 0, m_image);
}

// ---- mouse ----------------------------------------------------------------------------------

void TAxis::ApplyCursor()
{
    const int number = m_model->Cursor();
    if (number == crDefault) {
        unsetCursor();
    } else {
        setCursor(DragCursor(number));
    }
}

void TAxis::ReportError(const std::string& message)
{
    if (OnError) {
        OnError(*this, message);
        return;
    }
    QMessageBox::warning(window(), QApplication::applicationName(),
                         QString::fromStdString(message));
}

// Qt must not see exceptions leave an event handler: what a handler or the dialog's values raise
// is shown to the user here, as the application would show it.
void TAxis::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const TMouseButton button = ButtonOf(event->button());
    const TShiftState shift = ShiftOf(event);
    try {
        SyncSize();
        m_model->MouseDown(button, shift, at.x(), at.y());
        if (OnMouseDown) {
            OnMouseDown(*this, button, shift, at.x(), at.y());
        }
    } catch (const std::exception& error) {
        ReportError(error.what());
    }
}

void TAxis::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const TShiftState shift = ShiftOf(event);
    try {
        SyncSize();
        m_model->MouseMove(shift, at.x(), at.y());
        ApplyCursor();
        if (OnMouseMove) {
            OnMouseMove(*this, shift, at.x(), at.y());
        }
    } catch (const std::exception& error) {
        ApplyCursor();
        ReportError(error.what());
    }
}

void TAxis::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const TMouseButton button = ButtonOf(event->button());
    const TShiftState shift = ShiftOf(event);
    try {
        SyncSize();
        m_model->MouseUp(button, shift, at.x(), at.y());
        if (OnMouseUp) {
            OnMouseUp(*this, button, shift, at.x(), at.y());
        }
    } catch (const std::exception& error) {
        ReportError(error.what());
    }
}

void TAxis::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!m_model->AllowDoubleClick()) {
        mousePressEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    const TMouseButton button = ButtonOf(event->button());
    const TShiftState shift = ShiftOf(event) | ssDouble;
    try {
        SyncSize();
        m_model->DoubleClick();
        if (OnMouseDown) {
            OnMouseDown(*this, button, shift, at.x(), at.y());
        }
    } catch (const std::exception& error) {
        ReportError(error.what());
    }
}

} // namespace kavrel
