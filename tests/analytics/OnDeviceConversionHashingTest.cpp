// Normalising and hashing the user data handed over for on-device conversion
// measurement. The digests were computed independently (python3 hashlib over
// the normalised UTF-8 text) and are written out here.
#include "analytics/base/APMUserDataHashing.h"

#include <gtest/gtest.h>

namespace {

struct OdcHashingCase {
    const char* input;
    const char* normalized;
    const char* sha256Hex; // empty: nothing to hash
};

TEST(OnDeviceConversionHashing, EmailAddressesAreTrimmedAndLowerCasedBeforeHashing)
{
    const OdcHashingCase cases[] = {
        { "test@example.com", "test@example.com", "973dfe463ec85785f5f95af5ba3906eedb2d931c24e69824a89ea65dba4e813b" },
        { "  Test@Example.COM \n", "test@example.com",
            "973dfe463ec85785f5f95af5ba3906eedb2d931c24e69824a89ea65dba4e813b" },
        { "\tJane.Doe@Example.com", "jane.doe@example.com",
            "86e0b9e56c17cc4d12387e1949b85053fbe73bc3ce5a1188713a9d300cc6133d" },
        // Dots and tags in the local part belong to the address.
        { "John.Doe@example.com", "john.doe@example.com",
            "836f82db99121b3481011f16b49dfa5fbc714a0d1b1b9f784a1ebbbf5b39577f" },
        { "User+Tag@Example.org", "user+tag@example.org",
            "dd874ac9579744e6e7f49041d11b1956c1f11cdeee73474f171e57de21f8df0f" },
        // Beyond ASCII: lower-cased by Unicode rules, hashed as UTF-8.
        { "M\xc3\x9c" "LLER@example.de", "m\xc3\xbc" "ller@example.de",
            "eb2f85748266705ba113bc5c4ee633d9c2a7cc769d5f6d9f9767b854584b3c88" },
        { "", "", "" },
        { " \t\n ", "", "" },
    };
    for (const OdcHashingCase& c : cases) {
        const QString input = QString::fromUtf8(c.input);
        SCOPED_TRACE(input.toStdString());
        EXPECT_EQ(APMUserDataHashing::normalizedEmailAddress(input), QString::fromUtf8(c.normalized));
        EXPECT_EQ(APMUserDataHashing::hashedEmailAddress(input).toHex(), QByteArray(c.sha256Hex));
    }
}

TEST(OnDeviceConversionHashing, PhoneNumbersAreHashedInInternationalForm)
{
    const OdcHashingCase cases[] = {
        { "+16505551234", "+16505551234", "a2996076d3ad4af5dc818b908b3d8e354f26ededf7df0e0aa6ac354143805ee0" },
        { "+1 (650) 555-1234", "+16505551234", "a2996076d3ad4af5dc818b908b3d8e354f26ededf7df0e0aa6ac354143805ee0" },
        { " +1.650.555.1234 ", "+16505551234", "a2996076d3ad4af5dc818b908b3d8e354f26ededf7df0e0aa6ac354143805ee0" },
        { "+44 20 7183 8750", "+442071838750", "e631c2534428c6c9b48c2167604a8983046085e43a2c00ed748733c544c0bb4d" },
        // The international call prefix stands for "+".
        { "0049 30 123456", "+4930123456", "a909469fabf3f43d0b7b6c42a85a6e7e8ceb36c7a2f0f1b9c15b80dc16384cb7" },
        { "+49-30-123456", "+4930123456", "a909469fabf3f43d0b7b6c42a85a6e7e8ceb36c7a2f0f1b9c15b80dc16384cb7" },
        { "", "", "" },
        { "+", "", "" },
        { "call me", "", "" },
    };
    for (const OdcHashingCase& c : cases) {
        const QString input = QString::fromUtf8(c.input);
        SCOPED_TRACE(input.toStdString());
        EXPECT_EQ(APMUserDataHashing::normalizedPhoneNumber(input), QString::fromUtf8(c.normalized));
        EXPECT_EQ(APMUserDataHashing::hashedPhoneNumber(input).toHex(), QByteArray(c.sha256Hex));
    }
}

} // namespace
