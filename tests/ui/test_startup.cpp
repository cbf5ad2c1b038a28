// The program's start-up with the settings file as the operator may have left it.

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <optional>
#include <random>

#include "WindowFixture.h"
#include "ui/Startup.h"

namespace {

namespace fs = std::filesystem;

// While it lives, closes the main window as soon as it is shown, noting the baud rate it selected.
class MainWindowCloser {
public:
    MainWindowCloser() {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { CloseShownWindow(); });
        timer_.start();
    }
    bool shown = false;
    QString baud;

private:
    void CloseShownWindow() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<TFrmMain*>(widget);
            if (!window || !window->isVisible())
                continue;
            timer_.stop();
            shown = true;
            baud = window->c_bt->currentText();
            window->close();
            return;
        }
    }

    QTimer timer_;
};

struct StartupCase {
    const char* what;
    std::optional<std::string> config; // nothing: no file at all
    int exitCode;
    QString box;  // the start-up error box's text, when the program must not start
    QString baud; // the selected baud rate, when it starts
};

void PrintTo(const StartupCase& c, std::ostream* out) {
    *out << c.what;
}

std::string Junk() {
    std::mt19937 random(3);
    std::string bytes(16 * 1024, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() % 256);
    return bytes;
}

std::string Baud(const std::string& value) {
    return "[com Info]\r\ncom=COM7\r\nbaut=" + value + "\r\n";
}

class Startup : public WindowTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(Startup, StartsWithTheSettingsOrStopsWithTheErrorBox) {
    const StartupCase& c = GetParam();
    if (c.config)
        testsupport::WriteFile(dir.Path() + "config.ini", *c.config);
    BoxAnswerer answerer;
    MainWindowCloser closer;

    const int exitCode = RunApplication(*qobject_cast<QApplication*>(QCoreApplication::instance()));

    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_EQ(closer.shown, c.exitCode == 0) << "the window is made only when the settings load";
    EXPECT_EQ(answerer.seen.shown, !c.box.isEmpty());
    if (c.exitCode == 0) {
        EXPECT_EQ(closer.baud, c.baud);
    } else {
        EXPECT_EQ(answerer.seen.title, "Application Error");
        EXPECT_EQ(answerer.seen.text.toStdString(), c.box.toStdString());
        EXPECT_EQ(answerer.seen.icon, QMessageBox::Critical);
    }
    EXPECT_EQ(Worker.load(), nullptr);
    EXPECT_EQ(FrmMain, nullptr) << "no pointer to the gone window is left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Files, Startup,
    ::testing::Values(StartupCase{"NoFile", std::nullopt, 0, "", "115200"},
                      StartupCase{"Decimal", Baud("9600"), 0, "", "9600"},
                      StartupCase{"DollarHex", Baud("$2580"), 0, "", "9600"},
                      StartupCase{"ZeroXHex", Baud("0x2580"), 0, "", "9600"},
                      StartupCase{"NotOffered", Baud("4800"), 0, "", ""},
                      StartupCase{"EmptyValue", Baud(""), 1, "'' is not a valid integer value", ""},
                      StartupCase{"Unit", Baud("9600bps"), 1,
                                  "'9600bps' is not a valid integer value", ""},
                      StartupCase{"BinaryJunk", Junk(), 0, "", "115200"},
                      StartupCase{"TwoMegabyteValue", Baud(std::string(2 * 1024 * 1024, '7')), 1,
                                  QString::fromStdString("'" + std::string(2047, '7') +
                                                         "' is not a valid integer value"),
                                  ""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(WindowTest, StartupWithADirectoryNamedConfigIniUsesTheDefaults) {
    fs::create_directory(dir.Path() + "config.ini");
    MainWindowCloser closer;
    EXPECT_EQ(RunApplication(*qobject_cast<QApplication*>(QCoreApplication::instance())), 0);
    EXPECT_TRUE(closer.shown);
    EXPECT_EQ(closer.baud, "115200");
}

} // namespace
