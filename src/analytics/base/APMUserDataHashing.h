#pragma once

#include <QByteArray>
#include <QString>

// The one place where an e-mail address or a phone number the application
// hands over is turned into the form that leaves it: normalised, then hashed
// with SHA-256 over its UTF-8 bytes. Two spellings of one address or number
// give one digest, so a match does not depend on how the user typed it. The
// plain values are never stored or logged; only the digests travel on.
class APMUserDataHashing {
public:
    // Surrounding white space removed, lower case (locale independent).
    // Empty when nothing is left.
    static QString normalizedEmailAddress(const QString& address);
    // International form: "+" and the digits, every separator dropped. A
    // leading international call prefix "00" (without "+") counts as "+".
    // Empty when the text holds no digit.
    static QString normalizedPhoneNumber(const QString& number);

    // The 32-byte SHA-256 digest of the normalised form; empty when the
    // normalised form is empty.
    static QByteArray hashedEmailAddress(const QString& address);
    static QByteArray hashedPhoneNumber(const QString& number);
};
