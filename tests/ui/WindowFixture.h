#pragma once
// A main window on a temporary AppDir, with the shared state reset, and helpers to answer the
// window's modal boxes.

#include <QLocale>
#include <QMessageBox>
#include <QString>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

#include "common/uCheckAll.h"
#include "support/GlobalsGuard.h"
#include "support/NumericLocale.h"
#include "support/TestSupport.h"
#include "ui/uFrmMain.h"
#include "worker/ubaseThread.h"

// What a modal box showed before a test dismissed it.
struct SeenBox {
    bool shown = false;
    QString title;
    QString text;
    QString informative;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// While it lives, dismisses the modal message boxes that appear with OK and records the last one.
class BoxAnswerer {
public:
    BoxAnswerer();
    ~BoxAnswerer();
    SeenBox seen;

private:
    QTimer* timer_;
};

// For one test: the locale the window shows numbers in, and the process's C and C++ numeric
// locale of the same name ("de_DE.UTF-8", "en_US.UTF-8", "C"). Inactive when that is not installed.
class WindowLocale {
public:
    explicit WindowLocale(const std::string& name);
    ~WindowLocale();
    bool active() const { return numeric_.active(); }

private:
    QLocale previous_;
    testsupport::NumericLocale numeric_;
};

// Processes events until the condition holds or the limit passes.
bool PumpFor(const std::function<bool()>& condition, int limitMs = 10000);

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window; call after preparing AppDir and the settings.
    void CreateWindow();
    // Registers a psu-sim as COM<port> and preselects it.
    void StartSim(int port, const std::vector<std::string>& options = {});
    void LinkPort(int port, const std::string& device);
    // Presses b1 and waits for the connect to end; a box it raises is answered and recorded.
    SeenBox Connect();
    // Closes the window as the operator would; returns once it has closed.
    void CloseWindow();
    std::string Transcript() const;

    testsupport::GlobalsGuard globals;
    testsupport::TempDir dir;
    std::unique_ptr<testsupport::SimProcess> sim;
    std::unique_ptr<TFrmMain> window;
    std::string transcriptPath;
};
