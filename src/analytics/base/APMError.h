#pragma once

#include <QMetaType>
#include <QString>
#include <QVariantMap>

// An error passed between the analytics components. Operations that can fail
// answer a boolean (or an empty result) and, when the caller passes a non-null
// `APMError* error`, fill it in. The boolean is what tells failure; a caller
// that passes nullptr still learns of it.
//
// Errors of the measurement domain may carry a monitor context: a short text
// that the monitor adds to the sampled health record when the error is passed
// to it as a log context.
class APMError {
public:
    // Codes used by the storage layer and the public interface.
    enum Code : qint64 {
        InvalidArgument = 1, // a bad argument, such as an empty name or path
        InvalidState = 2, // wrong state or schema, or a file operation that failed
        StorageFailure = 3, // SQLite or transaction failure
        SessionIDUnavailable = 13,
    };

    static const QString kMeasurementErrorDomain; // "com.vireo.vmp.measurement.ErrorDomain"
    static const QString kMonitorContextKey; // "APMMonitorContext"
    static const QString kLocalizedDescriptionKey;

    // An error of the measurement domain, without and with a monitor context.
    static APMError apm_errorWithCode(qint64 code, const QString& description);
    static APMError apm_errorWithCodeDescriptionMonitorContext(
        qint64 code, const QString& description, const QString& monitorContext);

    APMError() = default; // an error of no domain, code 0
    APMError(
        QString domain, qint64 code, const QString& description = {}, const QString& monitorContext = {});

    const QString& domain() const { return domain_; }
    qint64 code() const { return code_; }
    // Empty when the error was made without a description.
    QString localizedDescription() const;
    // Empty when there is none.
    QString monitorContext() const;
    // The description under kLocalizedDescriptionKey and the context under
    // kMonitorContextKey, each present only when not empty.
    const QVariantMap& userInfo() const { return userInfo_; }

    // True once a domain or a non-zero code was filled in: an out-parameter
    // that was left alone reads false.
    bool isSet() const { return code_ != 0 || !domain_.isEmpty(); }

    // "Error Domain=<domain> Code=<code> "<description>"" for logs.
    QString description() const;

    bool operator==(const APMError& other) const = default;

private:
    QString domain_;
    qint64 code_ = 0;
    QVariantMap userInfo_;
};

Q_DECLARE_METATYPE(APMError)

// Fill the out-parameter when it is not null; otherwise do nothing.
void APMSetErrorWithCode(APMError* error, qint64 code, const QString& description);
void APMSetErrorWithCodeAndContext(
    APMError* error, qint64 code, const QString& description, const QString& context);

// Guard clauses for storage operations: each answers true when its condition
// holds, otherwise fills the out-parameter (when given) and answers false.
bool APMCheckCondition(bool condition, APMError* error, qint64 code, const QString& description);
bool APMCheckObjectNotNil(const QVariant& object, APMError* error, qint64 code, const QString& description);
bool APMCheckPointerNotNull(const void* pointer, APMError* error, qint64 code, const QString& description);
bool APMCheckNonZero(quintptr value, APMError* error, qint64 code, const QString& description);
