#include "UiUtil.h"

#include <QApplication>
#include <QEventLoop>
#include <QFont>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <exception>

void SetButtonsEnabled(QWidget* window, bool enabled) {
    for (QPushButton* button : window->findChildren<QPushButton*>())
        button->setEnabled(enabled);
}

void DelayPumping(int milliseconds) {
    QEventLoop loop;
    // A precise timer never fires early, so the wait lasts at least the given time.
    QTimer::singleShot(std::max(0, milliseconds), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void PumpUntil(const std::function<bool()>& condition, int pollMs) {
    while (!condition())
        DelayPumping(pollMs);
}

void InstallFontSubstitutes() {
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"), {QStringLiteral("WenQuanYi Micro Hei"),
                                                            QStringLiteral("Noto Sans CJK SC"),
                                                            QStringLiteral("Noto Sans SC")});
}

void ShowHandlerError(QWidget* parent, const QString& message) {
    QString text = message;
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    QMessageBox::critical(parent, QApplication::applicationName(), text);
}

void RunHandler(QWidget* parent, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowHandlerError(parent, QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowHandlerError(parent, QStringLiteral("Unknown error"));
    }
}
