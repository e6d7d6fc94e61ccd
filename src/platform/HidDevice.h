#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

// An open HID interface. Destroying it closes it.
//
// Reading may run on a thread of its own (one reader) while the thread that
// opened the device writes; the device must not be destroyed while a read is
// under way: interruptReads() ends it.
class HidDevice {
public:
    virtual ~HidDevice() = default;

    // Takes one input report, waiting at most timeoutMs milliseconds for one
    // to arrive (0: does not wait; negative: waits without limit). Returns
    // the number of bytes stored (at most capacity), 0 when none arrived in
    // time or reads were interrupted, -1 on error (the device was removed,
    // for one).
    virtual int read(uchar* buffer, qsizetype capacity, int timeoutMs) = 0;
    // From any thread: a read under way returns 0 at once, and so does every
    // later read, without waiting. For ending a reader before closing.
    virtual void interruptReads() = 0;
    // Writes one report; the first byte is the report number (00 for none,
    // which is then not sent). Returns the bytes written or -1.
    virtual int write(const uchar* data, qsizetype size) = 0;
    // The text of the device's last write failure; empty when none.
    virtual QString lastError() const = 0;
};

} // namespace platform
