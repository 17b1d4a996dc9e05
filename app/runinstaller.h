#pragma once

class AppDelegate;

// Names the application for the desktop and gives it its window icon.
void identifyApplication();

// Launches `delegate` as soon as the event loop runs, runs the loop until the window is
// closed or the installer is told to close, then ends the process at once: a scan or an
// install may still be waiting for adb, and nobody waits for it.
[[noreturn]] void runInstaller(AppDelegate &delegate);
