#include "device/mmUtilities.h"

#include "core/BackendAddress.h"
#include "core/HLBaseResponse.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/SHHttpManager.h"
#include "device/BLEModel.h"
#include "device/BackendReply.h"
#include "device/DeviceCommandLink.h"
#include "device/UWHidapiManager.h"
#include "platform/NotificationCenter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QUrl>

const QString mmUtilities::kGetKeyPath = QStringLiteral("/api/system/v2/getKey");
const QString mmUtilities::kAuthOpenKeyPath = QStringLiteral("/api/system/v1/authOpenKey");
const QString mmUtilities::kScrambleKey = QStringLiteral("742");

namespace {

const QString kCustomer = QStringLiteral("zorvane");
const QString kProductKZ31 = QStringLiteral("KZ31");
const QString kProductKZ32 = QStringLiteral("KZ32");
const QString kProductCatalogue = QStringLiteral("2");

const QString kCountryKey = QStringLiteral("country");
const QString kOpenKeyKey = QStringLiteral("openkey");
const QString kProductModelKey = QStringLiteral("product_model");
const QString kProductKey = QStringLiteral("product");
const QString kPageIndexKey = QStringLiteral("pageIndex");

const QString kIndonesiaCountry = QStringLiteral("id");
const QString kMainlandLanguageCode = QStringLiteral("zh_cn");
const QString kIndonesianLanguageCode = QStringLiteral("id_ID");
const QString kEnglishLanguageCode = QStringLiteral("en_us");
// Interface-string keys of the default language names.
const QString kMandarinName = QStringLiteral("普通话");
const QString kIndonesianName = QStringLiteral("印尼语");
const QString kEnglishName = QStringLiteral("英语");

// Key-function codes of the settings: click actions and long-press functions.
constexpr quint64 kClickNothing = 0;
constexpr quint64 kClickOpenChat = 7;
constexpr quint64 kLongVoiceSearch = 3;
constexpr quint64 kLongAiVoice = 4;

QString encoded(const QString& value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The receiver link, reached through its own command writers.
class UsbCommandLink final : public DeviceCommandLink {
public:
    explicit UsbCommandLink(UWHidapiManager& manager)
        : manager_(manager)
    {
    }
    void setPopUpWebsite(bool on) override { manager_.SetThePopUpWebsiteSwitch(on); }
    void setMicrophone(bool on) override { manager_.SetMicrophoneOpen(on); }
    void setDpi(quint64 level) override { manager_.SetDpiWithIndex(level); }
    void queryBattery() override { manager_.getDianchi(); }
    void queryDeviceInfo() override { manager_.sendGetDeviceInfoFromMouseCallBack(); }

private:
    UWHidapiManager& manager_;
};

} // namespace

mmUtilities& mmUtilities::shareInstance()
{
    static mmUtilities* shared = [] {
        auto* utilities = new mmUtilities(MMUserInfo::sharedMMUserInfo(), KWLangManager::sharedManager(),
            SHHttpManager::sharedManager(), platform::NotificationCenter::defaultCenter(),
            configuredBackendBaseUrl());
        static const std::unique_ptr<DeviceCommandLink> usb
            = usbCommandLink(UWHidapiManager::sharedUWHidapiManager());
        utilities->setUsbLink(usb.get());
        utilities->setBluetoothLink(&BLEModel::sharedManager());
        return utilities;
    }();
    return *shared;
}

mmUtilities::mmUtilities(MMUserInfo& user, KWLangManager& languages, SHHttpManager& http,
    platform::NotificationCenter& center, QString backendBaseUrl)
    : user_(user)
    , languages_(languages)
    , http_(http)
    , center_(center)
{
    setBackendBaseUrl(backendBaseUrl);
}

QString mmUtilities::configuredBackendBaseUrl()
{
    return BackendAddress::configured();
}

void mmUtilities::setBackendBaseUrl(const QString& url)
{
    backendBaseUrl_ = url.trimmed();
    while (backendBaseUrl_.endsWith(u'/'))
        backendBaseUrl_.chop(1);
}

std::unique_ptr<DeviceCommandLink> mmUtilities::usbCommandLink(UWHidapiManager& manager)
{
    return std::make_unique<UsbCommandLink>(manager);
}

QString mmUtilities::requestUrl(const QString& pathAndQuery) const
{
    return backendBaseUrl_ + pathAndQuery;
}

bool mmUtilities::backendUsable() const
{
    return BackendAddress::checkUsable(backendBaseUrl_);
}

void mmUtilities::reportFailure(const HttpFailure& failure) const
{
    if (failure.kind == HttpFailure::Kind::Transport || failure.kind == HttpFailure::Kind::Timeout)
        BackendAddress::reportUnreachable(backendBaseUrl_, failure.message);
}

// Credentials ---------------------------------------------------------------

void mmUtilities::getApiKeyWithDeviceMacAdress(const QString& /*mac*/)
{
    if (!backendUsable())
        return;
    const QString serial = user_.deviceInfo().sn();
    const QString url = requestUrl(QStringLiteral("%1?serialstring=%2&customer=%3&product=%4")
                                       .arg(kGetKeyPath, encoded(serial), kCustomer, kProductKZ31));
    std::weak_ptr<int> alive = alive_;
    http_.httpGetApiKeyWithURL(
        url,
        [this, alive, serial](const QVariant& json) {
            if (!alive.expired())
                handleApiKeyReply(serial, json);
        },
        [this, alive, serial](const HttpFailure& failure) {
            if (!alive.expired())
                reportFailure(failure);
            // Nothing to retry with: the credentials stay as they were.
            qWarning("mmUtilities: credentials request for %s failed (%s); credentials unchanged",
                qUtf8Printable(serial), qUtf8Printable(failure.message));
        });
}

void mmUtilities::handleApiKeyReply(const QString& serial, const QVariant& json)
{
    if (!isCurrentSerial(serial, "credentials"))
        return;
    const auto reply = BackendReply::fromJson(json);
    if (!reply) {
        qWarning("mmUtilities: credentials reply for %s is not a JSON object; credentials unchanged",
            qUtf8Printable(serial));
        return;
    }
    MMDeviceInfo& device = user_.deviceInfo();
    if (reply->errCode() != 0) {
        // Credentials of the previous mouse must not serve this one.
        device.setUnknownDevice(true);
        user_.setApikeyItem(std::nullopt);
        qWarning("mmUtilities: the back end does not know %s (errCode %lld); credentials cleared",
            qUtf8Printable(serial), static_cast<long long>(reply->errCode()));
        return;
    }
    device.setUnknownDevice(false);
    // Each character of the payload is one byte of the credential document.
    const QString plain = decryptText(reply->dataText(), kScrambleKey);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(plain.toLatin1(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        user_.setApikeyItem(std::nullopt);
        qWarning("mmUtilities: the credentials of %s do not unscramble to a JSON object; credentials cleared",
            qUtf8Printable(serial));
        return;
    }
    user_.setApikeyItem(mmApiKeyItem::fromJson(document.object()));
}

QString mmUtilities::decryptText(const QString& text, const QString& key)
{
    const qsizetype length = text.size();
    QString result = QStringLiteral("");
    if (length < 3)
        return result;
    const qint64 k = HLBaseResponse::integerValue(key);
    result.reserve(length / 2);
    // The last pair is the back end's trailer, not payload: stop before it.
    for (qsizetype i = 0; i + 3 <= length; i += 2) {
        const qint64 value = tensix2ten(text.mid(i, 2)).toLongLong();
        result.append(QChar(char16_t((value ^ k) & 0xFF)));
    }
    return result;
}

QString mmUtilities::tensix2ten(const QString& hexPair)
{
    if (hexPair.size() != 2 || !isHexDigit(hexPair[0]) || !isHexDigit(hexPair[1]))
        return QStringLiteral("0");
    return QString::number(hexPair.toUInt(nullptr, 16));
}

// Product information -------------------------------------------------------

void mmUtilities::getProductInfoWithDeviceMacAdress(const QString& mac, const QString& /*linkmode*/)
{
    if (!backendUsable())
        return;
    const QString url = requestUrl(QStringLiteral("%1?serialstring=%2&customer=%3&pm_id=%4")
                                       .arg(kAuthOpenKeyPath, encoded(mac), kCustomer, kProductCatalogue));
    std::weak_ptr<int> alive = alive_;
    http_.httpGetOpenkey(
        url,
        [this, alive, mac](const QVariant& json) {
            if (!alive.expired())
                handleProductInfoReply(mac, json);
        },
        [this, alive, mac](const HttpFailure& failure) {
            if (!alive.expired())
                reportFailure(failure);
            qWarning(
                "mmUtilities: product-information request for %s failed (%s); region and product unchanged",
                qUtf8Printable(mac), qUtf8Printable(failure.message));
        });
}

void mmUtilities::handleProductInfoReply(const QString& serial, const QVariant& json)
{
    if (!isCurrentSerial(serial, "product-information"))
        return;
    const auto reply = BackendReply::fromJson(json);
    if (!reply) {
        qWarning("mmUtilities: product-information reply for %s is not a JSON object; ignored",
            qUtf8Printable(serial));
        return;
    }
    const QVariantMap data = reply->dataObject();
    const QString country = HLBaseResponse::textValue(data.value(kCountryKey));
    if (reply->errCode() == BackendReply::kErrCodeDefaultProduct) {
        SetFunctionsBasedOnProductName(kProductKZ31);
        user_.setIpCountry(country);
        InitializeTypingLanguageBasedOnDeviceIp(country);
    } else if (reply->errCode() != BackendReply::kErrCodeNoProduct && reply->code() == 0) {
        user_.setIpCountry(country);
        InitializeTypingLanguageBasedOnDeviceIp(country);
        if (data.contains(kOpenKeyKey))
            user_.deviceInfo().setOpenKey(HLBaseResponse::textValue(data.value(kOpenKeyKey)));
        if (data.contains(kProductModelKey)) {
            const QVariant model = data.value(kProductModelKey);
            if (model.typeId() == QMetaType::QVariantMap)
                SetFunctionsBasedOnProductName(HLBaseResponse::textValue(model.toMap().value(kProductKey)));
            else
                qWarning("mmUtilities: \"product_model\" of %s is not an object; product unchanged",
                    qUtf8Printable(serial));
        }
    }
    center_.post(notifications::kHadProductConnected, QVariantMap { { kPageIndexKey, 0 } });
}

bool mmUtilities::isCurrentSerial(const QString& serial, const char* request) const
{
    const QString current = user_.deviceInfo().sn();
    if (serial == current)
        return true;
    qInfo("mmUtilities: dropping the %s reply for %s, the connected device is now %s", request,
        qUtf8Printable(serial), qUtf8Printable(current));
    return false;
}

void mmUtilities::SetFunctionsBasedOnProductName(const QString& name)
{
    user_.deviceInfo().setProductModelString(name);
    MMwebconfig& config = user_.webConfig();
    const quint64 current = config.fir_ai_short();
    if (current != kClickNothing && current != kClickOpenChat)
        return; // the user chose this function
    if (name == kProductKZ31) {
        config.setFir_ai_short(kClickNothing);
        config.setFir_ai_long(kLongVoiceSearch);
    } else if (name == kProductKZ32) {
        config.setFir_ai_short(kClickOpenChat);
        config.setFir_ai_long(kLongAiVoice);
    }
}

// Region defaults -----------------------------------------------------------

void mmUtilities::InitializeTypingLanguageBasedOnDeviceIp(const QString& country)
{
    if (!languages_.TypingFromCode().isEmpty() && !languages_.TransFromCode().isEmpty())
        return;
    if (country == MMUserInfo::kMainlandRegion) {
        mainlandDevice();
        return;
    }
    const bool indonesia = country == kIndonesiaCountry;
    const QString code = indonesia ? kIndonesianLanguageCode : kEnglishLanguageCode;
    const QString name = LGNLocalizedString::appLocalizedString(
        indonesia ? kIndonesianName : kEnglishName, languages_.indexOfUI(), QLocale::system().uiLanguages());
    languages_.setTypingFromCode(code);
    languages_.setTypingFromName(name);
    languages_.setTransFromCode(code);
    languages_.setTransFromName(name);
    overseasDevice();
}

void mmUtilities::mainlandDevice()
{
    const QString name = LGNLocalizedString::appLocalizedString(
        kMandarinName, languages_.indexOfUI(), QLocale::system().uiLanguages());
    languages_.setTypingFromCode(kMainlandLanguageCode);
    languages_.setTypingFromName(name);
    languages_.setTransFromCode(kMainlandLanguageCode);
    languages_.setTransFromName(name);
    MMwebconfig& config = user_.webConfig();
    config.setSec_searchEngine(0);
    config.setSec_dynamic_typing(0);
    languages_.setIndexTransTo(2);
    languages_.setIndexHuaciFrom(0);
    languages_.setIndexHuaciTo(0);
    languages_.setIndexOcrFrom(0);
    languages_.setIndexOcrTo(0);
}

void mmUtilities::overseasDevice()
{
    MMwebconfig& config = user_.webConfig();
    config.setSec_searchEngine(1);
    config.setSec_dynamic_typing(0);
    languages_.setIndexTransTo(0);
    languages_.setIndexHuaciFrom(2);
    languages_.setIndexHuaciTo(0);
    languages_.setIndexOcrFrom(35);
    languages_.setIndexOcrTo(0);
}

// Device commands -----------------------------------------------------------

DeviceCommandLink* mmUtilities::activeLink() const
{
    switch (user_.deviceInfo().testLinkMode()) {
    case kLinkBluetooth:
        if (!bluetooth_)
            qInfo("mmUtilities: the Bluetooth link is not available; command not sent");
        return bluetooth_;
    case kLinkUsb:
        if (!usb_)
            qInfo("mmUtilities: the USB receiver link is not available; command not sent");
        return usb_;
    default:
        return nullptr;
    }
}

void mmUtilities::setTanURLOpen(bool on)
{
    if (DeviceCommandLink* link = activeLink())
        link->setPopUpWebsite(on);
}

void mmUtilities::setMicphoneOpen(bool on)
{
    if (DeviceCommandLink* link = activeLink())
        link->setMicrophone(on);
    user_.deviceInfo().setAudioStreamInput(on);
}

void mmUtilities::setdpi(quint64 level)
{
    if (DeviceCommandLink* link = activeLink())
        link->setDpi(level);
}

void mmUtilities::chaDianchi()
{
    const MMDeviceInfo& device = user_.deviceInfo();
    // No battery query interleaves with the audio stream.
    if (device.audioStreamInput())
        return;
    DeviceCommandLink* link = activeLink();
    if (!link)
        return;
    // Until the firmware version is known, the device information comes first.
    if (device.firmwareVersion().isEmpty())
        link->queryDeviceInfo();
    else
        link->queryBattery();
}
