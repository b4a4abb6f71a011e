#pragma once
// What every fetch of ours sets on its curl handle and reads back from it,
// whether it runs alone (THttp) or among many (THttpFetches). Only for the
// library's own sources: it speaks curl.

#include "vqlib/Vqhttp.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

namespace vqlib::httpfetch {

// What a fetch is asked to do, read on the caller's side so that a test's
// scopes apply to the fetches it starts, wherever they run.
struct TRequest {
    std::string Url;
    std::string UserAgent;
    THttpLimits Limits;
    std::string CaFile;  // empty: the system's store
    int Family = AF_UNSPEC;  // of the addresses a name may resolve to
};

// What the callbacks of one fetch keep; Owner is the caller's own.
struct TProgress {
    std::chrono::steady_clock::time_point LastByte;  // of a head or a body; the start before any
    int SocketError = 0;  // errno of a socket that could not be opened
    void* Owner = nullptr;
};

void InitCurlOnce();

// "vqweb_" + the calling thread's id.
std::string ThreadUserAgent();

// The authorities a THttpTrustScope names, "" for the system's store.
THook<std::string>& TrustHook();

// curl would read the address only up to a zero byte and fetch another page;
// other control bytes it refuses itself.
bool Unfetchable(const std::string& url);

// Reload: nothing is taken from a cache on the way either. Null without memory.
curl_slist* ReloadHeaders();

// onData gets the TProgress as its user pointer and must set LastByte.
bool SetOptions(CURL* curl, const TRequest& request, curl_slist* headers, curl_write_callback onData,
                TProgress& progress);

// After a failed fetch: the errno of the system call that failed it, 0 when none did.
int FailureError(CURL* curl, const TProgress& progress);

// A fetch we ended before curl did.
enum class TCutShort { No, Aborted, Stalled };

// What a fetch that has ended tells (Elapsed left 0); code is curl's result
// where it was not cut short. Never throws: without memory the address stays empty.
THttpResult ReadResult(CURL* curl, CURLcode code, TCutShort cut, const TProgress& progress);

// How long until the fetch counts as stalled, not below zero.
std::chrono::milliseconds UntilStalled(const TProgress& progress, std::chrono::milliseconds stall);

}  // namespace vqlib::httpfetch
