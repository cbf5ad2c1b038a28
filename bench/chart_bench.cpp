// The trend charts as the window sets them up, drawn offscreen: appending a sample, redrawing a
// long history (beside the engine's own sampling), memory per sample, one poll cycle's window
// work, and saving a long history as a picture.

#include <QApplication>
#include <QTest>
#include <benchmark/benchmark.h>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <unistd.h>

#include "common/uCheckAll.h"
#include "support/TestSupport.h"
#include "ui/TrendChart.h"
#include "ui/UiUtil.h"
#include "ui/uFrmMain.h"
#include "worker/ubaseThread.h"

namespace {

constexpr int kWindowPoints = 1000000;

// Noisy readings: every pixel column of a long history then spans a range, as on a real supply.
class Readings {
public:
    double Next() { return 12 + noise_(random_); }

private:
    std::mt19937 random_{42};
    std::normal_distribution<double> noise_{0, 0.05};
};

// Runs what the event loop would run next: the scheduled redraws, then the paint they ask for
// (posted while the first pass runs, so it needs a second).
void RunPendingWindowWork() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// The main window, shown offscreen, with its charts' value axes set as after a connect.
std::unique_ptr<TFrmMain> ConnectedWindow() {
    auto window = std::make_unique<TFrmMain>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        throw std::runtime_error("window not exposed");
    for (TrendChart* chart : {window->cht1, window->cht2, window->cht3}) {
        chart->SetLeftMinimum(0);
        chart->SetLeftMaximum(30);
    }
    RunPendingWindowWork();
    return window;
}

void FillWindow(TFrmMain& window, int samples) {
    Readings readings;
    for (int x = 1; x <= samples; ++x)
        window.AppendSample(x, readings.Next(), readings.Next() / 10, readings.Next() * 1.2);
    RunPendingWindowWork();
}

// A chart that can forget its scheduled redraw, so that the next append schedules one again, as
// the one append per chart of each poll cycle does.
class ProbeChart : public TrendChart {
public:
    ProbeChart()
        : TrendChart(QStringLiteral("cht"), QStringLiteral("电压"), nullptr),
          redraw_(findChild<QTimer*>(QStringLiteral("redraw"), Qt::FindDirectChildrenOnly)) {
        if (!redraw_)
            throw std::runtime_error("the chart has no redraw timer");
        resize(305, 223);
        show();
        SetLeftMinimum(0);
        SetLeftMaximum(30);
        RunPendingWindowWork();
    }
    void ForgetScheduledRedraw() { redraw_->stop(); }

private:
    QTimer* redraw_;
};

// ---- Figure 3: one append ------------------------------------------------------------------

// Empties the chart and fills it with count points, as a poll at a time would.
void Refill(ProbeChart& chart, int count, Readings& readings) {
    chart.Series()->data()->clear();
    for (int x = 1; x <= count; ++x)
        chart.AppendPoint(x, readings.Next());
    RunPendingWindowWork();
}

// Kept across the repetitions of a benchmark; released before the application ends.
std::unique_ptr<ProbeChart> appendChart;
int appendPoints = 0;

// Second argument 1: every append schedules the chart's redraw (each poll cycle's case); 0: a
// redraw is scheduled already, so only the points and the axis change.
void BM_AppendPoint(benchmark::State& state) {
    const int count = int(state.range(0));
    const bool schedulesRedraw = state.range(1) != 0;
    Readings readings;
    if (!appendChart)
        appendChart = std::make_unique<ProbeChart>();
    // Refilled whenever it has doubled, so that it holds count to 2 * count points.
    for (auto _ : state) {
        if (appendPoints < count || appendPoints >= 2 * count) {
            state.PauseTiming();
            Refill(*appendChart, count, readings);
            appendPoints = count;
            state.ResumeTiming();
        }
        appendChart->AppendPoint(++appendPoints, readings.Next());
        if (schedulesRedraw)
            appendChart->ForgetScheduledRedraw();
    }
}

// ---- Figure 4: one redraw ------------------------------------------------------------------

// A window whose first chart holds count points summarised, and whose second the same points
// added behind its series' back, so that the engine's own adaptive sampling draws them.
struct RedrawWindow {
    explicit RedrawWindow(int count) : window(ConnectedWindow()), count(count) {
        Readings readings;
        for (int x = 1; x <= count; ++x) {
            const double y = readings.Next();
            window->cht1->AppendPoint(x, y);
            window->cht2->Series()->QCPGraph::addData(x, y);
        }
        window->cht2->SetLeftMaximum(30); // shows the whole history
        RunPendingWindowWork();
    }
    std::unique_ptr<TFrmMain> window;
    int count;
};

// Kept across the repetitions of a benchmark; released before the application ends.
std::unique_ptr<RedrawWindow> redrawWindow;

RedrawWindow& RedrawWindowWith(int count) {
    if (!redrawWindow || redrawWindow->count != count) {
        redrawWindow.reset();
        redrawWindow = std::make_unique<RedrawWindow>(count);
    }
    return *redrawWindow;
}

void Redraws(benchmark::State& state, TrendChart* chart) {
    for (auto _ : state)
        chart->replot(QCustomPlot::rpImmediateRefresh);
}

void BM_Redraw(benchmark::State& state) {
    Redraws(state, RedrawWindowWith(int(state.range(0))).window->cht1);
}

void BM_RedrawEngineSampling(benchmark::State& state) {
    Redraws(state, RedrawWindowWith(int(state.range(0))).window->cht2);
}

// ---- Figure 5: memory per sample -----------------------------------------------------------

long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

void BM_MemoryPerSample(benchmark::State& state) {
    for (auto _ : state) {
        const std::unique_ptr<TFrmMain> window = ConnectedWindow();
        const long before = ResidentBytes();
        FillWindow(*window, kWindowPoints);
        state.counters["bytes_per_sample"] = double(ResidentBytes() - before) / kWindowPoints;
    }
}

// ---- Figure 6: one poll cycle's window work -------------------------------------------------

// Counts the window's chart redraws and paints, to make sure each cycle did them.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void BM_PollCycleWindowWork(benchmark::State& state) {
    const std::unique_ptr<TFrmMain> window = ConnectedWindow();
    FillWindow(*window, kWindowPoints);
    int redraws = 0;
    PaintCounter painted;
    for (TrendChart* chart : {window->cht1, window->cht2, window->cht3}) {
        QObject::connect(chart, &QCustomPlot::afterReplot, [&redraws] { ++redraws; });
        chart->installEventFilter(&painted);
    }
    TbaseThread worker(*window, *window);
    worker.SampleCount = kWindowPoints;
    // Alternating replies, so that the read-outs change every cycle.
    const std::string replies[] = {"12.00,1.20,14.40", "12.01,1.21,14.53"};
    std::size_t cycle = 0;
    for (auto _ : state) {
        worker.ParseReadings(replies[cycle++ % 2]);
        worker.ShowReadings();
        RunPendingWindowWork();
    }
    if (redraws != 3 * int(cycle) || painted.paints < 3 * int(cycle))
        state.SkipWithError("a cycle did not redraw and paint all three charts");
}

// ---- Figure 10: the picture of a long history ------------------------------------------------

// The chart's own save of a chart holding 10^6 points, as its menu runs it (twice its size).
void BM_SavePng(benchmark::State& state) {
    TrendChart* chart = RedrawWindowWith(int(state.range(0))).window->cht1;
    const testsupport::TempDir dir;
    const QString path = QString::fromStdString(dir.Path() + "chart.png");
    for (auto _ : state)
        if (!chart->SavePicture(path))
            return state.SkipWithError("the picture was not saved");
}

} // namespace

BENCHMARK(BM_AppendPoint)
    ->ArgsProduct({{1000, 10000, 100000, 1000000, 10000000}, {0, 1}})
    ->ArgNames({"points", "schedules_redraw"});
BENCHMARK(BM_Redraw)
    ->RangeMultiplier(10)
    ->Range(1000, 10000000)
    ->ArgName("points")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawEngineSampling)
    ->RangeMultiplier(10)
    ->Range(1000, 10000000)
    ->ArgName("points")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavePng)->Arg(1000000)->ArgName("points")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryPerSample)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollCycleWindowWork)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    InstallFontSubstitutes();
    const testsupport::TempDir appDir; // the window lists the ports of its AppDir
    AppDir = appDir.Path();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Widgets must go before the application object.
    appendChart.reset();
    redrawWindow.reset();
    return 0;
}
