#pragma once

#include "core/SqliteRowModel.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariantMap>

// One installed application with its spoken command, as the
// "DBMyAppsoooCmdListKey" table stores it and the settings page lists it.
// All fields are text; a null QString is "no value".
class MMAppdataItem final : public SqliteRowModel {
public:
    MMAppdataItem() = default;

    // From a JSON object with the keys "name", "path", "icon" and "cmdword".
    // Numbers and booleans become their text; missing keys, null and values
    // without a text form leave the field without value.
    static MMAppdataItem initWithDict(const QVariantMap& dict);
    // The fields that have a value, keyed by field name.
    QVariantMap keyValues() const;

    // The application's display name.
    QString name() const { return name_; }
    void setName(const QString& name) { name_ = name; }
    // "file://" followed by the application's path, not percent-encoded.
    QString path() const { return path_; }
    void setPath(const QString& path) { path_ = path; }
    // The application's icon as PNG in Base64 text.
    QString icon() const { return icon_; }
    void setIcon(const QString& icon) { icon_ = icon; }
    // The spoken command that opens the application.
    QString cmdword() const { return cmdword_; }
    void setCmdword(const QString& cmdword) { cmdword_ = cmdword; }

    QStringList fieldNames() const override;
    QVariant fieldValue(const QString& field) const override;
    void setFieldValue(const QString& field, const QVariant& value) override;

private:
    using Member = QString MMAppdataItem::*;
    // Field name to member, in column order.
    static const QList<QPair<QString, Member>>& fields();
    static Member member(const QString& field);

    QString name_;
    QString path_;
    QString icon_;
    QString cmdword_;
};
