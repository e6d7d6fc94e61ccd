#pragma once

#include "voice/MMAppdataItem.h"
#include "voice/MMCustomCmdItem.h"
#include "voice/MMAudioMonitorService.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// What voice search and voice translation reach beyond the orchestrator:
// the two command lists, the way a command's target is opened, and the two
// machine-translation services. Each translation answers once, on the main
// thread.
struct MMAudioMonitorService::Actions {
    using TranslationDone = std::function<void(const QString& text)>;
    using TextTranslationDone = std::function<void(bool success, const QString& text)>;

    // The custom commands and the installed applications, in table order.
    std::function<QList<MMCustomCmdItem>()> customCommands;
    std::function<QList<MMAppdataItem>()> applications;
    // Opens a target: cmdType "file" for a local file or application, "" for an address.
    std::function<void(const QString& path, const QString& cmdType)> openTarget;
    // The mainland service answers the translation, or its error text.
    std::function<void(const QString& from, const QString& to, const QString& text, TranslationDone done)>
        mainlandTranslation;
    // The overseas service answers whether it succeeded and the translation or the error text.
    std::function<void(const QString& from, const QString& to, const QString& text, TextTranslationDone done)>
        overseasTranslation;

    // Over the application's command store and command service; the
    // translation clients are connected by VoiceTranslationWiring (ui).
    static std::shared_ptr<Actions> shared();
};
