// Start-up: the application object, AppDir, the saved port settings, the window, the message loop.

#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "common/uCheckAll.h"
#include "ui/uFrmMain.h"
#include "ui/uiUtil.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    InitAppDir();
    try {
        LoadComSettings();
    } catch (const std::exception& error) {
        // Before any window exists a setting that does not convert ends the program.
        QMessageBox::critical(nullptr, QStringLiteral("Application Error"),
                              QString::fromLocal8Bit(error.what()));
        return 1;
    }
    InstallFontSubstitutes();
    TFrmMain window;
    window.show();
    application.exec();
    return 0;
}
