#include "vqlib/Vqhttpoptions.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace vqlib::httpfetch {

namespace {

// curl's own open says only "could not connect" when it gets no socket; this
// keeps why, so that running out of descriptors is told as such.
curl_socket_t OpenSocket(void* progress, curlsocktype, curl_sockaddr* address)
{
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd < 0)
        static_cast<TProgress*>(progress)->SocketError = errno;
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

size_t OnHeader(char*, size_t size, size_t count, void* progress)
{
    static_cast<TProgress*>(progress)->LastByte = std::chrono::steady_clock::now();
    return size * count;
}

bool SetTrust(CURL* curl, const std::string& caFile)
{
    bool ok = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    if (ok && !caFile.empty()) {
        // Only the given authorities: the folder of the system's is left out too.
        ok = curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK
            && curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    return ok;
}

}  // namespace

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string ThreadUserAgent() { return "vqweb_" + std::to_string(gettid()); }

THook<std::string>& TrustHook()
{
    // Never destroyed: a thread still running at exit may start a fetch.
    static THook<std::string>* hook = new THook<std::string>;
    return *hook;
}

bool Unfetchable(const std::string& url) { return url.find('\0') != std::string::npos; }

curl_slist* ReloadHeaders()
{
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    curl_slist* both = headers ? curl_slist_append(headers, "Pragma: no-cache") : nullptr;
    if (!both)
        curl_slist_free_all(headers);
    return both;
}

bool SetOptions(CURL* curl, const TRequest& request, curl_slist* headers, curl_write_callback onData,
                TProgress& progress)
{
    const THttpLimits& limits = request.Limits;
    // The proxy comes from the environment (http_proxy, no_proxy), curl's default.
    return curl_easy_setopt(curl, CURLOPT_URL, request.Url.c_str()) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_USERAGENT, request.UserAgent.c_str()) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        // An abandoned name look-up is left to finish on its own instead of
        // being waited for, so an abort is not held up by a slow name server.
        && curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.Connect.count())) == CURLE_OK
        // A body that drips or never ends passes the stall check; this does not.
        && curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.Overall.count())) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HEADERDATA, &progress) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEDATA, &progress) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &OpenSocket) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &progress) == CURLE_OK
        && SetTrust(curl, request.CaFile);
}

int FailureError(CURL* curl, const TProgress& progress)
{
    if (progress.SocketError)
        return progress.SocketError;
    long error = 0;
    if (curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &error) == CURLE_OK)
        return static_cast<int>(error);
    return 0;
}

std::chrono::milliseconds UntilStalled(const TProgress& progress, std::chrono::milliseconds stall)
{
    using namespace std::chrono;
    const milliseconds left = ceil<milliseconds>(progress.LastByte + stall - steady_clock::now());
    return std::max(left, milliseconds(0));
}

}  // namespace vqlib::httpfetch
