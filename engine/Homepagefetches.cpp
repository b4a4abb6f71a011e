#include "engine/Homepagefetches.h"

#include "engine/Netnamespace.h"
#include "engine/Thread.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace {

// A TThread, so that TThread::JoinAll waits for it at the program's end.
class TFetchThread final : public TThread {
public:
    explicit TFetchThread(std::function<void()> body) : FBody(std::move(body)) { Start(); }

protected:
    void Execute() override { FBody(); }

private:
    std::function<void()> FBody;
};

void StartFetchThread(std::function<void()> body) { new TFetchThread(std::move(body)); }

}  // namespace

namespace {

struct TByNamespace {
    std::mutex Mutex;
    std::map<uint64_t, std::unique_ptr<vqlib::THttpFetches>> Fetches;
};

TByNamespace& ByNamespace()
{
    // Never destroyed: a thread still running at exit may start a fetch.
    static auto* byNamespace = new TByNamespace;
    return *byNamespace;
}

}  // namespace

vqlib::THttpFetches& HomePageFetches()
{
    TByNamespace& all = ByNamespace();
    std::lock_guard lock(all.Mutex);
    std::unique_ptr<vqlib::THttpFetches>& fetches = all.Fetches[CurrentNetNamespace()];
    if (!fetches)
        fetches = std::make_unique<vqlib::THttpFetches>(&StartFetchThread);
    return *fetches;
}

void WakeHomePageFetches()
{
    TByNamespace& all = ByNamespace();
    std::lock_guard lock(all.Mutex);
    for (auto& [space, fetches] : all.Fetches)
        fetches->Wake();
}
