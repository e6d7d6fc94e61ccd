#pragma once

#include "voice/RecognitionResult.h"
#include "voice/mmXFYunReply.h"

#include <QString>

#include <functional>
#include <map>

// Turns the replies of one recognition session into recognition results and
// keeps the session's text.
//
// The text is a sequence of segments keyed by the replies' sequence numbers.
// An appended segment ("apd", or any reply of a session without dynamic
// correction) follows the others; a correction ("rpl") replaces the segments
// its range names, or the last segment when it names none. Every reply with
// words delivers its own text (NewSegment or Corrected) and then the running
// text. The session's last reply, with words or without, finishes it: the
// whole text goes out as SessionFinished and RunningText, and the assembler
// starts empty for the next session.
class mmXFYunResultAssembler {
public:
    using Delivery = std::function<void(const QString& text, RecognitionResultType type)>;

    // One successful reply. True when it was the last of its session.
    bool resultDictionary(const mmXFYunReply& reply, const Delivery& deliver);
    // Ends the session with what it has recognised so far (nothing is
    // delivered when that is nothing) and empties the assembler.
    void finishSession(const Delivery& deliver);

    QString runningText() const;
    bool isEmpty() const { return segments_.empty(); }
    void reset() { segments_.clear(); }

private:
    void dynamicCorrectionResultsWith(const mmXFYunReply& reply, const Delivery& deliver);
    void NoDynamicCorrectionResultsWith(const mmXFYunReply& reply, const Delivery& deliver);
    void append(const mmXFYunReply& reply);
    qint64 nextKey(const std::optional<qint64>& sn) const;

    std::map<qint64, QString> segments_;
};
