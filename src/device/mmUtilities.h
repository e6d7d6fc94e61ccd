#pragma once

#include <QString>
#include <QVariant>

#include <memory>

class DeviceCommandLink;
struct HttpFailure;
class KWLangManager;
class MMUserInfo;
class SHHttpManager;
class UWHidapiManager;

namespace platform {
class NotificationCenter;
}

// The back-end client of the connected mouse and the router of its commands.
//
// When a link reads the mouse's serial it asks the back end for the device's
// cloud credentials (which every cloud client reads from MMUserInfo) and for
// its product information: the product model picks the AI key's default
// functions, the country picks mainland or overseas services and, on first
// use, the default languages.
//
// Replies are tagged with the serial they were asked for; a reply for a
// serial that is no longer the connected one is dropped, so a slow answer
// about an earlier mouse never lands on the current one.
//
// The four device commands go to the link named by MMDeviceInfo::testLinkMode
// (1 Bluetooth, 2 USB receiver); any other mode sends nothing.
// Main thread only.
class mmUtilities {
public:
    // The credentials request's path and the key its payload is scrambled with.
    static const QString kGetKeyPath;
    static const QString kAuthOpenKeyPath;
    static const QString kScrambleKey;

    static constexpr quint64 kLinkBluetooth = 1;
    static constexpr quint64 kLinkUsb = 2;

    static mmUtilities& shareInstance();

    // backendBaseUrl: scheme, host and port of the back end, e.g.
    // "http://127.0.0.1:8080"; the request paths are appended to it. Empty
    // when no back end is configured: then no request is sent and the user
    // is told so (once).
    mmUtilities(MMUserInfo& user, KWLangManager& languages, SHHttpManager& http,
        platform::NotificationCenter& center, QString backendBaseUrl);
    mmUtilities(const mmUtilities&) = delete;
    mmUtilities& operator=(const mmUtilities&) = delete;

    // The address BackendAddress reads from the environment or the settings.
    static QString configuredBackendBaseUrl();
    QString backendBaseUrl() const { return backendBaseUrl_; }
    void setBackendBaseUrl(const QString& url);

    // The links the commands go to; null when the link does not exist. The
    // caller keeps ownership and clears its link before destroying it.
    void setBluetoothLink(DeviceCommandLink* link) { bluetooth_ = link; }
    void setUsbLink(DeviceCommandLink* link) { usb_ = link; }
    // The link named by the device state's link mode; null for any other mode.
    DeviceCommandLink* activeLink() const;
    // The USB receiver's link as a command link.
    static std::unique_ptr<DeviceCommandLink> usbCommandLink(UWHidapiManager& manager);

    // Asks for the credentials of the serial held in the device state (the
    // argument is not used: the state is what the link just stored).
    void getApiKeyWithDeviceMacAdress(const QString& mac);
    // Asks for the product information of the serial; the link-mode text is
    // not used.
    void getProductInfoWithDeviceMacAdress(const QString& mac, const QString& linkmode);

    // The unscrambled payload: each pair of hex digits XOR the key's low eight
    // bits is one character. The back end appends one pair that is not part of
    // the payload, so 2n digits give n - 1 characters; fewer than three digits
    // give the empty text, a pair that is not hex counts as 0.
    static QString decryptText(const QString& text, const QString& key);
    // Two hex digits as decimal text; "0" when they are not two hex digits.
    static QString tensix2ten(const QString& hexPair);

    // Records the model and, unless the user picked another AI-key function,
    // sets that model's AI-key defaults.
    void SetFunctionsBasedOnProductName(const QString& name);
    // Region defaults of the languages and switches; nothing when both the
    // typing and the translation language were chosen before.
    void InitializeTypingLanguageBasedOnDeviceIp(const QString& country);
    void mainlandDevice();
    void overseasDevice();

    void setTanURLOpen(bool on);
    // Also records whether the audio stream is on, whatever the link.
    void setMicphoneOpen(bool on);
    void setdpi(quint64 level);
    // Battery query (or, until the firmware version is known, the device
    // information); nothing while the audio stream is on.
    void chaDianchi();

private:
    QString requestUrl(const QString& pathAndQuery) const;
    // Tells the user once when the address does not let any request out.
    bool backendUsable() const;
    // A request got no reply: tells the user once that the back end is unreachable.
    void reportFailure(const HttpFailure& failure) const;
    void handleApiKeyReply(const QString& serial, const QVariant& json);
    void handleProductInfoReply(const QString& serial, const QVariant& json);
    bool isCurrentSerial(const QString& serial, const char* request) const;

    MMUserInfo& user_;
    KWLangManager& languages_;
    SHHttpManager& http_;
    platform::NotificationCenter& center_;
    QString backendBaseUrl_;
    DeviceCommandLink* bluetooth_ = nullptr;
    DeviceCommandLink* usb_ = nullptr;
    // Handlers of requests in flight hold this weakly, so a reply that comes
    // after the client is gone is dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
