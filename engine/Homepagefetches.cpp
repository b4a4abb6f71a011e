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

vqlib::THttpFetches& HomePageFetches()
{
    // Never destroyed: a thread still running at exit may start a fetch.
    static auto* mutex = new std::mutex;
    static auto* byNamespace = new std::map<uint64_t, std::unique_ptr<vqlib::THttpFetches>>;
    std::lock_guard lock(*mutex);
    std::unique_ptr<vqlib::THttpFetches>& fetches = (*byNamespace)[CurrentNetNamespace()];
    if (!fetches)
        fetches = std::make_unique<vqlib::THttpFetches>(&StartFetchThread);
    return *fetches;
}
