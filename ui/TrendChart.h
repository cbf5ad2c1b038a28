#pragma once
// One trend chart: a titled line series over the sample number, a value axis whose range the
// window sets, a grid band, and a legend whose check box hides and shows the line.

#include <QTimer>
#include <qcustomplot.h>

#include "TrendSeries.h"

class TrendChart : public QCustomPlot {
    Q_OBJECT
public:
    // A left-drag rectangle smaller than this in both directions is a slip, not a zoom.
    static constexpr int MinimumZoomPixels = 16;

    TrendChart(const QString& objectName, const QString& seriesTitle, QWidget* parent);

    // Value-axis limits, set one at a time; a bad order throws std::runtime_error with the
    // engine's message and leaves the range as it was.
    void SetLeftMinimum(double minimum);
    void SetLeftMaximum(double maximum);
    double leftMinimum() const { return leftMinimum_; }
    double leftMaximum() const { return leftMaximum_; }

    // Adds a point in order of x and schedules a redraw.
    void AppendPoint(double x, double y);
    // The x of the last point, 0 while there is none.
    double LastKey() const;

    TrendSeries* series() const { return series_; }
    bool seriesShown() const;
    void setSeriesShown(bool shown);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Zooms into the dragged rectangle unless it is smaller than MinimumZoomPixels both ways.
    void processRectZoom(QRect rect, QMouseEvent* event) override;

private:
    void FollowSamples();
    void ShowWholeHistory();
    void ScheduleRedraw();

    TrendSeries* series_ = nullptr;
    // Redraws once at the next turn of the event loop, however many changes come before it.
    // A timer that is started and stopped costs far less than the event that the engine's own
    // queued redraw posts, and every poll appends to each chart.
    QTimer redrawTimer_{this};
    double leftMinimum_ = 0;
    double leftMaximum_ = 0;
    bool zoomed_ = false; // the operator zoomed or panned: new points leave the view alone
    bool panning_ = false;
    QPoint panStart_;
    QCPRange panKeyStart_, panValueStart_;
};
