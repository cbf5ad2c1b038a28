// A chart's right-click menu (save, copy, export, reset), its wheel zoom and its point tool tip,
// through the real widget offscreen; and the time line that the tool tip reads.

#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <filesystem>
#include <gtest/gtest.h>

#include "ChartFixture.h"
#include "support/TestSupport.h"
#include "ui/SampleTimeline.h"
#include "ui/TrendChart.h"

namespace {

// A moment of the supply's day: 11 December 2026, 14:03:27 local time.
const qint64 kStartMs = QDateTime(QDate(2026, 12, 11), QTime(14, 3, 27)).toMSecsSinceEpoch();

class ChartMenuTest : public ChartFixture {
protected:
    void SetUp() override {
        ChartFixture::SetUp();
        chart.SetValueUnit(QStringLiteral("V"), QStringLiteral("voltage_V"));
        // One point a second; sample 50 arrives at 14:04:17.
        for (int x = 1; x <= 100; ++x)
            chart.AppendPoint(x, (x % 30) + 0.25, kStartMs + (x - 1) * 1000);
        chart.replot();
        chart.SetPathChooser([this](const QString&, const QString&) { return chosenPath; });
    }

    QMenu* Menu() const { return chart.findChild<QMenu*>(QStringLiteral("chartMenu")); }

    // Opens the menu with a right click and triggers the action with that text.
    void Choose(const QString& text) {
        QTest::mouseClick(&chart, Qt::RightButton, {}, PlotCentre());
        ASSERT_TRUE(Menu()->isVisible()) << "a right click opened no menu";
        QAction* chosen = nullptr;
        for (QAction* action : Menu()->actions())
            if (action->text() == text)
                chosen = action;
        ASSERT_NE(chosen, nullptr) << text.toStdString();
        Menu()->hide();
        chosen->trigger();
    }

    QPoint PlotCentre() const { return chart.axisRect()->rect().center(); }
    QPoint PixelOfSample(double x) const {
        return QPoint(int(std::lround(chart.xAxis->coordToPixel(x))), PlotCentre().y());
    }

    void Wheel(QPoint at, int notches) {
        QWheelEvent wheel(at, chart.mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&chart, &wheel);
    }

    testsupport::TempDir dir;
    QString chosenPath;
};

TEST_F(ChartMenuTest, ARightClickOpensTheMenuARightDragPansInstead) {
    QTest::mouseClick(&chart, Qt::RightButton, {}, PlotCentre());
    ASSERT_TRUE(Menu()->isVisible());
    QStringList texts;
    for (QAction* action : Menu()->actions())
        texts << action->text();
    EXPECT_EQ(texts, QStringList({QStringLiteral("保存图片…"), QStringLiteral("复制图片"),
                                  QStringLiteral("导出数据…"), QStringLiteral("复位缩放")}));
    Menu()->hide();

    const QCPRange before = chart.xAxis->range();
    const QPoint from = PlotCentre();
    QTest::mousePress(&chart, Qt::RightButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, from + QPoint(40, 0), chart.mapToGlobal(from), Qt::NoButton,
                     Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &move);
    QTest::mouseRelease(&chart, Qt::RightButton, {}, from + QPoint(40, 0));
    EXPECT_FALSE(Menu()->isVisible()) << "a pan opened the menu";
    EXPECT_LT(chart.xAxis->range().lower, before.lower);
}

struct PictureCase {
    const char* name;
    const char* chosen; // the name given in the dialog
    const char* saved;  // the file that results
    const char* format; // what its bytes say it is: an image format, or "PDF"
};

class SavePicture : public ChartMenuTest, public ::testing::WithParamInterface<PictureCase> {};

TEST_P(SavePicture, TakesTheKindFromTheExtensionAtLeastAtTheChartsSize) {
    chosenPath = QString::fromStdString(dir.Path() + GetParam().chosen);
    Choose(QStringLiteral("保存图片…"));
    const QString saved = QString::fromStdString(dir.Path() + GetParam().saved);
    ASSERT_TRUE(QFile::exists(saved)) << saved.toStdString();
    if (std::string(GetParam().format) == "PDF") {
        EXPECT_EQ(testsupport::ReadFile(saved.toStdString()).substr(0, 5), "%PDF-");
        return;
    }
    QImageReader reader(saved);
    EXPECT_EQ(reader.format(), QByteArray(GetParam().format));
    const QImage image = reader.read();
    EXPECT_GE(image.width(), chart.width());
    EXPECT_GE(image.height(), chart.height());
}

const PictureCase kPictures[] = {
    {"Png", "c.png", "c.png", "png"},
    {"Jpg", "c.JPG", "c.JPG", "jpeg"},
    {"Pdf", "c.pdf", "c.pdf", "PDF"},
    {"NoExtensionBecomesPng", "c", "c.png", "png"},
};
INSTANTIATE_TEST_SUITE_P(Kinds, SavePicture, ::testing::ValuesIn(kPictures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChartMenuTest, ACancelledDialogSavesNothing) {
    chosenPath.clear();
    Choose(QStringLiteral("保存图片…"));
    Choose(QStringLiteral("导出数据…"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(ChartMenuTest, CopyPutsThePictureOnTheClipboard) {
    QApplication::clipboard()->clear();
    Choose(QStringLiteral("复制图片"));
    const QImage image = QApplication::clipboard()->image();
    EXPECT_GE(image.width(), chart.width());
    EXPECT_GE(image.height(), chart.height());
}

TEST_F(ChartMenuTest, ExportWritesEveryPointAsCsv) {
    chart.AppendPoint(101, 1e-5);
    chosenPath = QString::fromStdString(dir.Path() + "points.csv");
    Choose(QStringLiteral("导出数据…"));
    std::string expected = "sample,voltage_V\r\n";
    for (int x = 1; x <= 100; ++x)
        expected += std::to_string(x) + "," + std::to_string(x % 30) + ".25\r\n";
    expected += "101,1e-05\r\n";
    EXPECT_EQ(testsupport::ReadFile(dir.Path() + "points.csv"), expected);
}

TEST_F(ChartMenuTest, AnExportThatCannotBeWrittenSaysSo) {
    // A directory where the file should go: the box appears and is dismissed.
    const QString path = QString::fromStdString(dir.Path());
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    EXPECT_FALSE(chart.ExportPoints(path));
    EXPECT_TRUE(shown.startsWith(QStringLiteral("无法导出数据："))) << shown.toStdString();
}

TEST_F(ChartMenuTest, TheWheelZoomsTheSampleAxisAroundThePointerAndResetUndoes) {
    const QPoint at = PixelOfSample(70);
    const double keyAt = chart.xAxis->pixelToCoord(at.x());
    Wheel(at, 2);
    const QCPRange zoomed = chart.xAxis->range();
    EXPECT_LT(zoomed.size(), 99 * 0.75);
    EXPECT_NEAR(chart.xAxis->pixelToCoord(at.x()), keyAt, 1e-9) << "the pointer's sample moved";
    EXPECT_EQ(chart.yAxis->range(), QCPRange(0, 30)) << "the value axis moved";
    chart.AppendPoint(101, 1);
    EXPECT_EQ(chart.xAxis->range(), zoomed) << "a new point undid the zoom";
    Wheel(at, -4);
    EXPECT_GT(chart.xAxis->range().size(), zoomed.size());

    Choose(QStringLiteral("复位缩放"));
    EXPECT_EQ(chart.xAxis->range(), QCPRange(1, 101));
    chart.AppendPoint(102, 1);
    EXPECT_EQ(chart.xAxis->range(), QCPRange(1, 102));
}

TEST_F(ChartMenuTest, HoveringNamesTheNearestPointWithItsUnitAndTime) {
    const QPoint at = PixelOfSample(50.3);
    QHelpEvent help(QEvent::ToolTip, at, chart.mapToGlobal(at));
    QApplication::sendEvent(&chart, &help);
    const QString expected = QStringLiteral("样本 50\n") + QLocale().toString(20.25, 'g', 10) +
                             QStringLiteral(" V\n2026-12-11 14:04:16");
    EXPECT_EQ(QToolTip::text(), expected);
    EXPECT_EQ(chart.PointTip(chart.axisRect()->rect().topLeft() - QPoint(5, 5)), QString())
        << "a tip outside the plot";
    chart.SetSeriesShown(false);
    EXPECT_EQ(chart.PointTip(at), QString()) << "a tip for a hidden line";
}

// ---- The time line ---------------------------------------------------------------------------

TEST(SampleTimeline, GivesEachPointItsTimeWithFewPieces) {
    SampleTimeline times;
    std::vector<std::pair<double, int64_t>> points;
    int64_t ms = 1'000'000;
    for (int x = 1; x <= 3000; ++x) {
        // A steady pace with a few milliseconds of jitter; a missed poll every 500 samples and
        // a new worker (a pause of a minute) at 2000.
        ms += 1000 + (x * 7919) % 7 - 3 + (x % 500 == 0 ? 1000 : 0) + (x == 2000 ? 60000 : 0);
        times.Add(x, ms);
        points.emplace_back(x, ms);
    }
    for (const auto& [x, at] : points)
        ASSERT_NEAR(double(*times.TimeAt(x)), double(at), SampleTimeline::kToleranceMs) << x;
    // One piece for each stretch between the pauses.
    EXPECT_LE(times.PieceCount(), 7u);
    EXPECT_FALSE(times.TimeAt(0.5).has_value());
}

TEST(SampleTimeline, PointsOutOfOrderLeaveNoTimes) {
    SampleTimeline times;
    times.Add(1, 1000);
    times.Add(2, 2000);
    times.Add(1.5, 3000);
    times.Add(3, 4000);
    EXPECT_FALSE(times.TimeAt(2).has_value());
    EXPECT_FALSE(times.TimeAt(3).has_value());
}

} // namespace
