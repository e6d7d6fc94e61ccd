#pragma once

#include "analytics/base/APMConfigStore.h"

#include <memory>

namespace platform {
class Executor;
class SerialQueue;
} // namespace platform

// A config store kept in memory and mirrored into a property-list file in
// the library's Application Support folder. A change is written one second
// after the first unsaved change of a burst, in one piece and atomically
// (temporary file, then rename), from a copy taken under the lock, so readers
// and writers never wait for the disk. A pending write happens at destruction
// at the latest. Safe to use from any thread.
class APMPersistentDictionary final : public APMConfigStore {
public:
    static constexpr double kPersistDelaySeconds = 1.0;

    // The store of "<name>.plist" with its own serial queue. Nothing for an
    // empty name, or when the folder cannot be made (logged at error level).
    static std::unique_ptr<APMPersistentDictionary> initWithFileName(const QString& fileName);
    // The same, writing through the given executor, which must outlive it.
    static std::unique_ptr<APMPersistentDictionary> initWithFileName(
        const QString& fileName, platform::Executor& queue);
    // A store that keeps its values in memory only.
    static std::unique_ptr<APMPersistentDictionary> inMemory();

    ~APMPersistentDictionary() override;

    APMPersistentDictionary(const APMPersistentDictionary&) = delete;
    APMPersistentDictionary& operator=(const APMPersistentDictionary&) = delete;

    // Empty for a store in memory.
    QString filePath() const;
    bool hasPendingPersistence() const;

    QVariant objectForKey(const QString& key) override;
    // Setting the value a key already holds (same kind, same value) and
    // removing a missing key change nothing and schedule no write.
    bool setObject(const QVariant& value, const QString& key) override;
    void clearAllData() override;
    // The store writes by itself; false when its last write failed.
    bool synchronize() override;

private:
    struct State;

    APMPersistentDictionary(
        const QString& filePath, platform::Executor* queue, std::unique_ptr<platform::SerialQueue> ownQueue);
    static std::unique_ptr<APMPersistentDictionary> create(
        const QString& fileName, platform::Executor* queue);
    void schedulePersistToDiskLocked();
    static void persistToDisk(State& state);

    std::unique_ptr<platform::SerialQueue> ownQueue_;
    platform::Executor* queue_;
    std::shared_ptr<State> state_;
};
