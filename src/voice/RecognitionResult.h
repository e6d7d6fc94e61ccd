#pragma once

#include <QString>
#include <QtGlobal>

// What a speech-recognition client tells its caller about one reply of the
// service. The numbers are part of the contract with the voice-key
// orchestrator and never change.
enum class RecognitionResultType : qint64 {
    // The text replaces the segment delivered last (as NewSegment or Corrected).
    Corrected = 1,
    // The text follows what was delivered before.
    NewSegment = 2,
    // A recognition session finished: the text is all it recognised, ready to type.
    SessionFinished = 4,
    // The running text of the session, for the speech window.
    RunningText = 6,
};

struct RecognitionResult {
    QString text;
    RecognitionResultType type = RecognitionResultType::NewSegment;

    bool operator==(const RecognitionResult&) const = default;
};
