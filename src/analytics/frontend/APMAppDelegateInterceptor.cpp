#include "analytics/frontend/APMAppDelegateInterceptor.h"

APMAppDelegateInterceptor& APMAppDelegateInterceptor::sharedInstance()
{
    static APMAppDelegateInterceptor* shared = new APMAppDelegateInterceptor; // lives with the process
    return *shared;
}
