// The phases of home-page tries beside curl's timers on the same loopback
// servers in the same run: http and https, answering after 0, 20 and 100 ms.
// Prints, per scheme and delay, the mean of each phase (ms) by both.

#include "bench/Benchtools.h"
#include "engine/Homepagefetches.h"
#include "engine/Measurehomepage.h"
#include "engine/Thread.h"
#include "tests/support/Certificates.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Noproxy.h"
#include "vqlib/Vqhttp.h"

#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kTries = 20;
constexpr int kRounds = 4;  // the two take turns, so neither gets a quieter moment
const char* const kPhaseNames[] = {"resolve", "connect", "tls", "processing", "transfer", "total"};
constexpr size_t kPhases = std::size(kPhaseNames);
using TPhases = std::array<double, kPhases>;  // ms

std::optional<TTryOutcome> FetchOne(const std::string& url)
{
    auto ended = std::make_shared<std::promise<TTryOutcome>>();
    std::future<TTryOutcome> outcome = ended->get_future();
    StartHomePage(url, std::nullopt, nullptr, [ended](TTryOutcome result) { ended->set_value(std::move(result)); });
    if (outcome.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
        return std::nullopt;
    return outcome.get();
}

std::vector<TPhases> EnginePhases(const std::string& url, int count)
{
    std::vector<TPhases> all;
    for (int i = 0; i < count; ++i) {
        const std::optional<TTryOutcome> outcome = FetchOne(url);
        if (!outcome || !outcome->Ok || !outcome->Http)
            continue;
        const THttpTry& http = *outcome->Http;
        all.push_back({Milliseconds(http.Resolve), Milliseconds(http.Connect), Milliseconds(http.Tls),
                       Milliseconds(http.Processing), Milliseconds(http.Transfer), Milliseconds(outcome->Elapsed)});
    }
    return all;
}

// One curl process, the first fetch (its cold start) left out; no TLS
// session kept from one fetch to the next, as ours keep none.
std::vector<TPhases> CurlPhases(const std::string& url, int count, const std::string& options)
{
    std::string command = "curl -s -g --noproxy '*' --no-sessionid " + options
        + " -w '%{time_namelookup} %{time_connect} %{time_appconnect} %{time_pretransfer} %{time_starttransfer}"
          " %{time_total}\\n'";
    for (int i = 0; i <= count; ++i)
        command += " -o /dev/null " + url;
    std::istringstream lines(Capture(command + " 2>/dev/null"));
    std::vector<TPhases> all;
    double lookup, connect, tls, pretransfer, first, total;
    while (lines >> lookup >> connect >> tls >> pretransfer >> first >> total) {
        const double sent = tls > 0 ? tls : connect;
        all.push_back({lookup * 1000, (connect - lookup) * 1000, tls > 0 ? (tls - connect) * 1000 : 0,
                       (first - sent) * 1000, (total - first) * 1000, total * 1000});
    }
    if (!all.empty())
        all.erase(all.begin());
    return all;
}

TPhases Means(const std::vector<TPhases>& all)
{
    TPhases means{};
    for (size_t phase = 0; phase < kPhases; ++phase) {
        std::vector<double> values;
        for (const TPhases& one : all)
            values.push_back(one[phase]);
        means[phase] = Mean(values);
    }
    return means;
}

void Compare(const char* scheme, int delay, const std::string& url, const std::string& curlOptions)
{
    FetchOne(url);  // warm-up, like curl's first fetch
    std::vector<TPhases> engine, curl;
    for (int round = 0; round < kRounds; ++round) {
        for (const TPhases& one : EnginePhases(url, kTries / kRounds))
            engine.push_back(one);
        for (const TPhases& one : CurlPhases(url, kTries / kRounds, curlOptions))
            curl.push_back(one);
    }
    const TPhases ours = Means(engine), theirs = Means(curl);
    std::printf("%-5s D=%3d ms  (n=%zu / %zu)\n", scheme, delay, engine.size(), curl.size());
    for (size_t phase = 0; phase < kPhases; ++phase)
        std::printf("  %-10s  orvel %8.3f ms  curl %8.3f ms  diff %+7.3f ms\n", kPhaseNames[phase], ours[phase],
                    theirs[phase], ours[phase] - theirs[phase]);
}

THttpServer::TResponse Page(int delay)
{
    THttpServer::TResponse page;
    page.BodySize = 16 * 1024;
    page.DelayMs = delay;
    return page;
}

}  // namespace

int main()
{
    ClearProxyEnvironment();
    for (int delay : {0, 20, 100}) {
        THttpServer server;
        server.SetResponse(Page(delay));
        Compare("http", delay, server.Url(), "");
    }
    TTestCertificates certificates;
    if (!certificates.Ok()) {
        std::printf("https: no test certificates: %s\n", certificates.Why().c_str());
    } else {
        vqlib::THttpTrustScope trust(certificates.CaFile());
        for (int delay : {0, 20, 100}) {
            THttpServer server(THttpServer::TOptions{AF_INET, certificates.Good(), certificates.KeyFile()});
            server.SetResponse(Page(delay));
            Compare("https", delay, server.Url(), "--cacert " + certificates.CaFile());
        }
    }
    TThread::JoinAll();
    return 0;
}
