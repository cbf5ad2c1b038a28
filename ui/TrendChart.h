#pragma once
// One trend chart: a titled line series over the sample number, a value axis whose range the
// window sets, a grid band, and a legend whose check box hides and shows the line. A right click
// opens a menu to save or copy the picture, export the points and undo a zoom; the wheel zooms
// the sample axis; hovering names the nearest point.

#include <QTimer>
#include <functional>
#include <qcustomplot.h>

#include "SampleTimeline.h"
#include "TrendSeries.h"

class QMenu;

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
    double LeftMinimum() const { return leftMinimum_; }
    double LeftMaximum() const { return leftMaximum_; }

    // Adds a point in order of x and schedules a redraw; the point arrived now, or at atMs
    // (milliseconds since the epoch).
    void AppendPoint(double x, double y);
    void AppendPoint(double x, double y, qint64 atMs);
    // The x of the last point, 0 while there is none.
    double LastKey() const;

    TrendSeries* Series() const { return series_; }
    bool SeriesShown() const;
    void SetSeriesShown(bool shown);

    // The unit of the values ("V") and the name of their column in an export ("voltage_V").
    void SetValueUnit(const QString& unit, const QString& columnName);

    // Asks where to save (caption, name filter); an empty answer cancels. Tests answer it.
    using PathChooser = std::function<QString(const QString& caption, const QString& filter)>;
    void SetPathChooser(PathChooser chooser) { choosePath_ = std::move(chooser); }

    // The menu's actions. A save or export that fails says so in a box; false then.
    bool SavePicture(const QString& path);
    void CopyPicture();
    bool ExportPoints(const QString& path);
    void ResetZoom() { ShowWholeHistory(); }
    // What hovering at pos shows: sample, value and unit, local time; empty off the plot and
    // while the line is hidden.
    QString PointTip(const QPoint& pos) const;

protected:
    bool event(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
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
    void CreateMenu();
    void AskAndSavePicture();
    void AskAndExportPoints();
    void ShowFailure(const QString& text);

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

    bool panMoved_ = false; // the right button moved since its press: a pan, not a menu click
    QMenu* menu_ = nullptr;
    PathChooser choosePath_;
    SampleTimeline times_;
    QString unit_, columnName_ = QStringLiteral("value");
};
