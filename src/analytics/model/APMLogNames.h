#pragma once

#include "analytics/model/APMEventParameters.h"

#include <QMap>
#include <QString>
#include <QVariant>

// Texts that make log lines readable for a developer: an internal name is
// shown with its public name ("screen_view (_vs)") and parameter
// dictionaries are printed one parameter per line with public names and
// error-code names. All of that happens only while the monitor is in debug
// mode; otherwise names and objects print plainly, so normal operation never
// pays for the look-ups.

// The name, or "public (internal)" when the name is internal, debug mode is
// on, the public interface is present and the table knows a public name.
// `table` maps public names to internal names.
QString APMNameForLog(const QString& name, const QMap<QString, QString>& table);
QString APMEventNameForLog(const QString& name);
QString APMParameterNameForLog(const QString& name);
// Experiment properties ("_exp_...") print as "experiment_id (_exp_...)".
QString APMUserPropertyNameForLog(const QString& name);

// A parameter dictionary, one "name = value;" line each, sorted; any other
// object (and everything while debug mode is off) as its plain description.
QString APMParametersDescription(const QVariant& object);
QString APMParametersDescription(const EventParameters& parameters);
QString APMDescriptionWithIndent(const QVariant& object, const QString& indent);
QString APMArrayDescription(const QVariant& object);
