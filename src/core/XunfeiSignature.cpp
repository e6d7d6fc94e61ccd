#include "core/XunfeiSignature.h"

#include <QStringList>

QString XunfeiSignature::algorithm()
{
    return QStringLiteral("hmac-sha256");
}

QString XunfeiSignature::hostField(const QUrl& url)
{
    QString host = url.host(QUrl::FullyEncoded);
    if (host.contains(u':'))
        host = u'[' + host + u']';
    if (url.port() != -1)
        host += u':' + QString::number(url.port());
    return host;
}

QString XunfeiSignature::authorization(
    const QString& apiKey, const QString& signedHeaders, const QString& signature)
{
    auto quoted = [](const QString& name, const QString& value) {
        return name + QStringLiteral("=\"") + value + u'"';
    };
    return QStringList { quoted(QStringLiteral("api_key"), apiKey),
        quoted(QStringLiteral("algorithm"), algorithm()), quoted(QStringLiteral("headers"), signedHeaders),
        quoted(QStringLiteral("signature"), signature) }
        .join(QStringLiteral(", "));
}
