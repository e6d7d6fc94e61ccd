#pragma once

#include "platform/Workspace.h"

#include <QList>
#include <QUrl>

namespace fakes {

// Installs itself as the shared workspace for its lifetime and records every
// address it is asked to open instead of opening it. openUrl answers with
// the scripted result (true unless set otherwise).
class FakeWorkspace final : public platform::Workspace {
public:
    FakeWorkspace();
    ~FakeWorkspace() override;
    FakeWorkspace(const FakeWorkspace&) = delete;
    FakeWorkspace& operator=(const FakeWorkspace&) = delete;

    bool openUrl(const QUrl& url) override;

    const QList<QUrl>& openedUrls() const { return openedUrls_; }
    void setOpenResult(bool result) { openResult_ = result; }

private:
    QList<QUrl> openedUrls_;
    bool openResult_ = true;
};

} // namespace fakes
