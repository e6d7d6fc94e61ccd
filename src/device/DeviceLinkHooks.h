#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// What a device link asks of the rest of the application. The links live
// below the back-end client and the recording, so the application wires
// these once at start-up; a hook left empty does nothing.
struct DeviceLinkHooks {
    // A serial arrived: the credentials request, then the product-information
    // request with the link-mode text ("蓝牙1", "蓝牙2", "接收器" or "").
    std::function<void(const QString& sn)> getApiKeyWithDeviceMacAdress;
    std::function<void(const QString& sn, const QString& linkMode)> getProductInfoWithDeviceMacAdress;
    // The low-power timer fired: ask the mouse for its battery over the active link.
    std::function<void()> chaDianchi;
    // Every decoded audio block goes to the recording: first the level, then the data.
    std::function<void(const QByteArray& pcm)> isQuite;
    std::function<void(const QByteArray& pcm)> writePcmData;
};
