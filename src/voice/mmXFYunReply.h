#pragma once

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <utility>

// One reply of the streaming-dictation service, reduced to what the client
// uses. Members of the wrong kind count as absent.
struct mmXFYunReply {
    enum class Progress {
        None, // no "pgs": the session runs without dynamic correction
        Append, // "apd": a new segment
        Replace, // "rpl": a correction of earlier segments
        Unknown, // "pgs" with any other value
    };

    // 0 on success; a missing "code" counts as 0, one that is not an integer as an error.
    qint64 code = 0;
    QString message;
    // The first candidate of every word entry, concatenated.
    QString text;
    Progress progress = Progress::None;
    // The last result of the session ("ls").
    bool last = false;
    std::optional<qint64> sn;
    // The sequence numbers a correction replaces, first and last ("rg").
    std::optional<std::pair<qint64, qint64>> replaces;

    // A text message parsed as a JSON object; nothing when it is not one.
    static std::optional<mmXFYunReply> fromText(const QString& message);
    static mmXFYunReply fromJson(const QJsonObject& reply);
};
