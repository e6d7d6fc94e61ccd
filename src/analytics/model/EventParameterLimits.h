#pragma once

#include <QtGlobal>

#include <algorithm>

// The limits that name and value checks of event parameters apply. They come
// from the remote configuration; a default-constructed object holds the
// compiled defaults that apply while no configuration is known. Passed by
// value into every check that needs them, so a check never reads half of an
// old and half of a new configuration.
struct EventParameterLimits {
    // Longest text value of a parameter of a public event, in code points.
    qint64 maxPublicEventParameterValueLength = 100;
    // Most public parameters one event may carry.
    qint64 maxPublicEventParams = 25;
    // Whether elements of an item array may carry custom parameters, and how
    // many.
    bool itemScopedCustomParameterEnabled = true;
    qint64 maxItemScopedCustomParameters = 27;

    // Internal values may always be at least 256 code points long.
    qint64 maxInternalEventParameterValueLength() const
    {
        return std::max<qint64>(256, maxPublicEventParameterValueLength);
    }
};
