#include "platform/EvdevKeyTap.h"

#include "platform/UdevDeviceMonitor.h"

#include <QDebug>
#include <QDir>
#include <QSocketNotifier>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <libudev.h>
#include <optional>
#include <unistd.h>

namespace platform {

namespace {

const char* const kSubsystem = "input";
// Where the kernel puts devices made through uinput.
const QLatin1StringView kUinputDevices("/sys/devices/virtual/input/");

std::optional<MouseKey> mouseKey(unsigned code)
{
    switch (code) {
    case KEY_F18:
        return MouseKey::F18;
    case KEY_F19:
        return MouseKey::F19;
    case KEY_F20:
        return MouseKey::F20;
    default:
        return std::nullopt;
    }
}

bool sendsMouseKeys(const libevdev* device)
{
    return libevdev_has_event_code(device, EV_KEY, KEY_F18)
        || libevdev_has_event_code(device, EV_KEY, KEY_F19)
        || libevdev_has_event_code(device, EV_KEY, KEY_F20);
}

bool anyKeyDown(const libevdev* device)
{
    for (unsigned code = 0; code <= KEY_MAX; ++code) {
        if (libevdev_has_event_code(device, EV_KEY, code)
            && libevdev_get_event_value(device, EV_KEY, code) != 0)
            return true;
    }
    return false;
}

bool stampedBefore(const input_event& event, const timespec& moment)
{
    const long long micros = static_cast<long long>(event.input_event_sec) * 1000000 + event.input_event_usec;
    const long long limit = static_cast<long long>(moment.tv_sec) * 1000000 + moment.tv_nsec / 1000;
    return micros < limit;
}

bool someInputDeviceReadable()
{
    const QStringList nodes
        = QDir(QStringLiteral("/dev/input")).entryList({ QStringLiteral("event*") }, QDir::System);
    for (const QString& name : nodes) {
        const QByteArray path = QByteArrayLiteral("/dev/input/") + name.toLocal8Bit();
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
    }
    return false;
}

} // namespace

struct EvdevKeyTap::Keyboard {
    QString node;
    int fd = -1;
    libevdev* device = nullptr;
    libevdev_uinput* mirror = nullptr;
    bool grabbed = false;
    timespec grabbedAt {}; // events stamped earlier reached the session already
    unsigned readFlags = LIBEVDEV_READ_FLAG_NORMAL;
    std::unique_ptr<QSocketNotifier> input;
    std::unique_ptr<QSocketNotifier> feedback;

    ~Keyboard()
    {
        input.reset();
        feedback.reset();
        if (grabbed)
            libevdev_grab(device, LIBEVDEV_UNGRAB);
        if (mirror)
            libevdev_uinput_destroy(mirror); // the compositor releases whatever the mirror held
        if (device)
            libevdev_free(device);
        if (fd >= 0)
            ::close(fd);
    }
};

std::unique_ptr<EvdevKeyTap> EvdevKeyTap::open()
{
    if (::access("/dev/uinput", W_OK) != 0 || !someInputDeviceReadable())
        return nullptr;
    std::unique_ptr<UdevDeviceMonitor> monitor = UdevDeviceMonitor::open(kSubsystem);
    if (!monitor)
        return nullptr;
    return std::unique_ptr<EvdevKeyTap>(new EvdevKeyTap(std::move(monitor)));
}

EvdevKeyTap::EvdevKeyTap(std::unique_ptr<UdevDeviceMonitor> monitor)
    : monitor_(std::move(monitor))
{
}

EvdevKeyTap::~EvdevKeyTap()
{
    // The monitor goes first so that no hot-plug report reaches a keyboard
    // being released.
    monitor_.reset();
    keyboards_.clear();
}

bool EvdevKeyTap::start(Handler handler)
{
    if (started_)
        return false;
    started_ = true;
    handler_ = std::move(handler);
    return monitor_->start(
        "event*", [this](udev_device* device) { add(device); }, [this](udev_device* device) { remove(device); });
}

void EvdevKeyTap::remove(udev_device* device)
{
    if (const char* node = udev_device_get_devnode(device))
        keyboards_.erase(QString::fromLocal8Bit(node));
}

void EvdevKeyTap::add(udev_device* device)
{
    const char* nodeName = udev_device_get_devnode(device);
    const char* sysname = udev_device_get_sysname(device);
    if (!nodeName || !sysname || !QByteArray(sysname).startsWith("event"))
        return;
    const QString node = QString::fromLocal8Bit(nodeName);
    if (keyboards_.count(node))
        return;
    udev_device* parent = udev_device_get_parent_with_subsystem_devtype(device, kSubsystem, nullptr);
    const char* parentPath = parent ? udev_device_get_syspath(parent) : nullptr;
    if (!parentPath || QString::fromLocal8Bit(parentPath).startsWith(kUinputDevices))
        return;

    auto keyboard = std::make_unique<Keyboard>();
    keyboard->node = node;
    keyboard->fd = ::open(nodeName, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (keyboard->fd < 0) // LEDs then stay as they are; the keys are still taken
        keyboard->fd = ::open(nodeName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (keyboard->fd < 0 || libevdev_new_from_fd(keyboard->fd, &keyboard->device) < 0
        || !sendsMouseKeys(keyboard->device))
        return;
    // Force feedback would need the uploads answered; keyboards do not use it.
    libevdev_disable_event_type(keyboard->device, EV_FF);
    if (libevdev_uinput_create_from_device(keyboard->device, LIBEVDEV_UINPUT_OPEN_MANAGED, &keyboard->mirror)
        < 0) {
        qWarning() << "No uinput mirror for" << node << "- its keys are left to the session";
        return;
    }

    Keyboard* raw = keyboard.get();
    raw->input = std::make_unique<QSocketNotifier>(raw->fd, QSocketNotifier::Read);
    QObject::connect(
        raw->input.get(), &QSocketNotifier::activated, raw->input.get(), [this, raw] { read(*raw); });
    raw->feedback
        = std::make_unique<QSocketNotifier>(libevdev_uinput_get_fd(raw->mirror), QSocketNotifier::Read);
    QObject::connect(raw->feedback.get(), &QSocketNotifier::activated, raw->feedback.get(),
        [this, raw] { forwardLeds(*raw); });
    keyboards_.emplace(node, std::move(keyboard));

    grabWhenIdle(*raw);
}

void EvdevKeyTap::grabWhenIdle(Keyboard& keyboard)
{
    // A key held now would stay down in the session for good: its release
    // would only come through the mirror. So wait until all are up.
    if (keyboard.grabbed || anyKeyDown(keyboard.device))
        return;
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now); // the clock evdev stamps its events with
    if (libevdev_grab(keyboard.device, LIBEVDEV_GRAB) == 0) {
        keyboard.grabbed = true;
        keyboard.grabbedAt = now;
    }
}

void EvdevKeyTap::read(Keyboard& keyboard)
{
    for (;;) {
        input_event event;
        const int rc = libevdev_next_event(keyboard.device, keyboard.readFlags, &event);
        if (rc == -EAGAIN) {
            if (keyboard.readFlags == LIBEVDEV_READ_FLAG_SYNC) {
                keyboard.readFlags = LIBEVDEV_READ_FLAG_NORMAL;
                continue;
            }
            grabWhenIdle(keyboard);
            return;
        }
        if (rc == LIBEVDEV_READ_STATUS_SYNC && keyboard.readFlags == LIBEVDEV_READ_FLAG_NORMAL) {
            // Events were lost; what follows brings the state up to date.
            keyboard.readFlags = LIBEVDEV_READ_FLAG_SYNC;
            continue;
        }
        if (rc != LIBEVDEV_READ_STATUS_SUCCESS && rc != LIBEVDEV_READ_STATUS_SYNC) {
            // The device is gone (or broken): let it go.
            keyboard.input->setEnabled(false);
            keyboard.feedback->setEnabled(false);
            dropLater(&keyboard);
            return;
        }

        // Not ours yet, or from before the grab: the session has seen it.
        if (!keyboard.grabbed || stampedBefore(event, keyboard.grabbedAt))
            continue;
        if (event.type == EV_KEY) {
            if (const std::optional<MouseKey> key = mouseKey(event.code)) {
                if (handler_)
                    handler_(*key, event.value == 0 ? KeyAction::Up : KeyAction::Down);
                continue;
            }
            if (event.value == 2)
                continue; // the mirror repeats held keys by itself
        }
        libevdev_uinput_write_event(keyboard.mirror, event.type, event.code, event.value);
    }
}

void EvdevKeyTap::forwardLeds(Keyboard& keyboard)
{
    input_event event;
    if (::read(libevdev_uinput_get_fd(keyboard.mirror), &event, sizeof event) != ssize_t(sizeof event))
        return;
    if (event.type == EV_LED)
        libevdev_kernel_set_led_value(
            keyboard.device, event.code, event.value ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF);
}

void EvdevKeyTap::dropLater(const Keyboard* keyboard)
{
    // Not from inside the notifier's own signal; and only this very device,
    // not one plugged in at the same node meanwhile.
    QMetaObject::invokeMethod(
        &dropContext_,
        [this, keyboard, node = keyboard->node] {
            const auto it = keyboards_.find(node);
            if (it != keyboards_.end() && it->second.get() == keyboard)
                keyboards_.erase(it);
        },
        Qt::QueuedConnection);
}

} // namespace platform
