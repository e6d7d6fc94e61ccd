#include "platform/SpeechSynthesizer.h"

#include "platform/NullSpeechSynthesizer.h"
#include "platform/QtSpeechSynthesizer.h"

#include <QDebug>

namespace platform {

std::unique_ptr<SpeechSynthesizer> SpeechSynthesizer::create(const QString& choice)
{
    if (choice != QLatin1StringView("null")) {
        if (auto speech = QtSpeechSynthesizer::open())
            return speech;
    }
    if (choice != QLatin1StringView("null"))
        qWarning() << "Speech output is not available: no speech engine (install speech-dispatcher or flite for Qt "
                      "TextToSpeech)";
    return std::make_unique<NullSpeechSynthesizer>();
}

SpeechSynthesizer& SpeechSynthesizer::shared()
{
    static const std::unique_ptr<SpeechSynthesizer> speech = create(qEnvironmentVariable("PRAVIK_SPEECH"));
    return *speech;
}

} // namespace platform
