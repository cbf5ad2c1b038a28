#pragma once
// A trend chart on its own, at the window's chart size, shown, with its value axis at 0 to 30.

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/TrendChart.h"

class ChartFixture : public ::testing::Test {
protected:
    void SetUp() override {
        chart.resize(305, 223);
        chart.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
        chart.SetLeftMinimum(0);
        chart.SetLeftMaximum(30);
    }

    // The pixel at the fractions of the plot area's width and height.
    QPoint PlotPoint(double fx, double fy) const {
        const QRect r = chart.axisRect()->rect();
        return QPoint(r.left() + int(fx * r.width()), r.top() + int(fy * r.height()));
    }

    // A press, four moves and a release with the button.
    void Drag(Qt::MouseButton button, QPoint from, QPoint to) {
        QTest::mousePress(&chart, button, {}, from);
        for (int step = 1; step <= 4; ++step) {
            const QPoint at = from + (to - from) * step / 4;
            QMouseEvent move(QEvent::MouseMove, at, chart.mapToGlobal(at), Qt::NoButton, button,
                             Qt::NoModifier);
            QApplication::sendEvent(&chart, &move);
        }
        QTest::mouseRelease(&chart, button, {}, to);
    }

    TrendChart chart{QStringLiteral("cht"), QStringLiteral("电压"), nullptr};
};
