#include "vqlib/Vqhttpfetches.h"

#include "vqlib/Vqhttpoptions.h"
#include "vqlib/Vqtick.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <unordered_map>
#include <utility>

namespace vqlib {

namespace {

// Without an abort flag nothing needs the loop to come round often; a new
// fetch wakes it anyway.
constexpr std::chrono::milliseconds kIdleSlice{1000};

size_t Discard(char*, size_t size, size_t count, void* progress)
{
    static_cast<httpfetch::TProgress*>(progress)->LastByte = std::chrono::steady_clock::now();
    return size * count;
}

// Each try is timed on a connection of its own, as a lone fetch would be:
// nothing learnt by an earlier try (connection, name, TLS session) is used.
bool SetAlone(CURL* curl)
{
    return curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_DNS_CACHE_TIMEOUT, 0L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L) == CURLE_OK;
}

}  // namespace

struct THttpFetches::TPending {
    httpfetch::TRequest Request;
    const std::atomic<bool>* Abort;
    TDone Done;
};

// The multi handle and the fetches in it; only ever on the fetch thread.
class THttpFetches::TLoop {
public:
    TLoop()
    {
        FMulti = curl_multi_init();
        // One connection per try: several on one connection would share its
        // set-up and each other's bandwidth.
        if (FMulti)
            curl_multi_setopt(FMulti, CURLMOPT_PIPELINING, long{CURLPIPE_NOTHING});
    }

    ~TLoop()
    {
        // Empty by now: the thread ends only when every fetch is done.
        if (FMulti)
            curl_multi_cleanup(FMulti);
    }

    TLoop(const TLoop&) = delete;
    TLoop& operator=(const TLoop&) = delete;

    CURLM* Multi() const { return FMulti; }
    bool Idle() const { return FFetches.empty(); }

    // Fetches what was asked, or says at once why not.
    void Add(std::unique_ptr<TPending> pending)
    {
        if ((pending->Abort && pending->Abort->load()) || httpfetch::Unfetchable(pending->Request.Url)) {
            THttpResult refused;
            refused.Failure = pending->Abort && pending->Abort->load() ? THttpFailure::Aborted : THttpFailure::Other;
            pending->Done(std::move(refused));
            return;
        }
        CURL* curl = FMulti ? curl_easy_init() : nullptr;
        curl_slist* headers = httpfetch::ReloadHeaders();
        std::unique_ptr<TFetch> fetch;
        TFetch* added = nullptr;
        if (curl && headers) {
            try {
                fetch = std::make_unique<TFetch>(std::move(pending), curl, headers);
                added = fetch.get();
                FFetches.emplace(curl, std::move(fetch));
            } catch (const std::bad_alloc&) {
                if (fetch)
                    pending = std::move(fetch->Pending);
                added = nullptr;
            }
        }
        if (!added) {
            curl_slist_free_all(headers);
            if (curl)
                curl_easy_cleanup(curl);
            THttpResult failed;
            failed.Failure = THttpFailure::Other;
            failed.SystemError = ENOMEM;
            pending->Done(std::move(failed));
            return;
        }
        if (!httpfetch::SetOptions(curl, added->Pending->Request, headers, &Discard, added->Progress)
            || !SetAlone(curl) || curl_multi_add_handle(FMulti, curl) != CURLM_OK) {
            Finish(curl, CURLE_FAILED_INIT, httpfetch::TCutShort::No, false);
        }
    }

    // One round: curl does what it can, finished fetches report, aborted and
    // stalled ones end, and the thread waits for more to do.
    void Round()
    {
        int running = 0;
        if (curl_multi_perform(FMulti, &running) != CURLM_OK) {
            FailAll();
            return;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(FMulti, &left)) {
            if (message->msg == CURLMSG_DONE)
                Finish(message->easy_handle, message->data.result, httpfetch::TCutShort::No, true);
        }
        const std::chrono::milliseconds wait = EndAbortedAndStalled();
        if (!Idle() && curl_multi_poll(FMulti, nullptr, 0, static_cast<int>(wait.count()), nullptr) != CURLM_OK)
            FailAll();
    }

private:
    struct TFetch {
        TFetch(std::unique_ptr<TPending> pending, CURL* curl, curl_slist* headers)
            : Pending(std::move(pending)), Curl(curl), Headers(headers)
        {
            Progress.LastByte = std::chrono::steady_clock::now();
        }
        std::unique_ptr<TPending> Pending;
        CURL* Curl;
        curl_slist* Headers;
        httpfetch::TProgress Progress;
        TStopwatch Watch;  // last: the handle is made before the clock starts
    };

    bool Aborted(const TFetch& fetch) const
    {
        return fetch.Pending->Abort && fetch.Pending->Abort->load();
    }

    // Returns how long the thread may wait before it must look again.
    std::chrono::milliseconds EndAbortedAndStalled()
    {
        std::chrono::milliseconds wait = kIdleSlice;
        for (auto it = FFetches.begin(); it != FFetches.end();) {
            TFetch& fetch = *it->second;
            ++it;  // Finish erases the fetch
            const std::chrono::milliseconds untilStalled =
                httpfetch::UntilStalled(fetch.Progress, fetch.Pending->Request.Limits.Stall);
            if (Aborted(fetch) || untilStalled.count() <= 0) {
                Finish(fetch.Curl, CURLE_OK, Aborted(fetch) ? httpfetch::TCutShort::Aborted : httpfetch::TCutShort::Stalled,
                       true);
                continue;
            }
            wait = std::min(wait, untilStalled);
            if (fetch.Pending->Abort)
                wait = std::min(wait, THttp::kAbortSlice);
        }
        return wait;
    }

    void FailAll()
    {
        while (!FFetches.empty())
            Finish(FFetches.begin()->first, CURLE_FAILED_INIT, httpfetch::TCutShort::No, true);
    }

    void Finish(CURL* curl, CURLcode code, httpfetch::TCutShort cut, bool added)
    {
        const auto place = FFetches.find(curl);
        if (place == FFetches.end())
            return;
        std::unique_ptr<TFetch> fetch = std::move(place->second);
        FFetches.erase(place);
        const std::chrono::microseconds elapsed = fetch->Watch.Elapsed();
        THttpResult result = httpfetch::ReadResult(curl, code, cut, fetch->Progress);
        result.Elapsed = elapsed;
        if (added)
            curl_multi_remove_handle(FMulti, curl);
        curl_easy_cleanup(curl);
        curl_slist_free_all(fetch->Headers);
        const TDone done = std::move(fetch->Pending->Done);
        fetch.reset();
        done(std::move(result));
    }

    CURLM* FMulti = nullptr;
    std::unordered_map<CURL*, std::unique_ptr<TFetch>> FFetches;
};

THttpFetches::THttpFetches(TStarter starter) : FStarter(std::move(starter))
{
    httpfetch::InitCurlOnce();
}

THttpFetches::~THttpFetches()
{
    std::unique_lock lock(FMutex);
    FEnded.wait(lock, [this] { return !FRunning; });
}

void THttpFetches::Start(const std::string& url, const THttpLimits& limits, const std::atomic<bool>* abort,
                         TDone done, const std::string& userAgent, int family)
{
    auto pending = std::make_unique<TPending>(TPending{
        {url, userAgent.empty() ? httpfetch::ThreadUserAgent() : userAgent, limits, httpfetch::TrustHook().Get(),
         family},
        abort, std::move(done)});
    std::lock_guard lock(FMutex);
    FPending.push_back(std::move(pending));
    if (FRunning) {
        if (FMulti)
            curl_multi_wakeup(static_cast<CURLM*>(FMulti));
        return;
    }
    // Under the lock: the thread's first look at the queue waits for it, and a
    // thread that cannot be made leaves the queue as it was.
    FRunning = true;
    try {
        FStarter([this] { Run(); });
    } catch (...) {
        FRunning = false;
        FPending.pop_back();
        throw;
    }
}

void THttpFetches::Wake()
{
    std::lock_guard lock(FMutex);
    if (FMulti)
        curl_multi_wakeup(static_cast<CURLM*>(FMulti));
}

bool THttpFetches::Running() const
{
    std::lock_guard lock(FMutex);
    return FRunning;
}

std::deque<std::unique_ptr<THttpFetches::TPending>> THttpFetches::TakePending(void* multi)
{
    std::lock_guard lock(FMutex);
    FMulti = multi;
    return std::exchange(FPending, {});
}

bool THttpFetches::EndIfIdle(bool idle)
{
    std::lock_guard lock(FMutex);
    if (!idle || !FPending.empty())
        return false;
    FRunning = false;
    FMulti = nullptr;
    FEnded.notify_all();
    return true;
}

void THttpFetches::Run()
{
    TLoop loop;
    for (;;) {
        for (auto& pending : TakePending(loop.Multi()))
            loop.Add(std::move(pending));
        if (EndIfIdle(loop.Idle()))
            return;
        if (!loop.Idle())
            loop.Round();
    }
}

}  // namespace vqlib
