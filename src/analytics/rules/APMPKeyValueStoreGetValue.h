#pragma once

#include "analytics/rules/APMPKeyValueStore.h"

// "getValue" of a key-value module: exactly two arguments, the key and the
// default; the host's text for the key, else the default as evaluated.
class APMPKeyValueStoreGetValue final : public APMPFunctionValue {
public:
    explicit APMPKeyValueStoreGetValue(APMPKeyValueStore::GetValueBlock getValueBlock);
    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;

private:
    APMPKeyValueStore::GetValueBlock getValueBlock_;
};
