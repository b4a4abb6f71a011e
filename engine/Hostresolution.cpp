#include "engine/Hostresolution.h"

#include "engine/Uiexecutor.h"
#include "vqlib/Vqnet.h"

#include <algorithm>
#include <mutex>
#include <thread>

// Shared by the resolution and its threads; the last of them frees it.
struct THostResolution::TState {
    std::vector<std::string> Names;
    TLookup Lookup;
    TDone Done;
    TUiExecutor* Executor = nullptr;  // outlives the resolution, not its threads
    // The report of the last answer, made beforehand: a lookup thread that
    // finds no memory for it would leave the run waiting for ever.
    std::optional<TUiExecutor::TReservedTask> Report;

    std::mutex Mutex;
    size_t Next = 0;        // the first name nobody has taken
    size_t Remaining = 0;   // names not yet answered
    bool Over = false;      // abandoned, or done handed over
    TAddresses Addresses;

    std::optional<std::string> LookUp(const std::string& name) const noexcept
    {
        try {
            return Lookup(name);
        } catch (...) {
            return std::nullopt;  // a lookup that fails in any way found no address
        }
    }

    // The first thread's body: starts the others (many take a while to
    // start, a while the UI thread does not wait), then serves like them.
    static void StartAndServe(const std::shared_ptr<TState>& state, size_t others)
    {
        for (size_t started = 0; started < others; ++started) {
            try {
                std::thread(Serve, state).detach();
            } catch (...) {
                break;  // the threads that did start take every name between them
            }
        }
        Serve(state);
    }

    // A thread's body: takes names until none is left or nobody wants them.
    static void Serve(const std::shared_ptr<TState>& state)
    {
        for (;;) {
            size_t index = 0;
            {
                std::lock_guard lock(state->Mutex);
                if (state->Over || state->Next == state->Names.size())
                    return;
                index = state->Next++;
            }
            std::optional<std::string> address = state->LookUp(state->Names[index]);
            std::lock_guard lock(state->Mutex);
            if (state->Over)
                return;
            state->Addresses[index] = std::move(address);
            // Posted under the lock: once Abandon has returned, no thread
            // touches the executor, which may then go.
            if (--state->Remaining == 0)
                state->Executor->Post(std::move(*state->Report));
        }
    }

    // UI thread.
    void Finish()
    {
        TDone done;
        TAddresses addresses;
        {
            std::lock_guard lock(Mutex);
            if (Over)
                return;
            Over = true;
            done = std::move(Done);
            addresses = std::move(Addresses);
        }
        done(std::move(addresses));
    }

    // The names one after another on this thread.
    void ResolveHere()
    {
        for (size_t index = 0; index < Names.size(); ++index)
            Addresses[index] = LookUp(Names[index]);
        Remaining = 0;
        Finish();
    }
};

THostResolution::THostResolution(std::vector<std::string> names, TLookup lookup, TDone done, int maxInFlight)
    : FState(std::make_shared<TState>())
{
    FState->Names = std::move(names);
    FState->Lookup = std::move(lookup);
    FState->Done = std::move(done);
    FState->Executor = InstalledUiExecutor();
    FState->Remaining = FState->Names.size();
    FState->Addresses.resize(FState->Names.size());
    if (FState->Names.empty() || !FState->Executor) {
        FState->ResolveHere();
        return;
    }
    // Weak: the report is held by the state it would keep alive.
    FState->Report.emplace([weak = std::weak_ptr<TState>(FState)] {
        if (const std::shared_ptr<TState> state = weak.lock())
            state->Finish();
    });
    const size_t threads = std::min(FState->Names.size(), static_cast<size_t>(std::max(1, maxInFlight)));
    try {
        std::thread(TState::StartAndServe, FState, threads - 1).detach();
    } catch (...) {
        FState->ResolveHere();
    }
}

THostResolution::~THostResolution() { Abandon(); }

void THostResolution::Abandon()
{
    std::lock_guard lock(FState->Mutex);
    FState->Over = true;
    FState->Done = nullptr;  // what it holds goes now, not with the last thread
}

THostResolution::TLookup THostResolution::SystemLookup(int family)
{
    // Shared with the lookups, which may outlive whoever asked.
    auto tool = std::make_shared<TWASTool>();
    return [tool, family](const std::string& host) -> std::optional<std::string> {
        std::string ip;
        if (!tool->ResolveHostIP(host, ip, family))
            return std::nullopt;
        return ip;
    };
}
