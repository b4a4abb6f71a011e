#include "engine/Thread.h"

#include "engine/Uiexecutor.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace {

// The threads are joined rather than detached, so that nothing of a thread
// outlives the program's last wait for it: a detached thread may still run its
// thread-local destructors after the program has decided to exit.
class TThreadRegistry {
public:
    // Starts body(serial) on a new thread; serials are never reused, unlike
    // thread ids, so a late report of a thread already joined harms nobody.
    void Start(const std::function<void(uint64_t serial)>& body)
    {
        std::lock_guard lock(FMutex);
        uint64_t serial = ++FLastSerial;
        FThreads.emplace(serial, std::thread(body, serial));
        ReapFinished();
    }

    void MarkFinished(uint64_t serial)
    {
        std::lock_guard lock(FMutex);
        FFinished.insert(serial);
    }

    void JoinAll()
    {
        std::unordered_map<uint64_t, std::thread> threads;
        {
            std::lock_guard lock(FMutex);
            threads.swap(FThreads);
        }
        for (auto& [serial, thread] : threads)
            thread.join();
        std::lock_guard lock(FMutex);
        for (auto& [serial, thread] : threads)
            FFinished.erase(serial);
    }

private:
    // A finished thread only has to return: joining it is quick.
    void ReapFinished()
    {
        for (auto it = FFinished.begin(); it != FFinished.end();) {
            if (auto thread = FThreads.find(*it); thread != FThreads.end()) {
                thread->second.join();
                FThreads.erase(thread);
                it = FFinished.erase(it);
            } else {
                ++it;  // being joined by JoinAll right now
            }
        }
    }

    std::mutex FMutex;
    uint64_t FLastSerial = 0;
    std::unordered_map<uint64_t, std::thread> FThreads;
    std::unordered_set<uint64_t> FFinished;
};

TThreadRegistry& Registry()
{
    // Never destroyed: a thread still running at exit may yet report finished,
    // and destroying an unjoined std::thread would end the program.
    static TThreadRegistry* registry = new TThreadRegistry;
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
    try {
        Execute();
    } catch (...) {
        // A thread body has nobody to report to.
    }
    delete this;
    Registry().MarkFinished(serial);
}

void TThread::Synchronize(const std::function<void()>& method)
{
    RunOnUiThread(method);
}
