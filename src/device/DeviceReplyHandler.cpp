#include "device/DeviceReplyHandler.h"

#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "device/DeviceBattery.h"
#include "device/DeviceLinkHooks.h"
#include "device/DeviceReplyFrame.h"
#include "platform/NotificationCenter.h"

namespace {

const QString kModeKey = QStringLiteral("mode");

enum LinkMode : quint64 {
    kBluetooth = 1,
    kUsbReceiver = 2,
};

} // namespace

DeviceReplyHandler::DeviceReplyHandler(MMDeviceInfo& device, MMwebconfig& config,
    platform::NotificationCenter& center, DeviceBattery& battery, const DeviceLinkHooks& hooks)
    : device_(device)
    , config_(config)
    , center_(center)
    , battery_(battery)
    , hooks_(hooks)
{
}

QString DeviceReplyHandler::linkModeText(const QString& linkText)
{
    if (linkText == QLatin1StringView("02"))
        return QStringLiteral("蓝牙1"); // not shown: sent to the back end
    if (linkText == QLatin1StringView("03"))
        return QStringLiteral("蓝牙2"); // not shown: sent to the back end
    if (linkText == QLatin1StringView("04"))
        return QStringLiteral("接收器"); // not shown: sent to the back end
    return QString();
}

void DeviceReplyHandler::handle(const DeviceReplyFrame& reply, DeviceLink link)
{
    if (reply.tooShort)
        return;
    using Kind = DeviceReplyFrame::Kind;
    switch (reply.kind) {
    case Kind::Dpi:
        config_.setFir_dpi(DeviceReplyFrame::dpiLevel(reply.dpi));
        break;
    case Kind::PopUpState:
        config_.setFir_downAddress(reply.popUpState);
        break;
    case Kind::Firmware:
        device_.setFirmwareVersion(reply.firmwareVersion);
        break;
    case Kind::DeviceName:
        device_.setFirmwareVersion(reply.firmwareVersion);
        device_.setDeviceModel(DeviceReplyFrame::modelForName(reply.deviceName));
        break;
    case Kind::Battery:
        battery_.update(reply.batteryLow, reply.batteryHigh);
        break;
    case Kind::Serial:
        device_.setSn(reply.serial);
        if (hooks_.getApiKeyWithDeviceMacAdress)
            hooks_.getApiKeyWithDeviceMacAdress(reply.serial);
        if (hooks_.getProductInfoWithDeviceMacAdress)
            hooks_.getProductInfoWithDeviceMacAdress(reply.serial, QString());
        break;
    case Kind::SerialAndLink:
        identify(reply, link);
        break;
    case Kind::None:
    case Kind::Audio:
    case Kind::Microphone:
    case Kind::Status05:
        break;
    }
}

void DeviceReplyHandler::identify(const DeviceReplyFrame& reply, DeviceLink link)
{
    device_.setSn(reply.serial);
    const QString linkMode = linkModeText(reply.linkText);
    if (reply.linkText == QLatin1StringView("02") || reply.linkText == QLatin1StringView("03"))
        device_.setTestLinkMode(kBluetooth);
    else if (reply.linkText == QLatin1StringView("04"))
        device_.setTestLinkMode(kUsbReceiver);

    const auto requestDeviceData = [&] {
        if (hooks_.getApiKeyWithDeviceMacAdress)
            hooks_.getApiKeyWithDeviceMacAdress(reply.serial);
        if (hooks_.getProductInfoWithDeviceMacAdress)
            hooks_.getProductInfoWithDeviceMacAdress(reply.serial, linkMode);
    };
    const auto announce = [&] {
        device_.setDeviceConnectionMode(DeviceReplyFrame::leadingDecimal(reply.linkText));
        center_.post(notifications::kHadReloadConnectImage,
            QVariantMap { { kModeKey, QVariant::fromValue(device_.DeviceConnectionMode()) } });
    };
    // The receiver asks the back end first; BLE announces the connection first.
    if (link == DeviceLink::Usb) {
        requestDeviceData();
        announce();
    } else {
        announce();
        requestDeviceData();
    }
}
