#include "TrendChart.h"

#include <stdexcept>

namespace {

const QColor BandColor(233, 233, 233);

// Fills alternate strips between the value axis' grid lines, beneath the grid.
class GridBand : public QCPLayerable {
public:
    GridBand(QCustomPlot* plot, QCPAxis* axis)
        : QCPLayerable(plot, QStringLiteral("band")), axis_(axis) {
        setAntialiased(false);
    }

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override {
        applyAntialiasingHint(painter, antialiased(), QCP::aeGrid);
    }
    QRect clipRect() const override { return axis_->axisRect()->rect(); }
    void draw(QCPPainter* painter) override {
        const QVector<double> ticks = axis_->tickVector();
        const QRect area = axis_->axisRect()->rect();
        painter->setPen(Qt::NoPen);
        for (int i = 0; i + 1 < ticks.size(); ++i) {
            painter->setBrush(i % 2 == 0 ? QBrush(BandColor) : QBrush(Qt::white));
            const double y1 = axis_->coordToPixel(ticks[i]);
            const double y2 = axis_->coordToPixel(ticks[i + 1]);
            painter->drawRect(
                QRectF(area.left(), std::min(y1, y2), area.width(), std::abs(y2 - y1)));
        }
    }

private:
    QCPAxis* axis_;
};

// A legend entry with a check box in front of the series' line icon and title.
class CheckLegendItem : public QCPPlottableLegendItem {
public:
    CheckLegendItem(QCPLegend* legend, QCPAbstractPlottable* plottable)
        : QCPPlottableLegendItem(legend, plottable) {}

protected:
    QSize minimumOuterSizeHint() const override {
        QSize size = QCPPlottableLegendItem::minimumOuterSizeHint();
        size.rwidth() += boxSide() + padding;
        return size;
    }
    void draw(QCPPainter* painter) override {
        const QRect r = mRect;
        const int side = boxSide();
        QStyleOptionButton option;
        option.rect = QRect(r.left(), r.top() + (r.height() - side) / 2, side, side);
        option.state =
            QStyle::State_Enabled | (mPlottable->visible() ? QStyle::State_On : QStyle::State_Off);
        QWidget* widget = mParentPlot;
        widget->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, painter, widget);
        // The base item draws icon and text from mRect's left edge: shift it past the box.
        const int shift = side + padding;
        mRect.adjust(shift, 0, 0, 0);
        QCPPlottableLegendItem::draw(painter);
        mRect = r;
    }

private:
    static constexpr int padding = 4;
    int boxSide() const { return 13; }
};

} // namespace

TrendChart::TrendChart(const QString& objectName, const QString& seriesTitle, QWidget* parent)
    : QCustomPlot(parent) {
    setObjectName(objectName);
    setAntialiasedElements(QCP::aeAll);
    setNoAntialiasingOnDrag(false);

    plotLayout()->insertRow(0);
    QFont titleFont(QStringLiteral("微软雅黑"));
    titleFont.setPixelSize(13);
    plotLayout()->addElement(0, 0, new QCPTextElement(this, QStringLiteral("TDBChart"), titleFont));

    series_ = new TrendSeries(xAxis, yAxis);
    series_->setName(seriesTitle);
    series_->setLineStyle(QCPGraph::lsLine);
    series_->setScatterStyle(QCPScatterStyle::ssNone);
    series_->setAdaptiveSampling(true);
    series_->setPen(QPen(QColor(40, 110, 255), 1));

    legend->clearItems();
    legend->addItem(new CheckLegendItem(legend, series_));
    legend->setVisible(true);
    legend->setSelectableParts(QCPLegend::spNone);

    addLayer(QStringLiteral("band"), layer(QStringLiteral("grid")), QCustomPlot::limBelow);
    new GridBand(this, yAxis);

    // Left-drag zooms into a rectangle; right-drag pans (handled below); double-click undoes.
    setSelectionRectMode(QCP::srmZoom);
    axisRect()->setRangeZoomAxes(xAxis, yAxis);

    redrawTimer_.setObjectName(QStringLiteral("redraw"));
    redrawTimer_.setSingleShot(true);
    redrawTimer_.setInterval(0);
    connect(&redrawTimer_, &QTimer::timeout, this, [this] { replot(); });
    // Any redraw, an immediate one too, makes a scheduled one needless.
    connect(this, &QCustomPlot::beforeReplot, &redrawTimer_, &QTimer::stop);

    yAxis->setRange(0, 0);
    replot();
}

void TrendChart::SetLeftMinimum(double minimum) {
    if (minimum > leftMaximum_)
        throw std::runtime_error("Axis Minimum Value must be <= Maximum");
    leftMinimum_ = minimum;
    ShowWholeHistory();
}

void TrendChart::SetLeftMaximum(double maximum) {
    if (maximum < leftMinimum_)
        throw std::runtime_error("Axis Maximum Value must be >= Minimum");
    leftMaximum_ = maximum;
    ShowWholeHistory();
}

void TrendChart::AppendPoint(double x, double y) {
    series_->Add(x, y);
    if (!zoomed_)
        FollowSamples();
    ScheduleRedraw();
}

double TrendChart::LastKey() const {
    const auto& points = *series_->data();
    return points.isEmpty() ? 0 : (points.constEnd() - 1)->key;
}

bool TrendChart::seriesShown() const {
    return series_->visible();
}

void TrendChart::setSeriesShown(bool shown) {
    series_->setVisible(shown);
    ScheduleRedraw();
}

void TrendChart::FollowSamples() {
    bool found = false;
    const QCPRange keys = series_->getKeyRange(found);
    if (found)
        xAxis->setRange(keys);
}

void TrendChart::ScheduleRedraw() {
    if (!redrawTimer_.isActive())
        redrawTimer_.start();
}

void TrendChart::ShowWholeHistory() {
    zoomed_ = false;
    // QCustomPlot widens an empty range; a 0 to 0 axis is still drawn as the engine chooses.
    yAxis->setRange(leftMinimum_, leftMaximum_);
    FollowSamples();
    ScheduleRedraw();
}

void TrendChart::mousePressEvent(QMouseEvent* event) {
    // The zoom rectangle takes every left press inside the plot, the legend's too: the check box
    // is handled before it.
    if (event->button() == Qt::LeftButton && legend->visible() &&
        legend->item(0)->rect().contains(event->pos())) {
        setSeriesShown(!seriesShown());
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        panning_ = true;
        panStart_ = event->pos();
        panKeyStart_ = xAxis->range();
        panValueStart_ = yAxis->range();
        event->accept();
        return;
    }
    QCustomPlot::mousePressEvent(event);
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
    if (!panning_) {
        QCustomPlot::mouseMoveEvent(event);
        return;
    }
    const QPoint delta = event->pos() - panStart_;
    if (delta.manhattanLength() == 0)
        return;
    zoomed_ = true;
    const double keyPerPixel = panKeyStart_.size() / std::max(1, axisRect()->width());
    const double valuePerPixel = panValueStart_.size() / std::max(1, axisRect()->height());
    xAxis->setRange(panKeyStart_ - delta.x() * keyPerPixel);
    yAxis->setRange(panValueStart_ + delta.y() * valuePerPixel);
    ScheduleRedraw();
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton && panning_) {
        panning_ = false;
        event->accept();
        return;
    }
    QCustomPlot::mouseReleaseEvent(event);
}

void TrendChart::processRectZoom(QRect rect, QMouseEvent* event) {
    // A drag up or to the left gives a rectangle of negative size.
    const QRect dragged = rect.normalized();
    if (dragged.width() < MinimumZoomPixels && dragged.height() < MinimumZoomPixels) {
        ScheduleRedraw(); // takes the rectangle off the chart
        return;
    }
    zoomed_ = true;
    QCustomPlot::processRectZoom(dragged, event);
}

void TrendChart::mouseDoubleClickEvent(QMouseEvent* event) {
    QCustomPlot::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        ShowWholeHistory();
}
