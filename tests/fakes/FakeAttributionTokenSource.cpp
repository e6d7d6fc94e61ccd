#include "fakes/FakeAttributionTokenSource.h"

namespace fakes {

bool FakeAttributionTokenSource::isAvailable() const
{
    QMutexLocker lock(&mutex_);
    return available_;
}

std::optional<QString> FakeAttributionTokenSource::attributionToken(QString* error)
{
    QMutexLocker lock(&mutex_);
    ++requests_;
    if (!available_ || (answers_.isEmpty() && !last_)) {
        if (error)
            *error = QStringLiteral("not available");
        return std::nullopt;
    }
    if (!answers_.isEmpty())
        last_ = answers_.takeFirst();
    if (!last_->token && error)
        *error = last_->error;
    return last_->token;
}

void FakeAttributionTokenSource::setAvailable(bool available)
{
    QMutexLocker lock(&mutex_);
    available_ = available;
}

void FakeAttributionTokenSource::script(const QList<Answer>& answers)
{
    QMutexLocker lock(&mutex_);
    answers_ = answers;
    last_.reset();
}

int FakeAttributionTokenSource::requestCount() const
{
    QMutexLocker lock(&mutex_);
    return requests_;
}

} // namespace fakes
