#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

// Small text and data helpers shared by the analytics components.

// MD5 of the text's UTF-8 bytes as 32 lower-case hexadecimal digits; a null
// QString when the text holds an unpaired surrogate and so has no UTF-8 form.
QString apm_MD5String(const QString& text);

// The last eight bytes of the MD5 digest of the data, read as one big-endian
// signed 64-bit integer.
qint64 apm_64LSBMD5(const QByteArray& data);

// The last eight bytes of the data (all of them when fewer) read as one
// big-endian number, as a signed 64-bit integer; 0 for empty data.
qint64 apm_64LeastSignificantBits(const QByteArray& data);

// The map as a URL query "k1=v1&k2=v2" in key order. Keys and values are
// written as text (numbers as "42" or "1.5") and percent-encoded so that
// only unreserved and harmless query characters stay literal; "&", "=", "+"
// and "#" inside a key or value are always encoded, so they cannot split
// or change a pair.
QString apm_queryString(const QVariantMap& parameters);

// A URL argument decoded: every "+" becomes a space, then percent escapes
// are decoded as UTF-8. A null QString when an escape is malformed or the
// bytes are not UTF-8.
QString apm_stringByUnescapingFromURLArgument(const QString& text);

// The pairs of a query "k1=v1&k2=v2" ("+" and percent escapes decoded).
// Empty pieces are skipped; a piece without "=" is a key with an empty
// value; a key given twice keeps its first value; a key or value that does
// not decode becomes the empty string.
QVariantMap apm_dictionaryWithHttpArgumentsString(const QString& text);

// True when the index lies inside the text and the character there is "1".
bool isBitEnabledAtIndex(const QString& text, qint64 index);
