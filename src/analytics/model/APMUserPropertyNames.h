#pragma once

#include <QHash>
#include <QString>

// Public user-property names and the short internal names the library
// stores and sends for them ("user_id" -> "_id").
const QHash<QString, QString>& APMPublicToInternalUserPropertyNames();
