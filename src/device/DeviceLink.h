#pragma once

// The two ways the mouse reaches the application. The frames differ only in
// their lead byte; the order in which replies are recognised differs too.
enum class DeviceLink {
    Usb,
    Ble,
};
