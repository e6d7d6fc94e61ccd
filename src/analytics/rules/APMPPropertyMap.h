#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <QHash>
#include <QStringList>
#include <QVarLengthArray>

#include <algorithm>
#include <utility>

// Named values behind objects and scopes. Names set as immutable, and every
// name once the whole map is made immutable, refuse later sets and removals
// silently. Names keep the order in which they were first set.
class APMPPropertyMap {
public:
    APMPPropertyMap() = default;
    ~APMPPropertyMap();
    APMPPropertyMap(const APMPPropertyMap&) = delete;
    APMPPropertyMap& operator=(const APMPPropertyMap&) = delete;

    bool hasName(const QString& name) const { return indexOf(name) >= 0; }
    void setValue(const APMPValue& value, const QString& name) { store(APMPValue(value), name, false); }
    void setValue(APMPValue&& value, const QString& name) { store(std::move(value), name, false); }
    void setImmutableValue(const APMPValue& value, const QString& name) { store(APMPValue(value), name, true); }
    void removeValueForName(const QString& name);
    // The undefined value when absent.
    const APMPValue& valueForName(const QString& name) const;
    // Null when absent.
    const APMPValue* find(const QString& name) const
    {
        const int at = indexOf(name);
        return at < 0 ? nullptr : &entries_[at].value;
    }
    void makeImmutable() { immutable_ = true; }
    bool isImmutable() const { return immutable_; }
    QStringList allNames() const;
    int count() const { return static_cast<int>(entries_.size()); }

    void markValues(APMPMarker& marker) const
    {
        for (const Entry& entry : entries_)
            marker.push(entry.value.get());
    }
    // Drops every entry (immutable ones included): used when the collector
    // breaks a cycle.
    void clear();
    // Drops every entry and leaves the map mutable and as if new, keeping
    // the inline capacity (a scope made again for the next call).
    void reset();

    // Whether the map holds exactly these names, in this order, none of
    // them immutable: a call scope that bound its function's parameters
    // and nothing else.
    bool holdsExactly(const QStringList& names) const;
    // Lets go of every value, keeping the names, so that the same names can
    // be bound again by position. The names are then bound to nothing: only
    // for a map nobody reads before each name is bound again (a kept call
    // scope, whose next call binds every parameter before its body runs).
    void releaseValues();
    // Binds the name at a position anew (a map that holdsExactly its names).
    void replaceValueAt(int index, APMPValue&& value);

private:
    struct Entry {
        QString name;
        APMPValue value;
        bool immutable;
    };
    static constexpr std::size_t kIndexThreshold = 12;

    // Inline for the few names most maps and scopes hold: every read of a
    // variable comes here.
    int indexOf(const QString& name) const
    {
        if (index_)
            return indexedOf(name);
        const QChar* data = name.constData();
        const qsizetype size = name.size();
        for (qsizetype i = 0; i < entries_.size(); ++i) {
            const QString& candidate = entries_[i].name;
            if (candidate.size() == size
                && (candidate.constData() == data || std::equal(data, data + size, candidate.constData())))
                return static_cast<int>(i);
        }
        return -1;
    }
    int indexedOf(const QString& name) const;
    void store(APMPValue&& value, const QString& name, bool immutable);
    void rebuildIndex();

    // Most maps and scopes hold a handful of names: those stay inline.
    QVarLengthArray<Entry, 4> entries_;
    std::unique_ptr<QHash<QString, int>> index_; // for larger maps
    bool immutable_ = false;
};

// Releases values without deepening the stack: containers hand the values
// they drop to this, and a chain of nested arrays or maps is released one
// link at a time instead of by recursive destructors.
void APMPReleaseValues(APMPValueList&& values);
// The same for the last reference to one array, map or function.
void APMPReleaseContainer(APMPValue&& value);

// The same for one value; values that hold nothing are simply dropped.
inline void APMPReleaseValue(APMPValue&& value)
{
    if (!value)
        return;
    const auto kind = value->kind();
    if (value.use_count() == 1
        && (kind == APMPRuntimeValue::Kind::Array || kind == APMPRuntimeValue::Kind::Map
            || kind == APMPRuntimeValue::Kind::Function)) {
        APMPReleaseContainer(std::move(value));
        return;
    }
    value.reset();
}

inline void APMPPropertyMap::replaceValueAt(int index, APMPValue&& value)
{
    APMPReleaseValue(std::exchange(entries_[index].value, std::move(value)));
}

// Inline, with the two that follow: a kept call scope asks on every call.
inline bool APMPPropertyMap::holdsExactly(const QStringList& names) const
{
    if (immutable_ || entries_.size() != names.size())
        return false;
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        const Entry& entry = entries_[i];
        const QString& name = names[i];
        if (entry.immutable || entry.name.size() != name.size()
            || (entry.name.constData() != name.constData()
                && !std::equal(name.constData(), name.constData() + name.size(), entry.name.constData())))
            return false;
    }
    return true;
}

inline void APMPPropertyMap::releaseValues()
{
    for (Entry& entry : entries_)
        APMPReleaseValue(std::exchange(entry.value, nullptr));
}
