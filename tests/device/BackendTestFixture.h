#pragma once

#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/SHHttpManager.h"
#include "device/mmUtilities.h"
#include "fakes/FakeBackend.h"
#include "fakes/TempHome.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QMutex>
#include <QStringList>

#include <gtest/gtest.h>
#include <memory>

// The back-end client over private settings, a private notification centre
// and the fake back end; records the product notifications it posts and the
// log lines it writes.
class BackendTestFixture : public ::testing::Test {
protected:
    static constexpr int kWaitMs = 5000;

    void SetUp() override
    {
        {
            QMutexLocker lock(&logMutex());
            logged().clear();
        }
        previousHandler_ = qInstallMessageHandler(&BackendTestFixture::capture);
        user.deviceInfo().setSn(kSerialA);
        token_ = center.addObserver(notifications::kHadProductConnected,
            [this](const platform::Notification& n) { posted.append(n.object); });
    }

    void TearDown() override
    {
        qInstallMessageHandler(previousHandler_);
        EXPECT_TRUE(backend.problems().isEmpty()) << backend.problems().join(u'\n').toStdString();
    }

    // Turns the event loop until the condition holds (bounded).
    static bool waitFor(const std::function<bool()>& condition)
    {
        return fakes::FakeHttpServer::waitUntil(condition, kWaitMs);
    }
    static bool waitForLog(const QString& fragment)
    {
        return waitFor([&] { return logContains(fragment); });
    }
    static bool logContains(const QString& fragment) { return logCount(fragment) > 0; }
    static int logCount(const QString& fragment)
    {
        QMutexLocker lock(&logMutex());
        int count = 0;
        for (const QString& line : logged())
            count += line.contains(fragment) ? 1 : 0;
        return count;
    }

    static inline const QString kSerialA = QStringLiteral("A1B2C3D4E5F6");
    static inline const QString kSerialB = QStringLiteral("0A0B0C0D0E0F");

    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/defaults.plist") };
    MMUserInfo user { prefs };
    KWLangManager languages { prefs, { QStringLiteral("en-US") }, [this] { return user.ipCountry(); } };
    SHHttpManager http { platform::HttpClient::shared() };
    platform::NotificationCenter center;
    fakes::FakeBackend backend;
    mmUtilities utilities { user, languages, http, center, backend.baseUrl() };
    QVariantList posted;

private:
    static QMutex& logMutex()
    {
        static QMutex mutex;
        return mutex;
    }
    static QStringList& logged()
    {
        static QStringList lines;
        return lines;
    }
    static void capture(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        QMutexLocker lock(&logMutex());
        logged().append(message);
    }

    QtMessageHandler previousHandler_ = nullptr;
    platform::ObserverToken token_;
};
