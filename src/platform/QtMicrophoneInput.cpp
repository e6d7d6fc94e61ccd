#include "platform/QtMicrophoneInput.h"

#include "platform/NullMicrophoneInput.h"

#include <QAudioFormat>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>

namespace platform {

namespace {

QAudioFormat microphoneFormat()
{
    QAudioFormat format;
    format.setSampleRate(MicrophoneInput::kSampleRate);
    format.setChannelCount(MicrophoneInput::kChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

} // namespace

std::unique_ptr<MicrophoneInput> MicrophoneInput::create()
{
    const QByteArray choice = qgetenv("PRAVIK_MICROPHONE");
    if (choice == "null")
        return std::make_unique<NullMicrophoneInput>();
    if (choice == "qt" || QtMicrophoneInput::hasUsableDevice())
        return std::make_unique<QtMicrophoneInput>();
    return std::make_unique<NullMicrophoneInput>();
}

QtMicrophoneInput::QtMicrophoneInput() = default;

QtMicrophoneInput::~QtMicrophoneInput()
{
    stop();
}

bool QtMicrophoneInput::hasUsableDevice()
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    return !device.isNull() && device.isFormatSupported(microphoneFormat());
}

bool QtMicrophoneInput::start(Sink sink)
{
    stop();
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull() || !device.isFormatSupported(microphoneFormat()))
        return false;
    source_ = std::make_unique<QAudioSource>(device, microphoneFormat());
    stream_ = source_->start();
    if (!stream_ || source_->error() != QAudio::NoError) {
        source_.reset();
        return false;
    }
    sink_ = std::move(sink);
    QObject::connect(stream_, &QIODevice::readyRead, stream_, [this] {
        if (!stream_)
            return;
        const QByteArray pcm = stream_->readAll();
        if (!pcm.isEmpty() && sink_)
            sink_(pcm);
    });
    return true;
}

void QtMicrophoneInput::stop()
{
    if (stream_)
        QObject::disconnect(stream_, nullptr, nullptr, nullptr);
    if (source_)
        source_->stop();
    source_.reset();
    stream_.clear();
    sink_ = {};
}

} // namespace platform
