#include "ui/DeviceLinkGate.h"

#include "core/MMViewGeometry.h"
#include "device/MMpermissionCheck.h"
#include "ui/MMpermiWC.h"

#include <QtGlobal>

// A missing Bluetooth adapter gets no tip: the receiver serves the mouse and
// the guide tells what Bluetooth would add.
const QString DeviceLinkGate::kTipMouse
    = QStringLiteral("鼠标的接收器和按键还不能使用：需要输入设备的访问权限。");
const QString DeviceLinkGate::kTipScreen = QStringLiteral("此会话不允许读取屏幕：截图翻译和划词翻译不可用。");

DeviceLinkGate::DeviceLinkGate(
    Hooks hooks, platform::Executor& mainQueue, platform::NotificationCenter& center)
    : hooks_(std::move(hooks))
    , mainQueue_(mainQueue)
    , center_(center)
{
}

DeviceLinkGate::~DeviceLinkGate()
{
    *alive_ = false;
    delete pmsWC_;
}

void DeviceLinkGate::checkPermission(bool mayOpenGuide)
{
    std::shared_ptr<MMpermissionCheck> checker
        = hooks_.makePermissionCheck ? hooks_.makePermissionCheck() : nullptr;
    if (!checker) {
        canUSB();
        startBluetoothLink();
        return;
    }
    permissionCheck_ = checker;
    std::weak_ptr<MMpermissionCheck> weak = checker;
    std::weak_ptr<bool> alive = alive_;
    auto probes = std::make_shared<int>(0);
    checker->permissionCheckCallback([this, weak, alive, probes, mayOpenGuide](bool) {
        // Decided once all three answers are in.
        if (alive.expired() || ++*probes < 3)
            return;
        if (const std::shared_ptr<MMpermissionCheck> check = weak.lock())
            applyPermissions(*check, mayOpenGuide);
    });
}

void DeviceLinkGate::applyPermissions(const MMpermissionCheck& check, bool mayOpenGuide)
{
    if (check.permissionOfAccessibility())
        canUSB();
    if (check.permissionOfBluetooth())
        startBluetoothLink();
    // Input access without the keys taken (the session refused the tap)
    // still leaves the mouse's keys dead: the guide's checks try again.
    if (!check.permissionOfAccessibility() || !check.keysTaken()) {
        if (tipKey_ != kTipMouse)
            qWarning("The mouse's receiver and keys cannot be used yet: input-device access is missing (the "
                     "permission window shows how to give it)");
        showTip(kTipMouse);
        if (mayOpenGuide)
            showpermissionCheckWindow();
    } else if (!check.permissionOfcScreen()) {
        if (tipKey_ != kTipScreen)
            qInfo("This session does not let PraVik read the screen: screenshot and selection translation "
                  "are off");
        showTip(kTipScreen);
    } else {
        showTip(QString());
    }
}

void DeviceLinkGate::showTip(const QString& key)
{
    tipKey_ = key;
    if (hooks_.showTip)
        hooks_.showTip(key);
}

void DeviceLinkGate::canUSB()
{
    startOnce(usbStarted_, "on its USB receiver", hooks_.startUsbWatcher);
}

void DeviceLinkGate::startBluetoothLink()
{
    startOnce(bluetoothStarted_, "over Bluetooth", hooks_.startBluetoothLink);
}

void DeviceLinkGate::startOnce(bool& started, const char* road, const std::function<void()>& start)
{
    if (started)
        return;
    started = true;
    qInfo("Looking for the mouse %s", road);
    if (start)
        start();
}

void DeviceLinkGate::showpermissionCheckWindow()
{
    ++guideWindowShows_;
    if (!pmsWC_) {
        pmsWC_ = new MMpermiWC(hooks_.makePermissionCheck, mainQueue_, center_);
        pmsWC_->setAttribute(Qt::WA_DeleteOnClose);
    }
    MMViewGeometry::bringForward(*pmsWC_);
}

MMpermiWC* DeviceLinkGate::permissionWindow() const
{
    return pmsWC_;
}
