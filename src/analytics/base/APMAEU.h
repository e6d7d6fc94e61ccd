#pragma once

#include <QFileInfo>
#include <QString>
#include <QVariantMap>
#include <QtGlobal>

namespace platform {
class SystemFacts;
} // namespace platform

// Facts about how the application was installed and on what computer it
// runs.
class APMAEU {
public:
    // Whether the application is a store build. Store builds ignore the debug
    // and verbose logging switches. This application is never distributed
    // through a store that marks its bundles, so the answer is always no.
    static bool isFAS() { return false; }

    // The computer's model ("linux" when the firmware does not tell) and the
    // operating system's version, from the given facts or the system's own.
    static QString deviceModel(const platform::SystemFacts* facts = nullptr);
    static QString systemVersion(const platform::SystemFacts* facts = nullptr);

    // ---- Store receipt ----------------------------------------------------------

    static constexpr const char* kReceiptPathVariable = "PRAVIK_ANALYTICS_RECEIPT_PATH";
    static constexpr const char* kSandboxReceiptName = "sandboxReceipt";
    static constexpr const char* kReceiptURLCheckEnabledKey = "BasaltAppStoreReceiptURLCheckEnabled";
    static constexpr const char* kExtensionBundleSuffix = ".appex";

    // The store receipt's file: no store hands this application one, so it
    // is whatever PRAVIK_ANALYTICS_RECEIPT_PATH names; empty when unset, and
    // empty when the application's information dictionary switches the
    // check off ("BasaltAppStoreReceiptURLCheckEnabled" a false number). The
    // dictionary this application builds for itself carries no such switch.
    static QString appStoreRURL(const QVariantMap& infoDictionary = {});
    // A sandbox (test purchase) receipt: its file is named "sandboxReceipt".
    static bool isASRS(const QVariantMap& infoDictionary = {})
    {
        const QString path = appStoreRURL(infoDictionary);
        return !path.isEmpty() && QFileInfo(path).fileName() == QLatin1String(kSandboxReceiptName);
    }
    // Whether the application bundle is an extension of another application:
    // its folder's name ends in ".appex". Empty: the running program's folder.
    static bool isAEX(const QString& bundlePath = QString());
    // Running on a simulator: never.
    static bool isNOD() { return false; }
};
