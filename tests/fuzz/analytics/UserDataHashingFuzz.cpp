// E-mail addresses and phone numbers as an application hands them over for
// on-device conversion measurement, normalised and hashed.
//
// Input: the text (UTF-8), read both as an address and as a number.

#include "FuzzTarget.h"
#include "analytics/base/APMUserDataHashing.h"

PRAVIK_FUZZ_TARGET(user_data_hashing)
{
    const QString text = QString::fromUtf8(input);

    const QString address = APMUserDataHashing::normalizedEmailAddress(text);
    if (address != address.trimmed())
        fuzz::fail("normalised address keeps surrounding blanks");
    if (APMUserDataHashing::normalizedEmailAddress(address) != address)
        fuzz::fail("address normalisation is not stable");
    const QByteArray addressDigest = APMUserDataHashing::hashedEmailAddress(text);
    if (addressDigest.size() != (address.isEmpty() ? 0 : 32))
        fuzz::fail("address digest of %lld bytes", static_cast<long long>(addressDigest.size()));

    const QString number = APMUserDataHashing::normalizedPhoneNumber(text);
    if (!number.isEmpty()) {
        if (number.size() < 2 || number[0] != u'+')
            fuzz::fail("normalised number without its +");
        for (qsizetype i = 1; i < number.size(); ++i) {
            if (number[i] < u'0' || number[i] > u'9')
                fuzz::fail("normalised number holds a non-digit");
        }
    }
    if (APMUserDataHashing::normalizedPhoneNumber(number) != number)
        fuzz::fail("number normalisation is not stable");
    const QByteArray numberDigest = APMUserDataHashing::hashedPhoneNumber(text);
    if (numberDigest.size() != (number.isEmpty() ? 0 : 32))
        fuzz::fail("number digest of %lld bytes", static_cast<long long>(numberDigest.size()));
}
