#include "fakes/FakeHidHotplugWatcher.h"

namespace fakes {

bool FakeHidHotplugWatcher::start(Handler attached, Handler removed)
{
    if (!available_)
        return false;
    attached_ = std::move(attached);
    removed_ = std::move(removed);
    started_ = true;
    return true;
}

void FakeHidHotplugWatcher::attach(const platform::HidHotplugDevice& device)
{
    if (attached_)
        attached_(device);
}

void FakeHidHotplugWatcher::remove(const platform::HidHotplugDevice& device)
{
    if (removed_)
        removed_(device);
}

platform::HidHotplugDevice FakeHidHotplugWatcher::device(
    const QString& key, const QString& product, quint16 vendorId, quint16 productId)
{
    platform::HidHotplugDevice d;
    d.key = key;
    d.product = product;
    d.hasProduct = !product.isNull();
    d.vendorId = vendorId;
    d.productId = productId;
    return d;
}

} // namespace fakes
