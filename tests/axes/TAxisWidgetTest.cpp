#include "axes/qt/TAxis.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace kavrel {
namespace {

class AxisWidgetTest : public ::testing::Test {
protected:
    // Shows the axis and waits until it can take input.
    void Show(TAxis& axis)
    {
        axis.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&axis));
    }

    static void MoveWithLeft(TAxis& axis, QPoint to)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(to), axis.mapToGlobal(QPointF(to)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&axis, &move);
    }

    static void Hover(TAxis& axis, QPoint to)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(to), axis.mapToGlobal(QPointF(to)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&axis, &move);
    }
};

TEST_F(AxisWidgetTest, DragOnAVerticalAxisFollowsTheFormula)
{
    TAxis axis;
    axis.SetPosition(tposition::posleft);
    axis.resize(43, 99);
    axis.SetRange(-1, 1);
    int changing = 0, changed = 0;
    axis.OnScaleChanging = [&](TAxis& sender) {
        EXPECT_EQ(&sender, &axis);
        ++changing;
    };
    axis.OnScaleChanged = [&](TAxis&) { ++changed; };
    Show(axis);
    QTest::mousePress(&axis, Qt::LeftButton, {}, QPoint(20, 80));
    MoveWithLeft(axis, QPoint(20, 40));
    EXPECT_DOUBLE_EQ(axis.LoValue(), -3);
    EXPECT_DOUBLE_EQ(axis.HiValue(), 1);
    EXPECT_EQ(changing, 1);
    QTest::mouseRelease(&axis, Qt::LeftButton, {}, QPoint(20, 40));
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(axis.PixelToValue(98), -3);
}

TEST_F(AxisWidgetTest, DragOnAHorizontalAxisFollowsTheFormula)
{
    TAxis axis;
    axis.SetPosition(tposition::posunder);
    axis.resize(200, 24);
    axis.SetRange(0, 10);
    Show(axis);
    QTest::mousePress(&axis, Qt::LeftButton, {}, QPoint(150, 12));
    MoveWithLeft(axis, QPoint(100, 12));
    QTest::mouseRelease(&axis, Qt::LeftButton, {}, QPoint(100, 12));
    EXPECT_DOUBLE_EQ(axis.LoValue(), 0);
    EXPECT_DOUBLE_EQ(axis.HiValue(), 15);
    EXPECT_EQ(axis.ValueToPixel(15), 199);
}

TEST_F(AxisWidgetTest, CursorShowsTheRegion)
{
    TAxis axis;
    axis.SetPosition(tposition::posleft);
    axis.resize(43, 90);
    axis.SetAllowMidScroll(true);
    Show(axis);
    Hover(axis, QPoint(20, 10));
    EXPECT_EQ(axis.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(axis.cursor().pixmap().cacheKey(), TAxis::DragCursor(crVUpper).pixmap().cacheKey());
    Hover(axis, QPoint(20, 45));
    EXPECT_EQ(axis.cursor().pixmap().cacheKey(), TAxis::DragCursor(crVMiddle).pixmap().cacheKey());
    axis.SetAllowLoScroll(false);
    axis.SetAllowHiScroll(false);
    Hover(axis, QPoint(20, 10));
    EXPECT_EQ(axis.Model().Cursor(), crDefault);
    EXPECT_EQ(axis.cursor().shape(), Qt::ArrowCursor) << "default cursor";
}

TEST_F(AxisWidgetTest, SixDistinctCursors)
{
    QList<qint64> keys;
    for (int number = crVUpper; number <= crHMiddle; ++number) {
        const QCursor& c = TAxis::DragCursor(number);
        EXPECT_EQ(c.shape(), Qt::BitmapCursor);
        EXPECT_FALSE(keys.contains(c.pixmap().cacheKey()));
        keys.append(c.pixmap().cacheKey());
        EXPECT_EQ(&TAxis::DragCursor(number), &c) << "registered once";
    }
}

TEST_F(AxisWidgetTest, DoubleClickOpensTheLimitsDialog)
{
    TAxis axis;
    axis.SetPosition(tposition::posunder);
    axis.resize(300, 24);
    axis.SetRange(0, 1);
    axis.SetAllowDoubleClick(true);
    axis.SetAxisText("[s]");
    int changed = 0;
    axis.OnScaleChanged = [&](TAxis&) { ++changed; };
    Show(axis);
    bool shown = false;
    QString highShown, lowShown, caption;
    axis.LimitForm().OnShown = [&](TAxisLimitForm& form) {
        shown = true;
        highShown = form.HighEdit()->text();
        lowShown = form.LowEdit()->text();
        caption = form.HighLabel()->text();
        QTimer::singleShot(0, &form, [&form] {
            form.HighEdit()->setText("0.75");
            form.LowEdit()->setText("not a number");
            form.OkButton()->click();
        });
    };
    QTest::mouseDClick(&axis, Qt::LeftButton, {}, QPoint(150, 12));
    EXPECT_TRUE(shown);
    EXPECT_EQ(highShown, "1");
    EXPECT_EQ(lowShown, "0");
    EXPECT_EQ(caption, "High value [s]");
    EXPECT_EQ(axis.HiValue(), 0.75);
    EXPECT_EQ(axis.LoValue(), 0) << "text that is no number falls back to the shown value";
    EXPECT_GE(changed, 2);
}

TEST_F(AxisWidgetTest, DialogSwapsEndsInTheWrongOrderAndRefusesEqualOnes)
{
    TAxis axis;
    axis.SetRange(0, 10);
    axis.SetAllowDoubleClick(true);
    Show(axis);
    QString refusal;
    axis.LimitForm().OnShown = [&](TAxisLimitForm& form) {
        QTimer::singleShot(0, &form, [&] {
            form.HighEdit()->setText("4");
            form.LowEdit()->setText("4");
            form.OkButton()->click();
            refusal = form.isVisible() ? form.Message()->text() : QString();
            form.LowEdit()->setText("7");
            form.OkButton()->click();
        });
    };
    QTest::mouseDClick(&axis, Qt::LeftButton, {}, QPoint(20, 100));
    EXPECT_FALSE(refusal.isEmpty()) << "equal ends keep the dialog open with a message";
    EXPECT_TRUE(axis.LoValue() == 4 && axis.HiValue() == 7);
}

TEST_F(AxisWidgetTest, EscapeCancelsTheDialog)
{
    TAxis axis;
    axis.resize(43, 200);
    axis.SetRange(-1, 1);
    axis.SetAllowDoubleClick(true);
    Show(axis);
    axis.LimitForm().OnShown = [](TAxisLimitForm& form) {
        QTimer::singleShot(0, &form, [&form] {
            form.HighEdit()->setText("5");
            QTest::keyClick(form.HighEdit(), Qt::Key_Escape);
        });
    };
    QTest::mouseDClick(&axis, Qt::LeftButton, {}, QPoint(20, 100));
    EXPECT_EQ(axis.HiValue(), 1);
    EXPECT_FALSE(axis.LimitForm().isVisible());
}

TEST_F(AxisWidgetTest, DialogLayout)
{
    TAxisLimitForm form;
    EXPECT_EQ(form.windowTitle(), "Axis limits");
    EXPECT_EQ(form.size(), QSize(182, 165));
    EXPECT_EQ(form.HighLabel()->text(), "High value");
    EXPECT_EQ(form.LowLabel()->text(), "Low value");
    EXPECT_EQ(form.HighEdit()->text(), "High");
    EXPECT_EQ(form.LowEdit()->text(), "Low");
    EXPECT_EQ(form.HighEdit()->geometry(), QRect(4, 20, 157, 21));
    EXPECT_EQ(form.LowEdit()->geometry(), QRect(4, 64, 157, 21));
    EXPECT_EQ(form.OkButton()->geometry(), QRect(4, 96, 75, 25));
    EXPECT_EQ(form.CancelButton()->geometry(), QRect(88, 96, 75, 25));
    EXPECT_EQ(form.OkButton()->text(), "&Ok");
    EXPECT_EQ(form.CancelButton()->text(), "&Cancel");
    EXPECT_TRUE(form.OkButton()->isDefault());
    // Tab order: the widgets that take focus by Tab, in the order of the focus chain.
    QList<QWidget*> order;
    QWidget* w = form.HighEdit();
    do {
        if ((w->focusPolicy() & Qt::TabFocus) != 0 && !order.contains(w)) {
            order.append(w);
        }
        w = w->nextInFocusChain();
    } while (w != form.HighEdit());
    EXPECT_EQ(order, (QList<QWidget*>{form.HighEdit(), form.LowEdit(), form.OkButton(),
                                      form.CancelButton()}));
    form.SetAxisText("[Hz]");
    EXPECT_EQ(form.LowLabel()->text(), "Low value [Hz]");
}

TEST_F(AxisWidgetTest, DialogReadsNumbersInTheLocale)
{
    TAxisLimitForm form;
    form.SetDecimalSeparator(',');
    form.SetLowValue(2.5);
    form.SetHighValue(1.5e20);
    EXPECT_EQ(form.LowEdit()->text(), "2,5");
    EXPECT_EQ(form.HighEdit()->text(), "1,5E20");
    form.LowEdit()->setText(" -0,125 ");
    EXPECT_EQ(form.ReadLow(), -0.125);
    form.LowEdit()->setText("0.125");
    EXPECT_EQ(form.ReadLow(), 2.5);
    form.HighEdit()->setText("");
    EXPECT_EQ(form.ReadHigh(), 1.5e20);
}

TEST_F(AxisWidgetTest, MarkerDrawnTwiceLeavesTheImage)
{
    TAxis axis;
    axis.SetPosition(tposition::posunder);
    axis.resize(301, 24);
    axis.SetRange(0, 1);
    Show(axis);
    axis.grab();
    const QImage without = axis.KeptImage().copy();

    axis.SetMarkerVisible(true);
    axis.SetMarkerValue(0.2);
    axis.grab();
    const QImage with = axis.KeptImage().copy();
    const int renders = axis.RenderCount();
    for (int y = 0; y < 24; ++y) {
        EXPECT_EQ(with.pixel(60, y) & 0xFFFFFF, ~without.pixel(60, y) & 0xFFFFFF) << y;
        EXPECT_EQ(with.pixel(61, y), without.pixel(61, y)) << y;
    }

    axis.SetMarkerValue(0.6);
    EXPECT_NE(axis.KeptImage(), with);
    EXPECT_EQ(axis.KeptImage().pixel(60, 3), without.pixel(60, 3)) << "old line erased";
    axis.SetMarkerValue(0.2);
    EXPECT_EQ(axis.KeptImage(), with) << "inverting twice restores every pixel";
    axis.grab();
    EXPECT_EQ(axis.RenderCount(), renders) << "moving the marker does not lay out the ticks";
    EXPECT_EQ(axis.grab().toImage().convertToFormat(QImage::Format_RGB32), with);

    axis.SetMarkerVisible(false);
    axis.grab();
    EXPECT_EQ(axis.KeptImage(), without);
}

TEST_F(AxisWidgetTest, SizeAndAutosize)
{
    TAxis axis;
    EXPECT_EQ(axis.Width(), 200);
    EXPECT_EQ(axis.Height(), 200);
    axis.SetHeight(150);
    EXPECT_EQ(axis.height(), 150);
    EXPECT_EQ(axis.ValueToPixel(0), 149);
    axis.resize(43, 101);
    EXPECT_EQ(axis.ValueToPixel(0), 100) << "follows a resize while hidden";
    axis.SetAutosize(true);
    const QFontMetrics metrics(axis.font());
    EXPECT_EQ(axis.width(), metrics.horizontalAdvance("12345") + 5);
    axis.SetPosition(tposition::posunder);
    axis.SetTickMarkSize(6);
    EXPECT_EQ(axis.height(), metrics.height() * 4 / 3 + 6);
}

TEST_F(AxisWidgetTest, HandlerErrorsAreReported)
{
    TAxis axis;
    axis.resize(43, 100);
    std::string reported;
    axis.OnError = [&](TAxis&, const std::string& message) { reported = message; };
    axis.OnScaleChanged = [](TAxis&) { throw std::runtime_error("repaint failed"); };
    Show(axis);
    QTest::mousePress(&axis, Qt::RightButton, {}, QPoint(20, 50));
    QTest::mouseRelease(&axis, Qt::RightButton, {}, QPoint(20, 50));
    EXPECT_EQ(reported, "repaint failed");
    EXPECT_FALSE(axis.Model().InEvent());
}

} // namespace
} // namespace kavrel

// The application object must outlive every widget and go before the window system's statics,
// so it lives in main rather than in a static.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
