#pragma once

#include <QtGlobal>

#include <optional>

// The bundle bookkeeping of the app metadata row: the index of the last
// bundle the engine built and the time span that bundle covered.
class APMAppMetadata {
public:
    // Nothing for a negative index (logged).
    static std::optional<APMAppMetadata> initWithLastBundleIndex(
        qint32 lastBundleIndex, double lastBundleStartTimestamp, double lastBundleEndTimestamp);

    qint32 lastBundleIndex() const { return lastBundleIndex_; }
    double lastBundleStartTimestamp() const { return lastBundleStartTimestamp_; }
    void setLastBundleStartTimestamp(double timestamp) { lastBundleStartTimestamp_ = timestamp; }
    double lastBundleEndTimestamp() const { return lastBundleEndTimestamp_; }
    void setLastBundleEndTimestamp(double timestamp) { lastBundleEndTimestamp_ = timestamp; }

    // The next index; past the largest 32-bit value it starts again at 0.
    void incrementLastBundleIndex();

private:
    APMAppMetadata(qint32 lastBundleIndex, double lastBundleStartTimestamp, double lastBundleEndTimestamp);

    qint32 lastBundleIndex_;
    double lastBundleStartTimestamp_;
    double lastBundleEndTimestamp_;
};
