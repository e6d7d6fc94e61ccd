#pragma once

#include "platform/HidDevice.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

namespace platform {

// One HID interface as the enumeration reports it.
struct HidDeviceInfo {
    QByteArray path;
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString serialNumber;
    QString manufacturer;
    QString product;
    quint16 releaseNumber = 0;
    int interfaceNumber = -1;
    quint16 usagePage = 0;
    quint16 usage = 0;
};

// The HID devices of the machine: enumeration by vendor and product id and
// opening an interface by its path. Main thread only.
class HidLibrary {
public:
    virtual ~HidLibrary() = default;

    // False when the library cannot be used (the null backend always).
    virtual bool init() = 0;
    // Interfaces with the given ids, in the order the system lists them.
    virtual std::vector<HidDeviceInfo> enumerate(quint16 vendorId, quint16 productId) = 0;
    // Opens an interface; null on failure (see lastError()).
    virtual std::unique_ptr<HidDevice> open(const QByteArray& path) = 0;
    // The library's text for its last failure outside a device; empty when none.
    virtual QString lastError() const = 0;
    // Releases what init() acquired. Open devices must be closed first.
    virtual void exit() = 0;

    // The backend of this session: hidapi when it initialises, else the null
    // backend. PRAVIK_HID=hidapi|null overrides the probe.
    static HidLibrary& shared();
    static std::unique_ptr<HidLibrary> create(const QString& choice);
};

} // namespace platform
