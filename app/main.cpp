// Start-up: the application object and AppDir; the rest is RunApplication.

#include <QApplication>

#include "common/uCheckAll.h"
#include "ui/Startup.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    try {
        InitAppDir();
    } catch (const std::exception& error) {
        return StartupFailure(error);
    }
    return RunApplication(application);
}
