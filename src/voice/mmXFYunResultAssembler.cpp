#include "voice/mmXFYunResultAssembler.h"

#include <limits>

bool mmXFYunResultAssembler::resultDictionary(const mmXFYunReply& reply, const Delivery& deliver)
{
    if (!reply.text.isEmpty()) {
        switch (reply.progress) {
        case mmXFYunReply::Progress::None:
            NoDynamicCorrectionResultsWith(reply, deliver);
            break;
        case mmXFYunReply::Progress::Append:
        case mmXFYunReply::Progress::Replace:
            dynamicCorrectionResultsWith(reply, deliver);
            break;
        case mmXFYunReply::Progress::Unknown:
            break;
        }
    }
    if (!reply.last)
        return false;
    finishSession(deliver);
    return true;
}

void mmXFYunResultAssembler::finishSession(const Delivery& deliver)
{
    const QString text = runningText();
    segments_.clear();
    if (text.isEmpty())
        return;
    deliver(text, RecognitionResultType::SessionFinished);
    deliver(text, RecognitionResultType::RunningText);
}

QString mmXFYunResultAssembler::runningText() const
{
    QString text;
    for (const auto& [key, segment] : segments_)
        text += segment;
    return text;
}

void mmXFYunResultAssembler::dynamicCorrectionResultsWith(const mmXFYunReply& reply, const Delivery& deliver)
{
    if (reply.progress == mmXFYunReply::Progress::Append) {
        append(reply);
        deliver(reply.text, RecognitionResultType::NewSegment);
    } else {
        if (reply.replaces) {
            segments_.erase(
                segments_.lower_bound(reply.replaces->first), segments_.upper_bound(reply.replaces->second));
        } else if (!segments_.empty()) {
            segments_.erase(std::prev(segments_.end()));
        }
        append(reply);
        deliver(reply.text, RecognitionResultType::Corrected);
    }
    deliver(runningText(), RecognitionResultType::RunningText);
}

void mmXFYunResultAssembler::NoDynamicCorrectionResultsWith(
    const mmXFYunReply& reply, const Delivery& deliver)
{
    append(reply);
    deliver(reply.text, RecognitionResultType::NewSegment);
    deliver(runningText(), RecognitionResultType::RunningText);
}

void mmXFYunResultAssembler::append(const mmXFYunReply& reply)
{
    segments_[nextKey(reply.sn)] = reply.text;
}

qint64 mmXFYunResultAssembler::nextKey(const std::optional<qint64>& sn) const
{
    // A sequence number that does not move forward (missing, repeated, out of
    // order) still gives a segment after the others.
    const qint64 last = segments_.empty() ? 0 : segments_.rbegin()->first;
    if (sn && *sn > last)
        return *sn;
    return last < std::numeric_limits<qint64>::max() ? last + 1 : last;
}
