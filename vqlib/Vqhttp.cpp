#include "vqlib/Vqhttp.h"

#include <curl/curl.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

CURLM* Multi(void* multi) { return static_cast<CURLM*>(multi); }

THook<THttpLimits>& DefaultLimitsHook()
{
    // Never destroyed: a thread still running at exit may start a fetch.
    static THook<THttpLimits>* hook = new THook<THttpLimits>;
    return *hook;
}

THook<std::string>& TrustHook()
{
    static THook<std::string>* hook = new THook<std::string>;  // as above
    return *hook;
}

// Without an abort flag nothing needs the loop to come round often.
constexpr std::chrono::milliseconds kIdleSlice{1000};

}  // namespace

struct THttp::TTransfer {
    THttp* Http;
    std::string* Sink;
    std::chrono::steady_clock::time_point LastByte;  // of a head or a body; the start before any
    int SocketError = 0;  // errno of a socket that could not be opened
};

namespace {

// curl's own open says only "could not connect" when it gets no socket; this
// keeps why (in *socketError), so that running out of descriptors is told as such.
curl_socket_t OpenSocket(void* socketError, curlsocktype, curl_sockaddr* address)
{
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd < 0)
        *static_cast<int*>(socketError) = errno;
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

}  // namespace

THttp::THttp() : FLimits(DefaultLimits())
{
    FBuffer.reset(new (std::nothrow) unsigned char[kBufferSize]);
    FBufferSize = FBuffer ? kBufferSize : 0;
    FUserAgent = "vqweb_" + std::to_string(gettid());
    InitCurlOnce();
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

THttpTrustScope::THttpTrustScope(const std::string& caFile) : FScope(TrustHook(), caFile) {}

size_t THttp::OnHeader(char*, size_t size, size_t count, void* transfer)
{
    static_cast<TTransfer*>(transfer)->LastByte = std::chrono::steady_clock::now();
    return size * count;
}

size_t THttp::OnData(char* data, size_t size, size_t count, void* transfer)
{
    auto* t = static_cast<TTransfer*>(transfer);
    t->LastByte = std::chrono::steady_clock::now();
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

bool THttp::SetTrust()
{
    CURL* curl = Handle(FInternet);
    bool ok = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    const std::string caFile = TrustHook().Get();
    if (ok && !caFile.empty()) {
        // Only the given authorities: the folder of the system's is left out too.
        ok = curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK
            && curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    return ok;
}

bool THttp::SetOptions(const std::string& url, void* headers, TTransfer& transfer)
{
    CURL* curl = Handle(FInternet);
    // The proxy comes from the environment (http_proxy, no_proxy), curl's default.
    return curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_USERAGENT, FUserAgent.c_str()) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        // An abandoned name look-up is left to finish on its own instead of
        // being waited for, so an abort is not held up by a slow name server.
        && curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FLimits.Connect.count())) == CURLE_OK
        // A body that drips or never ends passes the stall check; this does not.
        && curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(FLimits.Overall.count())) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &THttp::OnHeader) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &THttp::OnData) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &OpenSocket) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &transfer.SocketError) == CURLE_OK
        && SetTrust();
}

bool THttp::GetURL(const std::string& url, std::string* sink)
{
    FSystemError = 0;
    if (!FBuffer || !FInternet || !FMulti) {
        FSystemError = ENOMEM;
        return false;
    }
    // curl would read the address only up to a zero byte and fetch another
    // page; other control bytes it refuses itself.
    if (Aborted() || url.find('\0') != std::string::npos)
        return false;
    CURL* curl = Handle(FInternet);
    curl_easy_reset(curl);
    TTransfer transfer{this, sink, std::chrono::steady_clock::now()};
    // Reload: nothing is taken from a cache on the way either.
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");

    bool ok = headers != nullptr && SetOptions(url, headers, transfer);
    if (ok) {
        if (sink)
            sink->clear();
        ok = Perform(transfer);
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    if (!ok) {
        long error = 0;
        if (!headers)
            FSystemError = ENOMEM;
        else if (transfer.SocketError)
            FSystemError = transfer.SocketError;
        else if (curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &error) == CURLE_OK)
            FSystemError = static_cast<int>(error);
    }
    return ok;
}

bool THttp::Perform(TTransfer& transfer)
{
    using namespace std::chrono;
    // The multi interface rather than curl_easy_perform: that one looks at a
    // progress callback only about once a second while nothing arrives. The
    // stall is ours too: curl's low-speed check averages over seconds, so a
    // burst before a stall would buy the server several more.
    CURLM* multi = Multi(FMulti);
    CURL* curl = Handle(FInternet);
    if (curl_multi_add_handle(multi, curl) != CURLM_OK)
        return false;
    const milliseconds slice = FAbort ? kAbortSlice : kIdleSlice;
    bool ok = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (running == 0) {
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == curl)
                    ok = message->data.result == CURLE_OK;
            }
            break;
        }
        if (Aborted())
            break;
        const milliseconds untilStalled = ceil<milliseconds>(transfer.LastByte + FLimits.Stall - steady_clock::now());
        if (untilStalled.count() <= 0)
            break;
        // curl shortens the wait to its own next deadline (its limits).
        const int wait = static_cast<int>(std::min(slice, untilStalled).count());
        if (curl_multi_poll(multi, nullptr, 0, wait, nullptr) != CURLM_OK)
            break;
    }
    curl_multi_remove_handle(multi, curl);
    return ok;
}

}  // namespace vqlib
