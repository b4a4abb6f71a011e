#include "cli/Stopsignals.h"

#include <pthread.h>

#include <cstdlib>

namespace {

bool Ignored(int number)
{
    struct sigaction action{};
    return sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

sigset_t SignalsToWatch()
{
    sigset_t set;
    sigemptyset(&set);
    for (int number : {SIGINT, SIGTERM})
        if (!Ignored(number))
            sigaddset(&set, number);
    return set;
}

// Dies of the signal as if nothing caught it, so that a shell sees which.
[[noreturn]] void DieOf(int number)
{
    ::signal(number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(number);
    std::_Exit(128 + number);
}

// What the destructor sends the watching thread to end it: one it waits for.
int WakeUpSignal(const sigset_t& watched)
{
    return sigismember(&watched, SIGTERM) ? SIGTERM : SIGINT;
}

}  // namespace

TStopSignals::TStopSignals(TRunStop& stop) : FStop(stop), FWatched(SignalsToWatch())
{
    pthread_sigmask(SIG_BLOCK, &FWatched, &FPreviousMask);
    if (!sigisemptyset(&FWatched))
        FThread = std::thread(&TStopSignals::Watch, this);
}

TStopSignals::~TStopSignals()
{
    if (FThread.joinable()) {
        FClosing = true;
        pthread_kill(FThread.native_handle(), WakeUpSignal(FWatched));
        FThread.join();
    }
    pthread_sigmask(SIG_SETMASK, &FPreviousMask, nullptr);
}

void TStopSignals::Watch()
{
    bool stopping = false;
    for (;;) {
        int number = 0;
        if (sigwait(&FWatched, &number) != 0)
            continue;
        if (FClosing)
            return;
        if (stopping)
            DieOf(number);
        stopping = true;
        FStop.Request();
    }
}
