#pragma once

#include "core/SqliteRowModel.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariantMap>

// One custom voice command as the settings page edits it and the
// "DBCustomizeCmdList" table stores it. All fields are text; a null QString is
// "no value".
class MMCustomCmdItem final : public SqliteRowModel {
public:
    MMCustomCmdItem() = default;

    // From the page's JSON object: the keys "word", "todo", "name",
    // "iconType" and "type". Numbers and booleans become their text; missing
    // keys, null and values without a text form leave the field without value.
    static MMCustomCmdItem initWithDict(const QVariantMap& dict);
    // The fields that have a value, keyed by field name.
    QVariantMap keyValues() const;

    QString type() const { return type_; }
    void setType(const QString& type) { type_ = type; }
    QString word() const { return word_; }
    void setWord(const QString& word) { word_ = word; }
    // The target: a local path as a "file:///" address, or a web address.
    QString todo() const { return todo_; }
    void setTodo(const QString& todo) { todo_ = todo; }
    QString iconType() const { return iconType_; }
    void setIconType(const QString& iconType) { iconType_ = iconType; }
    QString name() const { return name_; }
    void setName(const QString& name) { name_ = name; }

    QStringList fieldNames() const override;
    QVariant fieldValue(const QString& field) const override;
    void setFieldValue(const QString& field, const QVariant& value) override;

private:
    using Member = QString MMCustomCmdItem::*;
    // Field name to member, in column order.
    static const QList<QPair<QString, Member>>& fields();
    static Member member(const QString& field);

    QString type_;
    QString word_;
    QString todo_;
    QString iconType_;
    QString name_;
};
