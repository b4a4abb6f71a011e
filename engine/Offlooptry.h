#pragma once
// A try whose waiting cannot be handed to a try loop (a fake try of a test,
// a host-name lookup that may block): it runs on a thread of its own, and
// its outcome goes back to the loop's thread.

#include "engine/Tryoutcome.h"

#include <functional>

class TTryLoop;

class TOffLoopTry {
public:
    using TBody = std::function<TTryOutcome()>;
    using TDone = std::function<void(const TTryOutcome& outcome)>;

    // Loop thread (the new thread is in the loop's network namespace): runs
    // body on a thread of its own, then done on the loop's thread. The loop
    // is held meanwhile. Throws when the thread cannot be started.
    static void Start(TTryLoop& loop, TBody body, TDone done);
};
