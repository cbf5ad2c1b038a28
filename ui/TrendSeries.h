#pragma once
// The line series of a trend chart. Besides its points it keeps the extremes of their values in
// an ExtremaPyramid, so that drawing a long history reduces each pixel column to the same few
// points as the engine's adaptive sampling without walking every point of the column.

#include <qcustomplot.h>

#include "ExtremaPyramid.h"

class TrendSeries : public QCPGraph {
    Q_OBJECT
public:
    TrendSeries(QCPAxis* keyAxis, QCPAxis* valueAxis);

    // Adds a point in order of x: O(1) amortised when x is not below the last point's; otherwise
    // the summary is rebuilt from the insertion point on. Points must come in through here; points
    // added by other means are still drawn, by the engine's own sampling, until the next Add.
    void Add(double x, double y);

protected:
    void getOptimizedLineData(QVector<QCPGraphData>* lineData,
                              const QCPGraphDataContainer::const_iterator& begin,
                              const QCPGraphDataContainer::const_iterator& end) const override;

private:
    bool SummaryIsCurrent() const { return summarised_ == std::size_t(mDataContainer->size()); }
    bool MorePointsThanPixels(const QCPGraphDataContainer::const_iterator& begin,
                              const QCPGraphDataContainer::const_iterator& end) const;
    void SampleColumns(QVector<QCPGraphData>& lineData, std::size_t first, std::size_t last) const;

    ExtremaPyramid summary_;
    std::size_t summarised_ = 0; // points the summary was brought up to date with
};
