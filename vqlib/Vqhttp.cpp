#include "vqlib/Vqhttp.h"

#include "vqlib/Vqhttpoptions.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace vqlib {

namespace {

CURL* Handle(void* internet) { return static_cast<CURL*>(internet); }

CURLM* Multi(void* multi) { return static_cast<CURLM*>(multi); }

THook<THttpLimits>& DefaultLimitsHook()
{
    // Never destroyed: a thread still running at exit may start a fetch.
    static THook<THttpLimits>* hook = new THook<THttpLimits>;
    return *hook;
}

// Without an abort flag nothing needs the loop to come round often.
constexpr std::chrono::milliseconds kIdleSlice{1000};

}  // namespace

struct THttp::TTransfer {
    THttp* Http;
    std::string* Sink;
    httpfetch::TProgress Progress;
};

THttp::THttp() : FLimits(DefaultLimits())
{
    FBuffer.reset(new (std::nothrow) unsigned char[kBufferSize]);
    FBufferSize = FBuffer ? kBufferSize : 0;
    FUserAgent = httpfetch::ThreadUserAgent();
    httpfetch::InitCurlOnce();
    FInternet = curl_easy_init();
    FMulti = curl_multi_init();
}

THttp::~THttp()
{
    if (FMulti)
        curl_multi_cleanup(Multi(FMulti));
    if (FInternet)
        curl_easy_cleanup(Handle(FInternet));
}

THttpLimits THttp::DefaultLimits() { return DefaultLimitsHook().Get(); }

THttpLimitsScope::THttpLimitsScope(const THttpLimits& limits) : FScope(DefaultLimitsHook(), limits) {}

THttpTrustScope::THttpTrustScope(const std::string& caFile) : FScope(httpfetch::TrustHook(), caFile) {}

size_t THttp::OnData(char* data, size_t size, size_t count, void* progress)
{
    auto* p = static_cast<httpfetch::TProgress*>(progress);
    p->LastByte = std::chrono::steady_clock::now();
    auto* t = static_cast<TTransfer*>(p->Owner);
    size_t left = size * count;
    // The body passes through our buffer in chunks no larger than it.
    while (left > 0) {
        const size_t chunk = std::min<size_t>(left, t->Http->FBufferSize);
        std::memcpy(t->Http->FBuffer.get(), data, chunk);
        if (t->Sink)
            t->Sink->append(reinterpret_cast<const char*>(t->Http->FBuffer.get()), chunk);
        data += chunk;
        left -= chunk;
    }
    return size * count;
}

bool THttp::GetURL(const std::string& url, std::string* sink)
{
    FResult = {};
    if (!FBuffer || !FInternet || !FMulti) {
        FResult.SystemError = ENOMEM;
        return false;
    }
    if (Aborted()) {
        FResult.Failure = THttpFailure::Aborted;
        return false;
    }
    if (httpfetch::Unfetchable(url)) {
        FResult.Failure = THttpFailure::Other;
        return false;
    }
    CURL* curl = Handle(FInternet);
    curl_easy_reset(curl);
    TTransfer transfer{this, sink, {std::chrono::steady_clock::now()}};
    transfer.Progress.Owner = &transfer;
    curl_slist* headers = httpfetch::ReloadHeaders();
    const httpfetch::TRequest request{url, FUserAgent, FLimits, httpfetch::TrustHook().Get(), AF_UNSPEC};

    if (headers && httpfetch::SetOptions(curl, request, headers, &THttp::OnData, transfer.Progress)) {
        if (sink)
            sink->clear();
        httpfetch::TCutShort cut = httpfetch::TCutShort::No;
        const auto code = static_cast<CURLcode>(Perform(transfer, cut));
        FResult = httpfetch::ReadResult(curl, code, cut, transfer.Progress);
    } else {
        FResult.Failure = THttpFailure::Other;
        FResult.SystemError = headers ? httpfetch::FailureError(curl, transfer.Progress) : ENOMEM;
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    return FResult.Ok;
}

int THttp::Perform(TTransfer& transfer, httpfetch::TCutShort& cut)
{
    using namespace std::chrono;
    // The multi interface rather than curl_easy_perform: that one looks at a
    // progress callback only about once a second while nothing arrives. The
    // stall is ours too: curl's low-speed check averages over seconds, so a
    // burst before a stall would buy the server several more.
    CURLM* multi = Multi(FMulti);
    CURL* curl = Handle(FInternet);
    if (curl_multi_add_handle(multi, curl) != CURLM_OK)
        return CURLE_FAILED_INIT;
    const milliseconds slice = FAbort ? kAbortSlice : kIdleSlice;
    CURLcode code = CURLE_FAILED_INIT;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (running == 0) {
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == curl)
                    code = message->data.result;
            }
            break;
        }
        if (Aborted()) {
            cut = httpfetch::TCutShort::Aborted;
            break;
        }
        const milliseconds untilStalled = httpfetch::UntilStalled(transfer.Progress, FLimits.Stall);
        if (untilStalled.count() <= 0) {
            cut = httpfetch::TCutShort::Stalled;
            break;
        }
        // curl shortens the wait to its own next deadline (its limits).
        const int wait = static_cast<int>(std::min(slice, untilStalled).count());
        if (curl_multi_poll(multi, nullptr, 0, wait, nullptr) != CURLM_OK)
            break;
    }
    curl_multi_remove_handle(multi, curl);
    return code;
}

}  // namespace vqlib
