// orvel-cli beside prometheus-blackbox-exporter on the same loopback targets,
// in a network namespace of our own (as root): 127.0.0.1 for Ping, a page
// that answers after D ms, a DNS server on port 53 that answers after D ms.
// Per method, the exporter's probe_duration_seconds and its phase times over
// N probes against Orvel's per-try times from one `orvel-cli -c N` run; and
// the CPU time (user + system) and peak RSS of each process. The exporter's
// probe_dns_lookup_time_seconds is its lookup of the target's address; its
// DNS query is the phase "request" of probe_dns_duration_seconds.
//   bench_blackbox [N]   (default 40)

#include "bench/Benchtools.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Netns.h"
#include "tests/support/Noproxy.h"
#include "tests/support/Scratchdir.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kExporterAddress = "127.0.0.1:9115";  // free in our own namespace
constexpr int kPauseMs = 100;                               // between tries, Orvel's default, for both
constexpr int kDelayMs = 20;                                // of the page's and the DNS server's answers

// A process started with its standard output in a file; CPU and memory read from /proc while it runs.
class TProcess {
public:
    TProcess(const std::vector<std::string>& args, const std::string& output)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (output + ".err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawnp(&FPid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TProcess()
    {
        if (FPid > 0 && !FReaped) {
            kill(FPid, SIGKILL);
            Wait();
        }
    }
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    bool Started() const { return FPid > 0; }

    // user + system time of all its threads so far, in ms (clock-tick resolution)
    double CpuMs() const
    {
        std::ifstream in("/proc/" + std::to_string(FPid) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        for (int number = 3; fields >> field && number <= 15; ++number)
            if (number >= 14)  // utime, stime
                ticks += std::atof(field.c_str());
        return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    // Peak resident set so far (VmHWM), in MiB.
    double PeakRssMib() const
    {
        std::ifstream in("/proc/" + std::to_string(FPid) + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.rfind("VmHWM:", 0) == 0)
                return std::atof(line.c_str() + 6) / 1024.0;
        return NAN;
    }

    // Waits for its end; CPU and peak RSS from the kernel's accounts of it.
    int Wait()
    {
        int status = 0;
        rusage usage{};
        wait4(FPid, &status, 0, &usage);
        FReaped = true;
        FEndCpuMs = (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec)) / 1000.0;
        FEndPeakRssMib = static_cast<double>(usage.ru_maxrss) / 1024.0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    double EndCpuMs() const { return FEndCpuMs; }
    double EndPeakRssMib() const { return FEndPeakRssMib; }

private:
    pid_t FPid = -1;
    bool FReaped = false;
    double FEndCpuMs = NAN;
    double FEndPeakRssMib = NAN;
};

// Sample lines of a metrics text: "name{labels} value" -> value.
std::map<std::string, double> Samples(const std::string& text)
{
    std::map<std::string, double> samples;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t space = line.rfind(' ');
        if (space != std::string::npos)
            samples[line.substr(0, space)] = std::atof(line.c_str() + space + 1);
    }
    return samples;
}

struct TMethod {
    const char* Name;     // as orvel-cli's option names it
    const char* Module;   // the exporter's module
    std::string Target;   // for the exporter
    std::string OrvelTarget;
    std::vector<std::string> Phases;  // the exporter's phase series, as printed
};

struct TStats {
    double Mean = NAN, Min = NAN, Max = NAN;
    size_t Count = 0;
};

TStats Stats(const std::vector<double>& values)
{
    TStats stats;
    stats.Count = values.size();
    if (!values.empty()) {
        stats.Mean = Mean(values);
        stats.Min = *std::min_element(values.begin(), values.end());
        stats.Max = *std::max_element(values.begin(), values.end());
    }
    return stats;
}

void PrintRow(const std::string& what, const TStats& stats, int of)
{
    std::printf("  %-58s %9.3f %9.3f %9.3f  %3zu/%d\n", what.c_str(), stats.Mean, stats.Min, stats.Max, stats.Count, of);
}

std::string ExporterConfig()
{
    return "modules:\n"
           "  icmp:\n    prober: icmp\n    timeout: 5s\n    icmp:\n      preferred_ip_protocol: ip4\n"
           "  http:\n    prober: http\n    timeout: 5s\n    http:\n      preferred_ip_protocol: ip4\n"
           "  dns:\n    prober: dns\n    timeout: 5s\n    dns:\n      preferred_ip_protocol: ip4\n"
           "      transport_protocol: udp\n      query_name: www.example.com\n      query_type: A\n";
}

// The per-try times in ms of the first item of orvel-cli's JSON ("tries_ms": [...], null for a failure).
std::vector<double> OrvelTries(const std::string& json)
{
    std::vector<double> tries;
    const size_t start = json.find("\"tries_ms\": [");
    if (start == std::string::npos)
        return tries;
    std::istringstream list(json.substr(start + 13, json.find(']', start) - start - 13));
    for (std::string value; std::getline(list, value, ',');)
        if (value.find("null") == std::string::npos)
            tries.push_back(std::atof(value.c_str()));
    return tries;
}

void BenchMethod(const TMethod& method, int count, TProcess& exporter, const std::string& orvelCli,
                 const TScratchDir& scratch)
{
    std::printf("\n== %s: %d probes by the exporter, %d tries by orvel-cli, %d ms apart ==\n", method.Name, count,
                count, kPauseMs);
    std::printf("  %-58s %9s %9s %9s  %s\n", "ms", "mean", "min", "max", "ok");
    const std::string url = std::string("http://") + kExporterAddress + "/probe?module=" + method.Module +
                            "&target=" + method.Target;
    std::vector<double> durations;
    std::map<std::string, std::vector<double>> phases;
    const double exporterCpuBefore = exporter.CpuMs();
    for (int i = 0; i < count; ++i) {
        const std::map<std::string, double> samples = Samples(Capture("curl -s --noproxy '*' --max-time 10 '" + url + "'"));
        const auto success = samples.find("probe_success");
        if (success != samples.end() && success->second == 1) {
            durations.push_back(samples.at("probe_duration_seconds") * 1000.0);
            for (const std::string& phase : method.Phases)
                if (const auto found = samples.find(phase); found != samples.end())
                    phases[phase].push_back(found->second * 1000.0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
    }
    const double exporterCpu = exporter.CpuMs() - exporterCpuBefore;

    PrintRow("exporter probe_duration_seconds", Stats(durations), count);
    for (const std::string& phase : method.Phases)
        PrintRow("exporter " + phase, Stats(phases[phase]), count);

    const std::string output = scratch.File(std::string("orvel-") + method.Name + ".json");
    TProcess orvel({orvelCli, "--format", "json", "-c", std::to_string(count), "-i", std::to_string(kPauseMs), "-t",
                    "5000", std::string("--") + method.Name, method.OrvelTarget},
                   output);
    const int status = orvel.Started() ? orvel.Wait() : -1;
    const std::vector<double> tries = OrvelTries(ReadBytes(output));
    PrintRow("orvel-cli per try", Stats(tries), count);
    if (status != 0)
        std::printf("  orvel-cli exited %d: %s", status, ReadBytes(output + ".err").c_str());
    std::printf("  orvel-cli tries:");
    for (double time : tries)
        std::printf(" %.3f", time);
    double phaseSum = 0;
    for (const std::string& phase : method.Phases)
        phaseSum += Stats(phases[phase]).Mean;
    std::printf("\n  mean difference, orvel-cli try - exporter probe_duration: %+.3f ms, - its phases summed: %+.3f ms\n",
                Stats(tries).Mean - Stats(durations).Mean, Stats(tries).Mean - phaseSum);
    std::printf("  CPU (user+sys): exporter %.0f ms for %d probes (%.2f ms each, its HTTP serving included; "
                "clock ticks of %.0f ms)\n",
                exporterCpu, count, exporterCpu / count, 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)));
    std::printf("                  orvel-cli %.1f ms for %d tries (%.2f ms each, start-up included)\n",
                orvel.EndCpuMs(), count, orvel.EndCpuMs() / count);
    std::printf("  peak RSS: exporter %.1f MiB (so far), orvel-cli %.1f MiB\n", exporter.PeakRssMib(),
                orvel.EndPeakRssMib());
}

bool ExporterReady()
{
    for (int i = 0; i < 100; ++i) {
        if (Capture(std::string("curl -s --noproxy '*' --max-time 1 http://") + kExporterAddress + "/-/healthy")
                .find("Healthy") != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

int RunAll(int count, const std::string& orvelCli)
{
    if (!WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"))
        std::printf("(cannot widen net.ipv4.ping_group_range: both use raw sockets)\n");
    THttpServer page;
    page.SetResponse({200, 1000, kDelayMs, false, ""});
    TDnsResponder dns(
        [](const std::string& query, int) {
            const std::string record =
                dnsmsg::Record(dnsmsg::Pointer(12), 1, 60, dnsmsg::AData("127.0.0.1"));
            return TDnsResponse{dnsmsg::Reply(query, 0x8180, 1, 0, 0, record), kDelayMs};
        },
        "127.0.0.1", 53);

    TScratchDir scratch;
    WriteBytes(scratch.File("blackbox.yml"), ExporterConfig());
    TProcess exporter({"prometheus-blackbox-exporter", "--config.file=" + scratch.File("blackbox.yml"),
                       std::string("--web.listen-address=") + kExporterAddress, "--log.level=warn"},
                      scratch.File("exporter.log"));
    if (!exporter.Started() || !ExporterReady()) {
        std::printf("the exporter did not start: %s\n", ReadBytes(scratch.File("exporter.log.err")).c_str());
        return 1;
    }
    std::printf("exporter started: peak RSS %.1f MiB, CPU %.0f ms before the first probe\n", exporter.PeakRssMib(),
                exporter.CpuMs());

    const std::string page_url = page.Url() + "/";
    const std::vector<TMethod> methods{
        {"ping", "icmp", "127.0.0.1", "127.0.0.1", {"probe_icmp_duration_seconds{phase=\"rtt\"}"}},
        {"http", "http", page_url, page_url,
         {"probe_http_duration_seconds{phase=\"connect\"}", "probe_http_duration_seconds{phase=\"processing\"}",
          "probe_http_duration_seconds{phase=\"transfer\"}"}},
        {"dns", "dns", "127.0.0.1:53", "127.0.0.1",
         {"probe_dns_lookup_time_seconds", "probe_dns_duration_seconds{phase=\"request\"}"}},
    };
    for (const TMethod& method : methods) {
        BenchMethod(method, count, exporter, orvelCli, scratch);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ClearProxyEnvironment();
    const int count = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 1000) : 40;
    const std::string orvelCli = std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/orvel-cli";
    if (std::system("command -v prometheus-blackbox-exporter >/dev/null") != 0) {
        std::printf("skipped: prometheus-blackbox-exporter is not installed (bash scripts/setup.sh test)\n");
        return 0;
    }
    std::printf("orvel-cli and prometheus-blackbox-exporter, page and DNS answers after %d ms\n", kDelayMs);
    std::string why;
    const int rc = RunInOwnNetns([&] { return RunAll(count, orvelCli); }, why);
    if (rc != 0)
        std::printf("failed or skipped: %s (code %d; a namespace of its own needs root)\n",
                    why.empty() ? "see above" : why.c_str(), rc);
    return rc == 0 ? 0 : 1;
}
