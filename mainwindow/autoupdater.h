#pragma once

// What an automatic updater offers the main window. Nothing implements it yet: the update
// hook MainWindow::initUpdater has nothing to call. An implementation checks offers with
// the rules of core/updateoffer.h.
class AutoUpdater
{
public:
    virtual ~AutoUpdater() = default;
    // Asks the server, showing what it finds.
    virtual void checkForUpdates() = 0;
    // Asks the server quietly; shows something only when there is an update.
    virtual void checkForUpdatesInBackground() = 0;
};
