#include "voice/MMAppdataItem.h"

const QList<QPair<QString, MMAppdataItem::Member>>& MMAppdataItem::fields()
{
    // The names are the JSON keys and the table's columns alike.
    static const QList<QPair<QString, Member>> table {
        { QStringLiteral("name"), &MMAppdataItem::name_ },
        { QStringLiteral("path"), &MMAppdataItem::path_ },
        { QStringLiteral("icon"), &MMAppdataItem::icon_ },
        { QStringLiteral("cmdword"), &MMAppdataItem::cmdword_ },
    };
    return table;
}

MMAppdataItem::Member MMAppdataItem::member(const QString& field)
{
    for (const auto& [name, pointer] : fields()) {
        if (name == field)
            return pointer;
    }
    return nullptr;
}

MMAppdataItem MMAppdataItem::initWithDict(const QVariantMap& dict)
{
    MMAppdataItem item;
    for (const auto& [name, pointer] : fields())
        item.*pointer = textValue(dict.value(name));
    return item;
}

QVariantMap MMAppdataItem::keyValues() const
{
    QVariantMap values;
    for (const auto& [name, pointer] : fields()) {
        if (!(this->*pointer).isNull())
            values.insert(name, this->*pointer);
    }
    return values;
}

QStringList MMAppdataItem::fieldNames() const
{
    QStringList names;
    for (const auto& field : fields())
        names.append(field.first);
    return names;
}

QVariant MMAppdataItem::fieldValue(const QString& field) const
{
    const Member m = member(field);
    return m ? QVariant(this->*m) : QVariant();
}

void MMAppdataItem::setFieldValue(const QString& field, const QVariant& value)
{
    if (const Member m = member(field))
        this->*m = textValue(value);
}
