// The store receipt is a file the reader finds on disk and must treat as
// outside input: every byte pattern is slid over it, its purchase records
// and its original version are read, and nothing may be read past its end.
// A receipt that is not one complete DER sequence must give no records.
//
// Input: the receipt's bytes.

#include "FuzzTarget.h"
#include "analytics/base/APMStoreReceipt.h"

namespace store_receipt_fuzz {

void checkPatterns(const QByteArray& input)
{
    // A field pattern and the record-start pattern at every offset.
    const QByteArray field = QByteArray::fromHex("020206a6020101ff04ff0cff");
    for (qsizetype offset = -1; offset <= input.size(); ++offset) {
        for (const auto& value : { APMStoreReceipt::receiptDataMatchingPattern(field, input, offset),
                 APMStoreReceipt::receiptInAppRecordStart(input, offset) }) {
            if (value && (value->isEmpty() || offset + value->size() > input.size()))
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
