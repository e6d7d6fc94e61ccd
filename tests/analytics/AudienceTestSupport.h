#pragma once

// Shared by the audience tests: builders for the definition messages of the
// configuration, with the slots written down from the schema tables, and a
// measurement database in a folder of its own.

#include "analytics/base/APMError.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFilter.h"
#include "analytics/wire/APMPBNumberFilter.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBStringFilter.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

#include <memory>
#include <optional>
#include <vector>

namespace audience_test {

inline std::unique_ptr<APMPBNumberFilter> numberFilter(std::optional<int> type, const QString& value = QString(),
    const QString& min = QString(), const QString& max = QString())
{
    auto filter = APMPBNumberFilter::initWithMessageInfo();
    if (type)
        APMPBSetInt32Field(filter.get(), 0, *type);
    if (!value.isNull())
        APMPBSetStringField(filter.get(), 2, value);
    if (!min.isNull())
        APMPBSetStringField(filter.get(), 3, min);
    if (!max.isNull())
        APMPBSetStringField(filter.get(), 4, max);
    return filter;
}

inline std::unique_ptr<APMPBStringFilter> stringFilter(std::optional<int> type, const QString& expression,
    std::optional<bool> caseSensitive = std::nullopt, const QStringList& list = {})
{
    auto filter = APMPBStringFilter::initWithMessageInfo();
    if (type)
        APMPBSetInt32Field(filter.get(), 0, *type);
    if (!expression.isNull())
        APMPBSetStringField(filter.get(), 1, expression);
    if (caseSensitive)
        APMPBSetBoolField(filter.get(), 2, *caseSensitive);
    if (!list.isEmpty()) {
        QVariantList values;
        for (const QString& entry : list)
            values.append(entry);
        APMPBSetArrayField(filter.get(), 3, values);
    }
    return filter;
}

inline std::unique_ptr<APMPBFilter> valueFilter(const APMPBStringFilter* string, const APMPBNumberFilter* number,
    bool complement = false, const QString& parameterName = QString())
{
    auto filter = APMPBFilter::initWithMessageInfo();
    if (string)
        APMPBSetMessageField(filter.get(), 0, string);
    if (number)
        APMPBSetMessageField(filter.get(), 1, number);
    if (complement)
        APMPBSetBoolField(filter.get(), 2, true);
    if (!parameterName.isNull())
        APMPBSetStringField(filter.get(), 3, parameterName);
    return filter;
}

inline std::unique_ptr<APMPBFilter> numberOf(
    const QString& parameter, int type, const QString& value, const QString& min = {}, const QString& max = {})
{
    return valueFilter(nullptr, numberFilter(type, value, min, max).get(), false, parameter);
}

inline std::unique_ptr<APMPBFilter> stringOf(const QString& parameter, int type, const QString& expression)
{
    return valueFilter(stringFilter(type, expression).get(), nullptr, false, parameter);
}

struct Flags {
    bool dynamic = false;
    bool sequence = false;
    bool sessionScoped = false;
};

inline std::unique_ptr<APMPBEventFilter> eventFilter(std::optional<int> id, const QString& name,
    std::vector<std::unique_ptr<APMPBFilter>> parameters = {}, const APMPBNumberFilter* count = nullptr,
    Flags flags = {})
{
    auto filter = APMPBEventFilter::initWithMessageInfo();
    if (id)
        APMPBSetInt32Field(filter.get(), 0, *id);
    if (!name.isNull())
        APMPBSetStringField(filter.get(), 1, name);
    if (!parameters.empty())
        APMPBSetArrayField(filter.get(), 2, parameters);
    if (count)
        APMPBSetMessageField(filter.get(), 4, count);
    if (flags.dynamic)
        APMPBSetBoolField(filter.get(), 5, true);
    if (flags.sequence)
        APMPBSetBoolField(filter.get(), 6, true);
    if (flags.sessionScoped)
        APMPBSetBoolField(filter.get(), 7, true);
    return filter;
}

inline std::unique_ptr<APMPBPropertyFilter> propertyFilter(
    std::optional<int> id, const QString& name, const APMPBFilter* value, Flags flags = {})
{
    auto filter = APMPBPropertyFilter::initWithMessageInfo();
    if (id)
        APMPBSetInt32Field(filter.get(), 0, *id);
    if (!name.isNull())
        APMPBSetStringField(filter.get(), 1, name);
    if (value)
        APMPBSetMessageField(filter.get(), 2, value);
    if (flags.dynamic)
        APMPBSetBoolField(filter.get(), 3, true);
    if (flags.sequence)
        APMPBSetBoolField(filter.get(), 4, true);
    if (flags.sessionScoped)
        APMPBSetBoolField(filter.get(), 5, true);
    return filter;
}

inline std::unique_ptr<APMPBAudience> audience(std::optional<int> id,
    std::vector<std::unique_ptr<APMPBEventFilter>> events,
    std::vector<std::unique_ptr<APMPBPropertyFilter>> properties = {})
{
    auto message = APMPBAudience::initWithMessageInfo();
    if (id)
        APMPBSetInt32Field(message.get(), 0, *id);
    if (!properties.empty())
        APMPBSetArrayField(message.get(), 1, properties);
    if (!events.empty())
        APMPBSetArrayField(message.get(), 2, events);
    return message;
}

template <class T> std::vector<std::unique_ptr<T>> listOf(std::unique_ptr<T> one)
{
    std::vector<std::unique_ptr<T>> list;
    list.push_back(std::move(one));
    return list;
}

// A measurement database in a folder of its own.
struct DatabaseFolder {
    QTemporaryDir dir;
    std::unique_ptr<APMDatabase> database;

    DatabaseFolder()
    {
        APMError error;
        database = APMDatabase::initWithDatabasePath(dir.filePath(APMDatabase::kDatabaseName), nullptr, &error);
    }
};

} // namespace audience_test
