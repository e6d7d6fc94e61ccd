// The property-list codec reads stored settings files and resource lists.

#include "FuzzTarget.h"
#include "platform/PropertyListCodec.h"

using platform::PropertyListCodec;

PRAVIK_FUZZ_TARGET(plist_read)
{
    const std::optional<QVariant> value = PropertyListCodec::fromXml(input);
    if (value && !PropertyListCodec::isSupported(*value))
        fuzz::fail("read a value of a kind the codec does not support");
}

// Whatever the reader accepts, the writer must write, and the writer's
// document must read back to a value that writes the same document again.
PRAVIK_FUZZ_TARGET(plist_roundtrip)
{
    const std::optional<QVariant> value = PropertyListCodec::fromXml(input);
    if (!value)
        return;
    QString error;
    const std::optional<QByteArray> written = PropertyListCodec::toXml(*value, &error);
    if (!written)
        fuzz::fail("read a value it cannot write: %s", qPrintable(error));
    const std::optional<QVariant> reread = PropertyListCodec::fromXml(*written, &error);
    if (!reread)
        fuzz::fail("cannot read its own document: %s", qPrintable(error));
    const std::optional<QByteArray> again = PropertyListCodec::toXml(*reread);
    if (again != written)
        fuzz::fail("the document changed on its way through the reader");
}
