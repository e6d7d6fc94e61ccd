#pragma once

#include "analytics/model/APMFilterResult.h"
#include "analytics/wire/APMPBResultData.h"

#include <QList>
#include <QVariantList>
#include <QtGlobal>

#include <cmath>
#include <limits>
#include <memory>

// The bit sets of an audience result: filter f is bit f % 64 (bit 0 the
// least significant) of word f / 64, in the status words (evaluated) and the
// result words (matched) alike.
namespace audience_words {

// Filter IDs a definition may use: the configuration allows at most 100
// filters per audience, numbered from 0. A stored row with an ID outside
// this range is not evaluated, so a damaged row cannot make the word lists
// grow without bound.
constexpr qint32 kMaxFilterID = 100;

inline qsizetype audienceResultWordIndex(qint32 filterID) { return filterID / 64; }
inline int audienceResultBitIndex(qint32 filterID) { return filterID % 64; }

inline bool anyStatusBitSet(const QList<quint64>& words)
{
    for (quint64 word : words) {
        if (word != 0)
            return true;
    }
    return false;
}

inline bool isBitSet(const QList<quint64>& words, qint32 filterID)
{
    const qsizetype index = audienceResultWordIndex(filterID);
    return filterID >= 0 && index < words.size() && (words[index] >> audienceResultBitIndex(filterID)) & 1U;
}

inline void setBit(QList<quint64>& words, qint32 filterID, bool on)
{
    const qsizetype index = audienceResultWordIndex(filterID);
    const quint64 mask = quint64(1) << audienceResultBitIndex(filterID);
    words[index] = on ? (words[index] | mask) : (words[index] & ~mask);
}

inline QList<quint64> wordsFromVariants(const QVariantList& variants)
{
    QList<quint64> words;
    words.reserve(variants.size());
    for (const QVariant& variant : variants)
        words.append(variant.toULongLong());
    return words;
}

inline QVariantList variantsFromWords(const QList<quint64>& words)
{
    QVariantList variants;
    variants.reserve(words.size());
    for (quint64 word : words)
        variants.append(QVariant::fromValue(word));
    return variants;
}

// Slots of an audience result message.
constexpr int kResultStatusSlot = 0, kResultResultsSlot = 1, kResultDynamicSlot = 2, kResultSequenceSlot = 3;

// The decoded current result of a stored row; null when the row has none or
// it does not decode.
inline std::unique_ptr<APMPBResultData> currentResultOf(const APMFilterResult* row)
{
    if (!row || row->currentResults().isEmpty())
        return nullptr;
    return APMPBResultData::initWithBuffer(row->currentResults());
}

// Seconds as the whole seconds a result message holds, the fraction dropped
// toward zero; a time that is not a number or lies outside the 64-bit range
// is held at the nearest end (or 0), never converted with undefined result.
inline qint64 wholeSeconds(double seconds)
{
    if (std::isnan(seconds))
        return 0;
    if (seconds >= 9.2e18)
        return std::numeric_limits<qint64>::max();
    if (seconds <= -9.2e18)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(seconds);
}

} // namespace audience_words
