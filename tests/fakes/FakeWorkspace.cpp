#include "fakes/FakeWorkspace.h"

namespace fakes {

FakeWorkspace::FakeWorkspace()
{
    platform::Workspace::setShared(this);
}

FakeWorkspace::~FakeWorkspace()
{
    platform::Workspace::setShared(nullptr);
}

bool FakeWorkspace::openUrl(const QUrl& url)
{
    openedUrls_.append(url);
    return openResult_;
}

} // namespace fakes
