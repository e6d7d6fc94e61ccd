#pragma once

class APMEClient;
class APMError;

namespace platform {
class Executor;
}

// What an experiment client tells the component that registered it. Every
// method has a neutral default, so an observer answers only what it needs.
class APMEExperimentObserverDelegate {
public:
    virtual ~APMEExperimentObserverDelegate() = default;

    // A new snapshot for the client's SDK is waiting to be activated.
    virtual void clientDidReceiveNewSnapshot(APMEClient& client) { (void)client; }
    // Fetching experiments for the client's SDK failed; the error may be null.
    virtual void client(APMEClient& client, const APMError* error)
    {
        (void)client;
        (void)error;
    }
    // Whether experiments should be fetched for the client now.
    virtual bool shouldFetchExperimentsForClient(APMEClient& client)
    {
        (void)client;
        return true;
    }
    // Where new-snapshot notices reach this observer; null: the manager's
    // notice queue (the main queue).
    virtual platform::Executor* queue() { return nullptr; }
};
