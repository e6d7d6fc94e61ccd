#include "fakes/FakeAdServicesServer.h"

#include <QRegularExpression>
#include <QSet>

namespace fakes {

const QString FakeAdServicesServer::kPath = QStringLiteral("/pagead/conversion/app/deeplink");

namespace {

// Every key the lookup knows, and whether it must be there.
struct AdServicesKey {
    const char* name;
    bool required;
    bool numeric;
};
const AdServicesKey kAdServicesKeys[] = {
    { "sdk_version", true, true },
    { "rdid", true, false },
    { "id_type", true, false },
    { "bundleid", true, false },
    { "retry", true, true },
    { "ddl_test", false, true },
    { "gcs", false, false },
    { "dma", false, true },
    { "dma_cps", false, false },
    { "npa", false, true },
};

} // namespace

FakeAdServicesServer::FakeAdServicesServer()
{
    http_.setFallback(Reply::text("not found", 404));
}

QUrl FakeAdServicesServer::url() const
{
    QUrl address = http_.url();
    address.setPath(QString());
    return address;
}

void FakeAdServicesServer::script(const QList<Reply>& replies)
{
    for (const Reply& reply : replies)
        http_.enqueue("GET", kPath, reply);
}

QList<FakeAdServicesServer::Lookup> FakeAdServicesServer::lookups() const
{
    QList<Lookup> checked;
    for (const FakeHttpServer::Request& request : http_.requests())
        checked.append(check(request));
    return checked;
}

FakeAdServicesServer::Lookup FakeAdServicesServer::check(const FakeHttpServer::Request& request)
{
    Lookup lookup;
    lookup.query = request.query();
    if (request.method != "GET")
        lookup.problems << QStringLiteral("method %1").arg(QString::fromLatin1(request.method));
    if (request.path() != kPath)
        lookup.problems << QStringLiteral("path %1").arg(request.path());
    if (!request.body.isEmpty())
        lookup.problems << QStringLiteral("a body of %1 bytes").arg(request.body.size());
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    QSet<QString> known;
    for (const AdServicesKey& key : kAdServicesKeys) {
        const QString name = QString::fromLatin1(key.name);
        known.insert(name);
        const QStringList values = lookup.query.allQueryItemValues(name, QUrl::FullyDecoded);
        if (values.size() > 1)
            lookup.problems << QStringLiteral("%1 given %2 times").arg(name).arg(values.size());
        if (values.isEmpty() && key.required)
            lookup.problems << QStringLiteral("no %1").arg(name);
        if (!values.isEmpty() && key.numeric && !digits.match(values.first()).hasMatch())
            lookup.problems << QStringLiteral("%1 is not a number: %2").arg(name, values.first());
    }
    if (lookup.value(QStringLiteral("id_type")) != QStringLiteral("idfa") && lookup.has(QStringLiteral("id_type")))
        lookup.problems << QStringLiteral("id_type %1").arg(lookup.value(QStringLiteral("id_type")));
    for (const auto& [key, value] : lookup.query.queryItems(QUrl::FullyDecoded)) {
        if (!known.contains(key))
            lookup.problems << QStringLiteral("unknown key %1").arg(key);
    }
    return lookup;
}

} // namespace fakes
