#pragma once
// A small HTTP and HTTPS client over libcurl. Raises nothing: every failure is
// false. Certificates are always verified, against the system's store.

#include "vqlib/Vqhook.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace vqlib {

// Time limits of one fetch; past any of them the fetch fails.
struct THttpLimits {
    static constexpr std::chrono::seconds kConnect{30};
    static constexpr std::chrono::seconds kStall{30};    // no byte for this long
    static constexpr std::chrono::seconds kOverall{60};  // the whole fetch, however it trickles
    std::chrono::milliseconds Connect = kConnect;
    std::chrono::milliseconds Stall = kStall;
    std::chrono::milliseconds Overall = kOverall;
};

namespace httpfetch {
enum class TCutShort;
}

// How a fetch failed, as far as its caller tells causes apart.
enum class THttpFailure : uint8_t {
    None,
    NameNotResolved,
    Connect,       // no connection: SystemError says why
    Timeout,       // a time limit or the stall limit passed
    Aborted,       // the abort flag turned true
    TlsUntrusted,  // the certificate's signer is not trusted
    TlsWrongName,  // the certificate is for another host
    TlsExpired,    // the certificate has expired or is not valid yet
    Tls,           // any other failure of the handshake
    Other,
};

// What one fetch ended with, read from the client where it got that far.
struct THttpResult {
    bool Ok = false;  // the body was read to its end, whatever the status code
    THttpFailure Failure = THttpFailure::None;
    int SystemError = 0;  // on failure: the errno of the system call that failed it, 0 when none did
    std::chrono::microseconds Elapsed{0};  // THttpFetches: from the start on its thread by the installed clock
    bool Started = false;  // the client ran it: the timers below mean something
    bool Https = false;    // the last request went over TLS
    // The client's own timers, each from the start of the fetch; 0 where not reached.
    std::chrono::microseconds NameLookup{0};
    std::chrono::microseconds Connected{0};
    std::chrono::microseconds TlsDone{0};      // https only
    std::chrono::microseconds PreTransfer{0};  // about to send the request
    std::chrono::microseconds FirstByte{0};
    std::chrono::microseconds Total{0};
    int Status = 0;        // the last response's status code; 0: none
    std::string Address;   // the address connected to, numeric; empty: none
    int64_t BodyBytes = 0;
    int64_t CertExpiry = 0;  // the server certificate's notAfter, Unix seconds; 0: none or not https
};

class THttp {
public:
    static constexpr uint32_t kBufferSize = 0x100000;  // 1 MiB
    // How long a fetch may go on unaware of its abort flag.
    static constexpr std::chrono::milliseconds kAbortSlice{20};

    // Allocates the buffer and opens the client with the user agent
    // "vqweb_" + the calling thread's id; a failed step shows as a failed fetch.
    // The limits are the default ones.
    THttp();
    ~THttp();
    THttp(const THttp&) = delete;
    THttp& operator=(const THttp&) = delete;

    // Fetches url and reads its body to the end; true only then, whatever the
    // status code. With a sink, the body is appended to it (emptied first).
    // A url holding a zero byte or another control byte is fetched never.
    bool GetURL(const std::string& url, std::string* sink = nullptr);
    // After a failed fetch: the errno of the system call that failed it
    // (ENOMEM when the client could not be made), 0 when none did.
    int SystemError() const { return FResult.SystemError; }
    // What the last fetch ended with (its Elapsed is not kept: the caller times it).
    const THttpResult& Result() const { return FResult; }

    // A fetch in progress ends, as a failure, within kAbortSlice of *abort
    // turning true.
    void SetAbortFlag(const std::atomic<bool>* abort) { FAbort = abort; }
    void SetLimits(const THttpLimits& limits) { FLimits = limits; }
    const THttpLimits& Limits() const { return FLimits; }

    // The limits every THttp starts with: the product's, or a THttpLimitsScope's.
    static THttpLimits DefaultLimits();

    const std::string& UserAgent() const { return FUserAgent; }

private:
    struct TTransfer;
    static size_t OnData(char* data, size_t size, size_t count, void* progress);
    // The fetch's own result code, or one that says why it was cut short.
    int Perform(TTransfer& transfer, httpfetch::TCutShort& cut);
    bool Aborted() const { return FAbort && FAbort->load(); }

    void* FInternet = nullptr;                 // the curl handle; null when it could not be opened
    std::unique_ptr<unsigned char[]> FBuffer;  // chunks of the body pass through it
    uint32_t FBufferSize = 0;
    void* FMulti = nullptr;  // drives the transfer, so the abort flag is seen between waits
    std::string FUserAgent;
    const std::atomic<bool>* FAbort = nullptr;
    THttpLimits FLimits;
    THttpResult FResult;
};

// Other default limits for one scope, so a test need not wait a minute.
class THttpLimitsScope {
public:
    explicit THttpLimitsScope(const THttpLimits& limits);

private:
    THookScope<THttpLimits> FScope;
};

// For one scope, server certificates are verified against the authorities in
// caFile (PEM) instead of the system's store: tests bring their own. There is
// no way to switch verification off.
class THttpTrustScope {
public:
    explicit THttpTrustScope(const std::string& caFile);

private:
    THookScope<std::string> FScope;
};

}  // namespace vqlib
