#pragma once

#include <QString>

#include <functional>

class QWidget;

// What the main window asks of the rest of the application beyond its own
// view: the secondary windows (the chat window, the hot-key recorder, the
// screenshot translation with its result window, the update window), the
// page actions that need a dialog, and the services behind them: the update
// checks, the selection monitor and the Bluetooth link's retry. The
// application gives the main window its implementation; tests give a
// recording one.
class ApplicationServices {
public:
    // Sends a script to the settings page.
    using PageCall = std::function<void(const QString& script)>;

    virtual ~ApplicationServices() = default;

    virtual void showChatWindow() = 0;
    virtual void showShortCutWindow() = 0;
    // A screenshot translation: the capture tool, then the result window.
    virtual void showSnipTransWC() = 0;
    // Closes the result window when there is one.
    virtual void cancelSnipTrans() = 0;
    // The start-up update check: a newer version the user did not skip
    // opens the update window; anything else shows nothing.
    virtual void checkVersion() = 0;
    // The settings page's check on demand: a skipped version is offered
    // again, and the answer is always told.
    virtual void checkNewVersion() = 0;
    // The open panel for a custom command's target, over `window`; the
    // choice goes to the page through `sendToPage`.
    virtual void changeFolderAction(QWidget* window, PageCall sendToPage) = 0;
    // The documents folder saved as an archive where the user chooses.
    virtual void exportDocumentFolder(QWidget* window) = 0;
    // Selection translation: the drag monitor on or off.
    virtual void setSelectionMonitor(bool on) = 0;
    // Asks the Bluetooth link to attach to a mouse the system already has
    // connected, repeating every `seconds` (at most one such attempt runs).
    virtual void waitingForConnectMouseWithDaley(double seconds) = 0;
};
