#pragma once

#include "voice/PcmAudioSource.h"

#include <QByteArray>

// A device link's audio source for tests: it counts who subscribed and
// hands pushed blocks to the current subscriber.
class ScriptedPcmSource final : public PcmAudioSource {
public:
    void setPcmSubscriber(Subscriber s) override
    {
        subscriber = std::move(s);
        ++subscriptions;
    }
    void push(const QByteArray& pcm)
    {
        if (subscriber)
            subscriber(pcm);
    }

    Subscriber subscriber;
    int subscriptions = 0;
};
