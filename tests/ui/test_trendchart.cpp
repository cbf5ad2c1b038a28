// One trend chart as the window sets it up: value-axis limits, the legend's check box, and the
// operator's zoom, pan and undo.

#include <QTest>
#include <gtest/gtest.h>
#include <stdexcept>

#include "ChartFixture.h"

namespace {

class TrendChartTest : public ChartFixture {
protected:
    void SetUp() override {
        ChartFixture::SetUp();
        for (int x = 1; x <= 100; ++x)
            chart.AppendPoint(x, x % 30);
        chart.replot();
    }
};

TEST_F(TrendChartTest, LimitsInTheWrongOrderAreRefusedWithTheEnginesMessages) {
    try {
        chart.SetLeftMinimum(31);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Axis Minimum Value must be <= Maximum");
    }
    try {
        chart.SetLeftMaximum(-1);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Axis Maximum Value must be >= Minimum");
    }
    EXPECT_EQ(chart.yAxis->range(), QCPRange(0, 30));
    chart.SetLeftMinimum(30); // equal limits are allowed
    EXPECT_EQ(chart.LeftMinimum(), 30);
}

TEST_F(TrendChartTest, SampleAxisFollowsTheSamplesPresent) {
    EXPECT_EQ(chart.xAxis->range(), QCPRange(1, 100));
    chart.AppendPoint(101, 5);
    EXPECT_EQ(chart.xAxis->range(), QCPRange(1, 101));
    chart.AppendPoint(150, 99); // above the rated range: the value axis does not grow
    EXPECT_EQ(chart.yAxis->range(), QCPRange(0, 30));
}

TEST_F(TrendChartTest, LegendCheckBoxHidesAndShowsTheLineWhilePointsKeepArriving) {
    const QPoint box = chart.legend->item(0)->rect().topLeft() + QPoint(8, 8);
    QTest::mouseClick(&chart, Qt::LeftButton, {}, box);
    EXPECT_FALSE(chart.SeriesShown());
    chart.AppendPoint(101, 1);
    EXPECT_EQ(chart.Series()->dataCount(), 101);
    QTest::mouseClick(&chart, Qt::LeftButton, {}, box);
    EXPECT_TRUE(chart.SeriesShown());
}

TEST_F(TrendChartTest, LeftDragZoomsNewPointsKeepTheViewDoubleClickUndoes) {
    Drag(Qt::LeftButton, PlotPoint(0.2, 0.2), PlotPoint(0.6, 0.7));
    const QCPRange zoomedKeys = chart.xAxis->range();
    EXPECT_GT(zoomedKeys.lower, 1);
    EXPECT_LT(zoomedKeys.upper, 100);
    EXPECT_LT(chart.yAxis->range().size(), 30);

    chart.AppendPoint(101, 3);
    EXPECT_EQ(chart.xAxis->range(), zoomedKeys);

    QTest::mouseDClick(&chart, Qt::LeftButton, {}, PlotPoint(0.5, 0.5));
    EXPECT_EQ(chart.xAxis->range(), QCPRange(1, 101));
    EXPECT_EQ(chart.yAxis->range(), QCPRange(0, 30));
}

TEST_F(TrendChartTest, ZoomRectangleSmallerThanSixteenPixelsBothWaysDoesNotZoom) {
    const struct {
        const char* what;
        QPoint drag;
        bool zooms;
    } cases[] = {
        {"a slip", {10, 10}, false},
        {"just under both ways", {14, 14}, false},
        {"a slip up and to the left", {-14, -10}, false},
        {"wide and flat", {40, 5}, true},
        {"narrow and tall", {5, 40}, true},
        {"up and to the left", {-40, -40}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QCPRange keys = chart.xAxis->range(), values = chart.yAxis->range();
        const QPoint from = PlotPoint(0.4, 0.5);
        Drag(Qt::LeftButton, from, from + c.drag);
        EXPECT_EQ(chart.xAxis->range() != keys || chart.yAxis->range() != values, c.zooms);
        // Only a real zoom holds the view: otherwise the sample axis still follows new points.
        chart.AppendPoint(chart.LastKey() + 1, 3);
        EXPECT_EQ(chart.xAxis->range().upper == chart.LastKey(), !c.zooms);
        QTest::mouseDClick(&chart, Qt::LeftButton, {}, PlotPoint(0.5, 0.5));
    }
}

TEST_F(TrendChartTest, RightDragPansBothAxes) {
    Drag(Qt::RightButton, PlotPoint(0.5, 0.5), PlotPoint(0.25, 0.25));
    EXPECT_GT(chart.xAxis->range().lower, 1) << "dragged left: later samples come into view";
    EXPECT_LT(chart.yAxis->range().lower, 0) << "dragged up: lower values come into view";
    EXPECT_NEAR(chart.xAxis->range().size(), 99, 1e-9);
    EXPECT_NEAR(chart.yAxis->range().size(), 30, 1e-9);
}

} // namespace
