#pragma once

#include <QString>

// Names of the notifications the application posts on the default centre.
// Observers and posters use these constants, never their own spelling.
namespace notifications {

inline const QString kRefreshLog = QStringLiteral("RefreshLogNoti");
inline const QString kHadChangeUILanguage = QStringLiteral("kHadChangeUILanguageNoti");
inline const QString kHadReloadConnectImage = QStringLiteral("kHadReloadConnectImageNoti");
inline const QString kHadReloadDianciImage = QStringLiteral("kHadReloadDianciImageNoti");
inline const QString kHadProductConnected = QStringLiteral("kHadProductConnectedNoti");
inline const QString kHadOpenGPT = QStringLiteral("kHadOpenGPTNoti");
inline const QString kHadGPTSpeechText = QStringLiteral("kHadGPTSpeechTextNoti");
inline const QString kHadSnipTrans = QStringLiteral("kHadSnipTransNoti");
inline const QString kHadPermissinAllAccept = QStringLiteral("kHadPermissinAllAcceptNoti");
inline const QString kHadCancelSnipTrans = QStringLiteral("HadCancelSnipTransNoti");
inline const QString kHadNewOCRHotkey = QStringLiteral("kHadNewOCRHotkeyNoti");
inline const QString kHadUSBShutdownInfo = QStringLiteral("HadUSBShutdownInfoNotification");
inline const QString kGetMyApp = QStringLiteral("kGetMyAppNoti");
inline const QString kReloadMyAppNumbersOneByOne = QStringLiteral("kReloadMyAppNumbersOneByOne");
// Texts for the Bluetooth debug window's log; nothing posts it yet.
inline const QString kBleData = QStringLiteral("bleDataNoti");

} // namespace notifications
