// Each method over IPv4 and IPv6 against its reference tool on the same
// loopback server, printed side by side: Ping against the system ping (at
// D = 20 and 100 ms in a namespace of its own with a late responder), the
// home page against curl's time_total over http and https (a server with a
// certificate of its own), DNS against dig, at D = 0, 20 and 100 ms.

#include "bench/Benchtools.h"
#include "engine/Measuredns.h"
#include "engine/Measurehomepage.h"
#include "engine/Measureping.h"
#include "net/IdDNSResolver.h"
#include "tests/support/Certificates.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Netns.h"
#include "tests/support/Noproxy.h"
#include "vqlib/Vqhttp.h"

#include <sys/socket.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTries = 40;

struct TFamily {
    const char* Name;
    int Family;
    const char* Loopback;
};
constexpr TFamily kFamilies[] = {{"IPv4", AF_INET, "127.0.0.1"}, {"IPv6", AF_INET6, "::1"}};

void Print(const std::string& what, int delay, const char* reference, double engine, double other, size_t engineOk,
           size_t otherOk)
{
    std::printf("%-16s D=%3d ms  engine %8.3f ms (%2zu ok)  %-4s %8.3f ms (%2zu ok)  diff %+7.3f ms  engine-D %+7.3f ms\n",
                what.c_str(), delay, engine, engineOk, reference, other, otherOk, engine - other, engine - delay);
}

std::vector<double> EnginePings(const char* address, int count)
{
    std::vector<double> values;
    for (int i = 0; i < count; ++i) {
        std::chrono::microseconds elapsed{0};
        if (MeasurePing(address, 5000, elapsed))
            values.push_back(Milliseconds(elapsed));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return values;
}

void ComparePing(const TFamily& family, int delay)
{
    const std::vector<double> engine = EnginePings(family.Loopback, kTries);
    const double ping = SystemPingAverage(family.Loopback, kTries);
    Print(std::string("ping ") + family.Loopback, delay, "ping", Mean(engine), ping, engine.size(),
          std::isnan(ping) ? 0 : kTries);
}

void BenchPing()
{
    for (const TFamily& family : kFamilies)
        ComparePing(family, 0);
    for (const TFamily& family : kFamilies) {
        for (int delay : {20, 100}) {
            std::string why;
            const int rc = RunInOwnNetns(
                [&family, delay] {
                    const bool v6 = family.Family == AF_INET6;
                    if (!WriteSysctl("net/ipv4/ping_group_range", "0 2147483647")
                        || !WriteSysctl(v6 ? "net/ipv6/icmp/echo_ignore_all" : "net/ipv4/icmp_echo_ignore_all", "1"))
                        return 2;
                    TEchoResponder responder(TEchoResponder::TMode::Reply, delay, family.Family);
                    if (!responder.Ok())
                        return 3;
                    ComparePing(family, delay);
                    std::fflush(stdout);
                    return 0;
                },
                why);
            if (rc != 0)
                std::printf("ping %-17s D=%3d ms  skipped: %s (code %d)\n", family.Loopback, delay,
                            why.empty() ? "namespace set-up failed" : why.c_str(), rc);
        }
    }
}

void BenchHomePage(const TTestCertificates& certificates)
{
    const vqlib::THttpTrustScope trust(certificates.CaFile());
    for (bool https : {false, true}) {
        for (const TFamily& family : kFamilies) {
            for (int delay : {0, 20, 100}) {
                THttpServer::TOptions options{family.Family, "", ""};
                if (https)
                    options = {family.Family, certificates.Good(), certificates.KeyFile()};
                std::unique_ptr<THttpServer> server;
                try {
                    server = std::make_unique<THttpServer>(options);
                } catch (const std::runtime_error& error) {
                    std::printf("home page %s: skipped: %s\n", family.Name, error.what());
                    continue;
                }
                THttpServer::TResponse page;
                page.BodySize = 16 * 1024;
                page.DelayMs = delay;
                server->SetResponse(page);
                const std::string url = server->Url() + "/";
                std::vector<double> engine, curl;
                std::chrono::microseconds elapsed{0};
                MeasureHomePage(url, elapsed);  // warm-up, like curl's first fetch
                for (int round = 0; round < 4; ++round) {
                    for (int i = 0; i < kTries / 4; ++i)
                        if (MeasureHomePage(url, elapsed))
                            engine.push_back(Milliseconds(elapsed));
                    for (double time : CurlTimes(url, kTries / 4, "--cacert " + certificates.CaFile()))
                        curl.push_back(time);
                }
                Print(std::string(https ? "https " : "http ") + family.Name, delay, "curl", Mean(engine), Mean(curl),
                      engine.size(), curl.size());
            }
        }
    }
}

TDnsResponse Answer(const std::string& query, int delayMs)
{
    std::string record = dnsmsg::Record(dnsmsg::Pointer(12), DnsTypeA, 60, dnsmsg::AData("192.0.2.1"));
    return {dnsmsg::Reply(query, 0x8180, 1, 0, 0, record), delayMs};
}

std::vector<double> EngineDns(const char* server, uint16_t port)
{
    TIdDNSResolver resolver;
    resolver.SetPort(port);
    std::vector<double> values;
    for (int i = 0; i < kTries; ++i) {
        std::chrono::microseconds elapsed{0};
        if (MeasureDNSQuery(resolver, server, 5000, elapsed))
            values.push_back(Milliseconds(elapsed));
    }
    return values;
}

// "2026-12-08T12:40:01.123Z" as seconds of the day.
double TimestampSeconds(const std::string& text, size_t at)
{
    int hours = 0, minutes = 0;
    double seconds = 0;
    const size_t time = text.find('T', at);
    if (time == std::string::npos || std::sscanf(text.c_str() + time + 1, "%d:%d:%lf", &hours, &minutes, &seconds) != 3)
        return NAN;
    return hours * 3600.0 + minutes * 60.0 + seconds;
}

// dig's own query-to-response time from the timestamps of its YAML output
// (whole milliseconds each, so the mean over many tries is what counts).
std::vector<double> DigTimes(const char* server, uint16_t port)
{
    const std::string command = std::string("dig +yaml +tries=1 +time=5 @") + server + " -p " + std::to_string(port)
        + " " + DNSQueryHostName + " A 2>&1";
    std::vector<double> values;
    for (int i = 0; i < kTries; ++i) {
        const std::string output = Capture(command);
        const size_t query = output.find("query_time:");
        const size_t response = output.find("response_time:");
        if (query == std::string::npos || response == std::string::npos)
            continue;
        const double ms = (TimestampSeconds(output, response) - TimestampSeconds(output, query)) * 1000.0;
        if (!std::isnan(ms))
            values.push_back(ms);
    }
    return values;
}

void BenchDns()
{
    for (const TFamily& family : kFamilies) {
        for (int delay : {0, 20, 100}) {
            std::unique_ptr<TDnsResponder> responder;
            try {
                responder = std::make_unique<TDnsResponder>(
                    [delay](const std::string& query, int) { return Answer(query, delay); }, family.Loopback);
            } catch (const std::exception& error) {
                std::printf("dns %s: skipped: %s\n", family.Name, error.what());
                continue;
            }
            const std::vector<double> engine = EngineDns(family.Loopback, responder->Port());
            const std::vector<double> dig = DigTimes(family.Loopback, responder->Port());
            Print(std::string("dns ") + family.Name, delay, "dig", Mean(engine), Mean(dig), engine.size(), dig.size());
        }
    }
}

}  // namespace

int main()
{
    ClearProxyEnvironment();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("== Ping vs ping (%d tries each) ==\n", kTries);
    BenchPing();
    TTestCertificates certificates;
    if (!certificates.Ok()) {
        std::printf("no certificates: %s\n", certificates.Why().c_str());
        return 1;
    }
    std::printf("== home page vs curl time_total (%d tries each, 16 KiB body) ==\n", kTries);
    BenchHomePage(certificates);
    std::printf("== DNS query vs dig (%d tries each) ==\n", kTries);
    BenchDns();
    return 0;
}
