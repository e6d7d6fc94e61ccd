#include "core/HRPSqliteTool.h"

#include <QRandomGenerator>

#include <utility>

QStringList HRPSqliteTool::allPropertyNamesFieldNameModel(const SqliteRowModel& model)
{
    return model.fieldNames();
}

QVariantMap HRPSqliteTool::propertiesApsFieldNameModel(const SqliteRowModel& model)
{
    QVariantMap values;
    for (const auto& [name, text] : orderedPropertiesFieldNameModel(model))
        values.insert(name, text);
    return values;
}

QList<QPair<QString, QString>> HRPSqliteTool::orderedPropertiesFieldNameModel(const SqliteRowModel& model)
{
    QList<QPair<QString, QString>> values;
    for (const QString& name : model.fieldNames()) {
        const QString text = SqliteRowModel::textValue(model.fieldValue(name));
        if (!text.isNull())
            values.append({ name, text });
    }
    return values;
}

int HRPSqliteTool::getRandomNumber(int a, int b)
{
    if (b < a)
        std::swap(a, b);
    // The span of two ints always fits 64 bits; a + offset never passes b.
    const quint64 span = static_cast<quint64>(static_cast<qint64>(b) - static_cast<qint64>(a)) + 1;
    const quint64 offset = QRandomGenerator::global()->bounded(span);
    return static_cast<int>(static_cast<qint64>(a) + static_cast<qint64>(offset));
}
