#pragma once

#include "platform/AttributionTokenSource.h"

#include <QList>
#include <QMutex>
#include <QString>

#include <optional>

namespace fakes {

// An attribution-token service the test scripts. Unavailable until told
// otherwise; each request takes the next scripted answer (a token or an
// error), and the last answer repeats once the script runs out.
class FakeAttributionTokenSource final : public platform::AttributionTokenSource {
public:
    struct Answer {
        std::optional<QString> token; // nothing: the error below
        QString error;
    };
    static Answer token(const QString& token) { return { token, QString() }; }
    static Answer failure(const QString& error) { return { std::nullopt, error }; }

    bool isAvailable() const override;
    std::optional<QString> attributionToken(QString* error) override;

    void setAvailable(bool available);
    void script(const QList<Answer>& answers);
    int requestCount() const;

private:
    mutable QMutex mutex_;
    bool available_ = false;
    QList<Answer> answers_;
    std::optional<Answer> last_;
    int requests_ = 0;
};

} // namespace fakes
