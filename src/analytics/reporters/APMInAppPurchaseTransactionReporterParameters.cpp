// How one purchase is classified and what its event carries: the
// receipt's records of the product decide between revenue, no revenue,
// renewal and conversion; amounts are computed in decimal.
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"

#include "analytics/base/APMDecimalNumber.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/model/APMEventNames.h"

#include <algorithm>
#include <limits>

namespace purchase_parameters {

const QString kProductID = QStringLiteral("product_id");
const QString kPrice = QStringLiteral("price");
const QString kQuantity = QStringLiteral("quantity");
const QString kProductName = QStringLiteral("product_name");
const QString kDeduplicationID = QStringLiteral("_did");
const QString kFreeTrial = QStringLiteral("free_trial");
const QString kPriceIsDiscounted = QStringLiteral("price_is_discounted");
const QString kOriginalPrice = QStringLiteral("original_price");

// The decimal digits of `digits` (most significant first) times a factor.
QByteArray multiplyDigits(const QByteArray& digits, quint64 factor)
{
    QByteArray out;
    unsigned __int128 carry = 0;
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        const unsigned __int128 product = (unsigned __int128)(digits.at(i) - '0') * factor + carry;
        out.prepend(char('0' + int(product % 10)));
        carry = product / 10;
    }
    while (carry > 0) {
        out.prepend(char('0' + int(carry % 10)));
        carry /= 10;
    }
    return out;
}

} // namespace purchase_parameters

std::optional<QVariantMap> APMInAppPurchaseTransactionReporter::transactionEventParameters(
    const std::optional<platform::StoreProduct>& product, qint64 quantity, const QString& tid, const QString& otid,
    std::optional<double> transactionDate, const std::optional<QList<APMInAppPurchaseItem>>& records) const
{
    using namespace purchase_parameters;
    const qint64 verbose = APMMonitor::kLevelVerbose;
    if (!product) {
        log(verbose, 40026, QStringLiteral("IAP Transaction cannot be created from nil product"));
        return std::nullopt;
    }
    if (product->productIdentifier.isEmpty()) {
        log(verbose, 40027, QStringLiteral("IAP Transaction cannot be created from empty or nil product ID"));
        return std::nullopt;
    }
    QVariantMap result { { kProductID, product->productIdentifier } };
    if (product->price) {
        if (const auto price = purchaseValueInMicros(*product->price, 1))
            result.insert(kPrice, *price);
        if (quantity != 0) {
            if (const auto value = purchaseValueInMicros(*product->price, quantity))
                result.insert(APMEventNames::kValueParameter, *value);
            result.insert(kQuantity, quantity);
        }
    }
    if (!product->currencyCode.isEmpty())
        result.insert(APMEventNames::kCurrencyParameter, product->currencyCode);
    if (product->localizedTitle)
        result.insert(kProductName, *product->localizedTitle);
    if (tid.isEmpty())
        log(verbose, 40003, QStringLiteral("Transaction ID cannot be nil or empty."));

    const bool idsDiffer = !tid.isEmpty() && !otid.isEmpty() && tid != otid;
    const std::optional<QList<APMInAppPurchaseItem>> matching
        = purchaseItemsMatching(records, product->productIdentifier, std::nullopt);
    const QList<APMInAppPurchaseItem> M = matching.value_or(QList<APMInAppPurchaseItem>());
    if (M.isEmpty()) {
        log(verbose, 40020, QStringLiteral("Transaction missing in receipt will be reported as invalid"),
            product->productIdentifier);
        result.insert(kInvalidMarker, qint64(1));
    } else if (const APMInAppPurchaseItem& E = M.last();
               E.purchaseType() == APMInAppPurchaseItem::NonConsumable && idsDiffer) {
        log(verbose, 40005, QStringLiteral("Restore/repurchase of non-consumable item will be reported as invalid"));
        result.insert(kInvalidMarker, qint64(1));
    } else {
        const std::optional<int> type = E.purchaseType();
        const bool sub = type == APMInAppPurchaseItem::AutoRenewableSubscription
            || type == APMInAppPurchaseItem::NonRenewingSubscription || E.webOrderLineItemID().has_value();
        const bool same = E.transactionID() == E.originalTransactionID();
        if (M.size() == 1 && same && !sub) {
            if (type == APMInAppPurchaseItem::Consumable)
                log(verbose, 40021, QStringLiteral("Transaction of consumable item will be reported"));
            else if (type == APMInAppPurchaseItem::NonConsumable)
                log(verbose, 40022, QStringLiteral("Transaction of non-consumable item will be reported"));
            result.insert(kDeduplicationID, purchaseDeduplicationID(E.originalTransactionID(), std::nullopt, E.productID()));
        } else if (M.size() == 1 && !same && !sub) {
            log(verbose, 40007,
                QStringLiteral("Transaction with mismatched transaction ID and original transaction ID will be reported as consumable"));
        } else {
            const QList<APMInAppPurchaseItem> D
                = purchaseItemsMatching(M, std::nullopt, transactionDate).value_or(QList<APMInAppPurchaseItem>());
            if (sub && D.isEmpty()) {
                log(verbose, 40023, QStringLiteral("Subscription transaction missing in receipt will be reported as invalid"),
                    product->productIdentifier);
                result.insert(kInvalidMarker, qint64(1));
                result.insert(APMEventNames::kSubscriptionParameter, qint64(1));
            } else if (D.size() > 1) {
                environment_.monitor->logWithLevel(verbose, 40024,
                    QStringLiteral("Subscription transaction with duplicate transaction date will be reported as invalid"),
                    product->productIdentifier, D.size());
                result.insert(kInvalidMarker, qint64(1));
                result.insert(APMEventNames::kSubscriptionParameter, qint64(1));
            } else {
                const std::optional<APMInAppPurchaseItem> V
                    = D.isEmpty() ? std::nullopt : std::optional<APMInAppPurchaseItem>(D.first());
                const QString vOtid = V ? V->originalTransactionID() : QString();
                const QString vProduct = V ? V->productID() : QString();
                if (type == APMInAppPurchaseItem::NonRenewingSubscription) {
                    result.insert(APMEventNames::kSubscriptionParameter, qint64(1));
                    result.insert(kDeduplicationID, purchaseDeduplicationID(vOtid, std::nullopt, vProduct));
                    log(verbose, 40025, QStringLiteral("Transaction of non-renewing subscription will be reported"));
                } else {
                    if (V && V->originalTransactionID() == V->transactionID())
                        result.insert(APMEventNames::kSubscriptionParameter, qint64(1));
                    result.insert(kDeduplicationID,
                        purchaseDeduplicationID(vOtid, V ? V->webOrderLineItemID() : std::nullopt, vProduct));
                    const bool trial = V && V->isFreeTrial();
                    const bool intro = V && V->isIntroductoryOffer();
                    bool skipped = false;
                    if (!trial && !intro) {
                        log(verbose, 40008, QStringLiteral("Transaction of auto-renewable subscription will be reported"));
                        addSubscriptionChangeParameter(result, M, V);
                    }
                    if (trial) {
                        result.insert(kFreeTrial, qint64(1));
                        if (idsDiffer) {
                            log(verbose, 40011,
                                QStringLiteral("Repurchase of free-trial auto-renewable subscription will be reported as invalid"));
                            result.insert(kInvalidMarker, qint64(1));
                            skipped = true;
                        } else {
                            log(verbose, 40009,
                                QStringLiteral("Transaction of free-trial auto-renewable subscription will be reported"));
                        }
                    }
                    if (intro && !skipped) {
                        result.insert(kPriceIsDiscounted, qint64(1));
                        addSubscriptionChangeParameter(result, M, V);
                        log(verbose, 40018, QStringLiteral("Transaction of introductory offer will be reported"));
                    }
                    if ((trial || intro) && !skipped)
                        log(verbose, 40010,
                            QStringLiteral("Transaction of auto-renewable subscription renewal will be reported"));
                }
            }
        }
    }

    if (hasMarker(result, kPriceIsDiscounted) || hasMarker(result, kFreeTrial)) {
        const auto asFree = [&result] {
            if (result.contains(kPrice))
                result.insert(kOriginalPrice, result.value(kPrice));
            result.insert(kPriceIsDiscounted, qint64(1));
            result.insert(kPrice, qint64(0));
            result.insert(APMEventNames::kValueParameter, qint64(0));
        };
        if (hasMarker(result, kFreeTrial)) {
            asFree();
        } else if (const auto& discount = product->introductoryPrice) {
            if (discount->paymentMode == platform::StoreProductDiscount::PaymentMode::FreeTrial) {
                asFree();
            } else if (const auto price = purchaseValueInMicros(discount->price, 1)) {
                if (result.contains(kPrice))
                    result.insert(kOriginalPrice, result.value(kPrice));
                result.insert(kPrice, *price);
                if (quantity != 0) {
                    if (const auto value = purchaseValueInMicros(discount->price, quantity))
                        result.insert(APMEventNames::kValueParameter, *value);
                }
            }
        }
    }
    for (const QString& key :
        { kPrice, APMEventNames::kValueParameter, APMEventNames::kCurrencyParameter, kProductID }) {
        if (!result.contains(key))
            return std::nullopt;
    }
    return result;
}

std::optional<double> APMInAppPurchaseTransactionReporter::receiptDate(const QString& text)
{
    QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return double(date.toMSecsSinceEpoch()) / 1000.0;
}

std::optional<QList<APMInAppPurchaseItem>> APMInAppPurchaseTransactionReporter::purchaseItemsMatching(
    const std::optional<QList<APMInAppPurchaseItem>>& records, const std::optional<QString>& productID,
    std::optional<double> date)
{
    if (!records || records->isEmpty() || (!productID && !date))
        return std::nullopt;
    QList<std::pair<double, APMInAppPurchaseItem>> taken;
    for (const APMInAppPurchaseItem& item : *records) {
        const std::optional<double> purchased = receiptDate(item.purchaseDateIA5String());
        if (productID && item.productID() != *productID)
            continue;
        if (date && purchased != date)
            continue;
        // An unreadable date sorts first, as the earliest.
        taken.append({ purchased.value_or(-std::numeric_limits<double>::infinity()), item });
    }
    std::stable_sort(taken.begin(), taken.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<APMInAppPurchaseItem> result;
    for (const auto& entry : taken)
        result.append(entry.second);
    return result;
}

std::optional<qint64> APMInAppPurchaseTransactionReporter::purchaseValueInMicros(const QString& price, qint64 quantity)
{
    using namespace purchase_parameters;
    const std::optional<APMDecimalNumber> decimal = APMDecimalNumber::fromString(price);
    if (!decimal)
        return std::nullopt;
    // Digits and the power of ten from the canonical text ("-12.305").
    QString text = decimal->abs().stringValue();
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    int exponent = 0;
    if (point >= 0) {
        exponent = -int(text.size() - point - 1);
        text.remove(point, 1);
    }
    const quint64 factor = quantity < 0 ? quint64(0) - quint64(quantity) : quint64(quantity);
    const QByteArray digits = multiplyDigits(text.toLatin1(), factor);
    const bool negative = decimal->isNegative() != (quantity < 0);
    bool ok = false;
    const double micros = QString::fromLatin1(digits + 'e' + QByteArray::number(exponent + 6)).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return APMCheckedInt64(negative ? -micros : micros);
}

qint64 APMInAppPurchaseTransactionReporter::purchaseDeduplicationID(
    const QString& originalTransactionID, std::optional<quint64> webOrderLineItemID, const QString& productID)
{
    if (originalTransactionID.isEmpty() || productID.isEmpty())
        return -1;
    QString text = originalTransactionID;
    if (webOrderLineItemID)
        text += QString::number(*webOrderLineItemID);
    text += productID;
    return apm_64LSBMD5(text.toUtf8());
}

void APMInAppPurchaseTransactionReporter::addSubscriptionChangeParameter(
    QVariantMap& result, const QList<APMInAppPurchaseItem>& records, const std::optional<APMInAppPurchaseItem>& matched)
{
    using namespace purchase_parameters;
    // Without the matched record there is no renewal to tell.
    if (records.isEmpty() || !matched || matched->originalTransactionID() == matched->transactionID())
        return;
    const qsizetype index = records.indexOf(*matched);
    if (index > 0 && records.at(index - 1).isFreeTrial())
        result.insert(kSubConvertMarker, qint64(1));
    else
        result.insert(kSubRenewMarker, qint64(1));
}

std::optional<QString> APMInAppPurchaseTransactionReporter::transactionFingerprint(
    const platform::StorePaymentTransaction* transaction, APMMonitor& monitor)
{
    if (!transaction) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 21014, QStringLiteral("Transaction is nil"));
        return std::nullopt;
    }
    if (transaction->state != platform::StorePaymentTransaction::State::Purchased)
        return std::nullopt;
    if (!transaction->transactionIdentifier) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 21015, QStringLiteral("Transaction identifier is nil. Code"),
            transaction->errorCode);
        return std::nullopt;
    }
    const QString& identifier = *transaction->transactionIdentifier;
    if (identifier.isEmpty()) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 21016, QStringLiteral("Transaction identifier is empty. Code"),
            transaction->errorCode);
        return std::nullopt;
    }
    if (std::all_of(identifier.begin(), identifier.end(),
            [](QChar c) { return c == QLatin1Char('0') || c == QLatin1Char('-'); })) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 21017,
            QStringLiteral("Transaction identifier is only zeroes. Code"), transaction->errorCode);
        return std::nullopt;
    }
    return apm_MD5String(identifier);
}
