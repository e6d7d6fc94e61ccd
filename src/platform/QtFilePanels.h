#pragma once

#include "platform/FilePanels.h"

namespace platform {

// Qt's own (non-native) file dialogs, which can let the user choose a file
// or a folder in one panel.
class QtFilePanels final : public FilePanels {
public:
    std::optional<QString> chooseSaveLocation(
        QWidget* window, const QString& proposedName, const QString& message, const QString& suffix) override;
    std::optional<QString> chooseFileOrFolder(
        QWidget* window, const QString& title, const QString& prompt, const QString& startFolder) override;
};

} // namespace platform
