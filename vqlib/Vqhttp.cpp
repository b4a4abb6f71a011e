#include "vqlib/Vqhttp.h"

#include <curl/curl.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace vqlib {

namespace {

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURL* Handle(void* internet) { return static_cast<CURL*>(internet); }

}  // namespace

struct THttp::TTransfer {
    THttp* Http;
    std::string* Sink;
};

THttp::THttp()
{
    FBuffer.reset(new (std::nothrow) unsigned char[kBufferSize]);
    FBufferSize = FBuffer ? kBufferSize : 0;
    FUserAgent = "vqweb_" + std::to_string(gettid());
    InitCurlOnce();
    FInternet = curl_easy_init();
}

THttp::~THttp()
{
    if (FInternet)
        curl_easy_cleanup(Handle(FInternet));
}

size_t THttp::OnData(char* data, size_t size, size_t count, void* transfer)
{
    auto* t = static_cast<TTransfer*>(transfer);
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

int THttp::OnProgress(void* transfer, long long, long long, long long, long long)
{
    const auto* abort = static_cast<TTransfer*>(transfer)->Http->FAbort;
    return abort && abort->load() ? 1 : 0;  // non-zero makes curl give up
}

bool THttp::GetURL(const std::string& url, std::string* sink)
{
    if (!FBuffer || !FInternet)
        return false;
    if (FAbort && FAbort->load())
        return false;
    CURL* curl = Handle(FInternet);
    curl_easy_reset(curl);
    TTransfer transfer{this, sink};
    // Reload: nothing is taken from a cache on the way either.
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");

    bool ok = headers != nullptr
        && curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_USERAGENT, FUserAgent.c_str()) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallTimeoutS) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &THttp::OnData) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &THttp::OnProgress) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK;
    // The proxy comes from the environment (http_proxy, no_proxy), curl's default.
    if (ok) {
        if (sink)
            sink->clear();
        ok = curl_easy_perform(curl) == CURLE_OK;
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    return ok;
}

}  // namespace vqlib
