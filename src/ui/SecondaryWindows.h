#pragma once

#include <QString>

// The windows the main window opens on demand that other parts of the
// application build: the chat window, the update window, the hot-key
// recorder, the device debug window and the translation result window with
// its capture tool. Each operation of this base logs that the window is not
// available; the application installs the implementation that has them.
class SecondaryWindows {
public:
    virtual ~SecondaryWindows() = default;

    virtual void showChatWindow() { unavailable("chat"); }
    virtual void showUpdateWindow() { unavailable("update"); }
    virtual void showShortCutWindow() { unavailable("hot-key recorder"); }
    virtual void showBleDebugWindow() { unavailable("device debug"); }
    // A screenshot translation: the capture tool, then the result window.
    virtual void showSnipTransWC() { unavailable("screenshot translation"); }
    // Closes the result window when there is one.
    virtual void cancelSnipTrans() { }
    // Page actions: choose a command target, check for a new version,
    // export the documents folder.
    virtual void changeFolderAction() { unavailable("target chooser"); }
    virtual void checkNewVersion() { unavailable("update"); }
    virtual void exportDocumentFolder() { unavailable("documents export"); }
    // Selection translation: the drag monitor on or off.
    virtual void setSelectionMonitor(bool on)
    {
        (void)on;
        unavailable("selection translation");
    }
    // Asks the Bluetooth link to attach to a mouse the system already has
    // connected, repeating every `seconds` (at most one such attempt runs).
    virtual void waitingForConnectMouseWithDaley(double seconds) { (void)seconds; }

protected:
    static void unavailable(const char* window)
    {
        qInfo("The %s window is not available in this build", window);
    }
};
