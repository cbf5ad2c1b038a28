#include "TrendSeries.h"

#include <algorithm>
#include <limits>

namespace {

// Value i of the series' points, for the summary.
struct PointValues {
    const QCPGraphData* points;
    double operator()(std::size_t i) const { return points[i].value; }
};

} // namespace

TrendSeries::TrendSeries(QCPAxis* keyAxis, QCPAxis* valueAxis) : QCPGraph(keyAxis, valueAxis) {}

void TrendSeries::Add(double x, double y) {
    if (!SummaryIsCurrent())
        summary_.Truncate(0);
    else if (!mDataContainer->isEmpty() && x < (mDataContainer->constEnd() - 1)->key) {
        // Every point from the insertion place on moves up by one.
        const auto place = mDataContainer->findBegin(x, false);
        summary_.Truncate(std::size_t(place - mDataContainer->constBegin()));
    }
    mDataContainer->add(QCPGraphData(x, y));
    summarised_ = std::size_t(mDataContainer->size());
    summary_.Extend(summarised_, PointValues{&*mDataContainer->constBegin()});
}

bool TrendSeries::MorePointsThanPixels(const QCPGraphDataContainer::const_iterator& begin,
                                       const QCPGraphDataContainer::const_iterator& end) const {
    // The engine's own threshold: reduce only with at least two points per pixel on average.
    const QCPAxis* keyAxis = mKeyAxis.data();
    const double pixelSpan =
        qAbs(keyAxis->coordToPixel(begin->key) - keyAxis->coordToPixel((end - 1)->key));
    const double limit = 2 * pixelSpan + 2;
    return limit < double(std::numeric_limits<int>::max()) && end - begin >= int(limit);
}

void TrendSeries::getOptimizedLineData(QVector<QCPGraphData>* lineData,
                                       const QCPGraphDataContainer::const_iterator& begin,
                                       const QCPGraphDataContainer::const_iterator& end) const {
    if (!lineData || !mKeyAxis || !mValueAxis || begin == end || !mAdaptiveSampling ||
        !SummaryIsCurrent() || !MorePointsThanPixels(begin, end))
        return QCPGraph::getOptimizedLineData(lineData, begin, end);
    const auto origin = mDataContainer->constBegin();
    SampleColumns(*lineData, std::size_t(begin - origin), std::size_t(end - origin));
}

// Per pixel column the same points as the engine's adaptive sampling: a lone point as it is; a
// crowded column as its minimum and maximum, led by its first value when the line comes from
// afar and followed by its last value when the line goes on far away. The column's end is found
// by binary search and its extremes come from the summary.
void TrendSeries::SampleColumns(QVector<QCPGraphData>& lineData, std::size_t first,
                                std::size_t last) const {
    const QCPAxis* keyAxis = mKeyAxis.data();
    const QCPGraphData* points = &*mDataContainer->constBegin();
    const int direction = keyAxis->pixelOrientation();
    const int roundUp = direction == -1 ? 1 : 0;
    const auto columnStart = [&](double key) {
        return keyAxis->pixelToCoord(int(keyAxis->coordToPixel(key) + roundUp));
    };
    const auto columnWidth = [&](double start) {
        return qAbs(start - keyAxis->pixelToCoord(keyAxis->coordToPixel(start) + 1.0 * direction));
    };
    const bool widthVaries = keyAxis->scaleType() == QCPAxis::stLogarithmic;

    double start = columnStart(points[first].key);
    double width = columnWidth(start);
    double previousEndKey = start;
    for (std::size_t column = first; column < last;) {
        const double bound = start + width;
        const std::size_t next =
            std::partition_point(points + column + 1, points + last,
                                 [bound](const QCPGraphData& p) { return p.key < bound; }) -
            points;
        if (next - column >= 2) {
            const ExtremaPyramid::Extrema extrema =
                summary_.Query(column, next, PointValues{points});
            if (previousEndKey < start - width)
                lineData.append(QCPGraphData(start + width * 0.2, points[column].value));
            lineData.append(QCPGraphData(start + width * 0.25, extrema.min));
            lineData.append(QCPGraphData(start + width * 0.75, extrema.max));
            if (next < last && points[next].key > start + width * 2)
                lineData.append(QCPGraphData(start + width * 0.8, points[next - 1].value));
        } else {
            lineData.append(points[column]);
        }
        if (next == last)
            break;
        previousEndKey = points[next - 1].key;
        start = columnStart(points[next].key);
        if (widthVaries)
            width = columnWidth(start);
        column = next;
    }
}
