#pragma once

#include "platform/DragMonitor.h"

#include <QByteArray>
#include <QObject>

typedef struct _XDisplay Display;
class QSocketNotifier;

namespace platform {

// XInput 2 raw button and motion events of every pointer, read on a
// connection of its own; they arrive whichever client the pointer is over
// and whoever grabbed it.
class X11DragMonitor final : public QObject, public DragMonitor {
    Q_OBJECT
public:
    // A left-button movement of at least this many pixels makes a drag.
    static constexpr double kDragDistance = 4;

    static std::unique_ptr<X11DragMonitor> open(const QByteArray& displayName = {});
    ~X11DragMonitor() override;

    bool isAvailable() const override { return true; }
    bool start(Handler handler) override;
    void stop() override;
    bool isRunning() const override { return bool(handler_); }

private:
    X11DragMonitor(Display* display, int opcode);
    void select(bool on);
    void readEvents();

    Display* display_;
    int opcode_;
    QSocketNotifier* notifier_ = nullptr;
    Handler handler_;
    bool pressed_ = false;
    double moved_ = 0;
};

} // namespace platform
