#pragma once

#include "core/SqliteRowModel.h"

#include <QList>
#include <QPair>
#include <QVariantMap>

// Reading and writing the fields of a row model, for HRPSqliteOperation.
class HRPSqliteTool {
public:
    HRPSqliteTool() = delete;

    // The model's field names, in its own order.
    static QStringList allPropertyNamesFieldNameModel(const SqliteRowModel& model);

    // Field name to value, for every field that has a value (nil fields are
    // left out); values in their text form.
    static QVariantMap propertiesApsFieldNameModel(const SqliteRowModel& model);

    // The same in field order, as the insert and update statements use it.
    static QList<QPair<QString, QString>> orderedPropertiesFieldNameModel(const SqliteRowModel& model);

    // A random integer from a to b, both included; the bounds may come in
    // either order.
    static int getRandomNumber(int a, int b);
};
