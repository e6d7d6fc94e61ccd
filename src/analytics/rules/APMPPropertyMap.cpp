#include "analytics/rules/APMPPropertyMap.h"

#include "analytics/rules/APMPUndefinedValue.h"

#include <algorithm>
#include <utility>

namespace APMPPropertyMapLocal {

struct PendingReleases {
    bool draining = false;
    APMPValueList values;
};

thread_local PendingReleases pendingReleases;

} // namespace

namespace APMPPropertyMapLocal {

// Releases what is queued, unless an outer release is doing so already.
void drain(PendingReleases& pending)
{
    if (pending.draining)
        return;
    pending.draining = true;
    while (!pending.values.empty()) {
        APMPValue next = std::move(pending.values.back());
        pending.values.pop_back();
        next.reset(); // may queue what the value held
    }
    pending.draining = false;
}

} // namespace APMPPropertyMapLocal

void APMPReleaseValues(APMPValueList&& values)
{
    APMPPropertyMapLocal::PendingReleases& pending = APMPPropertyMapLocal::pendingReleases;
    for (APMPValue& value : values) {
        if (value)
            pending.values.push_back(std::move(value));
    }
    values.clear();
    APMPPropertyMapLocal::drain(pending);
}

void APMPReleaseContainer(APMPValue&& value)
{
    // Straight to the queue, whose storage stays from one release to the
    // next: releasing a container allocates nothing.
    APMPPropertyMapLocal::PendingReleases& pending = APMPPropertyMapLocal::pendingReleases;
    pending.values.push_back(std::move(value));
    APMPPropertyMapLocal::drain(pending);
}

APMPPropertyMap::~APMPPropertyMap()
{
    clear();
}

void APMPPropertyMap::clear()
{
    if (entries_.empty())
        return;
    APMPValueList values;
    values.reserve(static_cast<std::size_t>(entries_.size()));
    for (Entry& entry : entries_)
        values.push_back(std::move(entry.value));
    entries_.clear();
    index_.reset();
    APMPReleaseValues(std::move(values));
}

void APMPPropertyMap::reset()
{
    immutable_ = false;
    index_.reset();
    // From the back, one entry at a time: the map stays whole while each
    // value is released, and clearing would reallocate the inline storage.
    while (!entries_.empty()) {
        APMPValue value = std::move(entries_.back().value);
        entries_.removeLast();
        APMPReleaseValue(std::move(value));
    }
}

int APMPPropertyMap::indexedOf(const QString& name) const
{
    return index_->value(name, -1);
}

void APMPPropertyMap::rebuildIndex()
{
    if (static_cast<std::size_t>(entries_.size()) <= kIndexThreshold) {
        index_.reset();
        return;
    }
    if (!index_)
        index_ = std::make_unique<QHash<QString, int>>();
    index_->clear();
    for (qsizetype i = 0; i < entries_.size(); ++i)
        index_->insert(entries_[i].name, static_cast<int>(i));
}

void APMPPropertyMap::store(APMPValue&& value, const QString& name, bool immutable)
{
    if (immutable_) {
        APMPReleaseValue(std::move(value));
        return;
    }
    const int at = indexOf(name);
    if (at >= 0) {
        Entry& entry = entries_[at];
        if (entry.immutable) {
            APMPReleaseValue(std::move(value));
            return;
        }
        APMPValue old = std::exchange(entry.value, std::move(value));
        entry.immutable = immutable;
        APMPReleaseValue(std::move(old));
        return;
    }
    entries_.append({ name, std::move(value), immutable });
    if (index_)
        index_->insert(name, static_cast<int>(entries_.size() - 1));
    else if (static_cast<std::size_t>(entries_.size()) > kIndexThreshold)
        rebuildIndex();
}

void APMPPropertyMap::removeValueForName(const QString& name)
{
    if (immutable_)
        return;
    const int at = indexOf(name);
    if (at < 0 || entries_[at].immutable)
        return;
    APMPValue old = std::move(entries_[at].value);
    entries_.erase(entries_.begin() + at);
    if (index_)
        rebuildIndex();
    APMPReleaseValue(std::move(old));
}

const APMPValue& APMPPropertyMap::valueForName(const QString& name) const
{
    const APMPValue* found = find(name);
    return found ? *found : APMPUndefinedValue::sharedInstance();
}

QStringList APMPPropertyMap::allNames() const
{
    QStringList names;
    names.reserve(entries_.size());
    for (const Entry& entry : entries_)
        names << entry.name;
    return names;
}
