#include "platform/HidapiLibrary.h"

#include <cerrno>
#include <fcntl.h>
#include <hidapi.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

QString fromWide(const wchar_t* text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

// Writes and error texts go through hidapi, on the thread that opened the
// device. Reads go through a descriptor of the link's own on the same hidraw
// node, waited on together with a wake-up descriptor: hidapi's read cannot be
// woken before its timeout, so a reader could only stop by waking on a timer,
// and its device calls share one error slot that each call frees and
// replaces, so a read on another thread would race the writes on it. The
// kernel gives every open descriptor of a hidraw node each input report.
class HidapiDevice final : public HidDevice {
public:
    HidapiDevice(hid_device* handle, int readFd, int wakeFd)
        : handle_(handle)
        , readFd_(readFd)
        , wakeFd_(wakeFd)
    {
    }
    ~HidapiDevice() override
    {
        ::close(wakeFd_);
        ::close(readFd_);
        hid_close(handle_);
    }

    int read(uchar* buffer, qsizetype capacity, int timeoutMs) override
    {
        if (capacity <= 0)
            return 0;
        pollfd fds[] = { { readFd_, POLLIN, 0 }, { wakeFd_, POLLIN, 0 } };
        const int ready = ::poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
        if (ready < 0)
            return errno == EINTR ? 0 : -1;
        if (ready == 0 || (fds[1].revents & POLLIN))
            return 0;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return -1;
        const ssize_t n = ::read(readFd_, buffer, size_t(capacity));
        if (n < 0)
            return errno == EAGAIN || errno == EINTR ? 0 : -1;
        return int(n);
    }

    void interruptReads() override
    {
        // The counter stays readable: every later wait ends at once too.
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
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
    int readFd_;
    int wakeFd_;
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
    const int readFd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (hid_set_nonblocking(handle, 1) != 0 || readFd < 0 || wakeFd < 0) {
        if (readFd >= 0)
            ::close(readFd);
        if (wakeFd >= 0)
            ::close(wakeFd);
        hid_close(handle);
        return nullptr;
    }
    return std::make_unique<HidapiDevice>(handle, readFd, wakeFd);
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
