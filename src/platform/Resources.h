#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// The application's read-only resources (pages, language lists, string
// tables, images). Looked up, in order, under $PRAVIK_RESOURCES, then
// "resources" beside or one level above the executable's folder, then the
// installed share folder.
class Resources {
public:
    static QString root();
    // Absolute path of a resource, or an empty string when it does not exist.
    static QString path(const QString& relative);
    static std::optional<QByteArray> read(const QString& relative);
};

} // namespace platform
