#pragma once

// Uses QString without including it: it compiles only after a header that
// brought QString in, so the header check must fail on it.
struct LeansOnAnEarlierInclude {
    QString name;
};
