#pragma once

#include "fakes/VirtualTime.h"
#include "platform/HidLibrary.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace fakes {

// A scripted mouse behind its USB receiver, seen through the HID library.
// It records every report written to it, answers the commands it knows with
// the mouse's reply reports (matched byte for byte; anything else is kept in
// unexpectedWrites() and not answered), and while its microphone is on hands
// out one audio report (9D 01, header byte, one 58-byte frame slot) per read
// for each mSBC frame the test supplied. Replies waiting go out before audio.
//
// Reads block like the receiver's: until a report is waiting, the mouse is
// unplugged, reads are interrupted, or the read's wait runs out. They may come from a reader
// thread while the test's thread writes, scripts and queues reports.
class FakeHidMouse final : public platform::HidLibrary {
public:
    static constexpr quint16 kVendorId = 0x3151;
    static constexpr quint16 kProductId = 0x4011;
    static const QByteArray kVendorPath;

    FakeHidMouse();
    ~FakeHidMouse() override;

    // platform::HidLibrary
    bool init() override;
    std::vector<platform::HidDeviceInfo> enumerate(quint16 vendorId, quint16 productId) override;
    std::unique_ptr<platform::HidDevice> open(const QByteArray& path) override;
    QString lastError() const override;
    void exit() override;

    // --- Script ---
    // The receiver's interfaces (by default a keyboard, an FF01 page and the FF00 vendor page).
    void setInterfaces(std::vector<platform::HidDeviceInfo> interfaces)
    {
        interfaces_ = std::move(interfaces);
    }
    void setInitFails(bool fails) { initFails_ = fails; }
    void setOpenFails(bool fails) { openFails_ = fails; }
    void setWriteFails(bool fails) { writeFails_ = fails; }
    // The first `count` device-information requests go unanswered.
    void ignoreDeviceInfoRequests(int count) { ignoreInfo_ = count; }
    // Reply reports are padded with zeros to this size (0: no padding).
    void setReportSize(qsizetype size) { reportSize_ = size; }

    void setSerial(const QByteArray& sixBytes) { serial_ = sixBytes; }
    void setLinkByte(quint8 link) { link_ = link; }
    void setDeviceName(const QByteArray& name) { name_ = name; }
    void setFirmware(quint8 major, quint8 minor) { major_ = major, minor_ = minor; }
    // Battery voltage in hundredths of a volt.
    void setBatteryRaw(quint16 raw) { batteryRaw_ = raw; }
    void setAudioFrames(const QList<QByteArray>& frames);

    // Paces the audio: from the first call on, at most this many more audio
    // reports go out until the next call; unpaced before.
    void allowAudioReports(int count);

    // A report the mouse sends next, as given (not padded). Any thread.
    void queueReport(const QByteArray& report);
    // The receiver is pulled out: a read under way and every later read
    // fail, and so do writes. Any thread.
    void unplug();

    // Waits (real time, at most timeoutMs) until the link's reader has taken
    // every report waiting here and is back waiting for the next, then runs
    // the main queue up to that moment, so every report read so far has been
    // handled on the main thread; repeats while handling made the mouse
    // answer. False on timeout. The link hands reports over through the
    // main queue; this is the test's way to know they have all arrived.
    bool deliverReports(int timeoutMs = 5000);

    // --- What happened ---
    const std::vector<QByteArray>& writes() const { return writes_; }
    const std::vector<QByteArray>& unexpectedWrites() const { return unexpected_; }
    qsizetype countWrites(const QByteArray& report) const;
    bool microphoneOn() const;
    quint16 dpi() const { return dpi_; }
    bool popUpWebsite() const { return popUp_; }
    bool isOpen() const { return openHandles_ > 0; }
    int openCount() const { return opens_; }
    int initCount() const { return inits_; }
    int exitCount() const { return exits_; }
    QByteArray openedPath() const { return openedPath_; }
    size_t audioFramesLeft() const;
    size_t reportsWaiting() const;
    // Reads asked for, and reports handed out by them.
    quint64 readCount() const;
    quint64 reportsHandedOut() const;
    // Handles destroyed while one of their reads was still under way.
    int closesDuringRead() const;

    // The reply reports the mouse sends (unpadded), also for tests that build their own script.
    QByteArray deviceNameReport() const;
    QByteArray serialAndLinkReport() const;
    QByteArray serialReport() const;
    QByteArray batteryReport() const;
    QByteArray dpiReport() const;
    QByteArray popUpReport() const;
    QByteArray microphoneReport() const;
    QByteArray firmwareReport() const;
    static QByteArray audioReport(const QByteArray& frame);

private:
    friend class FakeHidHandle;
    int read(uchar* buffer, qsizetype capacity, int timeoutMs);
    int write(const uchar* data, qsizetype size);
    void answer(const QByteArray& report);
    void reply(const QByteArray& report);
    QByteArray padded(const QByteArray& report) const;
    void closeHandle();
    bool hasReportLocked() const
    {
        return !reports_.empty() || (micOn_ && !frames_.empty() && audioAllowance_ != 0);
    }

    std::vector<platform::HidDeviceInfo> interfaces_;
    bool initFails_ = false, openFails_ = false, writeFails_ = false;
    int ignoreInfo_ = 0;
    qsizetype reportSize_ = 64;

    QByteArray serial_ = QByteArray::fromHex("a1b2c3d4e5f6");
    quint8 link_ = 0x04;
    QByteArray name_ = "KZ31 Mouse";
    quint8 major_ = 1, minor_ = 2;
    quint16 batteryRaw_ = 390;
    quint16 dpi_ = 1000;
    bool popUp_ = false;

    // What the reader thread shares with the test's thread.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool micOn_ = false;
    bool unplugged_ = false;
    bool interrupted_ = false; // reads of the open handle were interrupted
    int audioAllowance_ = -1; // audio reports that may go out; -1: unpaced
    std::deque<QByteArray> reports_;
    std::deque<QByteArray> frames_;
    int readsUnderWay_ = 0;
    int readersWaiting_ = 0; // reads blocked with nothing to hand out
    int closesDuringRead_ = 0;
    quint64 reads_ = 0, handedOut_ = 0;
    quint64 delivered_ = 0; // handedOut_ when deliverReports() last finished

    std::vector<QByteArray> writes_, unexpected_;
    int openHandles_ = 0, opens_ = 0, inits_ = 0, exits_ = 0;
    QByteArray openedPath_;
    QString lastError_;
};

// Virtual time moved on in steps of a few milliseconds, every report the
// mouse sent during a step handled before the next step, as reports from a
// live receiver arrive while time runs.
inline void advanceWithMouse(VirtualTime& time, FakeHidMouse& mouse, double seconds)
{
    constexpr double kStep = 0.004;
    // Steps towards a fixed end, so rounding does not add up over long spans.
    // One audio report per step, as a 4 ms poll of a streaming mouse took them.
    const double end = time.now() + seconds;
    while (time.now() < end) {
        mouse.allowAudioReports(1);
        time.advance(std::min(kStep, end - time.now()));
        ASSERT_TRUE(mouse.deliverReports()) << "the link's reader did not take the mouse's reports";
    }
}

} // namespace fakes
