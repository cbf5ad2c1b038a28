#include "TrendChart.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "record/CsvFormat.h"

namespace {

const QColor kBandColor(233, 233, 233);
// Saved and copied pictures have twice the chart's pixels: the chart is small on the screen, and
// a picture for a report should stay sharp when it is printed larger.
constexpr double kPictureScale = 2.0;
// Each notch of the wheel narrows (or widens) the sample axis by this factor.
constexpr double kWheelZoomPerNotch = 0.85;

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
            painter->setBrush(i % 2 == 0 ? QBrush(kBandColor) : QBrush(Qt::white));
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

    CreateMenu();
    choosePath_ = [this](const QString& caption, const QString& filter) {
        return QFileDialog::getSaveFileName(this, caption, QString(), filter);
    };

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
    AppendPoint(x, y, QDateTime::currentMSecsSinceEpoch());
}

void TrendChart::AppendPoint(double x, double y, qint64 atMs) {
    series_->Add(x, y);
    times_.Add(x, atMs);
    if (!zoomed_)
        FollowSamples();
    ScheduleRedraw();
}

double TrendChart::LastKey() const {
    const auto& points = *series_->data();
    return points.isEmpty() ? 0 : (points.constEnd() - 1)->key;
}

bool TrendChart::SeriesShown() const {
    return series_->visible();
}

void TrendChart::SetSeriesShown(bool shown) {
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
        SetSeriesShown(!SeriesShown());
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        panning_ = true;
        panMoved_ = false;
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
    panMoved_ = true;
    const double keyPerPixel = panKeyStart_.size() / std::max(1, axisRect()->width());
    const double valuePerPixel = panValueStart_.size() / std::max(1, axisRect()->height());
    xAxis->setRange(panKeyStart_ - delta.x() * keyPerPixel);
    yAxis->setRange(panValueStart_ + delta.y() * valuePerPixel);
    ScheduleRedraw();
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton && panning_) {
        panning_ = false;
        if (!panMoved_)
            menu_->popup(event->globalPosition().toPoint());
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

// ---- Menu, wheel and hover ---------------------------------------------------------------------

void TrendChart::SetValueUnit(const QString& unit, const QString& columnName) {
    unit_ = unit;
    columnName_ = columnName;
}

void TrendChart::CreateMenu() {
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("chartMenu"));
    connect(menu_->addAction(QStringLiteral("保存图片…")), &QAction::triggered, this,
            &TrendChart::AskAndSavePicture);
    connect(menu_->addAction(QStringLiteral("复制图片")), &QAction::triggered, this,
            &TrendChart::CopyPicture);
    connect(menu_->addAction(QStringLiteral("导出数据…")), &QAction::triggered, this,
            &TrendChart::AskAndExportPoints);
    connect(menu_->addAction(QStringLiteral("复位缩放")), &QAction::triggered, this,
            &TrendChart::ResetZoom);
}

void TrendChart::AskAndSavePicture() {
    const QString path = choosePath_(
        QStringLiteral("保存图片"), QStringLiteral("PNG (*.png);;JPG (*.jpg *.jpeg);;PDF (*.pdf)"));
    if (!path.isEmpty())
        SavePicture(path);
}

bool TrendChart::SavePicture(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    bool saved;
    if (suffix == QLatin1String("pdf"))
        saved = savePdf(path); // lines stay lines, at the chart's size
    else if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        saved = saveJpg(path, 0, 0, kPictureScale);
    else if (suffix == QLatin1String("png"))
        saved = savePng(path, 0, 0, kPictureScale);
    else
        // A name without a picture's extension gets one, so that the file says what it holds.
        return SavePicture(path + QStringLiteral(".png"));
    if (!saved)
        ShowFailure(QStringLiteral("无法保存图片：") + path);
    return saved;
}

void TrendChart::CopyPicture() {
    QApplication::clipboard()->setPixmap(toPixmap(0, 0, kPictureScale));
}

void TrendChart::AskAndExportPoints() {
    const QString path = choosePath_(QStringLiteral("导出数据"), QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        ExportPoints(path);
}

bool TrendChart::ExportPoints(const QString& path) {
    // The same rules as the recordings: "." decimals, RFC 4180 fields, CR LF, UTF-8 without BOM.
    std::string text = "sample," + CsvField(columnName_.toStdString()) + "\r\n";
    for (const QCPGraphData& point : *series_->data())
        text += CsvNumber(point.key) + ',' + CsvNumber(point.value) + "\r\n";
    QSaveFile file(path);
    const bool saved = file.open(QIODevice::WriteOnly) &&
                       file.write(text.data(), qint64(text.size())) == qint64(text.size()) &&
                       file.commit();
    if (!saved)
        ShowFailure(QStringLiteral("无法导出数据：") + path + QStringLiteral("（") +
                    file.errorString() + QStringLiteral("）"));
    return saved;
}

void TrendChart::ShowFailure(const QString& text) {
    QMessageBox::warning(this, QStringLiteral("提示"), text);
}

void TrendChart::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) {
        event->ignore();
        return;
    }
    // Around the sample under the pointer; the value axis keeps the range the window set.
    xAxis->scaleRange(std::pow(kWheelZoomPerNotch, notches),
                      xAxis->pixelToCoord(event->position().x()));
    zoomed_ = true;
    ScheduleRedraw();
    event->accept();
}

QString TrendChart::PointTip(const QPoint& pos) const {
    const QCPGraphDataContainer& points = *series_->data();
    // A hidden line has no points to name.
    if (points.isEmpty() || !SeriesShown() || !axisRect()->rect().contains(pos))
        return QString();
    const double key = xAxis->pixelToCoord(pos.x());
    auto nearest = std::lower_bound(points.constBegin(), points.constEnd(), key,
                                    [](const QCPGraphData& p, double k) { return p.key < k; });
    if (nearest == points.constEnd() ||
        (nearest != points.constBegin() && key - (nearest - 1)->key < nearest->key - key))
        --nearest;
    const QLocale locale;
    QString tip = QStringLiteral("样本 %1\n%2 %3")
                      .arg(QString::number(nearest->key, 'g', 15),
                           locale.toString(nearest->value, 'g', 10), unit_);
    if (const std::optional<int64_t> ms = times_.TimeAt(nearest->key))
        tip += QLatin1Char('\n') +
               QDateTime::fromMSecsSinceEpoch(*ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return tip;
}

bool TrendChart::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QCustomPlot::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = PointTip(help->pos());
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), tip, this);
    }
    return true;
}
