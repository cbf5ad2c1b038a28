#pragma once
// Window helpers of the common module that need the toolkit.

#include <functional>

class QWidget;
class QString;

// Sets the enabled state of every push button owned by the window, in the window's own order.
void SetButtonsEnabled(QWidget* window, bool enabled);

// Waits for the given time while processing window messages, without spinning.
void DelayPumping(int milliseconds);

// Processes window messages until the condition holds, checking it every pollMs.
void PumpUntil(const std::function<bool()>& condition, int pollMs = 10);

// Lets the window's fonts resolve on machines that lack them (maps them to installed CJK fonts).
void InstallFontSubstitutes();

// The standard error box for an error that escaped a window handler: its message with a full stop
// appended, OK, the stop icon, captioned with the application's title.
void ShowHandlerError(QWidget* parent, const QString& message);

// Runs a window handler; an error that escapes it ends in the standard error box.
void RunHandler(QWidget* parent, const std::function<void()>& handler);
