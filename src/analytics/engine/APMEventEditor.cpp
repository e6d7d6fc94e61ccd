#include "analytics/engine/APMEventEditor.h"

namespace {

class EditorWithoutPrograms final : public APMEventEditor {
public:
    std::optional<Result> handleEvent(const APMEvent&, const APMRemoteConfig&, APMError*) override { return Result {}; }
};

} // namespace

std::shared_ptr<APMEventEditor> APMEventEditor::withoutPrograms()
{
    return std::make_shared<EditorWithoutPrograms>();
}
