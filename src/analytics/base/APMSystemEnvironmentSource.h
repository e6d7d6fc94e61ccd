#pragma once

#include "analytics/base/APMEnvironmentSource.h"

// The device facts of the running system. The model is the firmware's
// product name when the kernel exposes it and it is readable, else a fixed
// name, so bundles never go out without one.
class APMSystemEnvironmentSource final : public APMEnvironmentSource {
public:
    static const char* const kProductNamePath; // "/sys/class/dmi/id/product_name"
    static const QString kFallbackDeviceModel;

    explicit APMSystemEnvironmentSource(QString productNamePath = QString::fromLatin1(kProductNamePath));

    QString deviceModel() override;
    QString systemVersion() override;
    QStringList preferredLanguages() override;
    int secondsFromGMT() override;

private:
    const QString productNamePath_;
};
