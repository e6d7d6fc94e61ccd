#include "analytics/base/APMPersistentDictionary.h"

#include "analytics/base/APMFileLocations.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/VULLogger.h"
#include "platform/PropertyListCodec.h"
#include "platform/PropertyListFile.h"
#include "platform/SerialQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRecursiveMutex>
#include <QSaveFile>

namespace {

const QString kQueueName = QStringLiteral("APMPersistentDictionary");
const QString kPersistFailedMessage = QStringLiteral("Cannot persist configs to disk");
const QString kInvalidGetKeyMessage = QStringLiteral("Cannot get object for invalid config key.");
const QString kInvalidSetKeyMessage = QStringLiteral("Cannot set object for invalid config key.");
const QString kInvalidValueMessage = QStringLiteral("Cannot set invalid object to config. Must be a string, "
                                                    "number, array, dictionary, date, or data. Value %1");
const QString kCreateFolderFailedMessage
    = QStringLiteral("Cannot create subdirectories for config plist files.");
const QString kValueKey = QStringLiteral("v");

void logStore(int level, qint64 code, const QString& message)
{
    VULLogger::shared().log(
        level, APMMonitor::kDefaultLogTag, APMMonitor::formattedMessageCode(code), message);
}

// The value as it reads back from the file, so that a value keeps its kind
// across a restart (integers of every width become 64-bit, string lists
// arrays).
std::optional<QVariant> normalized(const QVariant& value)
{
    const std::optional<QByteArray> xml
        = platform::PropertyListCodec::toXml(QVariantMap { { kValueKey, value } });
    if (!xml)
        return std::nullopt;
    const std::optional<QVariant> back = platform::PropertyListCodec::fromXml(*xml);
    if (!back)
        return std::nullopt;
    return back->toMap().value(kValueKey);
}

// Equal in kind and value, all the way down: true and 1 are different values.
bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.metaType() != b.metaType())
        return false;
    const int type = a.metaType().id();
    if (type == QMetaType::QVariantList) {
        const QVariantList la = a.toList();
        const QVariantList lb = b.toList();
        if (la.size() != lb.size())
            return false;
        for (qsizetype i = 0; i < la.size(); ++i) {
            if (!sameValue(la[i], lb[i]))
                return false;
        }
        return true;
    }
    if (type == QMetaType::QVariantMap) {
        const QVariantMap ma = a.toMap();
        const QVariantMap mb = b.toMap();
        if (ma.size() != mb.size())
            return false;
        for (auto it = ma.constBegin(); it != ma.constEnd(); ++it) {
            auto other = mb.constFind(it.key());
            if (other == mb.constEnd() || !sameValue(it.value(), other.value()))
                return false;
        }
        return true;
    }
    return a == b;
}

} // namespace

struct APMPersistentDictionary::State {
    QRecursiveMutex mutex; // guards everything below
    QString filePath;
    QVariantMap content;
    bool hasPendingPersistence = false;
    bool lastWriteFailed = false;
};

std::unique_ptr<APMPersistentDictionary> APMPersistentDictionary::initWithFileName(const QString& fileName)
{
    return create(fileName, nullptr);
}

std::unique_ptr<APMPersistentDictionary> APMPersistentDictionary::initWithFileName(
    const QString& fileName, platform::Executor& queue)
{
    return create(fileName, &queue);
}

std::unique_ptr<APMPersistentDictionary> APMPersistentDictionary::inMemory()
{
    return std::unique_ptr<APMPersistentDictionary>(new APMPersistentDictionary(QString(), nullptr, nullptr));
}

std::unique_ptr<APMPersistentDictionary> APMPersistentDictionary::create(
    const QString& fileName, platform::Executor* queue)
{
    if (fileName.isEmpty())
        return nullptr;
    const QString path = APMApplicationSupportPlistPath(fileName);
    if (path.isEmpty())
        return nullptr;
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        logStore(VULLogger::Error, 43004, kCreateFolderFailedMessage);
        return nullptr;
    }
    std::unique_ptr<platform::SerialQueue> ownQueue;
    if (!queue) {
        ownQueue = std::make_unique<platform::SerialQueue>(kQueueName);
        queue = ownQueue.get();
    }
    return std::unique_ptr<APMPersistentDictionary>(
        new APMPersistentDictionary(path, queue, std::move(ownQueue)));
}

APMPersistentDictionary::APMPersistentDictionary(
    const QString& filePath, platform::Executor* queue, std::unique_ptr<platform::SerialQueue> ownQueue)
    : ownQueue_(std::move(ownQueue))
    , queue_(queue)
    , state_(std::make_shared<State>())
{
    state_->filePath = filePath;
    if (!filePath.isEmpty())
        state_->content = platform::PropertyListFile::readDictionary(filePath);
}

APMPersistentDictionary::~APMPersistentDictionary()
{
    bool pending = false;
    {
        QMutexLocker lock(&state_->mutex);
        pending = state_->hasPendingPersistence;
    }
    if (pending)
        persistToDisk(*state_);
    ownQueue_.reset(); // waits for a write that is running
}

QString APMPersistentDictionary::filePath() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->filePath;
}

bool APMPersistentDictionary::hasPendingPersistence() const
{
    QMutexLocker lock(&state_->mutex);
    return state_->hasPendingPersistence;
}

QVariant APMPersistentDictionary::objectForKey(const QString& key)
{
    if (key.isEmpty()) {
        logStore(VULLogger::Warning, 43001, kInvalidGetKeyMessage);
        return QVariant();
    }
    QMutexLocker lock(&state_->mutex);
    return state_->content.value(key);
}

bool APMPersistentDictionary::setObject(const QVariant& value, const QString& key)
{
    if (key.isEmpty()) {
        logStore(VULLogger::Warning, 43002, kInvalidSetKeyMessage);
        return false;
    }
    std::optional<QVariant> stored;
    if (value.isValid()) {
        // Nested values are checked now, so a write can never fail on them.
        if (isValidValue(value))
            stored = normalized(value);
        if (!stored) {
            logStore(
                VULLogger::Warning, 43003, kInvalidValueMessage.arg(APMMonitor::describedContext(value)));
            return false;
        }
    }
    QMutexLocker lock(&state_->mutex);
    auto it = state_->content.find(key);
    if (stored) {
        if (it != state_->content.end() && sameValue(it.value(), *stored))
            return true;
        state_->content.insert(key, *stored);
    } else {
        if (it == state_->content.end())
            return true;
        state_->content.erase(it);
    }
    schedulePersistToDiskLocked();
    return true;
}

void APMPersistentDictionary::clearAllData()
{
    QMutexLocker lock(&state_->mutex);
    if (state_->content.isEmpty())
        return;
    state_->content.clear();
    schedulePersistToDiskLocked();
}

bool APMPersistentDictionary::synchronize()
{
    QMutexLocker lock(&state_->mutex);
    return !state_->lastWriteFailed;
}

void APMPersistentDictionary::schedulePersistToDiskLocked()
{
    if (state_->filePath.isEmpty() || state_->hasPendingPersistence)
        return;
    state_->hasPendingPersistence = true;
    std::weak_ptr<State> weak = state_;
    queue_->asyncAfter(kPersistDelaySeconds, [weak] {
        if (const std::shared_ptr<State> state = weak.lock())
            persistToDisk(*state);
    });
}

void APMPersistentDictionary::persistToDisk(State& state)
{
    QVariantMap content;
    QString path;
    {
        QMutexLocker lock(&state.mutex);
        content = state.content;
        path = state.filePath;
        state.hasPendingPersistence = false;
    }
    const std::optional<QByteArray> xml = platform::PropertyListCodec::toXml(content);
    QSaveFile file(path);
    const bool written
        = xml && file.open(QIODevice::WriteOnly) && file.write(*xml) == xml->size() && file.commit();
    {
        QMutexLocker lock(&state.mutex);
        state.lastWriteFailed = !written;
    }
    if (!written)
        logStore(VULLogger::Error, 43000, kPersistFailedMessage);
}
