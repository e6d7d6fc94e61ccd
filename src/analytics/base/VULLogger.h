#pragma once

#include <QMutex>
#include <QString>

#include <atomic>
#include <functional>

// The utilities logger the analytics library writes its console lines
// through. It has its own level on the syslog scale (3 error, 4 warning,
// 5 notice, 6 info, 7 debug): a line prints when its level is at or below
// the logger's level, or when the logger's debug mode is on. Lines go to
// standard error unless a sink is installed.
class VULLogger {
public:
    enum Level : int {
        Error = 3,
        Warning = 4,
        Notice = 5,
        Info = 6,
        Debug = 7,
    };

    // Receives each printed line's level, service tag, formatted message
    // code ("I-ACS024000") and message.
    using Sink = std::function<void(
        int level, const QString& service, const QString& messageCode, const QString& message)>;

    static VULLogger& shared();

    VULLogger() = default;
    VULLogger(const VULLogger&) = delete;
    VULLogger& operator=(const VULLogger&) = delete;

    int level() const { return level_.load(); }
    void setLevel(int level) { level_.store(level); }
    bool isDebugMode() const { return debugMode_.load(); }
    void setDebugMode(bool on) { debugMode_.store(on); }
    bool isLoggableLevel(int level) const;

    // Prints when the level is loggable, or always when force is set.
    void log(int level, const QString& service, const QString& messageCode, const QString& message,
        bool force = false);

    // An empty sink restores standard error.
    void setSink(Sink sink);

private:
    std::atomic<int> level_ { Notice };
    std::atomic<bool> debugMode_ { false };
    QMutex sinkMutex_;
    Sink sink_;
};
