#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

// An open HID interface. Destroying it closes it.
class HidDevice {
public:
    virtual ~HidDevice() = default;

    // Takes one waiting input report without blocking. Returns the number of
    // bytes stored (at most capacity), 0 when nothing is waiting, -1 on error.
    virtual int read(uchar* buffer, qsizetype capacity) = 0;
    // Writes one report; the first byte is the report number (00 for none,
    // which is then not sent). Returns the bytes written or -1.
    virtual int write(const uchar* data, qsizetype size) = 0;
    // The text of the device's last failure; empty when none.
    virtual QString lastError() const = 0;
};

} // namespace platform
