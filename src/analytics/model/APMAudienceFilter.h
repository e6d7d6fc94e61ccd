#pragma once

#include <QtGlobal>

// What every audience filter record tells about itself: the audience it
// belongs to, its number within the audience and how it is evaluated.
class APMAudienceFilter {
public:
    virtual ~APMAudienceFilter() = default;

    virtual qint32 audienceID() const = 0;
    virtual qint32 filterID() const = 0;
    virtual bool isSessionScoped() const = 0;
    virtual bool isDynamic() const = 0;
    virtual bool isSequence() const = 0;

protected:
    APMAudienceFilter() = default;
    APMAudienceFilter(const APMAudienceFilter&) = default;
    APMAudienceFilter& operator=(const APMAudienceFilter&) = default;
};
