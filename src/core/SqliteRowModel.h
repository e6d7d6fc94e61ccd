#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// A model object that HRPSqliteOperation can store as one table row: an
// ordered table of its fields (the table's columns) and access to them by
// name. A null QString or an invalid QVariant stands for "no value" (nil),
// which is stored as NULL by leaving the column out of the row.
class SqliteRowModel {
public:
    virtual ~SqliteRowModel() = default;

    // The model's own fields, in declaration order. These names are the only
    // identifiers the helper ever writes into a statement.
    virtual QStringList fieldNames() const = 0;
    virtual QVariant fieldValue(const QString& field) const = 0;
    // Names outside fieldNames() are ignored.
    virtual void setFieldValue(const QString& field, const QVariant& value) = 0;

    // The text a column holds for a value: strings as they are, numbers in
    // decimal, booleans as "1" or "0". Nil, and values without a text form
    // (lists, maps), give a null QString.
    static QString textValue(const QVariant& value);

protected:
    SqliteRowModel() = default;
    SqliteRowModel(const SqliteRowModel&) = default;
    SqliteRowModel& operator=(const SqliteRowModel&) = default;
};
