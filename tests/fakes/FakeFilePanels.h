#pragma once

#include "platform/FilePanels.h"

#include <QList>
#include <QStringList>

namespace fakes {

// Installs itself as the shared panels for its lifetime; answers each panel
// with the scripted choice (nothing means Cancel) and records what it was
// asked.
class FakeFilePanels final : public platform::FilePanels {
public:
    struct Request {
        QString kind; // "save" or "open"
        QStringList texts; // save: name, message, suffix; open: title, prompt, start folder
    };

    FakeFilePanels();
    ~FakeFilePanels() override;
    FakeFilePanels(const FakeFilePanels&) = delete;
    FakeFilePanels& operator=(const FakeFilePanels&) = delete;

    std::optional<QString> chooseSaveLocation(
        QWidget* window, const QString& proposedName, const QString& message, const QString& suffix) override;
    std::optional<QString> chooseFileOrFolder(
        QWidget* window, const QString& title, const QString& prompt, const QString& startFolder) override;

    void setChoice(std::optional<QString> choice) { choice_ = std::move(choice); }
    const QList<Request>& requests() const { return requests_; }

private:
    std::optional<QString> choice_;
    QList<Request> requests_;
};

} // namespace fakes
