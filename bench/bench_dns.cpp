// The DNS try against dig on the same loopback responder, which answers
// after D milliseconds: prints both averages, their difference and ratio.

#include "engine/Measuredns.h"
#include "net/IdDNSResolver.h"
#include "tests/support/Dnsresponder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int Tries = 50;

TDnsResponse Answer(const std::string& query, int delayMs)
{
    std::string record = dnsmsg::Record(dnsmsg::Pointer(12), DnsTypeA, 60, dnsmsg::AData("192.0.2.1"));
    return {dnsmsg::Reply(query, 0x8180, 1, 0, 0, record), delayMs};
}

// Average of the engine's tries in milliseconds, or -1 when one failed.
double EngineAverage(uint16_t port)
{
    TIdDNSResolver resolver;
    resolver.SetPort(port);
    double sum = 0;
    for (int i = 0; i < Tries; ++i) {
        std::chrono::microseconds elapsed{0};
        if (!MeasureDNSQuery(resolver, "127.0.0.1", 5000, elapsed))
            return -1;
        sum += std::chrono::duration<double, std::milli>(elapsed).count();
    }
    return sum / Tries;
}

// Average of dig's "Query time", or -1 when dig failed.
double DigAverage(uint16_t port)
{
    std::string command = "dig @127.0.0.1 -p " + std::to_string(port) + " " + DNSQueryHostName
        + " A +tries=1 +time=5 2>&1";
    double sum = 0;
    for (int i = 0; i < Tries; ++i) {
        FILE* output = popen(command.c_str(), "r");
        if (output == nullptr)
            return -1;
        char line[512];
        int ms = -1;
        while (std::fgets(line, sizeof line, output) != nullptr)
            std::sscanf(line, ";; Query time: %d msec", &ms);
        pclose(output);
        if (ms < 0)
            return -1;
        sum += ms;
    }
    return sum / Tries;
}

}  // namespace

int main()
{
    std::printf("DNS query, %d tries each, responder on 127.0.0.1 answering after D ms\n", Tries);
    std::printf("%6s %12s %12s %12s %8s\n", "D ms", "engine ms", "dig ms", "difference", "ratio");
    int status = 0;
    for (int delay : {0, 20, 100}) {
        TDnsResponder responder([delay](const std::string& query, int) { return Answer(query, delay); });
        double engine = EngineAverage(responder.Port());
        double dig = DigAverage(responder.Port());
        if (engine < 0 || dig < 0) {
            std::printf("%6d  %s\n", delay, engine < 0 ? "engine try failed" : "dig failed (is dnsutils installed?)");
            status = 1;
            continue;
        }
        double ratio = dig > 0 ? engine / dig : (engine == 0 ? 1.0 : 0.0);
        std::printf("%6d %12.2f %12.2f %+12.2f %8.3f\n", delay, engine, dig, engine - dig, ratio);
    }
    return status;
}
