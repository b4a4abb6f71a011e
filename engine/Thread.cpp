#include "engine/Thread.h"

#include "engine/Uiexecutor.h"

#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace {

// The threads are joined rather than detached, so that nothing of a thread
// outlives the program's last wait for it: a detached thread may still run its
// thread-local destructors after the program has decided to exit.
class TThreadRegistry {
public:
    void Add(std::thread thread)
    {
        std::lock_guard lock(FMutex);
        std::thread::id id = thread.get_id();
        FThreads.emplace(id, std::move(thread));
        ReapFinished();
    }

    void MarkFinished(std::thread::id id)
    {
        std::lock_guard lock(FMutex);
        FFinished.insert(id);
    }

    void JoinAll()
    {
        std::unordered_map<std::thread::id, std::thread> threads;
        {
            std::lock_guard lock(FMutex);
            threads.swap(FThreads);
            FFinished.clear();
        }
        for (auto& [id, thread] : threads)
            thread.join();
    }

private:
    // A finished thread only has to return: joining it is quick.
    void ReapFinished()
    {
        for (std::thread::id id : FFinished) {
            if (auto it = FThreads.find(id); it != FThreads.end()) {
                it->second.join();
                FThreads.erase(it);
            }
        }
        FFinished.clear();
    }

    std::mutex FMutex;
    std::unordered_map<std::thread::id, std::thread> FThreads;
    std::unordered_set<std::thread::id> FFinished;
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
    Registry().Add(std::thread(&TThread::Run, this));
}

void TThread::JoinAll()
{
    Registry().JoinAll();
}

void TThread::Run()
{
    try {
        Execute();
    } catch (...) {
        // A thread body has nobody to report to.
    }
    delete this;
    Registry().MarkFinished(std::this_thread::get_id());
}

void TThread::Synchronize(const std::function<void()>& method)
{
    RunOnUiThread(method);
}
