#include "platform/ProcessExit.h"

#include <QCoreApplication>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform {
namespace {

struct Hooks {
    std::mutex mutex;
    std::vector<std::function<void()>> pending;
    bool triggersInstalled = false;
};

Hooks& hooks()
{
    static Hooks* all = new Hooks; // never destroyed: the exit triggers read it
    return *all;
}

void runAtExit()
{
    ProcessExit::runHooks();
}

} // namespace

void ProcessExit::add(std::function<void()> hook)
{
    Hooks& all = hooks();
    std::lock_guard lock(all.mutex);
    all.pending.push_back(std::move(hook));
    if (!all.triggersInstalled) {
        all.triggersInstalled = true;
        qAddPostRoutine(&runAtExit);
        std::atexit(&runAtExit);
    }
}

void ProcessExit::runHooks()
{
    Hooks& all = hooks();
    std::vector<std::function<void()>> due;
    {
        std::lock_guard lock(all.mutex);
        due.swap(all.pending);
    }
    for (auto it = due.rbegin(); it != due.rend(); ++it)
        (*it)();
}

} // namespace platform
