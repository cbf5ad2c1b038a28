#pragma once
// The program's start-up after the application object and AppDir exist.

class QApplication;

// Loads the saved port settings, creates the main window and runs the message loop until it has
// closed. Returns the exit code: 0, or 1 when a setting does not convert (shown in a box first).
int RunApplication(QApplication& application);
