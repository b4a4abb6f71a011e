#include "engine/Measurehomepage.h"

#include "engine/Homepagefetches.h"
#include "engine/Shortage.h"
#include "vqlib/Vqhttp.h"
#include "vqlib/Vqnet.h"
#include "vqlib/Vqtick.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <new>
#include <utility>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    return strncasecmp(text.c_str(), prefix, std::char_traits<char>::length(prefix)) == 0;
}

// No limit: the HTTP client's own; a limit caps each of them.
vqlib::THttpLimits HomePageLimits(vqlib::THttpLimits limits, std::optional<std::chrono::milliseconds> limit)
{
    if (limit) {
        limits.Connect = std::min(limits.Connect, *limit);
        limits.Stall = std::min(limits.Stall, *limit);
        limits.Overall = *limit;
    }
    return limits;
}

}  // namespace

std::string HomePageURL(const std::string& target)
{
    if (StartsWithNoCase(target, "http://") || StartsWithNoCase(target, "https://"))
        return target;
    // A bare IPv6 address would read as a host and a port.
    if (IsIPv6Literal(target))
        return "http://[" + target + "]";
    return "http://" + target;
}

namespace {

// "ftp://..." and the like: a scheme before "://", which HomePageURL would
// take for a host.
bool HasScheme(const std::string& text)
{
    const size_t end = text.find("://");
    if (end == std::string::npos || end == 0 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

using TUrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// One part of a parsed address; empty when it has none.
std::string UrlPart(CURLU* url, CURLUPart part)
{
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK || !text)
        return {};
    std::string copy(text);
    curl_free(text);
    return copy;
}

}  // namespace

THomePageFault HomePageTargetFault(const std::string& target)
{
    if (target.empty())
        return THomePageFault::Empty;
    if (HasScheme(target) && !StartsWithNoCase(target, "http://") && !StartsWithNoCase(target, "https://"))
        return THomePageFault::Scheme;
    const std::string address = HomePageURL(target);
    if (address.size() > kLongestHomePageUrl)
        return THomePageFault::LongUrl;
    const TUrlHandle url(curl_url(), curl_url_cleanup);
    if (!url)
        throw std::bad_alloc();
    const CURLUcode parsed = curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0);
    if (parsed == CURLUE_BAD_PORT_NUMBER)
        return THomePageFault::BadPort;
    if (parsed != CURLUE_OK)
        return THomePageFault::Malformed;
    const std::string host = UrlPart(url.get(), CURLUPART_HOST);
    if (host.empty())
        return THomePageFault::Malformed;
    if (host.size() > kLongestHostName)
        return THomePageFault::LongHost;
    const std::string port = UrlPart(url.get(), CURLUPART_PORT);
    if (!port.empty() && std::stol(port) == 0)
        return THomePageFault::BadPort;
    return THomePageFault::None;
}

namespace {

using std::chrono::microseconds;

enum TPhase { kResolve, kConnect, kTls, kProcessing, kTransfer, kPhases };

microseconds Since(microseconds later, microseconds earlier)
{
    return later > earlier ? later - earlier : microseconds(0);
}

// Where a fetch was when it ended: the phase whose end it never reached.
bool FailedInTheHandshake(vqlib::THttpFailure failure)
{
    using vqlib::THttpFailure;
    return failure == THttpFailure::TlsUntrusted || failure == THttpFailure::TlsWrongName
        || failure == THttpFailure::TlsExpired || failure == THttpFailure::Tls;
}

TPhase PhaseAtEnd(const vqlib::THttpResult& result)
{
    // curl notes no connect time when the handshake after it fails.
    if (FailedInTheHandshake(result.Failure))
        return kTls;
    if (result.NameLookup.count() == 0)
        return kResolve;
    if (result.Connected.count() == 0)
        return kConnect;
    if (result.Https && result.TlsDone.count() == 0)
        return kTls;
    if (result.FirstByte.count() == 0)
        return kProcessing;
    return kTransfer;
}

TTryCause CauseOfFailure(const vqlib::THttpResult& result)
{
    using vqlib::THttpFailure;
    switch (result.Failure) {
    case THttpFailure::NameNotResolved:
        return TTryCause::NameNotResolved;
    case THttpFailure::Connect:
        return CauseOfError(result.SystemError);
    case THttpFailure::Timeout:
        return TTryCause::Timeout;
    case THttpFailure::Aborted:
        return TTryCause::Aborted;
    case THttpFailure::TlsUntrusted:
        return TTryCause::TlsUntrusted;
    case THttpFailure::TlsWrongName:
        return TTryCause::TlsWrongName;
    case THttpFailure::TlsExpired:
        return TTryCause::TlsExpired;
    case THttpFailure::Tls:
        return TTryCause::Tls;
    default:
        return TTryCause::Other;
    }
}

}  // namespace

// The first four phases are differences of curl's timers (after a redirect
// each timer holds the sum over the requests, and so do the phases); the
// phase the fetch was in when it ended - transfer for a fetch that completed
// - gets the rest of elapsed, so the five sum to the try's time by our own
// clock exactly. Where curl's timers add up to more than elapsed (another
// clock: a test's, or the handle made before ours started) the four are
// scaled down in proportion.
THttpTry HttpTryOf(const vqlib::THttpResult& result, microseconds elapsed)
{
    microseconds phases[kPhases] = {};
    const microseconds sent = result.Https ? result.TlsDone : result.Connected;
    phases[kResolve] = result.NameLookup;
    if (result.Connected.count() > 0)
        phases[kConnect] = Since(result.Connected, result.NameLookup);
    if (result.Https && result.TlsDone.count() > 0)
        phases[kTls] = Since(result.TlsDone, result.Connected);
    if (result.FirstByte.count() > 0 && sent.count() > 0)
        phases[kProcessing] = Since(result.FirstByte, sent);
    elapsed = std::max(elapsed, microseconds(0));
    microseconds timed{0};
    for (const microseconds phase : phases)
        timed += phase;
    if (timed > elapsed) {
        for (microseconds& phase : phases)
            phase = phase * elapsed.count() / timed.count();
    }
    microseconds used{0};
    for (const microseconds phase : phases)
        used += phase;
    phases[PhaseAtEnd(result)] += elapsed - used;

    THttpTry http;
    http.Resolve = phases[kResolve];
    http.Connect = phases[kConnect];
    http.Tls = phases[kTls];
    http.Processing = phases[kProcessing];
    http.Transfer = phases[kTransfer];
    http.Status = result.Status;
    try {
        http.Address = result.Address;
    } catch (const std::bad_alloc&) {
        // on the fetch thread, which must not throw: the rest is still told
    }
    http.BodyBytes = result.BodyBytes;
    http.CertExpiry = result.CertExpiry;
    return http;
}

TTryOutcome HomePageOutcome(const vqlib::THttpResult& result, microseconds elapsed, const std::atomic<bool>* abort,
                            bool failOnHttpError)
{
    TTryOutcome outcome;
    outcome.Ok = result.Ok;
    outcome.Elapsed = elapsed;
    if (result.Started)
        outcome.Http = HttpTryOf(result, elapsed);
    if (!result.Ok) {
        if (IsShortageError(result.SystemError)) {
            outcome.Shortage = result.SystemError;
            outcome.Cause = TTryCause::Shortage;
        } else {
            outcome.Cause = abort && abort->load() ? TTryCause::Aborted : CauseOfFailure(result);
        }
    } else if (failOnHttpError && result.Status >= 400) {
        // As curl --fail: the fetch is complete, but the answer counts as none.
        outcome.Ok = false;
        outcome.Cause = TTryCause::HttpStatus;
    }
    return outcome;
}

bool MeasureHomePage(const std::string& target, std::chrono::microseconds& elapsed, const std::atomic<bool>* abort,
                     std::optional<std::chrono::milliseconds> limit, int* shortage, TTryOutcome* outcome)
{
    if (shortage)
        *shortage = 0;
    vqlib::THttp http;  // buffer and handle before the clock starts
    http.SetAbortFlag(abort);
    http.SetLimits(HomePageLimits(http.Limits(), limit));
    const TStopwatch watch;
    const bool ok = http.GetURL(HomePageURL(target));
    const microseconds took = watch.Elapsed();
    if (outcome)
        *outcome = HomePageOutcome(http.Result(), took, abort, false);
    if (!ok) {
        if (shortage && IsShortageError(http.SystemError()))
            *shortage = http.SystemError();
        return false;
    }
    elapsed = took;
    return true;
}

void StartHomePage(const std::string& target, std::optional<std::chrono::milliseconds> limit,
                   const std::atomic<bool>* abort, THomePageDone done, const std::string& userAgent,
                   bool failOnHttpError, int family)
{
    HomePageFetches().Start(
        HomePageURL(target), HomePageLimits(vqlib::THttp::DefaultLimits(), limit), abort,
        [done = std::move(done), abort, failOnHttpError](vqlib::THttpResult result) {
            done(HomePageOutcome(result, result.Elapsed, abort, failOnHttpError));
        },
        userAgent, family);
}
