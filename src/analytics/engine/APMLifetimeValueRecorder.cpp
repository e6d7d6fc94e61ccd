#include "analytics/engine/APMLifetimeValueRecorder.h"

namespace {

class RecorderRecordingNothing final : public APMLifetimeValueRecorder {
public:
    bool updateLifetimeValueWithEvent(const APMEvent&) override { return true; }
};

} // namespace

std::shared_ptr<APMLifetimeValueRecorder> APMLifetimeValueRecorder::recordingNothing()
{
    return std::make_shared<RecorderRecordingNothing>();
}
