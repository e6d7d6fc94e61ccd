#include "core/BackendAddress.h"

#include "core/NoticeTexts.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"

#include <QUrl>

const char* const BackendAddress::kEnvironmentVariable = "PRAVIK_BACKEND_URL";
const QString BackendAddress::kPreferenceKey = QStringLiteral("BackendBaseURL");
const QString BackendAddress::kNotConfiguredNotice = QStringLiteral("backend-not-configured");
const QString BackendAddress::kInvalidNotice = QStringLiteral("backend-invalid");
const QString BackendAddress::kUnreachableNotice = QStringLiteral("backend-unreachable");

namespace {

QString normalised(QString address)
{
    address = address.trimmed();
    while (address.endsWith(u'/'))
        address.chop(1);
    return address;
}

} // namespace

QString BackendAddress::configured(const platform::Preferences& defaults)
{
    const QString fromEnvironment = normalised(qEnvironmentVariable(kEnvironmentVariable));
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return normalised(defaults.stringValue(kPreferenceKey));
}

QString BackendAddress::configured()
{
    return configured(platform::Preferences::standard());
}

BackendAddress::State BackendAddress::stateOf(const QString& address)
{
    if (address.trimmed().isEmpty())
        return State::NotConfigured;
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || url.host().isEmpty())
        return State::Invalid;
    return State::Usable;
}

bool BackendAddress::checkUsable(const QString& address)
{
    platform::UserNotices& notices = platform::UserNotices::shared();
    switch (stateOf(address)) {
    case State::Usable:
        return true;
    case State::NotConfigured:
        if (notices.post(kNotConfiguredNotice,
                NoticeTexts::backendNotConfigured(QString::fromLatin1(kEnvironmentVariable), kPreferenceKey)))
            qWarning("Back end: no address is configured (%s or the setting %s); the mouse gets no "
                     "credentials and dictation cannot work",
                kEnvironmentVariable, qUtf8Printable(kPreferenceKey));
        return false;
    case State::Invalid:
        if (notices.post(kInvalidNotice, NoticeTexts::backendInvalid(address)))
            qWarning("Back end: the address \"%s\" is not an http or https address with a host; no "
                     "request is sent",
                qUtf8Printable(address));
        return false;
    }
    return false;
}

void BackendAddress::reportUnreachable(const QString& address, const QString& reason)
{
    if (platform::UserNotices::shared().post(
            kUnreachableNotice, NoticeTexts::backendUnreachable(address, reason)))
        qWarning("Back end: %s cannot be reached (%s); the mouse gets no credentials and dictation "
                 "cannot work",
            qUtf8Printable(address), qUtf8Printable(reason));
}
