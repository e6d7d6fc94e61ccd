#pragma once

#include <QtGlobal>

#include <vector>

class APMPRuntimeValue;
class APMPScope;

class APMPMarker;

// Something the collector can mark: a scope, a script object, or a root of
// the host's (the editing callbacks).
class APMPMarkable {
public:
    virtual ~APMPMarkable() = default;
    virtual void mark(APMPMarker& marker) = 0;
};

// One marking pass. Marking is iterative: values and scopes to visit are
// queued here and visited by drain(), so deeply nested arrays or long
// chains of maps never deepen the C++ stack.
class APMPMarker {
public:
    explicit APMPMarker(quint64 epoch)
        : epoch_(epoch)
    {
    }

    quint64 epoch() const { return epoch_; }
    void push(APMPMarkable* markable)
    {
        if (markable)
            pending_.push_back(markable);
    }
    void drain()
    {
        while (!pending_.empty()) {
            APMPMarkable* next = pending_.back();
            pending_.pop_back();
            next->mark(*this);
        }
    }

private:
    quint64 epoch_;
    std::vector<APMPMarkable*> pending_;
};
