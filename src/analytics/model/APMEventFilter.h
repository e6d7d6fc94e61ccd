#pragma once

#include "analytics/model/APMAudienceFilter.h"

#include <QByteArray>
#include <QString>

// One audience filter on events of one name, with its definition as an
// encoded event-filter message. Stores its arguments as given.
class APMEventFilter final : public APMAudienceFilter {
public:
    APMEventFilter() = default;
    APMEventFilter(qint32 audienceID, qint32 filterID, const QString& eventName, const QByteArray& data,
        bool sessionScoped, bool dynamic, bool sequence);

    qint32 audienceID() const override { return audienceID_; }
    qint32 filterID() const override { return filterID_; }
    bool isSessionScoped() const override { return sessionScoped_; }
    bool isDynamic() const override { return dynamic_; }
    bool isSequence() const override { return sequence_; }
    const QString& eventName() const { return eventName_; }
    const QByteArray& data() const { return data_; }

private:
    qint32 audienceID_ = 0;
    qint32 filterID_ = 0;
    QString eventName_;
    QByteArray data_;
    bool sessionScoped_ = false;
    bool dynamic_ = false;
    bool sequence_ = false;
};
