#include "WindowFixture.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

BoxAnswerer::BoxAnswerer() : timer_(new QTimer) {
    timer_->setInterval(20);
    QObject::connect(timer_, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.shown = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.informative = box->informativeText();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });
    timer_->start();
}

BoxAnswerer::~BoxAnswerer() {
    delete timer_;
}

WindowLocale::WindowLocale(const std::string& name)
    : numeric_({name}, QLocale(QString::fromStdString(name)).decimalPoint().at(0).toLatin1()) {
    QLocale::setDefault(QLocale(QString::fromStdString(name)));
}

WindowLocale::~WindowLocale() {
    QLocale::setDefault(previous_);
}

bool PumpFor(const std::function<bool()>& condition, int limitMs) {
    return QTest::qWaitFor(condition, limitMs);
}

void WindowTest::SetUp() {
    AppDir = dir.Path();
    ComPortName = "com1";
    ComBaudRate = 115200;
    RatedVoltage = 0;
    RatedCurrent = 0;
    transcriptPath = dir.Path() + "transcript.txt";
}

void WindowTest::TearDown() {
    // No worker may outlive its window. The tests of closing close it themselves; the others end
    // the worker at once instead of paying the close sequence's one-second wait.
    RequestWorkerStop();
    EXPECT_TRUE(PumpFor([] { return Worker.load() == nullptr; })) << "the worker did not end";
    window.reset();
    sim.reset();
}

void WindowTest::CreateWindow() {
    window = std::make_unique<TFrmMain>();
    window->show();
    // Focus moves only within the active window.
    window->activateWindow();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
}

void WindowTest::StartSim(int port, const std::vector<std::string>& options) {
    std::vector<std::string> all = {"--noise", "0", "--transcript", transcriptPath};
    all.insert(all.end(), options.begin(), options.end());
    sim = std::make_unique<testsupport::SimProcess>(dir.Path(), port, all);
    ComPortName = sim->PortName();
}

void WindowTest::LinkPort(int port, const std::string& device) {
    std::filesystem::create_directories(dir.Path() + "ports");
    std::filesystem::create_symlink(device, dir.Path() + "ports/com" + std::to_string(port));
}

SeenBox WindowTest::Connect() {
    BoxAnswerer answerer;
    window->b1->click();
    return answerer.seen;
}

void WindowTest::CloseWindow() {
    window->close();
    ASSERT_FALSE(window->isVisible());
}

std::string WindowTest::Transcript() const {
    return testsupport::ReadFile(transcriptPath);
}
