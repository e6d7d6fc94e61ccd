#include "fakes/FakeStatusBar.h"

namespace fakes {
namespace {

class FakeStatusItem final : public platform::StatusItem {
public:
    explicit FakeStatusItem(std::shared_ptr<FakeStatusBar::Record> record)
        : record_(std::move(record))
    {
    }
    ~FakeStatusItem() override { record_->alive = false; }
    void setIcon(const QIcon& icon) override { record_->hasIcon = !icon.isNull(); }
    void setHighlighted(bool h) override { record_->highlighted = h; }
    void setMenu(const QList<platform::StatusMenuEntry>& entries) override { record_->menu = entries; }
    void setToolTip(const QString& text) override { record_->toolTip = text; }
    void setPrimaryAction(std::function<void()> action) override { record_->primaryAction = std::move(action); }

private:
    std::shared_ptr<FakeStatusBar::Record> record_;
};

} // namespace

std::unique_ptr<platform::StatusItem> FakeStatusBar::newStatusItem()
{
    items_.push_back(std::make_shared<Record>());
    return std::make_unique<FakeStatusItem>(items_.back());
}

int FakeStatusBar::aliveCount() const
{
    int n = 0;
    for (const auto& r : items_)
        n += r->alive ? 1 : 0;
    return n;
}

} // namespace fakes
