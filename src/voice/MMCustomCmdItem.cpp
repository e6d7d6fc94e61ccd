#include "voice/MMCustomCmdItem.h"

const QList<QPair<QString, MMCustomCmdItem::Member>>& MMCustomCmdItem::fields()
{
    // The names are the JSON keys and the table's columns alike.
    static const QList<QPair<QString, Member>> table {
        { QStringLiteral("type"), &MMCustomCmdItem::type_ },
        { QStringLiteral("word"), &MMCustomCmdItem::word_ },
        { QStringLiteral("todo"), &MMCustomCmdItem::todo_ },
        { QStringLiteral("iconType"), &MMCustomCmdItem::iconType_ },
        { QStringLiteral("name"), &MMCustomCmdItem::name_ },
    };
    return table;
}

MMCustomCmdItem::Member MMCustomCmdItem::member(const QString& field)
{
    for (const auto& [name, pointer] : fields()) {
        if (name == field)
            return pointer;
    }
    return nullptr;
}

MMCustomCmdItem MMCustomCmdItem::initWithDict(const QVariantMap& dict)
{
    MMCustomCmdItem item;
    for (const auto& [name, pointer] : fields())
        item.*pointer = textValue(dict.value(name));
    return item;
}

QVariantMap MMCustomCmdItem::keyValues() const
{
    QVariantMap values;
    for (const auto& [name, pointer] : fields()) {
        if (!(this->*pointer).isNull())
            values.insert(name, this->*pointer);
    }
    return values;
}

QStringList MMCustomCmdItem::fieldNames() const
{
    QStringList names;
    for (const auto& field : fields())
        names.append(field.first);
    return names;
}

QVariant MMCustomCmdItem::fieldValue(const QString& field) const
{
    const Member m = member(field);
    return m ? QVariant(this->*m) : QVariant();
}

void MMCustomCmdItem::setFieldValue(const QString& field, const QVariant& value)
{
    if (const Member m = member(field))
        this->*m = textValue(value);
}
