#include "vqlib/Vqhttpoptions.h"

#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <strings.h>

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

std::chrono::microseconds Timer(CURL* curl, CURLINFO info)
{
    curl_off_t us = 0;
    if (curl_easy_getinfo(curl, info, &us) != CURLE_OK || us < 0)
        us = 0;
    return std::chrono::microseconds(us);
}

const char* TextInfo(CURL* curl, CURLINFO info)
{
    char* text = nullptr;
    return curl_easy_getinfo(curl, info, &text) == CURLE_OK && text ? text : "";
}

// OpenSSL's printed time, "Jun  1 12:00:00 2030 GMT" (seconds may have a
// fraction); by hand, as strptime's month names follow the locale.
int64_t ParsePrintedTime(const char* text)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char month[4] = {};
    int day = 0, hour = 0, minute = 0, second = 0, year = 0;
    if (std::sscanf(text, "%3s %d %d:%d:%d %d", month, &day, &hour, &minute, &second, &year) != 6
        && std::sscanf(text, "%3s %d %d:%d:%d.%*d %d", month, &day, &hour, &minute, &second, &year) != 6)
        return 0;
    const auto found = std::find_if(std::begin(months), std::end(months),
                                    [&](const char* name) { return std::strcmp(name, month) == 0; });
    if (found == std::end(months))
        return 0;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(unsigned(found - months + 1)),
                              std::chrono::day(unsigned(day))};
    if (!date.ok())
        return 0;
    return sys_days(date).time_since_epoch() / seconds(1) + hour * 3600 + minute * 60 + second;
}

// The first certificate of the chain is the server's own.
int64_t CertificateExpiry(CURL* curl)
{
    curl_certinfo* chain = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CERTINFO, &chain) != CURLE_OK || !chain || chain->num_of_certs < 1)
        return 0;
    constexpr const char kExpire[] = "Expire date:";
    for (const curl_slist* field = chain->certinfo[0]; field; field = field->next) {
        if (std::strncmp(field->data, kExpire, sizeof kExpire - 1) == 0)
            return ParsePrintedTime(field->data + sizeof kExpire - 1);
    }
    return 0;
}

// curl checks the name itself, before it reads OpenSSL's verdict: a wrong
// name leaves the verdict at what curl starts it with, !X509_V_OK (1, which
// OpenSSL's X509_V_ERR_UNSPECIFIED shares).
THttpFailure VerificationFailure(CURL* curl)
{
    long verdict = X509_V_OK;
    curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &verdict);
    switch (verdict) {
    case X509_V_OK:
    case !X509_V_OK:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return THttpFailure::TlsWrongName;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return THttpFailure::TlsExpired;
    default:
        return THttpFailure::TlsUntrusted;
    }
}

THttpFailure FailureOf(CURL* curl, CURLcode code, TCutShort cut)
{
    if (cut == TCutShort::Aborted)
        return THttpFailure::Aborted;
    if (cut == TCutShort::Stalled)
        return THttpFailure::Timeout;
    switch (code) {
    case CURLE_OK:
        return THttpFailure::None;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return THttpFailure::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return THttpFailure::Connect;
    case CURLE_OPERATION_TIMEDOUT:
        return THttpFailure::Timeout;
    case CURLE_PEER_FAILED_VERIFICATION:
        return VerificationFailure(curl);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_USE_SSL_FAILED:
        return THttpFailure::Tls;
    default:
        return THttpFailure::Other;
    }
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

long IpResolve(int family)
{
    if (family == AF_INET)
        return CURL_IPRESOLVE_V4;
    return family == AF_INET6 ? CURL_IPRESOLVE_V6 : CURL_IPRESOLVE_WHATEVER;
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
        // For the certificate's expiry; curl reads it only over TLS.
        && curl_easy_setopt(curl, CURLOPT_CERTINFO, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_IPRESOLVE, IpResolve(request.Family)) == CURLE_OK
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

THttpResult ReadResult(CURL* curl, CURLcode code, TCutShort cut, const TProgress& progress)
{
    THttpResult result;
    result.Failure = FailureOf(curl, code, cut);
    result.Ok = result.Failure == THttpFailure::None;
    if (!result.Ok)
        result.SystemError = FailureError(curl, progress);
    result.Started = true;
    result.Https = strcasecmp(TextInfo(curl, CURLINFO_SCHEME), "https") == 0;
    result.NameLookup = Timer(curl, CURLINFO_NAMELOOKUP_TIME_T);
    result.Connected = Timer(curl, CURLINFO_CONNECT_TIME_T);
    result.TlsDone = Timer(curl, CURLINFO_APPCONNECT_TIME_T);
    result.PreTransfer = Timer(curl, CURLINFO_PRETRANSFER_TIME_T);
    result.FirstByte = Timer(curl, CURLINFO_STARTTRANSFER_TIME_T);
    result.Total = Timer(curl, CURLINFO_TOTAL_TIME_T);
    long status = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK)
        result.Status = static_cast<int>(status);
    curl_off_t bytes = 0;
    if (curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &bytes) == CURLE_OK)
        result.BodyBytes = bytes;
    if (result.Https)
        result.CertExpiry = CertificateExpiry(curl);
    try {
        result.Address = TextInfo(curl, CURLINFO_PRIMARY_IP);
    } catch (const std::bad_alloc&) {
        // the address is the one thing that needs memory; the rest is told
    }
    return result;
}

std::chrono::milliseconds UntilStalled(const TProgress& progress, std::chrono::milliseconds stall)
{
    using namespace std::chrono;
    const milliseconds left = ceil<milliseconds>(progress.LastByte + stall - steady_clock::now());
    return std::max(left, milliseconds(0));
}

}  // namespace vqlib::httpfetch
