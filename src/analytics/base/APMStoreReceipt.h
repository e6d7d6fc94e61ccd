#pragma once

#include "analytics/base/APMInAppPurchaseItem.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Reading the application's store receipt without decoding it as a whole:
// fixed DER byte patterns slide over the raw bytes and the value that
// follows a match is taken. A pattern byte 0xFF is a wildcard that matches
// any byte and captures it; the last captured byte is the value's length.
//
// Nothing is ever read past the end of the bytes. A receipt that is not one
// complete DER sequence (a truncated or foreign file) counts as no receipt:
// a partial record read from it could make a purchase look like another.
namespace APMStoreReceipt {

// The value that follows the pattern at the offset; nothing when the
// pattern does not match there, captures nothing, captures a zero length,
// or the value would run past the end. A length of 128 or more is still
// taken as one byte (logged).
std::optional<QByteArray> receiptDataMatchingPattern(const QByteArray& pattern, const QByteArray& data, qsizetype offset);

// The start of an in-app purchase record at the offset.
std::optional<QByteArray> receiptInAppRecordStart(const QByteArray& data, qsizetype offset);

// Whether the bytes are one DER sequence whose declared length lies within
// them (definite, or indefinite and closed by end-of-contents).
bool receiptIsWellFormed(const QByteArray& data);

// Every purchase record of the receipt, in receipt order; records without
// a product identifier are dropped except the last. Nothing for empty
// input; an empty list for a receipt that is not well formed.
std::optional<QList<APMInAppPurchaseItem>> receiptInAppPurchaseItems(const QByteArray& data);

// Whether the receipt's original application version equals the version
// given; false without a well-formed receipt or version field.
bool receiptOriginalVersionMatchesVersion(const QByteArray& data, const QString& version);

// The receipt file named by APMAEU::appStoreRURL() compared with the version
// given, read anew on each call. True without reading when the receipt is a
// sandbox receipt; false without a readable receipt.
bool receiptFileOriginalVersionMatches(const QString& version);

// The receipt file's bytes; nothing when no receipt is configured, the file
// cannot be read, is not a regular file or is larger than 4 MiB.
std::optional<QByteArray> readReceipt();

} // namespace APMStoreReceipt
