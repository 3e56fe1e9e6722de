#pragma once

#include "axes/TAxisCanvas.h"
#include "axes/TAxisHost.h"
#include "axes/TAxisLimitDialog.h"

#include <functional>
#include <string>
#include <vector>

// The axis without a window system: the visible range under its limits, the value <-> pixel
// mapping, the tick layout (linear, logarithmic, musical notes), painting onto an abstract canvas
// and the mouse drag that scrolls and zooms the range. A widget owns one, feeds it its size and
// mouse input, and paints what it draws.
namespace kavrel {

// Where the axis stands beside its plot.
enum class tposition { posleft, posright, posover, posunder };

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// Keys and buttons held during a mouse event, as a bit set.
using TShiftState = unsigned;
inline constexpr TShiftState ssShift = 1;
inline constexpr TShiftState ssAlt = 2;
inline constexpr TShiftState ssCtrl = 4;
inline constexpr TShiftState ssLeft = 8;
inline constexpr TShiftState ssRight = 16;
inline constexpr TShiftState ssMiddle = 32;
inline constexpr TShiftState ssDouble = 64;

// Cursor numbers of the drag regions; 0 is the default cursor.
inline constexpr int crDefault = 0;
inline constexpr int crVUpper = 1201;
inline constexpr int crVLower = 1202;
inline constexpr int crVMiddle = 1203;
inline constexpr int crHUpper = 1204;
inline constexpr int crHLower = 1205;
inline constexpr int crHMiddle = 1206;

// Starting limits of a new axis. Form: what a window's description of an axis starts from
// (low/high bounds -1e300..1e300, difference 0..1e300, both ends draggable). Bare: all six
// limits 0 and no dragging, so the range reads 0..0 until the limits are set.
enum class TAxisDefaults { Form, Bare };

struct TAxisTick {
    double Value = 0;
    int Pixel = 0;     // along the axis, as the painting uses it
    std::string Label; // empty when thinned out
};

class TAxisModel {
public:
    explicit TAxisModel(TAxisDefaults defaults = TAxisDefaults::Form);
    TAxisModel(const TAxisModel&) = delete;
    TAxisModel& operator=(const TAxisModel&) = delete;

    // The window that shows the axis; nullptr measures every text as 0 x 0 and draws nothing.
    void SetHost(TAxisHost* host);
    // The dialog a double click opens; not owned. Without one a double click only fires events.
    void SetLimitDialog(TAxisLimitDialog* dialog);

    // Size in pixels (200 x 200 for a new axis). The setters report the new size to the host.
    int Width() const { return m_width; }
    void SetWidth(int width);
    int Height() const { return m_height; }
    void SetHeight(int height);
    // The host's layout resized the control: no Resized call back.
    void SetSize(int width, int height);
    // Height for posleft/posright, Width for posover/posunder.
    int AxisLength() const;
    bool IsVertical() const;

    bool AllowLoScroll() const { return m_allowLoScroll; }
    void SetAllowLoScroll(bool allow) { m_allowLoScroll = allow; }
    bool AllowHiScroll() const { return m_allowHiScroll; }
    void SetAllowHiScroll(bool allow) { m_allowHiScroll = allow; }
    bool AllowMidScroll() const { return m_allowMidScroll; }
    void SetAllowMidScroll(bool allow) { m_allowMidScroll = allow; }
    bool AllowDoubleClick() const { return m_allowDoubleClick; }
    void SetAllowDoubleClick(bool allow) { m_allowDoubleClick = allow; }

    // Low end of the visible range: the stored value rounded (IsInteger) and clamped to
    // MinLoValue..MaxLoValue. The setter fires OnScaleChanged when the value changed; it throws
    // EAxisError for a value <= 0 on a logarithmic axis (the value stays stored).
    double LoValue() const;
    void SetLoValue(double value);
    // High end: the stored value rounded (IsInteger), clamped to MinHiValue..MaxHiValue and then
    // to the stored low value plus MinValueDifference..MaxValueDifference.
    double HiValue() const;
    void SetHiValue(double value);
    // Both ends, without events in between; one OnScaleChanged when either end changed.
    void SetRange(double lo, double hi);
    // The setters without event (the drag and SetRange use them); same errors.
    void SetLoValueNoEvent(double value);
    void SetHiValueNoEvent(double value);
    // The values as set, before rounding and clamping.
    double StoredLoValue() const { return m_storedLo; }
    double StoredHiValue() const { return m_storedHi; }

    // Limits. Setting one pulls the range inside it through the public setters (may fire).
    double MinLoValue() const { return m_minLo; }
    void SetMinLoValue(double value);
    double MaxLoValue() const { return m_maxLo; }
    void SetMaxLoValue(double value);
    double MinHiValue() const { return m_minHi; }
    void SetMinHiValue(double value);
    double MaxHiValue() const { return m_maxHi; }
    void SetMaxHiValue(double value);
    double MinValueDifference() const { return m_minDiff; }
    void SetMinValueDifference(double value);
    double MaxValueDifference() const { return m_maxDiff; }
    void SetMaxValueDifference(double value);

    // Ignored while an event of this axis runs.
    tposition Position() const { return m_position; }
    void SetPosition(tposition position);
    // Throws EAxisError (and stays linear) when a stored end is <= 0.
    bool Logarithmic() const { return m_logarithmic; }
    void SetLogarithmic(bool logarithmic);
    // On a logarithmic axis: ticks on the natural notes, labelled with note names.
    bool MusicScale() const { return m_musicScale; }
    void SetMusicScale(bool musicScale);
    bool ShowTickmarks() const { return m_showTickmarks; }
    void SetShowTickmarks(bool show);
    TColor BackgroundColor() const { return m_backgroundColor; }
    void SetBackgroundColor(TColor color);
    // Length of a tick mark in pixels.
    int TickMarkSize() const { return m_tickMarkSize; }
    void SetTickMarkSize(int size);
    // Wanted spacing of linear ticks in pixels.
    int TickSpaceAim() const { return m_tickSpaceAim; }
    void SetTickSpaceAim(int pixels);
    // Unit text at the axis's start corner, e.g. "[s]"; also retitles the limits dialog.
    const std::string& AxisText() const { return m_axisText; }
    void SetAxisText(const std::string& text);
    bool Reverse() const { return m_reverse; }
    void SetReverse(bool reverse);
    bool MarkerVisible() const { return m_markerVisible; }
    void SetMarkerVisible(bool visible);
    // The marker line moves by inversion, without a repaint. Ignored while an event of this axis
    // runs or while the axis is not visible.
    double MarkerValue() const { return m_markerValue; }
    void SetMarkerValue(double value);
    // ValueToPixel(MarkerValue); the setter sets MarkerValue = PixelToValue(pixel).
    int MarkerPixel() const;
    void SetMarkerPixel(int pixel);
    // LoValue and HiValue read as whole numbers (halves to even).
    bool IsInteger() const { return m_isInteger; }
    void SetIsInteger(bool isInteger);
    // Fit the strip's thickness to the font: width of "12345" plus a tick mark (vertical), or
    // 4/3 of the height of "Aj" plus a tick mark (horizontal).
    bool Autosize() const { return m_autosize; }
    void SetAutosize(bool autosize);
    // The host's font changed: apply Autosize again and repaint.
    void FontChanged();
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled) { m_enabled = enabled; }
    bool Visible() const { return m_visible; }
    void SetVisible(bool visible);
    // Separator of tick labels, error texts and the dialog's numbers (the user's locale).
    char DecimalSeparator() const { return m_decimalSeparator; }
    void SetDecimalSeparator(char separator);

    // Pixel of a value along the axis, clamped to 0..AxisLength()-1.
    int ValueToPixel(double value) const;
    // The same without the clamp; 0 when the arithmetic fails.
    int RawValueToPixel(double value) const;
    // Value at a pixel along the axis, clamped to LoValue..HiValue; 0 when it cannot be computed.
    double PixelToValue(int pixel) const;

    // The tick table, recomputed first when stale.
    int TickCount() const;
    // Throws EAxisError "Tickmark index out of range:<i>" for i outside 0..TickCount()-1.
    std::string TickLabel(int index) const;
    const std::vector<TAxisTick>& Ticks() const;

    // Draws the whole axis (background, ticks, labels, axis text, marker) on the canvas, which
    // must show what is drawn to the host's InvertLine afterwards.
    void Paint(TAxisCanvas& canvas);
    // True while the marker line is on the screen (drawn by inversion).
    bool MarkerDrawn() const { return m_markerDrawn; }

    // True while an OnScaleChanging or OnScaleChanged handler of this axis runs.
    bool InEvent() const { return m_inEvent; }

    // Mouse input in control pixels. Each move sets Cursor() to the region's cursor while no
    // drag runs; a move with ssLeft during a drag changes the range.
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void MouseMove(TShiftState shift, int x, int y);
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    // Opens the limits dialog (when AllowDoubleClick). Typed ends in the wrong order are swapped;
    // a pair that the limits would squeeze to an empty range leaves the range as it was.
    void DoubleClick();
    // True while the range holds more than a point: LoValue() < HiValue() by more than rounding.
    // Drags never leave it false.
    bool RangeUsable() const;
    // 0 none, 1 low end, 2 middle, 3 high end.
    int DragMode() const { return m_dragMode; }
    // Coordinate along the axis at the press, clamped to 11..length-11.
    int PressCoordinate() const { return m_pressCoordinate; }
    // crDefault or one of crVUpper..crHMiddle.
    int Cursor() const { return m_cursor; }
    // Cursor of the region at coordinate c along the axis, by the scroll permissions.
    int CursorAt(int c) const;

    // Fired (with the guard set) while the range is dragged.
    std::function<void(TAxisModel&)> OnScaleChanging;
    // Fired (with the guard set) when a change of the range is complete.
    std::function<void(TAxisModel&)> OnScaleChanged;

private:
    void FireScaleChanging();
    void FireScaleChanged();
    void Fire(const std::function<void(TAxisModel&)>& event);
    void SetEndNoEvent(double value, bool low);
    void PullInside(double oldLo, double oldHi, bool low, double value);
    void KeepMarkerInRange();
    void MarkStale() { m_stale = true; }
    void Invalidate();
    void ApplyAutosize();
    void InvertMarker();
    void MarkerLine(int pixel, int& x0, int& y0, int& x1, int& y1) const;
    void RecomputeTicks() const;
    void LinearLayout() const;
    // The linear tick table for the step d.
    void LinearTicks(double lo, double hi, double d) const;
    // Whether Paint draws the tick's label, and the pixels along the axis it then covers.
    bool LabelDrawn(const TAxisTick& tick, int& from, int& to) const;
    // Two labels that Paint draws would touch or overlap.
    bool LabelsCrowded() const;
    void LogarithmicLayout() const;
    void ThinLabels() const;
    std::string NumberLabel(double value) const;
    int MeasureWidth(const std::string& text) const;
    int MeasureHeight(const std::string& text) const;
    int ChooseMode(int c) const;
    void DragTo(int c);
    void RestoreStored(double storedLo, double storedHi);
    void ApplyTypedRange(double lo, double hi);

    TAxisHost* m_host = nullptr;
    TAxisLimitDialog* m_dialog = nullptr;

    int m_width = 200;
    int m_height = 200;
    bool m_allowLoScroll = false;
    bool m_allowHiScroll = false;
    bool m_allowMidScroll = false;
    bool m_allowDoubleClick = false;
    double m_storedLo = 0;
    double m_storedHi = 0;
    double m_minLo = 0;
    double m_maxLo = 0;
    double m_minHi = 0;
    double m_maxHi = 0;
    double m_minDiff = 0;
    double m_maxDiff = 0;
    tposition m_position = tposition::posleft;
    bool m_logarithmic = false;
    bool m_musicScale = false;
    bool m_showTickmarks = false;
    TColor m_backgroundColor = 0xF0F0F0;
    int m_tickMarkSize = 5;
    int m_tickSpaceAim = 40;
    std::string m_axisText;
    bool m_reverse = false;
    bool m_markerVisible = false;
    double m_markerValue = 0;
    bool m_isInteger = false;
    bool m_autosize = false;
    bool m_enabled = true;
    bool m_visible = true;
    char m_decimalSeparator = '.';

    mutable std::vector<TAxisTick> m_ticks;
    mutable std::vector<bool> m_occupied;
    mutable bool m_stale = true;
    bool m_markerDrawn = false;
    bool m_inEvent = false;

    int m_dragMode = 0;
    int m_pressCoordinate = 0;
    double m_lo0 = 0;
    double m_hi0 = 0;
    int m_cursor = crDefault;
};

} // namespace kavrel
