#include "engine/Thread.h"

#include "engine/Uiexecutor.h"
#include "vqlib/Threadguard.h"

#include <pthread.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace {

// The threads are joined rather than detached, so that nothing of a thread
// outlives the program's last wait for it: a detached thread may still run its
// thread-local destructors after the program has decided to exit.
class TThreadRegistry {
public:
    // Starts body(serial) on a new thread; serials are never reused, unlike
    // thread ids, so a late report of a thread already joined harms nobody.
    // The thread's place is made before the thread: a place that cannot be
    // made leaves no thread running that nobody would join.
    void Start(const std::function<void(uint64_t serial)>& body)
    {
        std::lock_guard lock(FMutex);
        ReapFinished();
        const uint64_t serial = ++FLastSerial;
        const auto place = FThreads.try_emplace(serial).first;
        try {
            place->second.Thread = std::thread(body, serial);
        } catch (...) {
            FThreads.erase(place);
            throw;
        }
    }

    // Needs no memory: the last thing a thread does may come when none is left.
    void MarkFinished(uint64_t serial) noexcept
    {
        std::lock_guard lock(FMutex);
        if (const auto place = FThreads.find(serial); place != FThreads.end())
            place->second.Finished = true;
    }

    void JoinAll()
    {
        std::unordered_map<uint64_t, TPlace> threads;
        {
            std::lock_guard lock(FMutex);
            threads.swap(FThreads);
        }
        for (auto& [serial, place] : threads)
            place.Thread.join();
    }

private:
    struct TPlace {
        std::thread Thread;
        bool Finished = false;  // its body has returned; joining it is quick
    };

    void ReapFinished()
    {
        for (auto it = FThreads.begin(); it != FThreads.end();) {
            if (it->second.Finished) {
                it->second.Thread.join();
                it = FThreads.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex FMutex;
    uint64_t FLastSerial = 0;
    std::unordered_map<uint64_t, TPlace> FThreads;
};

TThreadRegistry* registry = nullptr;

// A forked child has none of its parent's threads to join, and maybe a mutex
// one of them held: it starts with a registry of its own.
void ForgetParentThreads() { registry = new TThreadRegistry; }

TThreadRegistry& Registry()
{
    // Never destroyed: a thread still running at exit may yet report finished,
    // and destroying an unjoined std::thread would end the program.
    static const bool made = [] {
        registry = new TThreadRegistry;
        pthread_atfork(nullptr, nullptr, ForgetParentThreads);
        return true;
    }();
    (void)made;
    return *registry;
}

}  // namespace

TThread::TThread() = default;

TThread::~TThread() = default;

void TThread::Start()
{
    Registry().Start([this](uint64_t serial) { Run(serial); });
}

void TThread::JoinAll()
{
    Registry().JoinAll();
}

void TThread::Run(uint64_t serial)
{
    // Whoever waits for this thread's report would wait for ever.
    RunThreadBody("a thread of the run", [this] { Execute(); });
    delete this;
    Registry().MarkFinished(serial);
}

void TThread::Synchronize(const std::function<void()>& method)
{
    RunOnUiThread(method);
}

void TThread::Synchronize(TUiExecutor::TReservedTask& method)
{
    RunOnUiThread(method);
}
