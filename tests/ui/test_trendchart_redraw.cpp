// When a trend chart redraws: once, at the next turn of the event loop, for any number of
// changes before it; never again for changes that an immediate redraw has already drawn.

#include <QTest>
#include <gtest/gtest.h>

#include "ChartFixture.h"

namespace {

class TrendChartRedrawTest : public ChartFixture {
protected:
    void SetUp() override {
        ChartFixture::SetUp();
        SettleEvents();
        QObject::connect(&chart, &QCustomPlot::afterReplot, [this] { ++redraws; });
    }

    // Lets every pending redraw run: a few turns of the event loop.
    static void SettleEvents() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    int redraws = 0;
};

TEST_F(TrendChartRedrawTest, ChangesBeforeTheNextTurnOfTheEventLoopShareOneRedraw) {
    for (int x = 1; x <= 5; ++x)
        chart.AppendPoint(x, x);
    chart.SetSeriesShown(false);
    EXPECT_EQ(redraws, 0) << "a change draws at the next turn of the event loop, not at once";
    ASSERT_TRUE(QTest::qWaitFor([this] { return redraws >= 1; }, 5000));
    SettleEvents();
    EXPECT_EQ(redraws, 1);

    chart.AppendPoint(6, 6); // a later change is drawn again
    ASSERT_TRUE(QTest::qWaitFor([this] { return redraws >= 2; }, 5000));
    SettleEvents();
    EXPECT_EQ(redraws, 2);
}

TEST_F(TrendChartRedrawTest, AnImmediateRedrawTakesThePlaceOfTheScheduledOne) {
    chart.AppendPoint(1, 1);
    chart.replot();
    SettleEvents();
    EXPECT_EQ(redraws, 1);
}

} // namespace
