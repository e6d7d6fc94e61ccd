#include "analytics/model/APMLogNames.h"

#include "analytics/model/APMEventNames.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/model/APMUserPropertyNames.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMLibrary.h"

#include <QStringList>

#include <algorithm>

namespace {

const QString kPublicInterfaceClass = QStringLiteral("BASAnalytics");
const QString kLogBasaltPrefix = QStringLiteral("basalt_");
const QString kExperimentPrefix = QStringLiteral("_exp_");
const QString kExperimentName = QStringLiteral("experiment_id");
const QString kNestedIndent = QStringLiteral("    ");

bool debugModeOn()
{
    return APMLibrary::monitor().isDebugModeEnabled();
}

QString withInternalName(const QString& publicName, const QString& internalName)
{
    return QStringLiteral("%1 (%2)").arg(publicName, internalName);
}

bool isLogList(const QVariant& object)
{
    const int id = object.metaType().id();
    return id == QMetaType::QVariantList || id == QMetaType::QStringList;
}

// The list inside a plain list or an array value; nothing for anything else.
std::optional<QVariantList> listOf(const QVariant& object)
{
    if (isLogList(object))
        return object.toList();
    if (object.metaType() == QMetaType::fromType<APMValue>() && object.value<APMValue>().isArray())
        return object.value<APMValue>().arrayValue();
    return std::nullopt;
}

QString valueText(const QString& key, const QVariant& value)
{
    if (const std::optional<QVariantList> list = listOf(value))
        return APMArrayDescription(*list);
    if (key == APMEventNames::kErrorParameter && value.metaType() == QMetaType::fromType<APMValue>()
        && value.value<APMValue>().isInt64()) {
        const qint64 code = value.value<APMValue>().int64Value();
        const auto name = APMEventErrorCodeNames().constFind(code);
        if (name != APMEventErrorCodeNames().cend())
            return withInternalName(name.value(), QString::number(code));
        return QString::number(code);
    }
    return APMMonitor::describedContext(value);
}

} // namespace

QString APMNameForLog(const QString& name, const QMap<QString, QString>& table)
{
    if (name.isEmpty() || table.isEmpty() || APMIsPublicName(name))
        return name;
    if (!debugModeOn() || !APMClassRegistry::classExists(kPublicInterfaceClass))
        return name;
    // A "basalt_" name is only the fallback: the other public name of the
    // same parameter is the one developers write.
    QString fallback;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        if (it.value() != name)
            continue;
        if (!it.key().startsWith(kLogBasaltPrefix))
            return withInternalName(it.key(), name);
        if (fallback.isEmpty())
            fallback = it.key();
    }
    return fallback.isEmpty() ? name : withInternalName(fallback, name);
}

QString APMEventNameForLog(const QString& name)
{
    return APMNameForLog(name, APMPublicToInternalEventNames());
}

QString APMParameterNameForLog(const QString& name)
{
    return APMNameForLog(name, APMPublicToInternalParameterNames());
}

QString APMUserPropertyNameForLog(const QString& name)
{
    if (name.startsWith(kExperimentPrefix))
        return withInternalName(kExperimentName, name);
    static const QMap<QString, QString> table = [] {
        QMap<QString, QString> sorted;
        const QHash<QString, QString>& names = APMPublicToInternalUserPropertyNames();
        for (auto it = names.cbegin(); it != names.cend(); ++it)
            sorted.insert(it.key(), it.value());
        return sorted;
    }();
    return APMNameForLog(name, table);
}

QString APMParametersDescription(const QVariant& object)
{
    return APMDescriptionWithIndent(object, QString());
}

QString APMParametersDescription(const EventParameters& parameters)
{
    return APMParametersDescription(APMVariantMapFromParameters(parameters));
}

QString APMDescriptionWithIndent(const QVariant& object, const QString& indent)
{
    if (!debugModeOn() || object.metaType().id() != QMetaType::QVariantMap)
        return APMMonitor::describedContext(object);
    const QVariantMap map = object.toMap();
    QStringList lines;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        lines << QStringLiteral("%1    %2 = %3;\n")
                     .arg(indent, APMParameterNameForLog(it.key()), valueText(it.key(), it.value()));
    }
    std::sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    return indent + QStringLiteral("{\n") + lines.join(QString()) + indent + QLatin1Char('}');
}

QString APMArrayDescription(const QVariant& object)
{
    const std::optional<QVariantList> list = listOf(object);
    if (!debugModeOn() || !list)
        return APMMonitor::describedContext(object);
    QStringList elements;
    for (const QVariant& element : *list)
        elements << APMDescriptionWithIndent(element, kNestedIndent);
    return QStringLiteral("[\n") + elements.join(QStringLiteral(",\n")) + QStringLiteral("\n") + kNestedIndent
        + QLatin1Char(']');
}
