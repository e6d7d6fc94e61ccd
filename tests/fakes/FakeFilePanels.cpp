#include "fakes/FakeFilePanels.h"

namespace fakes {

FakeFilePanels::FakeFilePanels()
{
    platform::FilePanels::setShared(this);
}

FakeFilePanels::~FakeFilePanels()
{
    platform::FilePanels::setShared(nullptr);
}

std::optional<QString> FakeFilePanels::chooseSaveLocation(
    QWidget*, const QString& proposedName, const QString& message, const QString& suffix)
{
    requests_.append({ QStringLiteral("save"), { proposedName, message, suffix } });
    return choice_;
}

std::optional<QString> FakeFilePanels::chooseFileOrFolder(
    QWidget*, const QString& title, const QString& prompt, const QString& startFolder)
{
    requests_.append({ QStringLiteral("open"), { title, prompt, startFolder } });
    return choice_;
}

} // namespace fakes
