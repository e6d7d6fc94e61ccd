// The store receipt is a file the reader finds on disk and must treat as
// outside input: every byte pattern is slid over it, its purchase records
// and its original version are read, and nothing may be read past its end.
// A receipt that is not one complete DER sequence must give no records.
//
// Input: the receipt's bytes.

#include "FuzzTarget.h"
#include "analytics/base/APMStoreReceipt.h"

#include <utility>

namespace store_receipt_fuzz {

void checkPatterns(const QByteArray& input)
{
    // A field pattern and the record-start pattern (an in-app record's type
    // 17, then its set's length) at every offset. A value is exactly the
    // bytes after the pattern, as many as its last wildcard byte says.
    const QByteArray field = QByteArray::fromHex("020206a6020101ff04ff0cff");
    const QByteArray recordStart = QByteArray::fromHex("0201110201ff04");
    for (qsizetype offset = -1; offset <= input.size(); ++offset) {
        for (const auto& [pattern, value] :
            { std::pair { field, APMStoreReceipt::receiptDataMatchingPattern(field, input, offset) },
                std::pair { recordStart, APMStoreReceipt::receiptInAppRecordStart(input, offset) } }) {
            if (!value)
                continue;
            const qsizetype length = quint8(input.at(offset + pattern.lastIndexOf(char(0xFF))));
            if (value->isEmpty() || *value != input.mid(offset + pattern.size(), length) || value->size() != length)
                fuzz::fail("a value of %lld bytes at offset %lld of %lld", qlonglong(value->size()),
                    qlonglong(offset), qlonglong(input.size()));
        }
    }
}

} // namespace store_receipt_fuzz

PRAVIK_FUZZ_TARGET(store_receipt)
{
    store_receipt_fuzz::checkPatterns(input);
    const auto items = APMStoreReceipt::receiptInAppPurchaseItems(input);
    if (input.isEmpty() != !items.has_value())
        fuzz::fail("records of empty input, or none of non-empty input");
    if (items && !items->isEmpty() && !APMStoreReceipt::receiptIsWellFormed(input))
        fuzz::fail("records read from a receipt that is not well formed");
    APMStoreReceipt::receiptOriginalVersionMatchesVersion(input, QStringLiteral("2.4.1"));
}
