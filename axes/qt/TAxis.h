#pragma once

#include "axes/TAxisModel.h"
#include "axes/qt/TAxisLimitForm.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

// The axis control: a widget that owns an axis model, paints it into an image it keeps, moves the
// marker by inverting pixels of that image, turns mouse input into drags, and opens the limits
// dialog on a double click. Every property of the model is available here under the same name.
namespace kavrel {

class TAxis : public QWidget, private TAxisHost {
    Q_OBJECT
public:
    explicit TAxis(QWidget* parent = nullptr, TAxisDefaults defaults = TAxisDefaults::Form);
    ~TAxis() override;

    TAxisModel& Model() { return *m_model; }
    const TAxisModel& Model() const { return *m_model; }
    TAxisLimitForm& LimitForm() { return *m_limitForm; }

    int Width() const { return width(); }
    void SetWidth(int width);
    int Height() const { return height(); }
    void SetHeight(int height);

    bool AllowLoScroll() const { return m_model->AllowLoScroll(); }
    void SetAllowLoScroll(bool allow) { m_model->SetAllowLoScroll(allow); }
    bool AllowHiScroll() const { return m_model->AllowHiScroll(); }
    void SetAllowHiScroll(bool allow) { m_model->SetAllowHiScroll(allow); }
    bool AllowMidScroll() const { return m_model->AllowMidScroll(); }
    void SetAllowMidScroll(bool allow) { m_model->SetAllowMidScroll(allow); }
    bool AllowDoubleClick() const { return m_model->AllowDoubleClick(); }
    void SetAllowDoubleClick(bool allow) { m_model->SetAllowDoubleClick(allow); }

    // The range and its limits; see TAxisModel for the clamping and the events fired.
    double LoValue() const;
    void SetLoValue(double value);
    double HiValue() const;
    void SetHiValue(double value);
    void SetRange(double lo, double hi);
    double MinLoValue() const { return m_model->MinLoValue(); }
    void SetMinLoValue(double value);
    double MaxLoValue() const { return m_model->MaxLoValue(); }
    void SetMaxLoValue(double value);
    double MinHiValue() const { return m_model->MinHiValue(); }
    void SetMinHiValue(double value);
    double MaxHiValue() const { return m_model->MaxHiValue(); }
    void SetMaxHiValue(double value);
    double MinValueDifference() const { return m_model->MinValueDifference(); }
    void SetMinValueDifference(double value);
    double MaxValueDifference() const { return m_model->MaxValueDifference(); }
    void SetMaxValueDifference(double value);

    tposition Position() const { return m_model->Position(); }
    void SetPosition(tposition position);
    // Throws EAxisError when an end is <= 0.
    bool Logarithmic() const { return m_model->Logarithmic(); }
    void SetLogarithmic(bool logarithmic);
    bool MusicScale() const { return m_model->MusicScale(); }
    void SetMusicScale(bool musicScale);
    // Font of the labels and the axis text (copied).
    QFont Font() const { return font(); }
    void SetFont(const QFont& font);
    bool ShowTickmarks() const { return m_model->ShowTickmarks(); }
    void SetShowTickmarks(bool show);
    // The palette's button colour, following palette changes, until set.
    QColor BackgroundColor() const;
    void SetBackgroundColor(const QColor& color);
    int TickMarkSize() const { return m_model->TickMarkSize(); }
    void SetTickMarkSize(int size);
    int TickSpaceAim() const { return m_model->TickSpaceAim(); }
    void SetTickSpaceAim(int pixels);
    QString AxisText() const { return QString::fromStdString(m_model->AxisText()); }
    void SetAxisText(const QString& text);
    bool Reverse() const { return m_model->Reverse(); }
    void SetReverse(bool reverse);
    bool MarkerVisible() const { return m_model->MarkerVisible(); }
    void SetMarkerVisible(bool visible);
    // Moves the marker line without repainting the ticks.
    double MarkerValue() const { return m_model->MarkerValue(); }
    void SetMarkerValue(double value);
    int MarkerPixel() const;
    void SetMarkerPixel(int pixel);
    bool IsInteger() const { return m_model->IsInteger(); }
    void SetIsInteger(bool isInteger);
    bool Autosize() const { return m_model->Autosize(); }
    void SetAutosize(bool autosize);
    // Separator of labels and the dialog's numbers; a new axis takes the system locale's.
    QChar DecimalSeparator() const { return QChar(m_model->DecimalSeparator()); }
    void SetDecimalSeparator(QChar separator);

    // Pixel of a value along the axis, clamped to the axis.
    int ValueToPixel(double value) const;
    int RawValueToPixel(double value) const;
    // Value at a pixel along the axis, clamped to LoValue..HiValue.
    double PixelToValue(int pixel) const;
    int TickCount() const;
    // Throws EAxisError for an index out of range.
    QString TickLabel(int index) const;

    // The image last painted, marker included (for tests and screenshots), in screen pixels:
    // DeviceSize() with the widget's device pixel ratio.
    const QImage& KeptImage() const { return m_image; }
    QSize DeviceSize() const;
    // How often the image was drawn afresh (ticks and labels recomputed).
    int RenderCount() const { return m_renderCount; }

    // The six drag cursors, drawn by the program; registered once for all axes.
    static const QCursor& DragCursor(int number);

    std::function<void(TAxis&)> OnScaleChanging;
    std::function<void(TAxis&)> OnScaleChanged;
    // The axis's own mouse events, called after its own handling; coordinates in pixels.
    std::function<void(TAxis&, TMouseButton, TShiftState, int x, int y)> OnMouseDown;
    std::function<void(TAxis&, TShiftState, int x, int y)> OnMouseMove;
    std::function<void(TAxis&, TMouseButton, TShiftState, int x, int y)> OnMouseUp;
    // An exception escaped the axis's mouse handling (a handler of the events above, or an
    // EAxisError from the limits dialog's values). Unassigned, a message box shows the message.
    std::function<void(TAxis&, const std::string& message)> OnError;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

public:
    void setVisible(bool visible) override;

private:
    int TextWidth(const std::string& text) override;
    int TextHeight(const std::string& text) override;
    void Invalidate() override;
    void InvertLine(int x0, int y0, int x1, int y1) override;
    void Resized(int width, int height) override;

    void SyncSize() const;
    void RenderImage();
    void ApplyCursor();
    void ReportError(const std::string& message);

    std::unique_ptr<TAxisModel> m_model;
    std::unique_ptr<TAxisLimitForm> m_limitForm;
    QImage m_image;
    bool m_imageStale = true;
    bool m_backgroundFromPalette = true;
    int m_renderCount = 0;
};

} // namespace kavrel
