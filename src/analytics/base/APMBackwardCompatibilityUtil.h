#pragma once

#include <QString>

#include <memory>

// An older measurement library linked into the same process would count
// the same events a second time. It makes itself known here, and the engine
// switches it off as it starts.
class APMBackwardCompatibilityUtil {
public:
    static const QString kOlderMeasurementClassName; // "VMRMeasurement"

    // What the older library offers: its one instance can be switched off.
    class OlderMeasurement {
    public:
        virtual ~OlderMeasurement() = default;
        virtual void setIsEnabled(bool enabled) = 0;
    };

    // The older library announces its shared instance (and with it its
    // class); null withdraws both.
    static void registerOlderMeasurement(std::shared_ptr<OlderMeasurement> sharedInstance);

    // Switches the older library off when its class is present with a shared
    // instance, and answers whether it did.
    static bool disableVMRMeasurement();
};
