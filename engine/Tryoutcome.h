#pragma once
// How one try of any method ended, as its waiting side hands it back.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Why a try failed; None for one that succeeded (or whose cause is not told).
enum class TTryCause : uint8_t {
    None,
    Refused,      // the port is closed: a TCP reset, ICMP port unreachable
    Timeout,      // no answer within the try's time limit
    Unreachable,  // an ICMP error about the request, or no route
    DnsAnswer,    // the DNS server answered with an error code (DnsRcode)
    Aborted,      // the run was stopped
    Denied,       // no ICMP socket of either kind may be opened here
    Shortage,     // no descriptor, socket buffer or memory (Shortage)
    BadTarget,    // nothing that can be measured: no address, no port
    Other,
    NameNotResolved,  // the host's name has no address
    BadReply,         // only replies that do not fit the request came back
    TlsUntrusted,     // the server's certificate is not signed by a trusted authority
    TlsWrongName,     // the certificate is for another name
    TlsExpired,       // the certificate has expired (or is not valid yet)
    Tls,              // any other failure of the TLS handshake
    HttpStatus,       // the server answered with an error status (THttpTry::Status) and it counts as failure
};

// What a home-page try adds: its phases from the HTTP client's timers (their
// sum is the try's time), and what the server answered. Zero where unknown.
struct THttpTry {
    std::chrono::microseconds Resolve{0};     // the host name to its address
    std::chrono::microseconds Connect{0};     // the TCP handshake
    std::chrono::microseconds Tls{0};         // the TLS handshake (https only)
    std::chrono::microseconds Processing{0};  // the request sent until the first byte of the answer
    std::chrono::microseconds Transfer{0};    // the first byte until the last
    int Status = 0;                           // the HTTP status code; 0: no answer
    std::string Address;                      // the address connected to (numeric, no brackets); empty: none
    int64_t BodyBytes = 0;
    int64_t CertExpiry = 0;                   // https: the server certificate's notAfter, Unix seconds; 0: none
};

struct TTryOutcome {
    bool Ok = false;
    std::chrono::microseconds Elapsed{0};  // when Ok
    bool Denied = false;  // a Ping try: no ICMP socket of either kind may be opened here
    int Shortage = 0;     // errno of a shortage that failed the try (engine/Shortage.h); 0: none
    TTryCause Cause = TTryCause::None;
    uint8_t DnsRcode = 0;  // with TTryCause::DnsAnswer: SERVFAIL 2, NXDOMAIN 3, REFUSED 5, ...
    std::optional<THttpTry> Http;  // a home-page try that reached a server (and some that did not)
};

// The cause a failed system call's errno stands for.
TTryCause CauseOfError(int error);
// What a try that waited until its deadline failed of: its time limit, or a
// stop of the run when abort has turned true.
TTryCause CauseAtDeadline(const std::atomic<bool>* abort);

// Stable English codes of a failed try's cause, for machines: "refused",
// "timeout", "dns_servfail", "http_status", ... Empty for a try that succeeded.
std::string CauseCode(const TTryOutcome& outcome);
// The cause a code of CauseCode stands for; with a "dns_" code, rcode is set
// to the answer code it names. A code not known (of a later version, or
// damaged) is Other.
TTryCause CauseOfCode(std::string_view code, uint8_t& rcode);
// The same cause as the window says it, in UTF-8: "连接被拒绝", "超时", ...
std::string CauseText(const TTryOutcome& outcome);
