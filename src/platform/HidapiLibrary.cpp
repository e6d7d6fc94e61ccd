#include "platform/HidapiLibrary.h"

#include <hidapi.h>

namespace platform {

namespace {

QString fromWide(const wchar_t* text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

class HidapiDevice final : public HidDevice {
public:
    explicit HidapiDevice(hid_device* handle)
        : handle_(handle)
    {
    }
    ~HidapiDevice() override { hid_close(handle_); }

    int read(uchar* buffer, qsizetype capacity) override
    {
        if (capacity <= 0)
            return 0;
        return hid_read(handle_, buffer, size_t(capacity));
    }

    int write(const uchar* data, qsizetype size) override
    {
        if (size <= 0)
            return -1;
        return hid_write(handle_, data, size_t(size));
    }

    QString lastError() const override { return fromWide(hid_error(handle_)); }

private:
    hid_device* handle_;
};

} // namespace

bool HidapiLibrary::init()
{
    return hid_init() == 0;
}

std::vector<HidDeviceInfo> HidapiLibrary::enumerate(quint16 vendorId, quint16 productId)
{
    std::vector<HidDeviceInfo> out;
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (hid_device_info* d = list; d; d = d->next) {
        HidDeviceInfo info;
        info.path = d->path ? QByteArray(d->path) : QByteArray();
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.serialNumber = fromWide(d->serial_number);
        info.manufacturer = fromWide(d->manufacturer_string);
        info.product = fromWide(d->product_string);
        info.releaseNumber = d->release_number;
        info.interfaceNumber = d->interface_number;
        info.usagePage = d->usage_page;
        info.usage = d->usage;
        out.push_back(std::move(info));
    }
    hid_free_enumeration(list);
    return out;
}

std::unique_ptr<HidDevice> HidapiLibrary::open(const QByteArray& path)
{
    hid_device* handle = hid_open_path(path.constData());
    if (!handle)
        return nullptr;
    if (hid_set_nonblocking(handle, 1) != 0) {
        hid_close(handle);
        return nullptr;
    }
    return std::make_unique<HidapiDevice>(handle);
}

QString HidapiLibrary::lastError() const
{
    return fromWide(hid_error(nullptr));
}

void HidapiLibrary::exit()
{
    hid_exit();
}

} // namespace platform
