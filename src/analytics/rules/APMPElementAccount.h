#pragma once

#include "analytics/rules/APMPRuntimeError.h"

// The elements that all arrays of one runtime hold together. An array is
// charged before it grows and credited when it shrinks, drops its elements
// or goes away, so that the memory a runtime holds stays bounded across all
// the runs it makes, not only within one. One runtime is used on one thread
// at a time, and so is its account.
class APMPElementAccount {
public:
    explicit APMPElementAccount(qint64 limit = APMPLimits::kMaxLiveElements)
        : limit_(limit)
    {
    }
    APMPElementAccount(const APMPElementAccount&) = delete;
    APMPElementAccount& operator=(const APMPElementAccount&) = delete;

    // Takes `count` more elements; false, taking nothing, beyond the limit.
    bool admit(qint64 count)
    {
        if (count > limit_ - live_)
            return false;
        live_ += count;
        return true;
    }
    void release(qint64 count) { live_ -= count; }
    qint64 live() const { return live_; }

private:
    qint64 limit_;
    qint64 live_ = 0;
};
