// The chart series' summary: range extremes from the block pyramid, and the line data drawn from
// it against the engine's own adaptive sampling over the raw points, for points in order of x and
// after insertions among earlier points.

#include <QTest>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <vector>

#include "ui/ExtremaPyramid.h"
#include "ui/TrendSeries.h"

namespace {

// ---- ExtremaPyramid --------------------------------------------------------------------------

ExtremaPyramid::Extrema BruteExtrema(const std::vector<double>& values, std::size_t first,
                                     std::size_t last) {
    const auto [lo, hi] = std::minmax_element(values.begin() + first, values.begin() + last);
    return {*lo, *hi};
}

void ExpectQueryMatches(const ExtremaPyramid& pyramid, const std::vector<double>& values,
                        std::size_t first, std::size_t last) {
    const auto valueAt = [&](std::size_t i) { return values[i]; };
    const ExtremaPyramid::Extrema got = pyramid.Query(first, last, valueAt);
    const ExtremaPyramid::Extrema want = BruteExtrema(values, first, last);
    EXPECT_EQ(got.min, want.min) << "[" << first << ", " << last << ") of " << values.size();
    EXPECT_EQ(got.max, want.max) << "[" << first << ", " << last << ") of " << values.size();
}

// Three stored levels and a partial tail at each of them.
constexpr std::size_t kPyramidTestSize =
    ExtremaPyramid::kBlockSize * ExtremaPyramid::kFanOut * ExtremaPyramid::kFanOut * 2 + 777;

std::vector<double> RandomValues(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> reading(0, 30);
    std::vector<double> values(count);
    for (double& v : values)
        v = reading(random);
    return values;
}

TEST(ExtremaPyramidTest, RangesMatchTheValuesWhileTheSequenceGrows) {
    const std::vector<double> all = RandomValues(kPyramidTestSize, 1);
    const std::size_t group = ExtremaPyramid::kBlockSize * ExtremaPyramid::kFanOut;
    std::vector<double> values;
    ExtremaPyramid pyramid;
    std::mt19937 random(2);
    for (double v : all) {
        values.push_back(v);
        pyramid.Extend(values.size(), [&](std::size_t i) { return values[i]; });
        // Ranges that end at the newest value cross every partial tail.
        const std::size_t n = values.size();
        ExpectQueryMatches(pyramid, values, 0, n);
        ExpectQueryMatches(pyramid, values, n - 1 - random() % std::min(n, 3 * group), n);
        if (::testing::Test::HasFailure())
            return;
    }
    for (int i = 0; i < 3000; ++i) {
        std::size_t first = random() % values.size(), last = random() % values.size();
        if (first > last)
            std::swap(first, last);
        ExpectQueryMatches(pyramid, values, first, last + 1);
    }
}

TEST(ExtremaPyramidTest, TruncatedBlocksAreRebuiltFromChangedValues) {
    const std::size_t B = ExtremaPyramid::kBlockSize, G = B * ExtremaPyramid::kFanOut;
    const std::size_t cuts[] = {0, 1, B - 1, B, B + 1, G - 1, G, G + 1, kPyramidTestSize - 1};
    for (std::size_t cut : cuts) {
        std::vector<double> values = RandomValues(kPyramidTestSize, 3);
        ExtremaPyramid pyramid;
        const auto valueAt = [&](std::size_t i) { return values[i]; };
        pyramid.Extend(values.size(), valueAt);
        // A spike and a dip behind the cut: stale blocks would miss them.
        values[cut] = 100;
        values[values.size() - 1 - (values.size() - 1 - cut) / 2] = -100;
        pyramid.Truncate(cut);
        EXPECT_LE(pyramid.covered(), cut) << "cut " << cut;
        pyramid.Extend(values.size(), valueAt);
        EXPECT_EQ(pyramid.covered(), values.size() / B * B) << "cut " << cut;
        ExpectQueryMatches(pyramid, values, 0, values.size());
        ExpectQueryMatches(pyramid, values, cut, values.size());
        ExpectQueryMatches(pyramid, values, cut / 2, cut + 1);
    }
}

// ---- TrendSeries against the engine's adaptive sampling --------------------------------------

// Exposes the reductions of the series and of a plain engine graph on the same axes.
class ProbeSeries : public TrendSeries {
public:
    using TrendSeries::getOptimizedLineData;
    using TrendSeries::TrendSeries;
};
class ProbeGraph : public QCPGraph {
public:
    using QCPGraph::getOptimizedLineData;
    using QCPGraph::QCPGraph;
};

template <class Graph> QVector<QCPGraphData> LineData(const Graph& graph, const QCPRange& view) {
    // The visible points, one beyond each side, as the engine's drawing picks them.
    const QCPGraphDataContainer& data = *graph.data();
    QVector<QCPGraphData> lineData;
    graph.getOptimizedLineData(&lineData, data.findBegin(view.lower), data.findEnd(view.upper));
    return lineData;
}

class TrendSeriesTest : public ::testing::Test {
protected:
    void SetUp() override {
        plot.setViewport(QRect(0, 0, 305, 223));
        NewGraphs();
    }

    void NewGraphs() {
        plot.clearGraphs();
        series = new ProbeSeries(plot.xAxis, plot.yAxis);
        engine = new ProbeGraph(plot.xAxis, plot.yAxis);
    }

    void Add(double x, double y) {
        series->Add(x, y);
        engine->addData(x, y);
    }

    void AddRun(double firstX, int count, unsigned seed) {
        std::mt19937 random(seed);
        std::normal_distribution<double> noise(0, 0.2);
        for (int i = 0; i < count; ++i)
            Add(firstX + i, 12 + 3 * std::sin(i / 5000.0) + noise(random));
    }

    void View(const QCPRange& keys) {
        plot.xAxis->setRange(keys);
        plot.replot(); // lays out the axis rect, so keys map to pixels
    }

    // The series reduces exactly as the engine does, and every pixel column keeps the raw
    // points' extremes.
    void ExpectDrawnLikeTheRawPoints() {
        const QCPRange view = plot.xAxis->range();
        const QVector<QCPGraphData> drawn = LineData(*series, view);
        const QVector<QCPGraphData> reference = LineData(*engine, view);
        ASSERT_EQ(drawn.size(), reference.size());
        for (qsizetype i = 0; i < drawn.size(); ++i) {
            ASSERT_EQ(drawn[i].key, reference[i].key) << "line point " << i;
            ASSERT_EQ(drawn[i].value, reference[i].value) << "line point " << i;
        }
        const QCPGraphDataContainer& raw = *series->data();
        EXPECT_EQ(ColumnExtremes(drawn.cbegin(), drawn.cend()),
                  ColumnExtremes(raw.findBegin(view.lower), raw.findEnd(view.upper)));
    }

    using Columns = std::map<int, std::pair<double, double>>;
    template <class It> Columns ColumnExtremes(It begin, It end) const {
        Columns columns;
        for (It it = begin; it != end; ++it) {
            const int column = int(plot.xAxis->coordToPixel(it->key));
            auto [entry, added] = columns.try_emplace(column, it->value, it->value);
            entry->second.first = std::min(entry->second.first, it->value);
            entry->second.second = std::max(entry->second.second, it->value);
        }
        return columns;
    }

    QCustomPlot plot;
    ProbeSeries* series = nullptr;
    ProbeGraph* engine = nullptr;
};

TEST_F(TrendSeriesTest, PointsInOrderOfXAreDrawnLikeTheRawPointsInEveryView) {
    constexpr int count = 200000;
    AddRun(1, count, 7);
    const struct {
        const char* name;
        QCPRange keys;
    } views[] = {
        {"whole history", {1, count}},
        {"a zoomed part", {51234.5, 90321.25}},
        {"fewer points than pixels", {1000, 1100}},
        {"beyond the last point", {count - 5000, count + 5000}},
        {"reversed", {count, 1}},
    };
    for (const auto& v : views) {
        SCOPED_TRACE(v.name);
        plot.xAxis->setRangeReversed(v.keys.lower > v.keys.upper);
        View(QCPRange(std::min(v.keys.lower, v.keys.upper), std::max(v.keys.lower, v.keys.upper)));
        ExpectDrawnLikeTheRawPoints();
    }
}

TEST_F(TrendSeriesTest, InsertionsAmongEarlierPointsKeepTheDrawingTrue) {
    const struct {
        const char* name;
        std::vector<std::pair<double, double>> inserted;
    } cases[] = {
        {"a later worker restarts at 1", {}},
        {"one point in the middle", {{50000.5, 99}}},
        {"in front of the first point", {{0.5, -50}}},
        {"on an existing x", {{777, 70}, {777, -70}}},
        {"inside the last partial block", {{99999.5, 45}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewGraphs();
        AddRun(1, 100000, 11);
        if (c.inserted.empty())
            AddRun(1, 3 * int(ExtremaPyramid::kBlockSize * ExtremaPyramid::kFanOut) + 5, 12);
        for (const auto& [x, y] : c.inserted)
            Add(x, y);
        View(QCPRange(0, 100001));
        ExpectDrawnLikeTheRawPoints();
        // Appending in order goes on from the rebuilt summary.
        AddRun(100001, 20000, 13);
        View(QCPRange(0, 120001));
        ExpectDrawnLikeTheRawPoints();
    }
}

TEST_F(TrendSeriesTest, PointsAddedBehindTheSeriesBackAreStillDrawnTrue) {
    AddRun(1, 50000, 17);
    // Through the engine's own interface: the summary does not know of these points.
    for (const double x : {25000.5, 60000.0}) {
        series->QCPGraph::addData(x, 200);
        engine->addData(x, 200);
    }
    View(QCPRange(1, 60000));
    ExpectDrawnLikeTheRawPoints();
    Add(60001, -200); // the next point brings the summary up to date
    View(QCPRange(1, 60001));
    ExpectDrawnLikeTheRawPoints();
}

} // namespace
