#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace platform {

// The desktop's save and open panels. Each call shows its panel modally
// (over the given window when there is one) and returns the chosen path, or
// nothing when the user cancelled.
class FilePanels {
public:
    virtual ~FilePanels() = default;

    // Where to save a new file: the proposed file name, a message shown in
    // the panel and the one allowed suffix ("zip"); the returned path ends
    // with that suffix.
    virtual std::optional<QString> chooseSaveLocation(
        QWidget* window, const QString& proposedName, const QString& message, const QString& suffix)
        = 0;
    // One existing file or folder, starting in startFolder; the user may make
    // new folders. title heads the panel; prompt is the text of the choose button.
    virtual std::optional<QString> chooseFileOrFolder(
        QWidget* window, const QString& title, const QString& prompt, const QString& startFolder)
        = 0;

    // Qt's file dialogs unless a test installed its own.
    static FilePanels& shared();
    static void setShared(FilePanels* panels); // nullptr restores Qt's dialogs
};

} // namespace platform
