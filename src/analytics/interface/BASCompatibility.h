#pragma once

// The names callers of the older interface know, for the same classes.
#include "analytics/userproperties/APMConditionalUserPropertyController.h"
#include "analytics/base/APMValue.h"
#include "analytics/reporters/APMAdExposureReporter.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/identity/APMIdentifiers.h"
#include "analytics/model/APMConditionalUserProperty.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMUserAttribute.h"

using BASAConditionalUserProperty = APMConditionalUserProperty;
using BASAConditionalUserPropertyController = APMConditionalUserPropertyController;
using BASAEvent = APMEvent;
using BASAValue = APMValue;
using BASAUserAttribute = APMUserAttribute;
using BASAIdentifiers = APMIdentifiers;
using BASAAdExposureReporter = APMAdExposureReporter;
// Its sharedInstance() is the engine's shared screen view reporter.
using BASAScreenViewReporter = APMScreenViewReporter;
