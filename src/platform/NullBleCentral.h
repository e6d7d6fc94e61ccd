#pragma once

#include "platform/BleCentral.h"

namespace platform {

// No Bluetooth in this session: the adapter is unsupported, no device is
// ever found and every request is dropped (a retrieval is never answered:
// the link asks only while the adapter is on).
class NullBleCentral final : public BleCentral {
public:
    void setDelegate(BleCentralDelegate*) override { }
    BleAdapterState state() const override { return BleAdapterState::Unsupported; }
    void retrieveConnectedPeripherals(const QString&) override { }
    void scanForPeripherals() override { }
    void stopScan() override { }
    void connectPeripheral(const QString&) override { }
    void cancelPeripheralConnection(const QString&) override { }
    void discoverServices(const QString&) override { }
    void discoverCharacteristics(const QString&, const QString&) override { }
    void setNotifyValue(const QString&, const QString&, bool) override { }
    void readValue(const QString&, const QString&) override { }
    void writeValue(const QString&, const QString&, const QByteArray&) override { }
};

} // namespace platform
