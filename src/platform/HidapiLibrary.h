#pragma once

#include "platform/HidLibrary.h"

namespace platform {

// The HID library over hidapi's hidraw backend.
class HidapiLibrary final : public HidLibrary {
public:
    bool init() override;
    std::vector<HidDeviceInfo> enumerate(quint16 vendorId, quint16 productId) override;
    std::unique_ptr<HidDevice> open(const QByteArray& path) override;
    QString lastError() const override;
    void exit() override;
};

} // namespace platform
