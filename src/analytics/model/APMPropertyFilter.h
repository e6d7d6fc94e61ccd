#pragma once

#include "analytics/model/APMAudienceFilter.h"

#include <QByteArray>
#include <QString>

// One audience filter on a user property, with its definition as an encoded
// property-filter message (filter_id, property_name, dynamic, sequence and
// session_scoped mirror the message's own fields). Stores its arguments as
// given.
class APMPropertyFilter final : public APMAudienceFilter {
public:
    APMPropertyFilter() = default;
    APMPropertyFilter(qint32 audienceID, qint32 filterID, const QString& propertyName, const QByteArray& data,
        bool sessionScoped, bool dynamic, bool sequence);

    qint32 audienceID() const override { return audienceID_; }
    qint32 filterID() const override { return filterID_; }
    bool isSessionScoped() const override { return sessionScoped_; }
    bool isDynamic() const override { return dynamic_; }
    bool isSequence() const override { return sequence_; }
    const QString& propertyName() const { return propertyName_; }
    const QByteArray& data() const { return data_; }

private:
    qint32 audienceID_ = 0;
    qint32 filterID_ = 0;
    QString propertyName_;
    QByteArray data_;
    bool sessionScoped_ = false;
    bool dynamic_ = false;
    bool sequence_ = false;
};
