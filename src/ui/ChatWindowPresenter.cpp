#include "ui/ChatWindowPresenter.h"

#include "core/MMUserInfo.h"
#include "core/MMViewGeometry.h"
#include "device/mmUtilities.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/Workspace.h"
#include "ui/ChatPortalAddress.h"
#include "ui/mmChatWC.h"
#include "voice/PcmSourceRegistry.h"

#include <QWidget>

ChatWindowPresenter::ChatWindowPresenter(Factory factory, platform::Executor& executor)
    : factory_(std::move(factory))
    , executor_(executor)
{
}

ChatWindowPresenter::~ChatWindowPresenter() = default;

ChatWindowPresenter::Factory ChatWindowPresenter::applicationFactory()
{
    return [] {
        return std::make_unique<mmChatWC>(mmChatWC::Environment { MMUserInfo::sharedMMUserInfo(),
            PcmSourceRegistry::shared(), mmUtilities::shareInstance(), platform::NotificationCenter::defaultCenter(),
            platform::MainQueue::shared(), platform::Workspace::shared(), platform::Preferences::standard(),
            ChatPortalAddress::configured() });
    };
}

void ChatWindowPresenter::showChatWindow()
{
    if (!chat_) {
        chat_ = factory_();
        // Dropped once the close has run its course, not inside it.
        chat_->setCloseHandler([this, alive = std::weak_ptr<int>(alive_)] {
            executor_.async([this, alive] {
                if (!alive.expired())
                    chat_.reset();
            });
        });
    }
    MMViewGeometry::bringForward(*chat_->window());
}
