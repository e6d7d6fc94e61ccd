#pragma once

#include <QHash>
#include <QtGlobal>

class PcmAudioSource;

// The audio source of each device link, by the link mode the device state
// names (MMDeviceInfo::testLinkMode: 1 Bluetooth, 2 USB receiver). A link
// registers its source when it is created; consumers look the source up at
// the moment they need audio. Main thread only.
class PcmSourceRegistry {
public:
    static constexpr quint64 kLinkBluetooth = 1;
    static constexpr quint64 kLinkUsb = 2;

    // The application's registry; both links' sources are in it from the start.
    static PcmSourceRegistry& shared();

    PcmSourceRegistry() = default;
    PcmSourceRegistry(const PcmSourceRegistry&) = delete;
    PcmSourceRegistry& operator=(const PcmSourceRegistry&) = delete;

    // The caller keeps ownership; null removes the entry.
    void setSource(quint64 linkMode, PcmAudioSource* source);
    // Null when no source is registered for the mode.
    PcmAudioSource* source(quint64 linkMode) const { return sources_.value(linkMode, nullptr); }

private:
    QHash<quint64, PcmAudioSource*> sources_;
};
