#pragma once

#include "platform/HidLibrary.h"

namespace platform {

// No HID access in this session: nothing initialises, nothing is found.
class HidNullLibrary final : public HidLibrary {
public:
    bool init() override { return false; }
    std::vector<HidDeviceInfo> enumerate(quint16, quint16) override { return {}; }
    std::unique_ptr<HidDevice> open(const QByteArray&) override { return nullptr; }
    QString lastError() const override { return QStringLiteral("HID access is not available"); }
    void exit() override { }
};

} // namespace platform
