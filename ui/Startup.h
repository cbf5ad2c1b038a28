#pragma once
// The program's start-up after the application object and AppDir exist.

#include <exception>

class QApplication;

// Shows an error that ends the start-up before any window exists, in the "Application Error" box.
// Returns the program's exit code for it, 1.
int StartupFailure(const std::exception& error);

// Loads the saved port and recording settings, creates the main window and runs the message loop
// until it has closed. Returns the exit code: 0, or 1 when a setting does not convert (shown in a
// box first).
int RunApplication(QApplication& application);
