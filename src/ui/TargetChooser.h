#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace platform {
class FilePanels;
}

// The settings page's "executionLocation": the user picks a file or folder
// as the target of a custom voice command, and the page is told its address
// through its function executionLocationLoad.
//
// The address is the chosen path as a file address without percent-encoding
// ("file:///home/me/My Music/", a folder's ending with a slash). It is put
// into the script as a properly escaped string, so a quote or a line break in
// a file name can never end the string and run as script.
class TargetChooser {
public:
    static const QString kPromptKey; // "选择"
    static const QString kTitleKey; // the panel's title: what is being chosen
    static const QString kPageFunction; // "executionLocationLoad"

    // Sends a script to the settings page.
    using PageCall = std::function<void(const QString& script)>;

    // Starts in the user's home folder, over the given window.
    explicit TargetChooser(QWidget* window);
    TargetChooser(platform::FilePanels& panels, QString startFolder, QWidget* window = nullptr);

    // Shows the open panel; on a choice sends the page its script.
    void changeFolderAction(const PageCall& sendToPage);

    // The address text of a chosen path.
    static QString addressText(const QString& path);
    // "executionLocationLoad('<address, escaped>')".
    static QString pageScript(const QString& address);

private:
    platform::FilePanels& panels_;
    QString startFolder_;
    QWidget* window_ = nullptr;
};
