#include "analytics/rules/APMPObjectManager.h"

#include "analytics/rules/APMPArrayValue.h"
#include "analytics/rules/APMPElementAccount.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPMapValue.h"
#include "analytics/rules/APMPScope.h"

#include <atomic>

namespace APMPObjectManagerLocal {

// Passes are numbered across all runtimes, so that a mark from one pass is
// never taken for another.
std::atomic<quint64> lastEpoch { 0 };

// Objects are allocated apart from their reference counts, so that the
// manager's weak references keep only the small count block alive.
template <class T, class... A> std::shared_ptr<T> makeTracked(APMPScope& scope, A&&... arguments)
{
    std::shared_ptr<T> object(new T(std::forward<A>(arguments)...));
    if (APMPObjectManager* manager = scope.objectManager())
        manager->addObject(object);
    return object;
}

// An array charged to the account of the scope's manager.
std::shared_ptr<APMPArrayValue> makeTrackedArray(APMPScope& scope, APMPValueList elements, APMError* error)
{
    auto array = makeTracked<APMPArrayValue>(scope, std::move(elements));
    if (APMPObjectManager* manager = scope.objectManager())
        array->attachAccount(manager->elementAccount(), error);
    return array;
}

} // namespace

APMPObjectManager::APMPObjectManager()
    : elements_(std::make_shared<APMPElementAccount>())
{
}

APMPObjectManager::~APMPObjectManager() = default;

qint64 APMPObjectManager::liveElementCount() const
{
    return elements_->live();
}

std::shared_ptr<APMPFunctionValue> APMPObjectManager::functionValueWithFunctionName(const QString& functionName,
    const QStringList& parameterNames, APMPValueList statements, const std::shared_ptr<APMPScope>& definingScope)
{
    using namespace APMPObjectManagerLocal;
    return makeTracked<APMPFunctionValue>(
        *definingScope, functionName, parameterNames, std::move(statements), definingScope);
}

std::shared_ptr<APMPMapValue> APMPObjectManager::mapValueWithScope(APMPScope& scope)
{
    using namespace APMPObjectManagerLocal;
    return makeTracked<APMPMapValue>(scope);
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::arrayValueWithScope(APMPScope& scope)
{
    using namespace APMPObjectManagerLocal;
    return makeTrackedArray(scope, {}, nullptr); // an empty array is always admitted
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::arrayValueWithArray(
    APMPValueList elements, APMPScope& scope, APMError* error)
{
    using namespace APMPObjectManagerLocal;
    return makeTrackedArray(scope, std::move(elements), error);
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::subarrayWithArray(
    const APMPArrayValue& array, qint64 start, qint64 length, APMPScope& scope, APMError* error)
{
    using namespace APMPObjectManagerLocal;
    return makeTrackedArray(scope, array.subarrayWithRange(start, length), error);
}

void APMPObjectManager::addRoot(const std::shared_ptr<APMPMarkable>& root)
{
    if (root)
        roots_.push_back(root);
}

void APMPObjectManager::addObject(const APMPValue& object)
{
    if (!object)
        return;
    // Between collections, drop the entries of objects already gone once the
    // list has doubled, so a long run does not grow it without bound.
    if (objects_.size() >= 2 * liveAfterCompaction_ + 1024) {
        std::erase_if(objects_, [](const std::weak_ptr<APMPRuntimeValue>& entry) { return entry.expired(); });
        liveAfterCompaction_ = objects_.size();
    }
    objects_.push_back(object);
}

int APMPObjectManager::trackedObjectCount() const
{
    int live = 0;
    for (const auto& entry : objects_)
        live += entry.expired() ? 0 : 1;
    return live;
}

int APMPObjectManager::rootCount() const
{
    int live = 0;
    for (const auto& entry : roots_)
        live += entry.expired() ? 0 : 1;
    return live;
}

void APMPObjectManager::sweepEverything()
{
    using namespace APMPObjectManagerLocal;
    const quint64 epoch = ++lastEpoch; // a pass that marked nothing
    for (std::size_t i = 0; i < objects_.size(); ++i) {
        if (APMPValue object = objects_[i].lock())
            object->sweep(epoch);
    }
    objects_.clear();
    liveAfterCompaction_ = 0;
}

void APMPObjectManager::collectGarbage()
{
    using namespace APMPObjectManagerLocal;
    const quint64 epoch = ++lastEpoch;
    APMPMarker marker(epoch);
    std::vector<std::shared_ptr<APMPMarkable>> liveRoots;
    for (const auto& entry : roots_) {
        if (auto root = entry.lock())
            liveRoots.push_back(std::move(root));
    }
    for (const auto& root : liveRoots) {
        marker.push(root.get());
        marker.drain();
    }
    // Sweeping releases objects, which may expire entries behind the one at
    // hand; each object is held while it is swept.
    for (std::size_t i = 0; i < objects_.size(); ++i) {
        if (APMPValue object = objects_[i].lock())
            object->sweep(epoch);
    }
    std::erase_if(objects_, [](const std::weak_ptr<APMPRuntimeValue>& entry) { return entry.expired(); });
    std::erase_if(roots_, [](const std::weak_ptr<APMPMarkable>& entry) { return entry.expired(); });
    liveAfterCompaction_ = objects_.size();
}
