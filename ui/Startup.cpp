#include "Startup.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "UiUtil.h"
#include "common/uCheckAll.h"
#include "publish/MqttSettings.h"
#include "uFrmMain.h"

int StartupFailure(const std::exception& error) {
    QMessageBox::critical(nullptr, QStringLiteral("Application Error"),
                          QString::fromLocal8Bit(error.what()));
    return 1;
}

int RunApplication(QApplication& application) {
    try {
        LoadComSettings();
        LoadRecordSettings();
        LoadPublishSettings();
    } catch (const std::exception& error) {
        // Before any window exists a setting that does not convert ends the program.
        return StartupFailure(error);
    }
    InstallFontSubstitutes();
    TFrmMain window;
    window.show();
    application.exec();
    return 0;
}
