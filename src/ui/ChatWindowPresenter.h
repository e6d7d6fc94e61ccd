#pragma once

#include "platform/Executor.h"

#include <functional>
#include <memory>

class mmChatWC;

// Opens the AI-assistant chat window (the main window asks on
// "kHadOpenGPTNoti"): builds one when none is open, otherwise brings the open
// one to the front. Closing the
// window drops its controller, so the next notification builds a new
// window with a freshly loaded page. Main thread only.
class ChatWindowPresenter {
public:
    using Factory = std::function<std::unique_ptr<mmChatWC>()>;

    ChatWindowPresenter(Factory factory, platform::Executor& executor);
    ~ChatWindowPresenter();
    ChatWindowPresenter(const ChatWindowPresenter&) = delete;
    ChatWindowPresenter& operator=(const ChatWindowPresenter&) = delete;

    // The application's chat windows: the shared settings, audio, links and
    // the portal address of the configuration.
    static Factory applicationFactory();

    void showChatWindow();
    // The open chat window's controller; null when none is open.
    mmChatWC* chat() const { return chat_.get(); }

private:
    Factory factory_;
    platform::Executor& executor_;
    std::unique_ptr<mmChatWC> chat_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
