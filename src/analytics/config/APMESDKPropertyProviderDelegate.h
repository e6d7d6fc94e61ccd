#pragma once

#include <QMap>
#include <QString>

class APMESDKProperty;

// Supplies custom properties of a registered SDK that change at run time;
// they are sent with the experiment request beside the property's own.
class APMESDKPropertyProviderDelegate {
public:
    virtual ~APMESDKPropertyProviderDelegate() = default;

    virtual QMap<QString, QString> dynamicCustomPropertiesForSDKProperty(const APMESDKProperty& property)
    {
        (void)property;
        return {};
    }
};
